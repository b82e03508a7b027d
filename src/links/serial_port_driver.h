#pragma once

#include "links/com_port_table.h"
#include "links/serial_line.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QTimer;

namespace kq::links {

// Why a port could not be opened or was lost. The driver itself shows
// nothing; whoever connected it turns this into words for the user.
struct SerialPortProblem {
    enum class Kind {
        None,
        Missing,      // no such device file, or no device behind it
        Busy,         // another program has the port
        NotPermitted, // the user may not open it (not in the dialout group)
        NotASerialPort,
        Lost, // the port failed while open (adapter pulled out)
        Other,
    };
    Kind kind = Kind::None;
    std::string path; // the device file
    int error = 0;    // errno of the failing call

    bool operator==(const SerialPortProblem&) const = default;
};

// How an errno of open() or of a read reads as a problem.
SerialPortProblem::Kind problemKindOf(int error);

class TSerialPortDriver;

// Called with each batch of received bytes (at least one); the bytes are
// valid only during the call.
using TComPortReceiveDataEvent = std::function<void(
    TSerialPortDriver& Sender, const std::uint8_t* DataPtr, std::size_t DataSize)>;

// One serial port of the machine, opened exclusively, polled on a timer of
// the thread that made the driver, handing every batch of received bytes to
// OnReceiveData. The program only receives: nothing is ever written.
class TSerialPortDriver {
public:
    explicit TSerialPortDriver(ComPortTable table = ComPortTable::fromEnvironment());
    ~TSerialPortDriver();
    TSerialPortDriver(const TSerialPortDriver&) = delete;
    TSerialPortDriver& operator=(const TSerialPortDriver&) = delete;

    // True when the port is open afterwards (also when it already was).
    // False, with problem() telling why, when it cannot be opened: missing,
    // in use by another program, not permitted, or no serial line.
    bool Connect();
    void Disconnect();
    bool Connected() const { return m_fd >= 0; }
    // Discards what the driver holds on the chosen sides.
    void FlushBuffers(bool inBuffer, bool outBuffer);

    // One polling tick, as the timer runs it: one read of up to
    // ComPortInBufSize bytes, handed to OnReceiveData when there were any.
    // A read that finds the port gone disconnects and calls OnConnectionLost.
    void TimerTick();

    TComPortNumber ComPort() const { return m_port; }
    void setComPort(TComPortNumber port); // ignored while connected
    TComPortBaudRate ComPortSpeed() const { return m_line.speed; }
    void setComPortSpeed(TComPortBaudRate speed);
    TComPortDataBits ComPortDataBits() const { return m_line.dataBits; }
    void setComPortDataBits(TComPortDataBits bits);
    TComPortStopBits ComPortStopBits() const { return m_line.stopBits; }
    void setComPortStopBits(TComPortStopBits bits);
    TComPortParity ComPortParity() const { return m_line.parity; }
    void setComPortParity(TComPortParity parity);
    TComPortHwHandshaking ComPortHwHandshaking() const { return m_line.hwHandshaking; }
    void setComPortHwHandshaking(TComPortHwHandshaking mode);
    TComPortSwHandshaking ComPortSwHandshaking() const { return m_line.swHandshaking; }
    void setComPortSwHandshaking(TComPortSwHandshaking mode);
    std::uint16_t ComPortInBufSize() const { return m_inBufSize; }
    void setComPortInBufSize(std::uint16_t size); // ignored while connected
    std::uint16_t ComPortOutBufSize() const { return m_outBufSize; }
    void setComPortOutBufSize(std::uint16_t size) { m_outBufSize = size; }
    std::uint16_t ComPortPollingDelay() const { return m_pollingDelay; }
    void setComPortPollingDelay(std::uint16_t ms);
    bool EnableDTROnOpen() const { return m_enableDtr; }
    void setEnableDTROnOpen(bool on) { m_enableDtr = on; }

    TComPortReceiveDataEvent OnReceiveData;
    // Runs after the driver has closed a port that failed while open.
    std::function<void(TSerialPortDriver& Sender)> OnConnectionLost;

    const SerialPortProblem& problem() const { return m_problem; }
    const ComPortTable& portTable() const { return m_table; }
    // The device file the chosen port resolves to.
    const std::string& devicePath() const { return m_table.path(m_port); }
    bool pollingTimerActive() const;

private:
    void applyLineSettings();
    void lose(int error);
    int timerInterval() const;

    ComPortTable m_table;
    TComPortNumber m_port = pnCOM2;
    SerialLineSettings m_line;
    std::uint16_t m_inBufSize = 2048;
    std::uint16_t m_outBufSize = 2048;
    std::uint16_t m_pollingDelay = 50;
    bool m_enableDtr = true;

    int m_fd = -1;
    std::vector<std::uint8_t> m_buffer;
    std::unique_ptr<QTimer> m_timer;
    SerialPortProblem m_problem;
};

} // namespace kq::links
