#include "mqtt/mqtt_target.h"
#include "mqtt/reading_message.h"
#include "mqtt/reading_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

using kq::mqtt::MqttTarget;

namespace {

TEST(MqttTarget, AddressesAreReadOrRefusedWithAReason) {
    struct Case {
        const char* url;
        bool ok;
        bool tls = false;
        const char* host = "";
        int port = 0;
        const char* topic = "";
    };
    const Case cases[] = {
        {"mqtt://broker/lab/meter1", true, false, "broker", 1883, "lab/meter1"},
        {"mqtts://broker.example:9999/m", true, true, "broker.example", 9999, "m"},
        {"mqtts://broker/m", true, true, "broker", 8883, "m"},
        {"mqtt://[::1]:1884/m/1", true, false, "::1", 1884, "m/1"},
        {"mqtt://[::1]/m", true, false, "::1", 1883, "m"},
        {"mqtt://127.0.0.1:65535/t", true, false, "127.0.0.1", 65535, "t"},
        {"mqtt://h:0/t", false},     // no port 0
        {"mqtt://h:65536/t", false}, // beyond 16 bits
        {"mqtt://h:12a/t", false},   // not a number
        {"mqtt://h:/t", false},      // empty port
        {"mqtt://h", false},         // no topic
        {"mqtt://h/", false},        // empty topic
        {"mqtt:///t", false},        // no host
        {"http://h/t", false},       // another scheme
        {"mqtt://h/lab/+", false},   // a wildcard cannot be published on
        {"mqtt://h/#", false},       //
        {"mqtt://user@h/t", false},  // credentials go in their own options
        {"mqtt://[::1/t", false},    // unclosed bracket
        {"mqtt://[::1]x/t", false},  // junk after the address
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        std::string why;
        const auto t = kq::mqtt::parseMqttTarget(c.url, why);
        ASSERT_EQ(t.has_value(), c.ok) << why;
        if (!c.ok) {
            EXPECT_FALSE(why.empty());
            continue;
        }
        EXPECT_EQ(t->tls, c.tls);
        EXPECT_EQ(t->host, c.host);
        EXPECT_EQ(t->port, c.port);
        EXPECT_EQ(t->topic, c.topic);
    }
}

TEST(ReadingMessage, CarriesTheCsvFieldsAsJson) {
    kq::mqtt::ReadingFields r;
    r.no = 7;
    r.datetime = "2026-12-10T14:03:07.250+01:00";
    r.value = "19.99";
    r.unit = "lux";
    r.verdict = "Pass";
    r.text = "19.99";
    EXPECT_EQ(kq::mqtt::readingMessage(r),
              R"({"no":7,"datetime":"2026-12-10T14:03:07.250+01:00","value":19.99,)"
              R"("unit":"lux","verdict":"Pass","text":"19.99"})");
    // An overload has no number, a loaded row no time: null, never a made-up value.
    kq::mqtt::ReadingFields over;
    over.no = 8;
    over.unit = "lux";
    over.text = "0L";
    over.value = "0L";
    EXPECT_EQ(kq::mqtt::readingMessage(over),
              R"({"no":8,"datetime":null,"value":null,"unit":"lux","verdict":null,"text":"0L"})");
    kq::mqtt::ReadingFields quote;
    quote.text = "a\"b";
    quote.value = "-0.5";
    EXPECT_NE(kq::mqtt::readingMessage(quote).find(R"("value":-0.5,)"), std::string::npos);
    EXPECT_NE(kq::mqtt::readingMessage(quote).find(R"("text":"a\"b")"), std::string::npos);
}

// A broker away for long: the newest readings are kept, the oldest counted as dropped.
TEST(ReadingQueue, FullQueueDropsTheOldestAndCountsThem) {
    kq::mqtt::ReadingQueue q(3);
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(q.push(std::to_string(i)), i > 3);
    EXPECT_EQ(q.size(), 3u);
    EXPECT_EQ(q.takeDropped(), 2u);
    EXPECT_EQ(q.takeDropped(), 0u);
    std::string m;
    std::string order;
    while (q.pop(m))
        order += m;
    EXPECT_EQ(order, "345");
    EXPECT_EQ(q.droppedTotal(), 2u);
}

// One thread adds, another takes: nothing lost, nothing doubled, order kept.
TEST(ReadingQueue, TwoThreadsKeepEveryMessageInOrder) {
    kq::mqtt::ReadingQueue q(1'000'000);
    constexpr int kCount = 200'000;
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i)
            q.push(std::to_string(i));
    });
    int expected = 0;
    std::string m;
    while (expected < kCount) {
        if (q.pop(m)) {
            ASSERT_EQ(m, std::to_string(expected));
            ++expected;
        }
    }
    producer.join();
    EXPECT_EQ(q.droppedTotal(), 0u);
}

} // namespace
