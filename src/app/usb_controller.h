#pragma once

#include "links/usb_link.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class QAbstractButton;
class QTimer;
class QWidget;

namespace kq::decode {
struct MeterState;
class ReadingSink;
} // namespace kq::decode

namespace kq::app {

class ConnectButtonGroup;
class Dialogs;

// The "USB Connect " toggle button and the poll Timer1 of the USB bridge
// link, on the window's thread. The window owns the state and the button;
// this object wires them to the link and tells the window when to re-render.
class UsbController : public QObject {
    Q_OBJECT
public:
    // `bridge` null means the system's bridge. `button` is the window's
    // checkable toggle (objectName "USB"), a member of the window's `group`
    // of connect buttons; `owner` owns the message boxes;
    // `changed` runs after every tick that may have changed what the window
    // shows, and after the connect step. `sink` receives the logged readings.
    // The poll is on from start-up, with the button up: with no device open it only puts
    // out the indicator (see displayChanged()).
    UsbController(std::unique_ptr<links::UsbBridge> bridge, decode::MeterState& state,
                  decode::ReadingSink* sink, Dialogs& dialogs, ConnectButtonGroup& group,
                  QAbstractButton* button, QWidget* owner, std::function<void()> changed,
                  QObject* parent = nullptr);
    ~UsbController() override;

    // The click handling of the toggle: down puts the group's other buttons
    // up, turns Timer1 on and connects; up turns Timer1 off and closes.
    void USBClick();
    // One poll, as Timer1 runs it.
    void Timer1Timer();

    // Timer1 as the user's actions leave it: on from start-up, off while the
    // button is up. Its ticks do not come every 10 ms: with a device open the
    // reading thread wakes the poll for each whole frame or failed read (a
    // tick that found the line quiet would change nothing); with none open a
    // poll has nothing to do but put the indicator out (see displayChanged()).
    bool pollOn() const { return m_pollOn; }
    // The poll is on and reads an open device.
    bool polling() const { return m_link.reading(); }
    // The one-shot that stands for the poll while no device is open.
    QTimer* Timer1() const { return m_timer1; }
    // The window shows a new state. With no device open, a frame of another
    // link that lit the indicator is put out by one poll a tick later, as a
    // running poll's failing read would.
    void displayChanged();
    const links::UsbLink& link() const { return m_link; }
    links::UsbBridge& bridge() { return *m_bridge; }

private:
    // Sets the USB button up without its click handling (Timer1 and the device
    // stay as they are).
    void release();
    // The connect step: opens the one attached bridge, or says why it cannot.
    void usb_dllClick();
    void notifyChanged();
    // Runs the link's reading thread exactly while the poll is on and a
    // device open.
    void updatePollTimer();
    // A reading the poll decoded could not be logged (the log store is full,
    // memory ran out): reported through the general error report, once per run
    // of such failures.
    void logFailed(const QString& why);
    // The cable was pulled out: the button up, the poll off, the device
    // closed, and the user told once.
    void cableGone();

    std::unique_ptr<links::UsbBridge> m_bridge;
    links::UsbLink m_link;
    decode::MeterState& m_state;
    decode::ReadingSink* m_sink;
    Dialogs& m_dialogs;
    ConnectButtonGroup& m_group;
    QPointer<QAbstractButton> m_button;
    QPointer<QWidget> m_owner;
    std::function<void()> m_changed;
    QTimer* m_timer1 = nullptr;
    bool m_pollOn = true;
    bool m_logFailureReported = false;
};

} // namespace kq::app
