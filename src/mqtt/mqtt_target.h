#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kq::mqtt {

// Where the readings go: a broker and the topic they are published on.
struct MqttTarget {
    bool tls = false;
    std::string host;
    int port = 1883;
    std::string topic;
};

// Reads mqtt://HOST[:PORT]/TOPIC or mqtts://HOST[:PORT]/TOPIC (an IPv6 address in
// brackets). The port defaults to 1883, or 8883 with TLS. A topic is what a
// subscriber names to get the readings, so it may hold '/' but no wildcard
// ('+', '#') and no NUL. On error `why` says what is wrong.
std::optional<MqttTarget> parseMqttTarget(std::string_view url, std::string& why);

} // namespace kq::mqtt
