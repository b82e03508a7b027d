#include "app/serial_controller.h"

#include "app/connect_button_group.h"
#include "app/dialogs.h"
#include "decode/meter_state.h"
#include "links/serial_framers.h"
#include "links/serial_messages.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QEvent>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>

namespace kq::app {

namespace {

// The band's place in client pixels: right of the 719-pixel client area,
// where the window's other developer controls lie.
constexpr int kBandX = 742;
constexpr int kBandY = 360;

} // namespace

SerialController::SerialController(const decode::StartupResult& startup, decode::MeterState& state,
                                   decode::ReadingSink* sink, Dialogs& dialogs,
                                   ConnectButtonGroup& group, QAction* start, QAction* stop,
                                   QWidget* form, std::function<void()> changed,
                                   links::ComPortTable ports, QObject* parent)
    : QObject(parent), m_comm2(std::move(ports)), m_handler(startup.handler), m_state(state),
      m_sink(sink), m_dialogs(dialogs), m_group(group), m_start(start), m_stop(stop), m_form(form),
      m_changed(std::move(changed)) {
    setObjectName("SerialController");
    // COMM2 starts on the first port at the speed start-up chose: 2400 bit/s,
    // or 19200 for the models that run their cable at it.
    m_comm2.setComPort(links::pnCOM1);
    links::TComPortBaudRate speed = links::br2400;
    links::baudRateOf(static_cast<std::uint32_t>(startup.serialSpeed), speed);
    m_comm2.setComPortSpeed(speed);
    m_comm2.OnReceiveData = [this](links::TSerialPortDriver&, const std::uint8_t* data,
                                   std::size_t size) { receive(data, size); };
    m_comm2.OnConnectionLost = [this](links::TSerialPortDriver&) { connectionLost(); };

    // START and STOP are plain commands: the one that applies is enabled, the other greyed (a
    // tick beside them would read as a setting).
    if (m_start) {
        m_start->setEnabled(true);
        connect(m_start, &QAction::triggered, this, &SerialController::BTCon1Click);
    }
    if (m_stop) {
        m_stop->setEnabled(false);
        connect(m_stop, &QAction::triggered, this, &SerialController::BtDiscon1Click);
    }
    if (form)
        buildBand(form);
}

SerialController::~SerialController() {
    if (m_form)
        m_form->removeEventFilter(this);
}

void SerialController::buildBand(QWidget* form) {
    m_band = new QWidget(form);
    m_band->setObjectName("SerialBand");
    m_band->resize(110, 90);

    static constexpr const char* kNames[4] = {"BtCOM1", "BtCOM2", "BtCOM3", "BtCOM4"};
    static constexpr const char* kCaptions[4] = {"COM 1", "COM 2", "COM 3", "COM 4"};
    using Handler = void (SerialController::*)();
    static constexpr Handler kHandlers[4] = {
        &SerialController::COM21Click, &SerialController::COM31Click, &SerialController::COM41Click,
        &SerialController::COM11Click};
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QPushButton(kCaptions[i], m_band);
        panel->setObjectName(kNames[i]);
        panel->setGeometry(0, 0, 80, 25);
        panel->setVisible(i == 0);
        connect(panel, &QPushButton::clicked, this, kHandlers[i]);
        m_portPanels[static_cast<std::size_t>(i)] = panel;
    }

    m_connectPanel = new QPushButton("Connect", m_band);
    m_connectPanel->setObjectName("BTCon");
    m_connectPanel->setGeometry(0, 30, 80, 25);
    connect(m_connectPanel, &QPushButton::clicked, this, &SerialController::BTCon1Click);

    m_disconnectPanel = new QPushButton("Disconnect", m_band);
    m_disconnectPanel->setObjectName("BtDiscon");
    m_disconnectPanel->setGeometry(0, 30, 80, 25);
    m_disconnectPanel->hide();
    connect(m_disconnectPanel, &QPushButton::clicked, this, &SerialController::BtDiscon1Click);

    m_comCon = new QPushButton("COM Connect", m_band);
    m_comCon->setObjectName("COMCon");
    m_comCon->setCheckable(true);
    m_comCon->setGeometry(0, 60, 109, 25);
    m_group.join(m_comCon);
    connect(m_comCon, &QPushButton::clicked, this, &SerialController::COMConClick);

    form->installEventFilter(this);
    placeBand();
}

void SerialController::placeBand() {
    if (!m_band || !m_form)
        return;
    // Client coordinates: below the menu bar, wherever the window puts it.
    QPoint origin;
    if (auto* main = qobject_cast<QMainWindow*>(m_form.data()); main && main->centralWidget())
        origin = main->centralWidget()->geometry().topLeft();
    m_band->move(origin + QPoint(kBandX, kBandY));
}

bool SerialController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_form && (event->type() == QEvent::Resize || event->type() == QEvent::Show ||
                              event->type() == QEvent::LayoutRequest))
        placeBand();
    return QObject::eventFilter(watched, event);
}

QAbstractButton* SerialController::COMCon() const {
    return m_comCon;
}

void SerialController::release() {
    if (!m_comCon)
        return;
    const QSignalBlocker block(m_comCon);
    m_comCon->setChecked(false);
}

void SerialController::BTCon1Click() {
    if (m_start)
        m_start->setEnabled(false);
    if (m_stop)
        m_stop->setEnabled(true);
    const bool open = m_comm2.Connect();
    if (m_band) {
        m_connectPanel->hide();
        m_disconnectPanel->show();
    }
    enablePortChoice(false);
    if (!open) {
        // Say why, and go back to where START can be tried again: a menu
        // that shows the port as started while nothing can arrive would
        // leave the user waiting for frames that never come.
        const std::string name = links::comPortName(m_comm2.ComPort());
        m_dialogs.message(m_form, QCoreApplication::applicationName(),
                          QString::fromStdString(links::serialProblemText(name, m_comm2.problem())),
                          Dialogs::Icon::Error);
        BtDiscon1Click();
        release();
    }
    notifyChanged();
}

void SerialController::BtDiscon1Click() {
    if (m_start)
        m_start->setEnabled(true);
    if (m_stop)
        m_stop->setEnabled(false);
    m_comm2.Disconnect();
    if (m_band) {
        m_connectPanel->show();
        m_disconnectPanel->hide();
    }
    enablePortChoice(true);
    notifyChanged();
}

void SerialController::COMConClick() {
    if (m_comCon && m_comCon->isChecked()) {
        m_group.wentDown(m_comCon);
        BTCon1Click();
    } else {
        BtDiscon1Click();
    }
}

void SerialController::showPort(int index) {
    for (int i = 0; i < 4; ++i) {
        if (auto* panel = m_portPanels[static_cast<std::size_t>(i)])
            panel->setVisible(i == index);
    }
    m_comm2.setComPort(static_cast<links::TComPortNumber>(index)); // ignored while open
    if (QAction* item = m_portItems[static_cast<std::size_t>(m_comm2.ComPort())])
        item->setChecked(true);
}

void SerialController::enablePortChoice(bool on) {
    for (auto* panel : m_portPanels) {
        if (panel)
            panel->setEnabled(on);
    }
    for (const auto& item : m_portItems) {
        if (item)
            item->setEnabled(on);
    }
}

void SerialController::addPortItems(QMenu* menu) {
    auto* group = new QActionGroup(menu);
    group->setExclusive(true);
    for (int i = 0; i < links::kComPortCount; ++i) {
        const auto port = static_cast<links::TComPortNumber>(i);
        // "&1" .. "&4" pick a port from the keyboard; the device is what the port opens.
        const QString caption = QStringLiteral("COM&%1 (%2)")
                                    .arg(i + 1)
                                    .arg(QString::fromStdString(m_comm2.portTable().path(port)));
        QAction* item = menu->addAction(caption);
        item->setObjectName(QStringLiteral("PortCOM%1").arg(i + 1));
        item->setCheckable(true);
        item->setChecked(m_comm2.ComPort() == port);
        item->setEnabled(!m_comm2.Connected());
        group->addAction(item);
        connect(item, &QAction::triggered, this, [this, i] { showPort(i); });
        m_portItems[static_cast<std::size_t>(i)] = item;
    }
}

void SerialController::COM11Click() {
    showPort(0);
}
void SerialController::COM21Click() {
    showPort(1);
}
void SerialController::COM31Click() {
    showPort(2);
}
void SerialController::COM41Click() {
    showPort(3);
}

void SerialController::receive(const std::uint8_t* data, std::size_t size) {
    if (m_state.PrintBusy) {
        // The log is being printed, saved or loaded under a progress box that
        // keeps the event loop running: a reading logged now would change the
        // table under the code that walks it. As the USB poll does meanwhile,
        // the bytes are dropped and the frame being collected with them.
        m_state.RxDigits.clear();
        m_state.RxMarks.clear();
        return;
    }
    const auto result = links::receiveSerial(m_handler, m_state, m_sink, data, size);
    // A rejected frame changes FrameText only, which nothing shows.
    if (result.framesDecoded > 0)
        notifyChanged();
}

void SerialController::connectionLost() {
    // The port is closed already. The glass says at once that nothing comes
    // in any more, and START is offered again.
    m_state.display.setShown(decode::Widget::conok, false);
    m_state.display.setShown(decode::Widget::conokn, true);
    const links::SerialPortProblem problem = m_comm2.problem();
    BtDiscon1Click();
    release();
    m_dialogs.message(m_form, QCoreApplication::applicationName(),
                      QString::fromStdString(
                          links::serialProblemText(links::comPortName(m_comm2.ComPort()), problem)),
                      Dialogs::Icon::Error);
}

void SerialController::notifyChanged() {
    if (m_changed)
        m_changed();
}

} // namespace kq::app
