#include "mqtt/mqtt_target.h"

#include <charconv>

namespace kq::mqtt {

std::optional<MqttTarget> parseMqttTarget(std::string_view url, std::string& why) {
    MqttTarget t;
    if (url.starts_with("mqtt://")) {
        url.remove_prefix(7);
    } else if (url.starts_with("mqtts://")) {
        url.remove_prefix(8);
        t.tls = true;
        t.port = 8883;
    } else {
        why = "the address starts with mqtt:// or mqtts://";
        return std::nullopt;
    }
    const std::size_t slash = url.find('/');
    if (slash == std::string_view::npos || slash + 1 == url.size()) {
        why = "no topic after the broker (mqtt://HOST[:PORT]/TOPIC)";
        return std::nullopt;
    }
    std::string_view authority = url.substr(0, slash);
    const std::string_view topic = url.substr(slash + 1);
    std::string_view port;
    if (authority.starts_with('[')) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            why = "an IPv6 address needs its closing ]";
            return std::nullopt;
        }
        t.host.assign(authority.substr(1, close - 1));
        const std::string_view rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') {
                why = "only :PORT may follow the broker's address";
                return std::nullopt;
            }
            port = rest.substr(1);
            if (port.empty()) {
                why = "no port after ':'";
                return std::nullopt;
            }
        }
    } else {
        const std::size_t colon = authority.find(':');
        t.host.assign(authority.substr(0, colon));
        if (colon != std::string_view::npos) {
            port = authority.substr(colon + 1);
            if (port.empty()) {
                why = "no port after ':'";
                return std::nullopt;
            }
        }
    }
    if (t.host.empty()) {
        why = "no broker host";
        return std::nullopt;
    }
    if (t.host.find_first_of("@/?# ") != std::string::npos) {
        why = "the broker host holds a character a host name has not";
        return std::nullopt;
    }
    if (!port.empty()) {
        int n = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), n);
        if (ec != std::errc{} || end != port.data() + port.size() || n < 1 || n > 65535) {
            why = "the port is a number from 1 to 65535";
            return std::nullopt;
        }
        t.port = n;
    }
    if (topic.find_first_of(std::string_view("+#\0", 3)) != std::string_view::npos) {
        why = "a topic to publish on holds no wildcard (+ or #) and no NUL";
        return std::nullopt;
    }
    t.topic.assign(topic);
    return t;
}

} // namespace kq::mqtt
