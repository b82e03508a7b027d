#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace kq::mqtt {

// Messages waiting for the broker, shared by the reading loop (which adds) and
// the publishing thread (which takes). Bounded: when it is full the oldest
// message goes, and is counted, so that a broker away for days costs a fixed
// amount of memory and the newest readings are the ones kept.
class ReadingQueue {
public:
    explicit ReadingQueue(std::size_t capacity);

    // Never blocks beyond the lock; true when the oldest message had to go.
    bool push(std::string message);
    // The oldest message, if any.
    bool pop(std::string& out);
    std::size_t size() const;
    std::size_t capacity() const { return m_capacity; }
    // Messages dropped since the last call.
    std::uint64_t takeDropped();
    // Messages dropped since the queue was made.
    std::uint64_t droppedTotal() const;

private:
    mutable std::mutex m_mutex;
    std::deque<std::string> m_items;
    std::size_t m_capacity;
    std::uint64_t m_dropped = 0;
    std::uint64_t m_droppedTotal = 0;
};

} // namespace kq::mqtt
