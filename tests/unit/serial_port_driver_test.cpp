#include "links/serial_messages.h"
#include "links/serial_port_driver.h"
#include "serial_test_support.h"
#include "support/pty.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace kq::links;
using Kind = SerialPortProblem::Kind;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A pseudo-terminal standing in for a serial cable. The test keeps a second
// descriptor of the program's end (opened before the driver takes the line)
// to read back what the driver set and to see when sent bytes have arrived.
class Cable {
public:
    Cable() : m_side(::open(m_pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        EXPECT_GE(m_side, 0);
    }
    ~Cable() {
        hangUp();
        if (m_side >= 0)
            ::close(m_side);
    }
    const std::string& path() const { return m_pty.path(); }
    ComPortTable table(TComPortNumber port = pnCOM1) const {
        ComPortTable t;
        t.paths[static_cast<std::size_t>(port)] = m_pty.path();
        return t;
    }
    // The meter sends; returns once the bytes wait at the program's end.
    void send(const Bytes& b) {
        ASSERT_TRUE(m_pty.send(b));
        for (int i = 0; i < 100 && waiting() < b.size(); ++i) {
            pollfd p{m_side, POLLIN, 0};
            ::poll(&p, 1, 50);
        }
        ASSERT_GE(waiting(), b.size());
    }
    std::size_t waiting() const {
        int n = 0;
        ::ioctl(m_side, FIONREAD, &n);
        return static_cast<std::size_t>(n);
    }
    termios settings() const {
        termios tio{};
        EXPECT_EQ(::tcgetattr(m_side, &tio), 0);
        return tio;
    }
    std::uint32_t speed() const { return lineSpeedBps(m_side); }
    void hangUp() { m_pty.hangUp(); }

private:
    kq::test::Pty m_pty;
    int m_side = -1;
};

// The polling timer needs an event loop's dispatcher on this thread.
class SerialPortDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QCoreApplication::instance())
            m_app = std::make_unique<QCoreApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    int m_argc = 1;
    char m_name[16] = "kq_unit_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QCoreApplication> m_app;
};

struct Received {
    std::vector<Bytes> batches;
    void attach(TSerialPortDriver& d) {
        d.OnReceiveData = [this](TSerialPortDriver&, const std::uint8_t* p, std::size_t n) {
            batches.emplace_back(p, p + n);
        };
    }
};

tcflag_t flagsOf(tcflag_t value, tcflag_t mask) {
    return value & mask;
}

} // namespace

TEST_F(SerialPortDriverTest, StartsWithTheDefaultsOfAPort) {
    TSerialPortDriver d(ComPortTable{});
    EXPECT_EQ(d.ComPort(), pnCOM2);
    EXPECT_EQ(d.ComPortSpeed(), br9600);
    EXPECT_EQ(d.ComPortDataBits(), db8BITS);
    EXPECT_EQ(d.ComPortStopBits(), sb1BITS);
    EXPECT_EQ(d.ComPortParity(), ptNONE);
    EXPECT_EQ(d.ComPortHwHandshaking(), hhNONE);
    EXPECT_EQ(d.ComPortSwHandshaking(), shNONE);
    EXPECT_EQ(d.ComPortInBufSize(), 2048);
    EXPECT_EQ(d.ComPortOutBufSize(), 2048);
    EXPECT_EQ(d.ComPortPollingDelay(), 50);
    EXPECT_TRUE(d.EnableDTROnOpen());
    EXPECT_FALSE(d.Connected());
    EXPECT_EQ(d.devicePath(), "/dev/ttyS1");
}

TEST(SerialLine, SpeedTableGivesTheBitsPerSecond) {
    struct Row {
        TComPortBaudRate rate;
        std::uint32_t bps;
    };
    const Row rows[] = {{br110, 110},      {br300, 300},     {br600, 600},     {br1200, 1200},
                        {br2400, 2400},    {br4800, 4800},   {br9600, 9600},   {br14400, 14400},
                        {br19200, 19200},  {br38400, 38400}, {br56000, 56000}, {br57600, 57600},
                        {br115200, 115200}};
    for (const auto& r : rows) {
        EXPECT_EQ(baudRateBps(r.rate), r.bps) << r.bps;
        TComPortBaudRate back = br110;
        EXPECT_TRUE(baudRateOf(r.bps, back)) << r.bps;
        EXPECT_EQ(back, r.rate);
    }
    TComPortBaudRate unused = br9600;
    for (std::uint32_t bps : {0u, 2401u, 230400u})
        EXPECT_FALSE(baudRateOf(bps, unused)) << bps;
}

TEST(SerialLine, FormatBitsFollowTheSettings) {
    struct Case {
        SerialLineSettings s;
        tcflag_t size;
        bool twoStops;
        tcflag_t parity; // PARENB | PARODD | CMSPAR as set
        bool rtsCts;
        bool xonXoff;
    };
    const Case cases[] = {
        {{}, CS8, false, 0, false, false},
        {{br2400, db5BITS, sb1BITS, ptODD, hhNONE, shNONE},
         CS5,
         false,
         PARENB | PARODD,
         false,
         false},
        {{br2400, db6BITS, sb1HALFBITS, ptEVEN, hhNONE, shNONE}, CS6, true, PARENB, false, false},
        {{br2400, db7BITS, sb2BITS, ptMARK, hhRTSCTS, shNONE},
         CS7,
         true,
         PARENB | PARODD | CMSPAR,
         true,
         false},
        {{br2400, db8BITS, sb1BITS, ptSPACE, hhNONE, shXONXOFF},
         CS8,
         false,
         PARENB | CMSPAR,
         false,
         true},
    };
    for (const auto& c : cases) {
        // Start from a line left cooked, with every flag the settings govern set.
        termios tio{};
        tio.c_iflag = ICRNL | IXON | IXOFF | IXANY | ISTRIP | INLCR | IGNCR;
        tio.c_oflag = OPOST | ONLCR;
        tio.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
        tio.c_cflag = CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL;
        std::uint32_t custom = 99;
        fillTermios(c.s, tio, custom);
        const std::string name = std::to_string(static_cast<int>(c.s.dataBits) + 5) + " bits";
        EXPECT_EQ(flagsOf(tio.c_cflag, CSIZE), c.size) << name;
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.twoStops) << name;
        EXPECT_EQ(flagsOf(tio.c_cflag, PARENB | PARODD | CMSPAR), c.parity) << name;
        EXPECT_EQ((tio.c_cflag & CRTSCTS) != 0, c.rtsCts) << name;
        EXPECT_EQ(flagsOf(tio.c_iflag, IXON | IXOFF), c.xonXoff ? IXON | IXOFF : 0u) << name;
        // Raw whatever the format: no translation, no echo, no signals.
        EXPECT_EQ(flagsOf(tio.c_iflag, ICRNL | INLCR | IGNCR | ISTRIP | IXANY), 0u) << name;
        EXPECT_EQ(flagsOf(tio.c_oflag, OPOST), 0u) << name;
        EXPECT_EQ(flagsOf(tio.c_lflag, ICANON | ECHO | ISIG | IEXTEN), 0u) << name;
        EXPECT_EQ(flagsOf(tio.c_cflag, CLOCAL | CREAD | HUPCL), CLOCAL | CREAD) << name;
        EXPECT_EQ(tio.c_cc[VMIN], 0);
        EXPECT_EQ(tio.c_cc[VTIME], 0);
        EXPECT_EQ(custom, 0u);
    }
}

TEST_F(SerialPortDriverTest, SettingsReachTheLine) {
    // A pseudo-terminal keeps the speed, stop bits, flow control and the raw
    // flags (it forces 8 data bits and no parity whatever it is told).
    struct Case {
        SerialLineSettings s;
        std::uint32_t bps;
    };
    const Case cases[] = {
        {{br2400, db8BITS, sb1BITS, ptNONE, hhNONE, shNONE}, 2400},
        {{br14400, db7BITS, sb2BITS, ptMARK, hhRTSCTS, shXONXOFF}, 14400},
        {{br56000, db8BITS, sb1HALFBITS, ptODD, hhNONE, shXONXOFF}, 56000},
        {{br115200, db5BITS, sb1BITS, ptSPACE, hhRTSCTS, shNONE}, 115200},
        {{br110, db8BITS, sb1BITS, ptNONE, hhNONE, shNONE}, 110},
    };
    for (const auto& c : cases) {
        Cable cable;
        TSerialPortDriver d(cable.table());
        test::setLine(d, c.s);
        ASSERT_TRUE(d.Connect()) << c.bps;
        const termios tio = cable.settings();
        EXPECT_EQ(cable.speed(), c.bps);
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.s.stopBits != sb1BITS) << c.bps;
        EXPECT_EQ((tio.c_cflag & CRTSCTS) != 0, c.s.hwHandshaking == hhRTSCTS) << c.bps;
        EXPECT_EQ((tio.c_iflag & IXON) != 0, c.s.swHandshaking == shXONXOFF) << c.bps;
        EXPECT_EQ((tio.c_cflag & CMSPAR) != 0, c.s.parity >= ptMARK) << c.bps;
        EXPECT_EQ(flagsOf(tio.c_lflag, ICANON | ECHO | ISIG), 0u) << c.bps;
        EXPECT_EQ(flagsOf(tio.c_iflag, ICRNL), 0u) << c.bps;
    }
}

TEST_F(SerialPortDriverTest, ControlBytesArriveUnchanged) {
    Cable cable;
    TSerialPortDriver d(cable.table());
    d.setComPort(pnCOM1);
    Received got;
    got.attach(d);
    ASSERT_TRUE(d.Connect());
    const Bytes sent{0x0D, 0x0A, 0x11, 0x13, 0x03, 0x1A, 0x7F, 0x00, 0xFF, 0x04, 0x0D};
    cable.send(sent);
    d.TimerTick();
    ASSERT_EQ(got.batches.size(), 1u);
    EXPECT_EQ(got.batches[0], sent);
}

TEST_F(SerialPortDriverTest, OneReadPerTickOfAtMostTheBufferSize) {
    Cable cable;
    TSerialPortDriver d(cable.table());
    d.setComPort(pnCOM1);
    d.setComPortInBufSize(4);
    Received got;
    got.attach(d);
    ASSERT_TRUE(d.Connect());
    d.setComPortInBufSize(100); // ignored while connected
    EXPECT_EQ(d.ComPortInBufSize(), 4);
    cable.send({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    for (int i = 0; i < 4; ++i)
        d.TimerTick();
    EXPECT_EQ(got.batches, (std::vector<Bytes>{{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10}}));
}

TEST_F(SerialPortDriverTest, TickWithNothingReceivedCallsNoHandler) {
    Cable cable;
    TSerialPortDriver d(cable.table());
    d.setComPort(pnCOM1);
    Received got;
    got.attach(d);
    ASSERT_TRUE(d.Connect());
    d.TimerTick();
    d.TimerTick();
    EXPECT_TRUE(got.batches.empty());
    EXPECT_TRUE(d.Connected());
}

TEST_F(SerialPortDriverTest, WithoutAHandlerBytesAreReadAndDropped) {
    Cable cable;
    TSerialPortDriver d(cable.table());
    d.setComPort(pnCOM1);
    ASSERT_TRUE(d.Connect());
    cable.send({0x11, 0x22, 0x33});
    d.TimerTick();
    EXPECT_EQ(cable.waiting(), 0u);
    EXPECT_TRUE(d.Connected());
}

TEST_F(SerialPortDriverTest, SpeedChangeWhileConnectedAppliesAtOnceAndPurges) {
    Cable cable;
    TSerialPortDriver d(cable.table());
    d.setComPort(pnCOM1);
    d.setComPortSpeed(br2400);
    Received got;
    got.attach(d);
    ASSERT_TRUE(d.Connect());
    EXPECT_EQ(cable.speed(), 2400u);
    cable.send({0x15, 0x26, 0x37});
    d.setComPortSpeed(br19200);
    EXPECT_EQ(cable.speed(), 19200u);
    EXPECT_EQ(cable.waiting(), 0u);
    d.TimerTick();
    EXPECT_TRUE(got.batches.empty());

    // The other line settings purge in the same way.
    cable.send({0x48});
    d.setComPortStopBits(sb2BITS);
    EXPECT_EQ(cable.waiting(), 0u);
    EXPECT_NE(cable.settings().c_cflag & CSTOPB, 0u);
}

TEST_F(SerialPortDriverTest, PortChoiceWhileConnectedIsIgnoredForGood) {
    Cable cable;
    TSerialPortDriver d(cable.table(pnCOM1));
    d.setComPort(pnCOM1);
    ASSERT_TRUE(d.Connect());
    d.setComPort(pnCOM3);
    EXPECT_EQ(d.ComPort(), pnCOM1);
    d.Disconnect();
    EXPECT_EQ(d.ComPort(), pnCOM1);
    EXPECT_TRUE(d.Connect());
    d.Disconnect();
    d.setComPort(pnCOM3);
    EXPECT_EQ(d.ComPort(), pnCOM3);
}

TEST_F(SerialPortDriverTest, PortsThatCannotBeOpenedLeaveItDisconnected) {
    Cable cable;
    TSerialPortDriver holder(cable.table());
    holder.setComPort(pnCOM1);
    ASSERT_TRUE(holder.Connect());
    struct Case {
        const char* name;
        std::string path;
        Kind kind;
    };
    const Case cases[] = {
        {"missing", "/dev/kq-no-such-port", Kind::Missing},
        {"missing directory", "/nonexistent/ttyS0", Kind::Missing},
        {"not a line", "/dev/null", Kind::NotASerialPort},
        {"held by another program", cable.path(), Kind::Busy},
    };
    for (const auto& c : cases) {
        ComPortTable table;
        table.paths[0] = c.path;
        TSerialPortDriver d(table);
        d.setComPort(pnCOM1);
        EXPECT_FALSE(d.Connect()) << c.name;
        EXPECT_FALSE(d.Connected()) << c.name;
        EXPECT_FALSE(d.pollingTimerActive()) << c.name;
        EXPECT_EQ(d.problem().kind, c.kind) << c.name;
        EXPECT_EQ(d.problem().path, c.path) << c.name;
        d.Disconnect(); // does nothing
        EXPECT_FALSE(d.Connected()) << c.name;
    }
    // Once the holder lets go, the port can be had.
    holder.Disconnect();
    ComPortTable table;
    table.paths[0] = cable.path();
    TSerialPortDriver d(table);
    d.setComPort(pnCOM1);
    EXPECT_TRUE(d.Connect());
    EXPECT_EQ(d.problem().kind, Kind::None);
}

TEST_F(SerialPortDriverTest, PulledCableDisconnectsOnceAndStopsPolling) {
    auto cable = std::make_unique<Cable>();
    TSerialPortDriver d(cable->table());
    d.setComPort(pnCOM1);
    Received got;
    got.attach(d);
    int lost = 0;
    d.OnConnectionLost = [&](TSerialPortDriver& sender) {
        EXPECT_EQ(&sender, &d);
        EXPECT_FALSE(sender.Connected());
        ++lost;
    };
    ASSERT_TRUE(d.Connect());
    EXPECT_TRUE(d.pollingTimerActive());
    cable->send({0x42, 0x43});
    d.TimerTick();
    cable->hangUp();
    for (int i = 0; i < 5; ++i)
        d.TimerTick();
    EXPECT_EQ(got.batches, (std::vector<Bytes>{{0x42, 0x43}}));
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(d.Connected());
    EXPECT_FALSE(d.pollingTimerActive());
    EXPECT_EQ(d.problem().kind, Kind::Lost);
}

TEST_F(SerialPortDriverTest, PollingTimerRunsOnlyWhileConnected) {
    Cable cable;
    TSerialPortDriver d(cable.table());
    d.setComPort(pnCOM1);
    d.setComPortPollingDelay(50); // unchanged: nothing happens
    EXPECT_FALSE(d.pollingTimerActive());
    d.setComPortPollingDelay(20);
    EXPECT_FALSE(d.pollingTimerActive());
    ASSERT_TRUE(d.Connect());
    EXPECT_TRUE(d.pollingTimerActive());
    d.setComPortPollingDelay(30);
    EXPECT_TRUE(d.pollingTimerActive());
    EXPECT_EQ(d.ComPortPollingDelay(), 30);
    d.Disconnect();
    EXPECT_FALSE(d.pollingTimerActive());
}

TEST_F(SerialPortDriverTest, ConnectWhileConnectedKeepsTheLine) {
    Cable cable;
    TSerialPortDriver d(cable.table());
    d.setComPort(pnCOM1);
    Received got;
    got.attach(d);
    ASSERT_TRUE(d.Connect());
    cable.send({0x77});
    EXPECT_TRUE(d.Connect()); // no reopen, no purge
    d.TimerTick();
    EXPECT_EQ(got.batches, (std::vector<Bytes>{{0x77}}));
}

TEST(SerialPortProblems, ErrnoTellsWhyAPortCannotBeOpened) {
    struct Case {
        int error;
        Kind kind;
    };
    for (const Case& c :
         {Case{0, Kind::None}, Case{ENOENT, Kind::Missing}, Case{ENXIO, Kind::Missing},
          Case{ENODEV, Kind::Missing}, Case{EACCES, Kind::NotPermitted},
          Case{EPERM, Kind::NotPermitted}, Case{EBUSY, Kind::Busy}, Case{EWOULDBLOCK, Kind::Busy},
          Case{ENOTTY, Kind::NotASerialPort}, Case{EIO, Kind::Other}})
        EXPECT_EQ(problemKindOf(c.error), c.kind) << c.error;
}

TEST(SerialPortProblems, MessageNamesThePortTheDeviceAndTheFix) {
    struct Case {
        Kind kind;
        int error;
        std::vector<std::string> mentions;
    };
    const Case cases[] = {
        {Kind::NotPermitted, EACCES, {"COM1", "/dev/ttyS0", "dialout"}},
        {Kind::Missing, ENOENT, {"COM1", "/dev/ttyS0", "KQMETER_COM1"}},
        {Kind::Busy, EBUSY, {"COM1", "/dev/ttyS0", "another program"}},
        {Kind::Lost, EIO, {"COM1", "/dev/ttyS0", "Input/output error"}},
        {Kind::Other, EINVAL, {"COM1", "/dev/ttyS0", "Invalid argument"}},
    };
    for (const auto& c : cases) {
        const std::string text = serialProblemText("COM1", {c.kind, "/dev/ttyS0", c.error});
        for (const auto& m : c.mentions)
            EXPECT_NE(text.find(m), std::string::npos) << text << " lacks " << m;
    }
    EXPECT_EQ(serialProblemText("COM1", {}), "");
}

TEST(ComPortTable, EnvironmentReplacesSingleDefaults) {
    struct Saved {
        std::string name;
        std::optional<std::string> value;
    };
    std::vector<Saved> saved;
    for (int i = 1; i <= 4; ++i) {
        const std::string name = "KQMETER_COM" + std::to_string(i);
        const char* v = std::getenv(name.c_str());
        saved.push_back({name, v ? std::optional<std::string>(v) : std::nullopt});
        ::unsetenv(name.c_str());
    }
    ::setenv("KQMETER_COM2", "/dev/ttyUSB0", 1);
    ::setenv("KQMETER_COM3", "", 1); // empty: the default stays
    ::setenv("KQMETER_COM4", "/tmp/meter", 1);
    const ComPortTable t = ComPortTable::fromEnvironment();
    for (const auto& s : saved) {
        if (s.value)
            ::setenv(s.name.c_str(), s.value->c_str(), 1);
        else
            ::unsetenv(s.name.c_str());
    }
    EXPECT_EQ(t.paths, (std::array<std::string, 4>{"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyS2",
                                                   "/tmp/meter"}));
}

TEST(ComPortTable, PortNames) {
    struct Case {
        std::string text;
        bool ok;
        TComPortNumber port;
    };
    const Case cases[] = {
        {"COM1", true, pnCOM1},   {"com4", true, pnCOM4},        {"Com2", true, pnCOM2},
        {"COM0", false, pnCOM1},  {"COM5", false, pnCOM1},       {"COM", false, pnCOM1},
        {"COM10", false, pnCOM1}, {"/dev/ttyS0", false, pnCOM1}, {"", false, pnCOM1}};
    for (const auto& c : cases) {
        TComPortNumber port = pnCOM1;
        EXPECT_EQ(parseComPortName(c.text, port), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(port, c.port) << c.text;
            EXPECT_EQ(comPortName(port), "COM" + std::string(1, c.text[3])) << c.text;
        }
    }
}
