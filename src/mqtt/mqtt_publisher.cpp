#include "mqtt/mqtt_publisher.h"

#include "mqtt/reading_message.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace kq::mqtt {

namespace {

// Messages handed to the library and not yet acknowledged. The library keeps
// them and sends them again after a reconnect; everything else waits in our
// own bounded queue, so the library never holds more than this.
constexpr std::size_t kWindow = 100;
constexpr int kQos = 1;
constexpr std::chrono::seconds kConnectTimeout{10};

std::int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string errorText(int rc) {
    if (rc == MOSQ_ERR_ERRNO)
        return std::strerror(errno);
    return mosquitto_strerror(rc);
}

} // namespace

MqttPublisher::MqttPublisher(PublisherOptions options, Note note)
    : m_options(std::move(options)), m_note(std::move(note)), m_queue(m_options.queueCapacity) {
    const MqttTarget& t = m_options.target;
    m_address = std::string(t.tls ? "mqtts://" : "mqtt://") +
                (t.host.find(':') != std::string::npos ? "[" + t.host + "]" : t.host) + ":" +
                std::to_string(t.port) + "/" + t.topic;
    m_statusTopic = t.topic + "/status";
    m_droppedTopic = t.topic + "/dropped";

    mosquitto_lib_init();
    m_mosq = mosquitto_new(nullptr, true, this);
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (!m_mosq || m_wakeFd < 0) {
        if (m_mosq)
            mosquitto_destroy(m_mosq);
        if (m_wakeFd >= 0)
            ::close(m_wakeFd);
        mosquitto_lib_cleanup();
        throw std::runtime_error("cannot set up the MQTT client");
    }
    mosquitto_connect_callback_set(m_mosq, &MqttPublisher::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttPublisher::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &MqttPublisher::onPublish);
    // Room for the readings of the window and the status messages beside them.
    mosquitto_max_inflight_messages_set(m_mosq, kWindow + 20);
    static const char offline[] = "offline";
    mosquitto_will_set(m_mosq, m_statusTopic.c_str(), int(sizeof offline - 1), offline, kQos, true);
    if (!m_options.user.empty())
        mosquitto_username_pw_set(m_mosq, m_options.user.c_str(),
                                  m_options.password.empty() ? nullptr
                                                             : m_options.password.c_str());
    if (t.tls) {
        mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        const int rc = mosquitto_tls_set(
            m_mosq, m_options.caFile.empty() ? nullptr : m_options.caFile.c_str(),
            m_options.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            mosquitto_destroy(m_mosq);
            ::close(m_wakeFd);
            mosquitto_lib_cleanup();
            throw std::runtime_error("cannot set up TLS: " + errorText(rc));
        }
    }
    m_thread = std::thread([this] { run(); });
}

MqttPublisher::~MqttPublisher() {
    finish(std::chrono::milliseconds(0));
    mosquitto_destroy(m_mosq);
    ::close(m_wakeFd);
    mosquitto_lib_cleanup();
}

void MqttPublisher::publish(std::string message) {
    m_queue.push(std::move(message));
    wake();
}

std::uint64_t MqttPublisher::finish(std::chrono::milliseconds grace) {
    if (m_finished)
        return m_undelivered.load();
    m_finished = true;
    m_deadlineNs = steadyNs() + std::chrono::duration_cast<std::chrono::nanoseconds>(grace).count();
    m_stopping = true;
    wake();
    if (m_thread.joinable())
        m_thread.join();
    return m_undelivered.load();
}

PublisherCounts MqttPublisher::counts() const {
    PublisherCounts c;
    c.connected = m_connected.load();
    c.delivered = m_delivered.load();
    c.dropped = m_queue.droppedTotal();
    c.waiting = m_queue.size();
    return c;
}

void MqttPublisher::wake() {
    const std::uint64_t one = 1;
    // A full counter already wakes the thread; nothing is lost.
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void MqttPublisher::waitForWake(int timeoutMs) {
    pollfd p{m_wakeFd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) > 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
    }
}

void MqttPublisher::onConnect(mosquitto*, void* self, int rc) {
    auto* p = static_cast<MqttPublisher*>(self);
    if (rc == 0) {
        p->m_connected = true;
        p->m_justConnected = true;
    } else {
        p->m_refusal = mosquitto_connack_string(rc);
    }
}

void MqttPublisher::onDisconnect(mosquitto*, void* self, int) {
    static_cast<MqttPublisher*>(self)->m_connected = false;
}

void MqttPublisher::onPublish(mosquitto*, void* self, int mid) {
    auto* p = static_cast<MqttPublisher*>(self);
    if (p->m_inflight > 0)
        --p->m_inflight;
    if (p->m_controlMids.erase(mid) == 0) {
        ++p->m_delivered;
        if (p->m_inflightReadings > 0)
            --p->m_inflightReadings;
    }
}

bool MqttPublisher::sendOne(const std::string& topic, const std::string& payload, bool retain,
                            bool reading) {
    int mid = 0;
    const int rc = mosquitto_publish(m_mosq, &mid, topic.c_str(), int(payload.size()),
                                     payload.data(), kQos, retain);
    // Queued by the library also when the write failed: it goes again after
    // the reconnect, like every message still waiting for its acknowledgement.
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN && rc != MOSQ_ERR_CONN_LOST &&
        rc != MOSQ_ERR_ERRNO)
        return false;
    ++m_inflight;
    if (reading)
        ++m_inflightReadings;
    else
        m_controlMids.insert(mid);
    return true;
}

void MqttPublisher::connectionFailed(const std::string& reason) {
    if (m_down)
        return;
    m_down = true;
    if (m_note)
        m_note("MQTT broker " + m_address + " not reached (" + reason +
               "); readings wait, at most " + std::to_string(m_queue.capacity()) +
               ", and the link retries");
}

void MqttPublisher::run() {
    using namespace std::chrono;
    const MqttTarget& t = m_options.target;
    auto retry = m_options.firstRetry;
    auto nextAttempt = steady_clock::now();
    auto connectStarted = steady_clock::now();
    bool attempted = false;
    bool offlineSent = false;
    bool everConnected = false;

    for (;;) {
        const auto now = steady_clock::now();
        const bool stopping = m_stopping.load();
        const auto deadline = steady_clock::time_point(nanoseconds(m_deadlineNs.load()));
        if (stopping && now >= deadline)
            break;

        if (mosquitto_socket(m_mosq) < 0) {
            m_connected = false;
            if (!m_refusal.empty()) {
                connectionFailed("the broker refused: " + m_refusal);
                m_refusal.clear();
            }
            if (now >= nextAttempt) {
                const int rc = attempted ? mosquitto_reconnect_async(m_mosq)
                                         : mosquitto_connect_async(m_mosq, t.host.c_str(), t.port,
                                                                   m_options.keepAliveSeconds);
                attempted = true;
                connectStarted = now;
                nextAttempt = now + retry;
                retry = std::min(retry * 2, m_options.longestRetry);
                if (rc != MOSQ_ERR_SUCCESS)
                    connectionFailed(errorText(rc));
            }
            if (mosquitto_socket(m_mosq) < 0) {
                auto until = stopping ? std::min(nextAttempt, deadline) : nextAttempt;
                waitForWake(int(std::max<std::int64_t>(
                    1, duration_cast<milliseconds>(until - steady_clock::now()).count() + 1)));
                continue;
            }
        }

        if (m_justConnected) {
            m_justConnected = false;
            retry = m_options.firstRetry;
            if (m_note && (m_down || !everConnected))
                m_note("publishing to " + m_address);
            m_down = false;
            everConnected = true;
            sendOne(m_statusTopic, "online", true, false);
        }
        if (m_connected) {
            if (const std::uint64_t dropped = m_queue.takeDropped()) {
                sendOne(m_droppedTopic, droppedMessage(dropped), false, false);
                if (m_note)
                    m_note(std::to_string(dropped) +
                           " readings were dropped while the broker was away (the queue was full)");
            }
            std::string message;
            while (m_inflight < kWindow && m_queue.pop(message)) {
                if (!sendOne(t.topic, message, false, true))
                    break;
            }
            if (stopping && m_queue.size() == 0 && m_inflightReadings == 0) {
                if (!offlineSent) {
                    sendOne(m_statusTopic, "offline", true, false);
                    offlineSent = true;
                } else if (m_inflight == 0) {
                    mosquitto_disconnect(m_mosq);
                    break;
                }
            }
        } else if (now - connectStarted > kConnectTimeout) {
            // A broker that took the connection but never answered it: the
            // socket is cut, the read below fails and the link retries.
            ::shutdown(mosquitto_socket(m_mosq), SHUT_RDWR);
            connectStarted = now;
            connectionFailed("no answer to the connection");
        }

        pollfd fds[2] = {{mosquitto_socket(m_mosq), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (mosquitto_want_write(m_mosq))
            fds[0].events |= POLLOUT;
        int timeout = 1000;
        if (stopping)
            timeout = int(std::clamp<std::int64_t>(
                duration_cast<milliseconds>(deadline - now).count() + 1, 1, 1000));
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR)
            break;
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
        }
        int rc = MOSQ_ERR_SUCCESS;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR))
            rc = mosquitto_loop_read(m_mosq, 200);
        if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(m_mosq) >= 0 && (fds[0].revents & POLLOUT))
            rc = mosquitto_loop_write(m_mosq, 200);
        if (mosquitto_socket(m_mosq) >= 0)
            mosquitto_loop_misc(m_mosq);
        if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(m_mosq) < 0) {
            m_connected = false;
            if (!m_refusal.empty())
                connectionFailed("the broker refused: " + std::exchange(m_refusal, {}));
            else
                connectionFailed(rc == MOSQ_ERR_SUCCESS ? "connection lost" : errorText(rc));
        }
    }
    m_connected = false;
    m_undelivered = m_queue.size() + m_inflightReadings.load();
}

} // namespace kq::mqtt
