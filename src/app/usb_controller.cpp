#include "app/usb_controller.h"

#include "app/connect_button_group.h"
#include "app/dialogs.h"
#include "decode/meter_state.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QMetaObject>
#include <QSignalBlocker>
#include <QTimer>
#include <exception>

namespace kq::app {

UsbController::UsbController(std::unique_ptr<links::UsbBridge> bridge, decode::MeterState& state,
                             decode::ReadingSink* sink, Dialogs& dialogs, ConnectButtonGroup& group,
                             QAbstractButton* button, QWidget* owner, std::function<void()> changed,
                             QObject* parent)
    : QObject(parent), m_bridge(bridge ? std::move(bridge) : links::makeSystemBridge()),
      m_link(*m_bridge), m_state(state), m_sink(sink), m_dialogs(dialogs), m_group(group),
      m_button(button), m_owner(owner), m_changed(std::move(changed)) {
    setObjectName("UsbController");
    m_timer1 = new QTimer(this);
    m_timer1->setObjectName("Timer1");
    m_timer1->setSingleShot(true);
    m_timer1->setInterval(10);
    connect(m_timer1, &QTimer::timeout, this, &UsbController::Timer1Timer);
    if (m_button) {
        m_button->setCheckable(true);
        m_group.join(m_button);
        connect(m_button, &QAbstractButton::clicked, this, &UsbController::USBClick);
    }
    updatePollTimer();
}

// Closing the window leaves the device as it is; the bridge object closes
// whatever it still holds when it goes. The reading thread ends first, while
// this object can still take its last wake-up.
UsbController::~UsbController() {
    m_link.stopReading();
}

void UsbController::release() {
    if (!m_button)
        return;
    const QSignalBlocker block(m_button);
    m_button->setChecked(false);
}

void UsbController::USBClick() {
    if (m_button && m_button->isChecked()) {
        m_group.wentDown(m_button);
        m_pollOn = true;
        usb_dllClick();
    } else {
        m_pollOn = false;
        m_link.buttonUp();
    }
    updatePollTimer();
}

void UsbController::updatePollTimer() {
    if (m_pollOn && m_link.deviceOpen()) {
        m_timer1->stop();
        // The line is read on a thread of its own, so no tick waits on it,
        // and the window wakes for a whole frame or a failed read only.
        m_link.startReading([this] {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    // A wake-up that was on its way when the reading stopped
                    // finds nothing to poll.
                    if (m_link.reading())
                        Timer1Timer();
                },
                Qt::QueuedConnection);
        });
    } else {
        m_link.stopReading();
    }
    if (!m_pollOn)
        m_timer1->stop();
}

void UsbController::displayChanged() {
    if (!m_pollOn || m_link.reading() || m_timer1->isActive())
        return;
    const auto& d = m_state.display;
    if (d.isShown(decode::Widget::conok) || !d.isShown(decode::Widget::conokn))
        m_timer1->start();
}

void UsbController::usb_dllClick() {
    const auto result = m_link.usb_dllClick();
    if (result.message != links::UsbMessage::None) {
        // A modal box: Timer1 keeps ticking inside its loop, as it should.
        m_dialogs.message(m_owner, QCoreApplication::applicationName(),
                          QString::fromStdString(links::usbConnectText(result)),
                          Dialogs::Icon::None);
    }
    if (result.releaseButton)
        release();
    updatePollTimer();
    notifyChanged();
}

void UsbController::Timer1Timer() {
    // Reads that piled up while the window was busy are polled one by one
    // now, each as its own tick; the window is told once.
    bool changed = false;
    do {
        links::UsbTickResult tick;
        try {
            tick = m_link.Timer1Timer(m_state, m_sink);
        } catch (const std::exception& e) {
            logFailed(QString::fromLocal8Bit(e.what()));
            continue;
        } catch (...) {
            logFailed(QStringLiteral("Unknown error"));
            continue;
        }
        // A reading that reached the log again ends the failure: the next
        // one is reported anew.
        if (tick.decoder == decode::Decoder::D12B)
            m_logFailureReported = false;
        changed = changed || tick.changed;
        if (tick.deviceGone) {
            cableGone();
            return;
        }
    } while (m_link.readWaiting());
    if (changed)
        notifyChanged();
}

void UsbController::cableGone() {
    // A pulled cable never reads again through this handle, and holding it
    // open keeps the kernel from giving the cable its old name when it comes
    // back. Everything stops before the box opens, whose loop runs the timers.
    m_pollOn = false;
    m_link.buttonUp();
    release();
    updatePollTimer();
    notifyChanged();
    m_dialogs.message(
        m_owner, QCoreApplication::applicationName(),
        QStringLiteral("The USB interface cable was unplugged; the readings logged so "
                       "far are kept. Plug it in again and press \"USB Connect\" to "
                       "go on."),
        Dialogs::Icon::Information);
}

void UsbController::logFailed(const QString& why) {
    // The glass, MIN/MAX and the judgement were updated before the log step
    // failed, so they are shown; the poll goes on. The user learns once why
    // readings stopped being logged, not a hundred times a second.
    notifyChanged();
    if (m_logFailureReported)
        return;
    m_logFailureReported = true;
    m_dialogs.message(m_owner, QCoreApplication::applicationName(),
                      QStringLiteral("Readings are no longer logged: ") + why,
                      Dialogs::Icon::Error);
}

void UsbController::notifyChanged() {
    if (m_changed)
        m_changed();
}

} // namespace kq::app
