#include "mqtt/reading_queue.h"

#include <utility>

namespace kq::mqtt {

ReadingQueue::ReadingQueue(std::size_t capacity) : m_capacity(capacity ? capacity : 1) {}

bool ReadingQueue::push(std::string message) {
    const std::lock_guard lock(m_mutex);
    bool dropped = false;
    if (m_items.size() >= m_capacity) {
        m_items.pop_front();
        ++m_dropped;
        ++m_droppedTotal;
        dropped = true;
    }
    m_items.push_back(std::move(message));
    return dropped;
}

bool ReadingQueue::pop(std::string& out) {
    const std::lock_guard lock(m_mutex);
    if (m_items.empty())
        return false;
    out = std::move(m_items.front());
    m_items.pop_front();
    return true;
}

std::size_t ReadingQueue::size() const {
    const std::lock_guard lock(m_mutex);
    return m_items.size();
}

std::uint64_t ReadingQueue::takeDropped() {
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_dropped, 0);
}

std::uint64_t ReadingQueue::droppedTotal() const {
    const std::lock_guard lock(m_mutex);
    return m_droppedTotal;
}

} // namespace kq::mqtt
