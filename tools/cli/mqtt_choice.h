#pragma once

#include "command_line.h"
#include "mqtt/mqtt_publisher.h"
#include "mqtt/reading_message.h"

#include <memory>
#include <optional>
#include <string>

namespace kq::cli {

// --mqtt mqtt[s]://HOST[:PORT]/TOPIC [--mqtt-user USER] [--mqtt-cafile FILE]
// [--mqtt-queue N] (readings kept while the broker is away, 10000 unless given);
// the password comes from the environment (KQMETER_MQTT_PASSWORD), never from
// the command line, which every user of the machine can read.
struct MqttChoice {
    std::optional<mqtt::MqttTarget> target;
    std::string user;
    std::string caFile;
    std::size_t queue = 10000;
    bool queueGiven = false;
};

void addMqttOptions(CommandLine& line, MqttChoice& choice);
// After parsing: 0, or 2 with the reason when a companion option lacks --mqtt.
int checkMqttChoice(const CommandLine& line, const MqttChoice& choice);

// Publishes a command's readings when --mqtt was given; does nothing otherwise.
// Notes from the publishing thread go to stderr.
class ReadingPublisher {
public:
    explicit ReadingPublisher(const MqttChoice& choice);
    ~ReadingPublisher();
    bool active() const { return m_publisher != nullptr; }
    void publish(const mqtt::ReadingFields& reading);
    // Gives the broker a few seconds for what waits and tells what did not
    // reach it; the command's status stays: the log never depends on the broker.
    void finish();

private:
    std::unique_ptr<mqtt::MqttPublisher> m_publisher;
};

} // namespace kq::cli
