#include "mqtt_choice.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace kq::cli {

void addMqttOptions(CommandLine& line, MqttChoice& choice) {
    line.option("--mqtt", "--mqtt needs mqtt://HOST[:PORT]/TOPIC or mqtts://HOST[:PORT]/TOPIC",
                [&choice](const std::string& v) {
                    std::string why;
                    choice.target = mqtt::parseMqttTarget(v, why);
                    return choice.target.has_value();
                });
    line.option("--mqtt-user", "--mqtt-user needs a user name", [&choice](const std::string& v) {
        choice.user = v;
        return !v.empty();
    });
    line.option("--mqtt-cafile", "--mqtt-cafile needs a CA certificate file",
                [&choice](const std::string& v) {
                    choice.caFile = v;
                    return !v.empty();
                });
    line.option("--mqtt-queue", "--mqtt-queue needs a number from 1 to 1000000",
                [&choice](const std::string& v) {
                    long long n = 0;
                    choice.queueGiven = true;
                    choice.queue = static_cast<std::size_t>(n);
                    if (!wholeNumberIn(v, 1, 1000000, n))
                        return false;
                    choice.queue = static_cast<std::size_t>(n);
                    return true;
                });
}

int checkMqttChoice(const CommandLine& line, const MqttChoice& choice) {
    if (!choice.target && (!choice.user.empty() || !choice.caFile.empty() || choice.queueGiven))
        return line.refuse("--mqtt-user, --mqtt-cafile and --mqtt-queue go with --mqtt");
    if (choice.target && !choice.target->tls && !choice.caFile.empty())
        return line.refuse("--mqtt-cafile goes with an mqtts:// address");
    return 0;
}

ReadingPublisher::ReadingPublisher(const MqttChoice& choice) {
    if (!choice.target)
        return;
    mqtt::PublisherOptions o;
    o.target = *choice.target;
    o.user = choice.user;
    if (const char* password = std::getenv("KQMETER_MQTT_PASSWORD"))
        o.password = password;
    o.caFile = choice.caFile;
    o.queueCapacity = choice.queue;
    try {
        m_publisher = std::make_unique<mqtt::MqttPublisher>(o, [](const std::string& note) {
            std::fprintf(stderr, "kqmeter-cli: %s\n", note.c_str());
        });
    } catch (const std::exception& e) {
        // The readings are still logged; only the broker goes without them.
        std::fprintf(stderr, "kqmeter-cli: no MQTT: %s\n", e.what());
    }
}

ReadingPublisher::~ReadingPublisher() {
    finish();
}

void ReadingPublisher::publish(const mqtt::ReadingFields& reading) {
    if (m_publisher)
        m_publisher->publish(mqtt::readingMessage(reading));
}

void ReadingPublisher::finish() {
    if (!m_publisher)
        return;
    const std::uint64_t left = m_publisher->finish(std::chrono::seconds(5));
    if (left)
        std::fprintf(stderr, "kqmeter-cli: %llu readings did not reach %s\n",
                     static_cast<unsigned long long>(left), m_publisher->address().c_str());
    m_publisher.reset();
}

} // namespace kq::cli
