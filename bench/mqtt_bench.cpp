// mqtt_readings_per_s: readings published with QoS 1 on a mosquitto broker on
// 127.0.0.1 until the broker acknowledged every one, through the publisher the
// command-line tool uses (queue, publishing thread, window of messages in
// flight). The broker is started here on a free port and ended afterwards.
#include "mqtt/mqtt_publisher.h"
#include "mqtt/reading_message.h"
#include "support/figure.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

bool reachable(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

} // namespace

int main() {
    char dir[] = "/tmp/kq-mqtt-bench-XXXXXX";
    if (!::mkdtemp(dir))
        return 1;
    const int port = freePort();
    const std::string conf = std::string(dir) + "/broker.conf";
    std::ofstream(conf) << "listener " << port << " 127.0.0.1\nallow_anonymous true\n";
    const pid_t broker = ::fork();
    if (broker == 0) {
        // The broker's log would mix with the figures.
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, 1);
        ::dup2(quiet, 2);
        ::execlp("mosquitto", "mosquitto", "-c", conf.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    int status = 1;
    for (int i = 0; i < 100 && !reachable(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (reachable(port)) {
        kq::mqtt::PublisherOptions o;
        o.target.host = "127.0.0.1";
        o.target.port = port;
        o.target.topic = "bench/meter";
        o.queueCapacity = 1'000'000;
        kq::mqtt::MqttPublisher publisher(o, {});
        constexpr int kReadings = 100'000;
        kq::mqtt::ReadingFields r;
        r.datetime = "2026-12-10T14:03:07.250+01:00";
        r.value = "19.99";
        r.unit = "lux";
        r.verdict = "Pass";
        r.text = "19.99";
        const auto start = std::chrono::steady_clock::now();
        for (int i = 1; i <= kReadings; ++i) {
            r.no = i;
            publisher.publish(kq::mqtt::readingMessage(r));
        }
        while (publisher.counts().delivered < kReadings &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(120))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (publisher.counts().delivered == kReadings) {
            printFigure("mqtt_readings_per_s", kReadings / seconds, "readings/s");
            status = 0;
        } else {
            std::fprintf(stderr, "only %llu of %d readings acknowledged\n",
                         static_cast<unsigned long long>(publisher.counts().delivered), kReadings);
        }
        publisher.finish(std::chrono::seconds(2));
    } else {
        std::fputs("mosquitto did not start (Debian package mosquitto)\n", stderr);
    }
    ::kill(broker, SIGTERM);
    ::waitpid(broker, nullptr, 0);
    std::remove(conf.c_str());
    ::rmdir(dir);
    return status;
}
