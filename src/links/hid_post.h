#pragma once

#include <cstddef>
#include <functional>
#include <memory>

class QObject;

namespace kq::links {

// Hands a call to the thread that owns the controller, to run there later.
// False when it cannot; the call is then dropped.
using HidPost = std::function<bool(std::function<void()>)>;

// Posts into the Qt event loop of `context`'s thread; drops calls once the
// context is gone.
HidPost qtPost(QObject* context);

// A queue of handed-over calls that its owner runs when it likes: the
// command-line tool's loop and the tests use it instead of an event loop.
class HidCallQueue {
public:
    HidCallQueue();
    HidPost poster() const;
    // Runs the calls waiting now, after waiting up to `waitMs` for the first.
    // Returns how many ran.
    std::size_t runPending(int waitMs = 0);
    std::size_t waiting() const;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

} // namespace kq::links
