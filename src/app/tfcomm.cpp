#include "app/tfcomm.h"

#include "app/chart_panel.h"
#include "app/dialogs.h"
#include "app/hid_controller.h"
#include "app/journal_keeper.h"
#include "app/lcd_panel.h"
#include "app/limit_panel.h"
#include "app/log_file_actions.h"
#include "app/log_grid_model.h"
#include "app/log_strip.h"
#include "app/minmax_strip.h"
#include "app/serial_controller.h"
#include "app/statistics_dialog.h"
#include "app/usb_controller.h"
#include "decode/connection_indicator.h"
#include "decode/meter_decoders.h"
#include "decode/system_locale.h"
#include "record/limit_input.h"
#include "record/recorder.h"

#include <algorithm>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

namespace kq::app {

namespace {

constexpr int kClientWidth = 719;
constexpr int kClientHeight = 544;
// Redraw limits while frames pour in: the glass up to 25 times a second, the
// grid and the chart 4 times.
constexpr qint64 kGlassIntervalMs = 40;
constexpr int kViewsIntervalMs = 250;

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

bool leavesForAnotherControl(Qt::FocusReason reason) {
    switch (reason) {
    case Qt::MouseFocusReason:
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
    case Qt::OtherFocusReason:
        return true;
    default: // ActiveWindow, Popup, MenuBar
        return false;
    }
}

} // namespace

TFCOMM::TFCOMM(Dialogs& dialogs, std::unique_ptr<links::UsbBridge> bridge,
               const decode::ModelSwitchSet& switches, QWidget* parent,
               std::shared_ptr<links::HidBackend> hid)
    : QMainWindow(parent), m_dialogs(dialogs), m_recorder(std::make_unique<record::Recorder>()) {
    setObjectName("FCOMM");
    // Start-up: the locale's separator, the default range, the model switch
    // and the range table, all applied to the state before anything shows.
    m_startup = decode::applyStartup(m_state, switches, decode::systemDecimalSeparator());
    m_recorder->setTimeSeparator(decode::systemTimeSeparator());
    setWindowTitle(qs(m_startup.title));

    buildWidgets();
    m_journal = std::make_unique<JournalKeeper>(this, m_dialogs, *m_recorder, m_files->saveMark());
    m_files->setSavedChanged([this] { m_journal->sync(); });
    m_files->setJournalFiles([this](const QString& name) { return m_journal->isJournal(name); },
                             [this](const QString& name) {
                                 m_journal->offerJournal(name);
                                 render();
                                 renderViews();
                             });
    buildMenus();
    // The window is not resizable: its client area is fixed, so the title bar offers
    // the system menu (with its Close) and minimising, never maximising.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    adjustSize();
    setFixedSize(sizeHint());

    m_usb = new UsbController(
        std::move(bridge), m_state, m_recorder.get(), m_dialogs, m_usbButton, this,
        [this] { render(); }, this);
    m_hid = new HidController(
        std::move(hid), m_state, m_recorder.get(), switches, m_dialogs, m_client, this,
        [this] { render(); }, this);
    // One exclusive group of connect buttons, all of which may be up.
    m_usb->addGroupPeer(m_hid->USBCon());
    m_usb->addGroupPeer(m_hid->ReadBtn());
    m_hid->addGroupPeer(m_usbButton);
    m_serial = new SerialController(
        m_startup, m_state, m_recorder.get(), m_dialogs, m_startAction, m_stopAction, this,
        [this] { render(); }, links::ComPortTable::fromEnvironment(), this);
    m_usb->addGroupPeer(m_serial->COMCon());
    m_hid->addGroupPeer(m_serial->COMCon());
    m_serial->addGroupPeer(m_usbButton);
    m_serial->addGroupPeer(m_hid->USBCon());
    m_serial->addGroupPeer(m_hid->ReadBtn());

    m_clock.start();
    m_glassTimer = new QTimer(this);
    m_glassTimer->setSingleShot(true);
    connect(m_glassTimer, &QTimer::timeout, this, &TFCOMM::renderGlass);

    m_viewTimer = new QTimer(this);
    m_viewTimer->setSingleShot(true);
    m_viewTimer->setInterval(kViewsIntervalMs);
    connect(m_viewTimer, &QTimer::timeout, this, &TFCOMM::renderViews);

    m_conTimer = new QTimer(this);
    m_conTimer->setObjectName("ConTimer");
    m_conTimer->setInterval(100);
    connect(m_conTimer, &QTimer::timeout, this, &TFCOMM::ConTimerTimer);
    m_conTimer->start();
    stateChanged();

    m_recordTimer = new QTimer(this);
    m_recordTimer->setObjectName("Trecord");
    m_recordTimer->setInterval(1000);
    connect(m_recordTimer, &QTimer::timeout, this, &TFCOMM::TrecordTimer);
    m_recordTimer->start();

    renderGlass();
    renderViews();
    // Centred on the screen at start.
    if (QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TFCOMM::~TFCOMM() {
    // The poll, the views and the file actions refer to the state and the
    // recorder, which go before the widgets that QObject deletes last.
    delete m_serial;
    delete m_hid;
    delete m_usb;
    m_journal.reset();
    m_files.reset();
    delete m_chart;
    delete m_grid;
    delete m_gridModel;
    delete m_logStrip;
}

void TFCOMM::buildWidgets() {
    m_client = new QWidget(this);
    m_client->setObjectName("ClientArea");
    m_client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(m_client);

    QFont base("MS Sans Serif");
    base.setPixelSize(11);
    base.setBold(true);
    setFont(base);

    m_usbButton = new QPushButton("USB Connect ", m_client);
    m_usbButton->setObjectName("USB");
    m_usbButton->setCheckable(true);
    m_usbButton->setGeometry(1, 1, 109, 25);

    m_exitButton = new QPushButton("Exit", m_client);
    m_exitButton->setObjectName("BitBtn1");
    m_exitButton->setGeometry(640, 1, 73, 25);
    connect(m_exitButton, &QPushButton::clicked, this, &QWidget::close);

    m_lcd = new LcdPanel(m_client);
    m_lcd->move(1, 32);

    m_minMax = new MinMaxStrip(m_client);
    m_minMax->move(1, 247);

    m_logStrip = new LogStrip(*m_recorder, m_client);
    m_logStrip->move(1, 272);

    m_gridModel = new LogGridModel(m_recorder->cds1, this);
    m_grid = new QTableView(m_client);
    m_grid->setObjectName("DBGrid1");
    m_grid->setGeometry(1, 312, 398, 233);
    configureLogGrid(m_grid, m_gridModel);

    m_limits = new LimitPanel(m_client);
    m_limits->move(400, 32);
    wireLimitEdits();

    m_chart = new ChartPanel(m_recorder->ChartPager, m_client);
    m_chart->move(400, 152);

    connect(m_logStrip->RecordNew(), &QAbstractButton::clicked, this, &TFCOMM::RecordNewClick);
    connect(m_chart->BtNew(), &QAbstractButton::clicked, this, &TFCOMM::RecordNewClick);

    m_files =
        std::make_unique<LogFileActions>(this, m_dialogs, m_recorder->cds1, m_state.PrintBusy);
    m_files->setRecorder(m_recorder.get());
    m_files->setTableChanged([this] {
        render();
        renderViews();
    });
    connect(m_logStrip->saveas(), &QAbstractButton::clicked, this,
            [this] { m_files->saveasClick(); });
    connect(m_logStrip->OpenDataFiles(), &QAbstractButton::clicked, this, [this] {
        m_files->SpeedButton2Click();
        render();
    });
    connect(m_logStrip->BtPrint(), &QAbstractButton::clicked, this, [this] {
        m_files->BtPrintClick();
        render();
    });
    connect(m_chart->BtSave(), &QAbstractButton::clicked, this, &TFCOMM::BtSaveClick);
}

void TFCOMM::buildMenus() {
    QMenuBar* bar = menuBar();

    QMenu* connectMenu = bar->addMenu("Connect");
    // The serial link's items; SerialController gives them their states.
    m_startAction = connectMenu->addAction("START");
    m_startAction->setObjectName("BTCon1");
    m_stopAction = connectMenu->addAction("STOP");
    m_stopAction->setObjectName("BtDiscon1");
    m_stopAction->setEnabled(false);

    bar->addAction(QString())->setObjectName("N1");

    QMenu* graphic = bar->addMenu("Graphic");
    graphic->addAction("First", m_chart, &ChartPanel::BtFirstClick)->setObjectName("First1");
    graphic->addAction("Previous", m_chart, &ChartPanel::BTPreviousClick)
        ->setObjectName("Previous1");
    graphic->addAction("Next", m_chart, &ChartPanel::BtNextClick)->setObjectName("Next1");
    graphic->addAction("Last", m_chart, &ChartPanel::BTlastClick)->setObjectName("Last1");
    graphic->addSeparator();
    graphic->addAction("New")->setObjectName("GraphicNew"); // has no action
    graphic->addAction("Save", this, &TFCOMM::BtSaveClick)->setObjectName("GraphicSave");
    graphic->addSeparator();
    m_fillAction = graphic->addAction("Fill");
    m_fillAction->setObjectName("Fill");
    m_fillAction->setCheckable(true);
    m_fillAction->setChecked(true);
    m_chart->attachFillAction(m_fillAction);

    QMenu* record = bar->addMenu("Record");
    record->addAction("New", this, &TFCOMM::RecordNewClick)->setObjectName("New1");
    record->addAction("Save", this, [this] { m_files->saveasClick(); })->setObjectName("Save1");
    record->addAction("Export CSV...", this, [this] { m_files->exportCsvClick(); })
        ->setObjectName("ExportCsv");
    record->addAction("Statistics...", this, &TFCOMM::showStatistics)->setObjectName("Statistics");
    record->addSeparator();
    QAction* journal = record->addAction("Recovery journal");
    journal->setObjectName("RecoveryJournal");
    m_journal->attachAction(journal);
    record->addSeparator();
    m_recordCountGroup = new QActionGroup(this);
    m_recordCountGroup->setExclusive(true);
    struct Item {
        const char* name;
        const char* caption;
        std::int32_t value;
    };
    for (const Item& item :
         {Item{"N10001", "1000", 1000}, Item{"N50001", "5000", 5000},
          Item{"N100001", "10000", 10000}, Item{"N500001", "50000", 50000},
          Item{"N1000001", "100000", 100000}, Item{"limitess", "limitless", 10000000}}) {
        QAction* a = record->addAction(item.caption);
        a->setObjectName(item.name);
        a->setCheckable(true);
        a->setChecked(item.value == 10000);
        m_recordCountGroup->addAction(a);
        const std::int32_t value = item.value;
        connect(a, &QAction::triggered, this, [this, a, value] { setMaxRecords(a, value); });
    }

    bar->addAction(QString())->setObjectName("N2");
    bar->addAction("Exit", this, &TFCOMM::BtExit1Click)->setObjectName("Exit1");
}

void TFCOMM::showStatistics() {
    if (!m_statistics)
        m_statistics = new StatisticsDialog(*m_recorder, this);
    m_statistics->show();
    m_statistics->raise();
    m_statistics->activateWindow();
}

void TFCOMM::setMaxRecords(QAction* item, std::int32_t value) {
    item->setChecked(true);
    m_recorder->setMaxRecords(value);
}

void TFCOMM::decodeFrame(decode::Decoder which) {
    decode::dispatch(m_state, m_recorder.get(), which);
    stateChanged();
    renderGlass();
}

void TFCOMM::stateChanged() {
    // The connection timer sleeps while it has nothing to count down: the
    // indicator reads "not connected" and no HID stall is due. A decoded
    // frame wakes it, and it then puts the indicator out on its third tick.
    if (!m_conTimer || !m_usb)
        return; // still being built
    const auto& d = m_state.display;
    const bool due = d.isShown(decode::Widget::conok) || !d.isShown(decode::Widget::conokn) ||
                     m_state.HidStallCount >= decode::kHidStallLimit;
    if (due && !m_conTimer->isActive())
        m_conTimer->start();
    m_usb->displayChanged();
}

void TFCOMM::render() {
    stateChanged();
    // The glass follows a frame at once, but at most every kGlassIntervalMs:
    // a meter may send 60 frames a second, far more than the eye can use.
    const qint64 now = m_clock.elapsed();
    if (m_glassTimer->isActive())
        return; // a render is already due
    if (m_lastGlassRender >= 0 && now - m_lastGlassRender < kGlassIntervalMs) {
        m_glassTimer->start(static_cast<int>(kGlassIntervalMs - (now - m_lastGlassRender)));
        return;
    }
    renderGlass();
}

void TFCOMM::renderGlass() {
    m_lastGlassRender = m_clock.elapsed();
    const auto& d = m_state.display;
    m_lcd->setDisplay(d);
    m_minMax->setDisplay(d);
    m_limits->setDisplay(d);
    // The grid and the chart (the costly part) follow within kViewsIntervalMs.
    if (!m_viewTimer->isActive())
        m_viewTimer->start();
}

void TFCOMM::renderViews() {
    m_gridModel->sync();
    m_chart->refresh();
}

void TFCOMM::ConTimerTimer() {
    const auto before = m_state.display.shown;
    decode::ConTimerTimer(m_state, [this] {
        m_hid->releaseStalled();
        m_dialogs.message(this, windowTitle(),
                          QString::fromUtf8(links::kHidStalledText.data(),
                                            static_cast<qsizetype>(links::kHidStalledText.size())),
                          Dialogs::Icon::Information);
    });
    // Readings wake this timer (they light the indicator), so a log that the
    // limit stopped is told within a tick.
    tellWhenLogFull();
    const auto& d = m_state.display;
    if (d.shown != before)
        render();
    else if (!d.isShown(decode::Widget::conok) && d.isShown(decode::Widget::conokn) &&
             m_state.HidStallCount < decode::kHidStallLimit)
        m_conTimer->stop(); // nothing left to count down until the next frame
}

void TFCOMM::tellWhenLogFull() {
    // The limit stops the log while the glass moves on; a user who does not
    // know it would lose every reading after it. Said once each time the log
    // fills up.
    const auto& log = m_recorder->log();
    if (log.LoggedCount < log.MaxRecords) {
        m_fullTold = false;
        return;
    }
    if (m_fullTold || m_recorder->lastResult().outcome != record::LogResult::Outcome::Limited)
        return;
    m_fullTold = true;
    m_dialogs.message(this, windowTitle(),
                      QStringLiteral("The log is full: %1 readings, the record limit. Further "
                                     "readings are shown but not logged. Choose a larger limit "
                                     "in the Record menu (up to \"limitless\"), or save the log "
                                     "and start New.")
                          .arg(log.LoggedCount),
                      Dialogs::Icon::Information);
}

void TFCOMM::showCableControls() {
    // Only what starts beyond the right edge counts: the visible controls
    // keep the client area's height as it is.
    QRect all(0, 0, kClientWidth, kClientHeight);
    for (QWidget* child : m_client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow() && child->x() >= kClientWidth)
            all |= child->geometry();
    }
    constexpr int kMargin = 4;
    m_client->setFixedSize(all.right() + 1 + kMargin, std::max(kClientHeight, all.bottom() + 1));
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    adjustSize();
    setFixedSize(sizeHint());
    // Centred again at its new width.
    if (QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFCOMM::BtSaveClick() {
    m_files->BtSaveClick([this] { return m_chart->grabChart().toImage(); });
}

void TFCOMM::TrecordTimer() {
    m_recorder->TrecordTimer();
    m_journal->sync();
}

void TFCOMM::RecordNewClick() {
    // One click on "Close Data" or the chart's New used to empty hours of
    // readings; unsaved ones now go only when the user says so.
    if (const std::size_t rows = unsavedRows();
        rows > 0 &&
        !m_dialogs.ask(this, windowTitle(),
                       QStringLiteral("%1 readings have not been saved. Delete them?").arg(rows)))
        return;
    m_dialogs.message(this, windowTitle(), " Record deleted ", Dialogs::Icon::Information);
    m_recorder->RecordNew();
    m_journal->sync();
    render();
    renderViews();
}

void TFCOMM::BtExit1Click() {
    if (!mayDiscardRows())
        return;
    m_recorder->cds1.clear();
    QApplication::quit();
}

bool TFCOMM::offerRecovery() {
    const bool restored = m_journal->offerRestore();
    if (restored) {
        render();
        renderViews();
    }
    return restored;
}

std::size_t TFCOMM::unsavedRows() const {
    return m_files->unsavedRows();
}

bool TFCOMM::mayDiscardRows() {
    // Closing used to drop the log without a word: hours of readings gone with
    // one click. Now the user decides.
    const std::size_t rows = unsavedRows();
    if (rows > 0 &&
        !m_dialogs.ask(
            this, windowTitle(),
            QStringLiteral("%1 readings have not been saved. Close and discard them?").arg(rows)))
        return false;
    // Chosen not to keep them: nothing is left for the next start to offer.
    m_journal->setEnabled(false);
    return true;
}

void TFCOMM::closeEvent(QCloseEvent* event) {
    if (!mayDiscardRows()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void TFCOMM::wireLimitEdits() {
    struct Edit {
        QLineEdit* edit;
        record::Limit which;
    };
    for (const Edit& e : {Edit{m_limits->T1HI(), record::Limit::High},
                          Edit{m_limits->T1LO(), record::Limit::Low}}) {
        QLineEdit* edit = e.edit;
        const record::Limit which = e.which;
        edit->setText(qs(which == record::Limit::High ? m_state.T1HI : m_state.T1LO));
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textChanged, this,
                [this, edit, which](const QString& text) { limitChanged(edit, which, text); });
    }
}

void TFCOMM::limitChanged(QLineEdit* edit, record::Limit which, const QString& text) {
    const record::LimitChange change = record::limitTextChanged(m_state, which, text.toStdString());
    if (change.outcome != record::LimitChange::Outcome::Error)
        return;
    m_dialogs.message(this, windowTitle(), "Numerical input errors", Dialogs::Icon::Error);
    // Putting the last accepted text back runs this check again on it.
    edit->setText(qs(change.restoreText));
}

bool TFCOMM::eventFilter(QObject* watched, QEvent* event) {
    const bool high = watched == m_limits->T1HI();
    const bool low = watched == m_limits->T1LO();
    if (!high && !low)
        return QMainWindow::eventFilter(watched, event);
    auto* edit = static_cast<QLineEdit*>(watched);
    const record::Limit which = high ? record::Limit::High : record::Limit::Low;

    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        // Shortcuts (copy, paste, undo) and keys that type no character (arrows, and
        // Delete, Escape or Return, whose text is a control code) are the edit's own;
        // a pasted text meets the change check.
        if (text.isEmpty() || !text.at(0).isPrint() ||
            (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
            return false;
        const char32_t typed = text.toUcs4().value(0);
        if (!record::limitKeyAccepted(typed, edit->text().toStdString(),
                                      m_state.LocaleDecimalSeparator))
            return true;
    } else if (event->type() == QEvent::FocusOut) {
        // Only leaving for another control of the window counts: a context menu, the
        // window losing the focus or the menu bar taking it leaves the user in the
        // middle of typing (an emptied edit about to be pasted into must stay empty).
        if (!leavesForAnotherControl(static_cast<QFocusEvent*>(event)->reason()))
            return false;
        if (record::limitEditLeft(m_state, which))
            edit->setText(qs(which == record::Limit::High ? m_state.T1HI : m_state.T1LO));
    }
    return false;
}

} // namespace kq::app
