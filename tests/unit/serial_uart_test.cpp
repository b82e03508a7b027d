// The serial port driver against a real UART: the line settings as the
// kernel's 8250 driver keeps them, read back by stty through a descriptor of
// its own, and the custom speeds (stty prints "speed 0 baud" for those) read
// back through another descriptor. Runs where KQ_LAB_UART names the UART (the
// device lab's /dev/ttyS1), is skipped elsewhere.
#include "links/serial_line.h"
#include "links/serial_port_driver.h"
#include "serial_test_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

using namespace kq::links;

namespace {

// What `stty -a` says of the line, one blank-separated word list.
std::string sttyOf(const std::string& path) {
    const std::string command = "stty -F '" + path + "' -a 2>&1";
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        std::array<char, 256> buf{};
        while (std::fgets(buf.data(), buf.size(), p))
            out += buf.data();
        ::pclose(p);
    }
    for (char& c : out) {
        if (c == '\n' || c == ';')
            c = ' ';
    }
    return " " + out + " ";
}

} // namespace

TEST(SerialUart, SettingsReachARealUartAsSttyReadsThem) {
    const char* uart = std::getenv("KQ_LAB_UART");
    if (!uart || !*uart)
        GTEST_SKIP() << "KQ_LAB_UART names no UART here (the device lab sets it)";
    int argc = 1;
    char name[] = "serial_uart_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    struct Case {
        SerialLineSettings s;
        std::uint32_t bps;
        std::vector<std::string> words; // as stty prints them
    };
    const Case cases[] = {
        {{br2400, db8BITS, sb1BITS, ptNONE, hhNONE, shNONE},
         2400,
         {"speed 2400 baud", " cs8 ", " -parenb ", " -cstopb ", " -crtscts ", " -ixon "}},
        {{br14400, db7BITS, sb2BITS, ptEVEN, hhRTSCTS, shXONXOFF},
         14400,
         {" cs7 ", " parenb ", " -parodd ", " cstopb ", " crtscts ", " ixon "}},
        {{br56000, db8BITS, sb1BITS, ptODD, hhNONE, shNONE},
         56000,
         {" cs8 ", " parenb ", " parodd ", " -cstopb "}},
        {{br19200, db8BITS, sb1BITS, ptNONE, hhNONE, shNONE}, 19200, {"speed 19200 baud", " cs8 "}},
    };
    for (const Case& c : cases) {
        ComPortTable table;
        table.paths[static_cast<std::size_t>(pnCOM1)] = uart;
        TSerialPortDriver d(table);
        test::setLine(d, c.s);
        ASSERT_TRUE(d.Connect()) << c.bps;
        const std::string stty = sttyOf(uart);
        for (const auto& word : c.words)
            EXPECT_NE(stty.find(word), std::string::npos)
                << c.bps << " lacks \"" << word << "\":" << stty;
        const int other = ::open(uart, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(other, 0);
        EXPECT_EQ(lineSpeedBps(other), c.bps);
        ::close(other);
        d.Disconnect();
    }
}
