#include "links/hid_post.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace kq::links {

HidPost qtPost(QObject* context) {
    return [target = QPointer<QObject>(context)](std::function<void()> call) {
        if (!target)
            return false;
        return QMetaObject::invokeMethod(target.data(), std::move(call), Qt::QueuedConnection);
    };
}

struct HidCallQueue::Shared {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<std::function<void()>> calls;
};

HidCallQueue::HidCallQueue() : m_shared(std::make_shared<Shared>()) {}

HidPost HidCallQueue::poster() const {
    return [shared = m_shared](std::function<void()> call) {
        {
            const std::lock_guard lock(shared->mutex);
            shared->calls.push_back(std::move(call));
        }
        shared->arrived.notify_all();
        return true;
    };
}

std::size_t HidCallQueue::runPending(int waitMs) {
    std::deque<std::function<void()>> calls;
    {
        std::unique_lock lock(m_shared->mutex);
        if (waitMs > 0)
            m_shared->arrived.wait_for(lock, std::chrono::milliseconds(waitMs),
                                       [this] { return !m_shared->calls.empty(); });
        calls.swap(m_shared->calls);
    }
    for (auto& call : calls)
        call();
    return calls.size();
}

std::size_t HidCallQueue::waiting() const {
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->calls.size();
}

} // namespace kq::links
