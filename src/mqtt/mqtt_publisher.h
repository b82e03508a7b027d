#pragma once

#include "mqtt/mqtt_target.h"
#include "mqtt/reading_queue.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <unordered_set>

struct mosquitto;

namespace kq::mqtt {

struct PublisherOptions {
    MqttTarget target;
    std::string user; // empty: no login
    std::string password;
    std::string caFile; // mqtts: a CA certificate to trust besides the system's
    std::size_t queueCapacity = 10000;
    std::chrono::milliseconds firstRetry{500};
    std::chrono::milliseconds longestRetry{30000};
    int keepAliveSeconds = 30;
};

struct PublisherCounts {
    bool connected = false;
    std::uint64_t delivered = 0; // readings the broker acknowledged
    std::uint64_t dropped = 0;   // readings the full queue let go
    std::size_t waiting = 0;     // readings not yet handed to the broker
};

// Publishes readings on a broker from a thread of its own, so that the reading
// loop never waits for the network: publish() only queues. Every reading goes
// with QoS 1 on TOPIC; TOPIC/status holds "online" (retained) while connected
// and "offline" afterwards, also when the program dies (the last will). While
// the broker is away the readings wait in a bounded queue and the link
// retries with a growing pause; the count of readings the queue had to drop
// is published on TOPIC/dropped once the broker is back.
class MqttPublisher {
public:
    // Called from the publishing thread with a line for the user.
    using Note = std::function<void(const std::string&)>;

    MqttPublisher(PublisherOptions options, Note note);
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Queues one message for TOPIC; never blocks on the network.
    void publish(std::string message);
    // Sends what waits, for at most `grace`, says "offline" and leaves the
    // broker; returns the readings that did not reach it.
    std::uint64_t finish(std::chrono::milliseconds grace);

    PublisherCounts counts() const;
    const std::string& address() const { return m_address; }

private:
    void run();
    void wake();
    void waitForWake(int timeoutMs);
    bool sendOne(const std::string& topic, const std::string& payload, bool retain, bool reading);
    void connectionFailed(const std::string& reason);

    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);

    PublisherOptions m_options;
    Note m_note;
    std::string m_address;
    std::string m_statusTopic;
    std::string m_droppedTopic;
    ReadingQueue m_queue;
    mosquitto* m_mosq = nullptr;
    int m_wakeFd = -1;
    std::thread m_thread;

    std::atomic<bool> m_stopping{false};
    std::atomic<std::int64_t> m_deadlineNs{0};
    std::atomic<bool> m_connected{false};
    std::atomic<std::uint64_t> m_delivered{0};
    std::atomic<std::uint64_t> m_inflightReadings{0};
    std::atomic<std::uint64_t> m_undelivered{0};
    bool m_finished = false;

    // Only the publishing thread touches these.
    bool m_justConnected = false;
    bool m_down = false; // the user was told that the broker is away
    std::string m_refusal;
    std::unordered_set<int> m_controlMids; // status and drop counts, not readings
    std::size_t m_inflight = 0;
};

} // namespace kq::mqtt
