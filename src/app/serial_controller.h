#pragma once

#include "decode/model_switch.h"
#include "links/serial_port_driver.h"

#include <QObject>
#include <QPointer>
#include <array>
#include <functional>

class QAbstractButton;
class QAction;
class QMenu;
class QPushButton;
class QWidget;

namespace kq::decode {
struct MeterState;
class ReadingSink;
} // namespace kq::decode

namespace kq::app {

class ConnectButtonGroup;
class Dialogs;

// The serial link of the window: the port component COMM2, the menu items
// "START" and "STOP", and the serial band (port selector, "Connect" /
// "Disconnect" panels, "COM Connect" toggle) that lies right of the fixed
// client area. Received bytes go through the framer that start-up chose.
class SerialController : public QObject {
    Q_OBJECT
public:
    // `form` is the main window: the band's widgets are its children, placed
    // beyond the client area's right edge, so a wider window shows them;
    // "COM Connect" joins the window's `group` of connect buttons.
    // `changed` runs after every batch that decoded a frame and after each
    // connect or disconnect.
    SerialController(const decode::StartupResult& startup, decode::MeterState& state,
                     decode::ReadingSink* sink, Dialogs& dialogs, ConnectButtonGroup& group,
                     QAction* start, QAction* stop, QWidget* form, std::function<void()> changed,
                     links::ComPortTable ports = links::ComPortTable::fromEnvironment(),
                     QObject* parent = nullptr);
    ~SerialController() override;

    // "START" and the panel "Connect".
    void BTCon1Click();
    // "STOP" and the panel "Disconnect".
    void BtDiscon1Click();
    // The "COM Connect" toggle: down puts the group's other buttons up and
    // connects, up disconnects.
    void COMConClick();
    // The port selector: each moves the choice on to the next port.
    void COM11Click();
    void COM21Click();
    void COM31Click();
    void COM41Click();

    // The port choice as radio items "COM1 (/dev/ttyS0)" .. "COM4 (...)" of `menu`, so the user
    // sees which device START opens. They follow the band's selector and are greyed while the
    // port is open, like the selector.
    void addPortItems(QMenu* menu);
    QAction* portItem(int index) const { return m_portItems[static_cast<std::size_t>(index)]; }

    links::TSerialPortDriver& COMM2() { return m_comm2; }
    QAbstractButton* COMCon() const;
    QWidget* band() const { return m_band; }

private:
    // Sets "COM Connect" up without its click handling.
    void release();
    void buildBand(QWidget* form);
    void placeBand();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showPort(int index);
    void enablePortChoice(bool on);
    void receive(const std::uint8_t* data, std::size_t size);
    void connectionLost();
    void notifyChanged();

    links::TSerialPortDriver m_comm2;
    decode::ReceiveHandler m_handler;
    decode::MeterState& m_state;
    decode::ReadingSink* m_sink;
    Dialogs& m_dialogs;
    ConnectButtonGroup& m_group;
    QPointer<QAction> m_start;
    QPointer<QAction> m_stop;
    QPointer<QWidget> m_form;
    std::function<void()> m_changed;

    QWidget* m_band = nullptr;
    std::array<QPushButton*, 4> m_portPanels{};
    std::array<QPointer<QAction>, 4> m_portItems{};
    QPushButton* m_connectPanel = nullptr;
    QPushButton* m_disconnectPanel = nullptr;
    QPushButton* m_comCon = nullptr;
};

} // namespace kq::app
