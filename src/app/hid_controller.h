#pragma once

#include "decode/model_switch.h"
#include "links/hid_device.h"
#include "links/hid_link.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

class QAbstractButton;
class QListWidget;
class QPushButton;
class QWidget;

namespace kq::decode {
struct MeterState;
class ReadingSink;
} // namespace kq::decode

namespace kq::app {

class ConnectButtonGroup;
class Dialogs;

// The HID cable's band of the window: the device list, the history list and
// the buttons that configure the bridge and start or stop reading, around the
// HID controller HidCtl. Everything runs on the window's thread; the read
// thread hands each report over and waits.
class HidController : public QObject {
    Q_OBJECT
public:
    // Left edge of the band, beyond the fixed client area.
    static constexpr int kBandLeft = 760;
    static constexpr std::size_t kHistoryLimit = 5000;

    // `backend` null means the machine's HID services. The widgets are made
    // children of `band`; USBCon and ReadBtn join the window's `group` of
    // connect buttons. `owner` owns the message boxes; `changed` runs after
    // a frame reached the glass.
    HidController(std::shared_ptr<links::HidBackend> backend, decode::MeterState& state,
                  decode::ReadingSink* sink, const decode::ModelSwitchSet& switches,
                  Dialogs& dialogs, ConnectButtonGroup& group, QWidget* band, QWidget* owner,
                  std::function<void()> changed, QObject* parent = nullptr);
    ~HidController() override;

    QListWidget* DevListBox() const { return m_devList; }
    QListWidget* HistoryListBox() const { return m_history; }
    QPushButton* USBCon() const { return m_usbCon; }
    QPushButton* ReadBtn() const { return m_readBtn; }
    links::THidDeviceController* HidCtl() const { return m_hidCtl.get(); }
    links::THidDevice* CurrentHidDevice() const { return m_current; }

    // The stall check of the connection timer: USBCon up, reading stopped.
    void releaseStalled();

    // "USB Connect": sets the selected bridge's bit rate and, while down, reads it (when the
    // build's model reads a HID cable at all).
    void USBConClick();
    // "Read": reads the selected device while down, without setting its bit rate.
    void ReadBtnClick();
    // "SetFeature": sends the selected bridge its bit rate, with a line in the history.
    void SetFeatureClick();
    // "Clear": empties the history list.
    void ClearBtnClick();
    // "Info": shows the selected device's IDs, serial number, path and access.
    void InfoBtnClick();

private:
    void buildWidgets(QWidget* band);
    void wireController();
    // Lists one device found by a refresh and keeps it checked out.
    bool HidCtlEnumerate(links::THidDevice& device, int index);
    // A device came or went: reading stops, the list is rebuilt and the bridge selected.
    void HidCtlDeviceChange();
    // A line in the history for a device plugged in, pulled out, or failing a read.
    void HidCtlArrival(links::THidDevice& device);
    void HidCtlRemoval(links::THidDevice& device);
    void HidCtlDeviceDataError(links::THidDevice& device, std::uint32_t error);
    // One report of the device being read: decoded onto the glass and into the history.
    void HidDeviceData(links::THidDevice& device, std::uint8_t reportId, const std::uint8_t* data,
                       std::uint16_t size);
    void addHistory(const QString& line);
    links::THidDevice* selectedDevice() const;
    bool hasSelection() const;
    void setUp(QAbstractButton* button);
    void explainRefusal(const links::THidDevice& device);
    QString describe(links::THidDevice& device) const;

    decode::MeterState& m_state;
    decode::ReadingSink* m_sink;
    decode::ModelSwitchSet m_switches;
    Dialogs& m_dialogs;
    ConnectButtonGroup& m_group;
    QPointer<QWidget> m_owner;
    std::function<void()> m_changed;
    links::HidLinkState m_link;

    QListWidget* m_devList = nullptr;
    QListWidget* m_history = nullptr;
    QPushButton* m_usbCon = nullptr;
    QPushButton* m_readBtn = nullptr;
    QPushButton* m_setFeature = nullptr;
    QPushButton* m_clearBtn = nullptr;
    QPushButton* m_infoBtn = nullptr;

    std::unique_ptr<links::THidDeviceController> m_hidCtl;
    // The checked-out devices, one per DevListBox row (freeing one checks it in).
    std::vector<std::unique_ptr<links::THidDevice>> m_items;
    links::THidDevice* m_current = nullptr;
    links::THidDataEvent m_dataHandler;
};

} // namespace kq::app
