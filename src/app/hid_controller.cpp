#include "app/hid_controller.h"

#include "app/connect_button_group.h"
#include "app/dialogs.h"
#include "decode/connection_indicator.h"
#include "decode/meter_state.h"
#include "links/hid_rules.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <exception>

namespace kq::app {

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

HidController::HidController(std::shared_ptr<links::HidBackend> backend, decode::MeterState& state,
                             decode::ReadingSink* sink, const decode::ModelSwitchSet& switches,
                             Dialogs& dialogs, ConnectButtonGroup& group, QWidget* band,
                             QWidget* owner, std::function<void()> changed, QObject* parent)
    : QObject(parent), m_state(state), m_sink(sink), m_switches(switches), m_dialogs(dialogs),
      m_group(group), m_owner(owner), m_changed(std::move(changed)) {
    setObjectName("HidController");
    buildWidgets(band);
    m_dataHandler = links::makeHandler<links::THidDataFn>(
        [this](links::THidDevice& device, std::uint8_t id, const std::uint8_t* data,
               std::uint16_t size) { HidDeviceData(device, id, data, size); });

    if (!backend)
        backend = links::makeSystemHidBackend();
    if (!backend->devicesReachable())
        addHistory(QString::fromUtf8(links::kNoHidrawText.data(),
                                     static_cast<qsizetype>(links::kNoHidrawText.size())));
    try {
        m_hidCtl = std::make_unique<links::THidDeviceController>(backend, links::qtPost(this));
    } catch (const links::EControllerError& e) {
        // The window goes on without its HID band rather than not at all.
        m_dialogs.message(m_owner, QCoreApplication::applicationName(), e.what(),
                          Dialogs::Icon::Error);
        return;
    }
    wireController();
}

HidController::~HidController() {
    // Reading stops and the devices go back before the controller goes.
    m_current = nullptr;
    m_items.clear();
    m_hidCtl.reset();
}

void HidController::buildWidgets(QWidget* band) {
    const auto button = [band](const char* name, const char* caption, int x, int w,
                               bool checkable) {
        auto* b = new QPushButton(caption, band);
        b->setObjectName(name);
        b->setCheckable(checkable);
        b->setGeometry(x, 1, w, 25);
        return b;
    };
    m_usbCon = button("USBCon", "USB Connect", kBandLeft, 100, true);
    m_readBtn = button("ReadBtn", "Read", kBandLeft + 104, 60, true);
    m_setFeature = button("SetFeature", "SetFeature", kBandLeft + 168, 80, false);
    m_clearBtn = button("ClearBtn", "Clear", kBandLeft + 252, 60, false);
    m_infoBtn = button("InfoBtn", "Info", kBandLeft + 316, 60, false);
    m_group.join(m_usbCon);
    m_group.join(m_readBtn);

    m_devList = new QListWidget(band);
    m_devList->setObjectName("DevListBox");
    m_devList->setGeometry(kBandLeft, 32, 376, 80);
    m_history = new QListWidget(band);
    m_history->setObjectName("HistoryListBox");
    // One line per report, many a second: lines of one height lay out
    // without measuring each.
    m_history->setUniformItemSizes(true);
    m_history->setGeometry(kBandLeft, 116, 376, 200);

    connect(m_usbCon, &QAbstractButton::clicked, this, [this] {
        if (m_usbCon->isChecked())
            m_group.wentDown(m_usbCon);
        USBConClick();
    });
    connect(m_readBtn, &QAbstractButton::clicked, this, [this] {
        if (m_readBtn->isChecked())
            m_group.wentDown(m_readBtn);
        ReadBtnClick();
        if (!m_readBtn->isChecked() && m_current && !m_current->ReadWriteAccess())
            explainRefusal(*m_current);
    });
    connect(m_setFeature, &QAbstractButton::clicked, this, &HidController::SetFeatureClick);
    connect(m_clearBtn, &QAbstractButton::clicked, this, &HidController::ClearBtnClick);
    connect(m_infoBtn, &QAbstractButton::clicked, this, &HidController::InfoBtnClick);
}

void HidController::wireController() {
    using namespace links;
    m_hidCtl->SetOnArrival(makeHandler<THidPlugFn>([this](THidDevice& d) { HidCtlArrival(d); }));
    m_hidCtl->SetOnEnumerate(makeHandler<THidEnumerateFn>(
        [this](THidDevice& d, int index) { return HidCtlEnumerate(d, index); }));
    // Assigning it runs the first refresh, which fills DevListBox.
    m_hidCtl->SetOnDeviceChange(
        makeHandler<TNotifyFn>([this](THidDeviceController&) { HidCtlDeviceChange(); }));
    m_hidCtl->SetOnDeviceDataError(makeHandler<THidDataErrorFn>(
        [this](THidDevice& d, std::uint32_t error) { HidCtlDeviceDataError(d, error); }));
    m_hidCtl->SetOnRemoval(makeHandler<THidPlugFn>([this](THidDevice& d) { HidCtlRemoval(d); }));
}

void HidController::setUp(QAbstractButton* button) {
    const QSignalBlocker block(button);
    button->setChecked(false);
}

void HidController::releaseStalled() {
    setUp(m_usbCon);
    if (m_current)
        m_current->SetDataHandler(nullptr);
}

QString HidController::describe(links::THidDevice& device) const {
    return qs(links::HidDeviceDescription(device.ReadProductName(), device.Attributes().vendorId,
                                          device.Attributes().productId,
                                          device.ReadSerialNumber()));
}

void HidController::addHistory(const QString& line) {
    // A running log of every report: the oldest lines go so that an
    // evening's reading does not fill the memory.
    if (static_cast<std::size_t>(m_history->count()) >= kHistoryLimit)
        delete m_history->takeItem(0);
    m_history->addItem(line);
    m_history->setCurrentRow(m_history->count() - 1);
}

bool HidController::hasSelection() const {
    return m_devList->count() > 0 && m_devList->currentRow() >= 0 && m_devList->currentItem() &&
           m_devList->currentItem()->isSelected();
}

links::THidDevice* HidController::selectedDevice() const {
    if (!hasSelection())
        return nullptr;
    const auto row = static_cast<std::size_t>(m_devList->currentRow());
    return row < m_items.size() ? m_items[row].get() : nullptr;
}

bool HidController::HidCtlEnumerate(links::THidDevice& device, int index) {
    m_devList->addItem(describe(device));
    m_items.push_back(m_hidCtl->CheckOutDevice(index));
    return true;
}

void HidController::HidCtlDeviceChange() {
    setUp(m_readBtn);
    ReadBtnClick();
    // Freeing the objects checks them back in; nothing may point at them.
    m_current = nullptr;
    m_devList->clear();
    m_items.clear();
    m_hidCtl->EnumerateDevices();
    for (int row = m_devList->count() - 1; row >= 0; --row) {
        if (m_devList->item(row)->text() ==
            QLatin1String(links::kHidBridgeName.data(),
                          static_cast<qsizetype>(links::kHidBridgeName.size()))) {
            m_devList->setCurrentRow(row);
            break;
        }
    }
}

void HidController::HidCtlArrival(links::THidDevice& device) {
    addHistory("Arrival of " + describe(device));
}

void HidController::HidCtlRemoval(links::THidDevice& device) {
    addHistory("Removal of " + describe(device));
}

void HidController::HidCtlDeviceDataError(links::THidDevice&, std::uint32_t error) {
    addHistory(qs(links::readErrorLine(error)));
}

void HidController::ReadBtnClick() {
    m_current = nullptr;
    if (!hasSelection()) {
        // Down with no device selected would claim a reading that never comes.
        setUp(m_readBtn);
        return;
    }
    m_current = selectedDevice();
    if (!m_current)
        return;
    if (!m_current->ReadWriteAccess()) {
        setUp(m_readBtn);
        return;
    }
    m_current->SetDataHandler(m_readBtn->isChecked() ? m_dataHandler : nullptr);
}

void HidController::SetFeatureClick() {
    m_current = nullptr;
    if (hasSelection()) {
        m_current = selectedDevice();
        const links::HidFeatureReport report = links::hidFeatureReport(m_switches);
        if (m_current)
            m_current->SendFeatureReport(report.data(), report.size());
        addHistory(qs(links::featureHistoryLine(report)));
        return;
    }
    m_dialogs.message(m_owner, QCoreApplication::applicationName(),
                      QString::fromUtf8(links::kHidNotConnectedText.data(),
                                        static_cast<qsizetype>(links::kHidNotConnectedText.size())),
                      Dialogs::Icon::Information);
    setUp(m_usbCon);
}

void HidController::USBConClick() {
    ReadBtnClick();
    SetFeatureClick();
    m_state.HidStallCount = 0;
    m_current = nullptr;
    if (!hasSelection())
        return;
    m_current = selectedDevice();
    if (!m_current)
        return;
    if (!m_current->ReadWriteAccess()) {
        setUp(m_usbCon);
        explainRefusal(*m_current);
        return;
    }
    if (!m_usbCon->isChecked())
        m_current->SetDataHandler(nullptr);
    else if (links::hidReadingEnabled(m_switches))
        m_current->SetDataHandler(m_dataHandler);
}

void HidController::explainRefusal(const links::THidDevice& device) {
    const std::string hint =
        links::hidAccessHint(device.OpenError(), device.PnPInfo().Interface,
                             links::installedHidRulesFile(links::hidRulesFileCandidates()));
    if (!hint.empty())
        m_dialogs.message(m_owner, QCoreApplication::applicationName(), qs(hint),
                          Dialogs::Icon::Error);
}

void HidController::ClearBtnClick() {
    m_history->clear();
}

void HidController::InfoBtnClick() {
    links::THidDevice* device = selectedDevice();
    if (!device)
        return;
    const auto& a = device->Attributes();
    const auto hex4 = [](std::uint16_t v) {
        return QString::number(v, 16).toUpper().rightJustified(4, QChar('0'));
    };
    const QString serial = QString::fromStdWString(device->ReadSerialNumber());
    const QString text = describe(*device) + "\nVID=" + hex4(a.vendorId) +
                         " PID=" + hex4(a.productId) + " Version=" + hex4(a.versionNumber) +
                         "\nSerial number: " + (serial.isEmpty() ? "none" : serial) +
                         "\nDevice path: " + qs(device->PnPInfo().DevicePath()) + "\nAccess: " +
                         (device->ReadWriteAccess() ? "read and write" : "query only");
    m_dialogs.message(m_owner, QCoreApplication::applicationName(), text,
                      Dialogs::Icon::Information);
}

void HidController::HidDeviceData(links::THidDevice&, std::uint8_t reportId,
                                  const std::uint8_t* data, std::uint16_t size) {
    links::HidReportResult result;
    bool failed = false;
    try {
        result = links::HidDeviceData(m_state, m_link, m_sink, reportId, data, size);
    } catch (const std::exception&) {
        // A reading the log could not take must not stop the cable or open
        // a box per frame; the glass has been updated already.
        failed = true;
    }
    if (result.payload)
        addHistory(qs(result.historyLine));
    // A stall is checked by the connection timer, which sleeps until it is told.
    const bool stallDue = m_state.HidStallCount >= decode::kHidStallLimit;
    if ((result.frameEnded || failed || stallDue) && m_changed)
        m_changed();
}

} // namespace kq::app
