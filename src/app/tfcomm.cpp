#include "app/tfcomm.h"

#include "app/chart_panel.h"
#include "app/connect_button_group.h"
#include "app/dialogs.h"
#include "app/hid_controller.h"
#include "app/journal_keeper.h"
#include "app/lcd_panel.h"
#include "app/limit_panel.h"
#include "app/log_file_actions.h"
#include "app/log_grid_model.h"
#include "app/log_grid_view.h"
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
    : QMainWindow(parent), m_dialogs(dialogs), m_recorder(std::make_unique<record::Recorder>()),
      m_connectButtons(std::make_unique<ConnectButtonGroup>()) {
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

    m_usb = std::make_unique<UsbController>(
        std::move(bridge), m_state, m_recorder.get(), m_dialogs, *m_connectButtons, m_usbButton,
        this, [this] { render(); }, this);
    m_hid = std::make_unique<HidController>(
        std::move(hid), m_state, m_recorder.get(), switches, m_dialogs, *m_connectButtons, m_client,
        this, [this] { render(); }, this);
    m_serial = std::make_unique<SerialController>(
        m_startup, m_state, m_recorder.get(), m_dialogs, *m_connectButtons, m_startAction,
        m_stopAction, this, [this] { render(); }, links::ComPortTable::fromEnvironment(), this);
    addCableItems();
    setCableControlsShown(false);
    orderFocus();

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

// The order in which the parts go is that of the members (see tfcomm.h).
TFCOMM::~TFCOMM() = default;

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
    // Down must read as down at a glance: the style's own pressed shade is hardly darker than
    // the button. A style sheet follows the state however it is set (the connect group sets it
    // without signals).
    m_usbButton->setStyleSheet(QStringLiteral(
        "QPushButton:checked { background-color: #9cc2f0; border: 1px solid #3b6ea5; "
        "border-radius: 2px; }"));

    m_exitButton = new QPushButton("Exit", m_client);
    m_exitButton->setObjectName("BitBtn1");
    m_exitButton->setGeometry(640, 1, 73, 25);
    connect(m_exitButton, &QPushButton::clicked, this, &QWidget::close);

    m_lcd = new LcdPanel(m_client);
    m_lcd->move(1, 32);

    m_minMax = new MinMaxStrip(m_client);
    m_minMax->move(1, 247);

    m_logStrip = std::make_unique<LogStrip>(*m_recorder, m_client);
    m_logStrip->move(1, 272);

    m_gridModel = std::make_unique<LogGridModel>(m_recorder->cds1, this);
    m_grid = std::make_unique<LogGridView>(m_client);
    m_grid->setObjectName("DBGrid1");
    m_grid->setGeometry(1, 312, 398, 233);
    configureLogGrid(m_grid.get(), m_gridModel.get());

    m_limits = new LimitPanel(m_client);
    m_limits->move(400, 32);
    wireLimitEdits();

    m_chart = std::make_unique<ChartPanel>(m_recorder->ChartPager, m_client);
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

    // Each menu and item has its mnemonic (Alt+C, Alt+G, Alt+R, Alt+E on the bar).
    m_connectMenu = bar->addMenu("&Connect");
    m_connectMenu->setObjectName("ConnectMenu");
    // The serial link's items; SerialController gives them their states.
    m_startAction = m_connectMenu->addAction("&START");
    m_startAction->setObjectName("BTCon1");
    m_stopAction = m_connectMenu->addAction("S&TOP");
    m_stopAction->setObjectName("BtDiscon1");
    m_stopAction->setEnabled(false);

    bar->addAction(QString())->setObjectName("N1");

    QMenu* graphic = bar->addMenu("&Graphic");
    graphic->setObjectName("GraphicMenu");
    graphic->addAction("&First", m_chart.get(), &ChartPanel::BtFirstClick)->setObjectName("First1");
    graphic->addAction("&Previous", m_chart.get(), &ChartPanel::BTPreviousClick)
        ->setObjectName("Previous1");
    graphic->addAction("&Next", m_chart.get(), &ChartPanel::BtNextClick)->setObjectName("Next1");
    graphic->addAction("&Last", m_chart.get(), &ChartPanel::BTlastClick)->setObjectName("Last1");
    graphic->addSeparator();
    graphic->addAction("Ne&w")->setObjectName("GraphicNew"); // has no action
    graphic->addAction("&Save", this, &TFCOMM::BtSaveClick)->setObjectName("GraphicSave");
    graphic->addSeparator();
    m_fillAction = graphic->addAction("F&ill");
    m_fillAction->setObjectName("Fill");
    m_fillAction->setCheckable(true);
    m_fillAction->setChecked(true);
    m_chart->attachFillAction(m_fillAction);
    // The magnifier's two pictures, from the keyboard.
    QAction* enlarge =
        graphic->addAction("&Enlarge / Restore", m_chart.get(), &ChartPanel::TbFdClick);
    enlarge->setObjectName("GraphicEnlarge");
    enlarge->setShortcuts({QKeySequence(Qt::Key_F11), QKeySequence(Qt::CTRL | Qt::Key_E)});

    QMenu* record = bar->addMenu("&Record");
    record->setObjectName("RecordMenu");
    QAction* recordNew = record->addAction("&New", this, &TFCOMM::RecordNewClick);
    recordNew->setObjectName("New1");
    recordNew->setShortcut(QKeySequence::New);
    QAction* open = record->addAction("&Open...", this, [this] {
        m_files->SpeedButton2Click();
        render();
    });
    open->setObjectName("Open1");
    open->setShortcut(QKeySequence::Open);
    QAction* save = record->addAction("&Save", this, [this] { m_files->saveasClick(); });
    save->setObjectName("Save1");
    save->setShortcut(QKeySequence::Save);
    QAction* print = record->addAction("&Print...", this, [this] {
        m_files->BtPrintClick();
        render();
    });
    print->setObjectName("Print1");
    print->setShortcut(QKeySequence::Print);
    record->addAction("&Export CSV...", this, [this] { m_files->exportCsvClick(); })
        ->setObjectName("ExportCsv");
    record->addAction("S&tatistics...", this, &TFCOMM::showStatistics)->setObjectName("Statistics");
    record->addSeparator();
    QAction* journal = record->addAction("Recovery &journal");
    journal->setObjectName("RecoveryJournal");
    m_journal->attachAction(journal);
    m_followAction = record->addAction("&Follow the newest reading");
    m_followAction->setObjectName("FollowNewest");
    m_followAction->setCheckable(true);
    m_followAction->setChecked(m_follow);
    connect(m_followAction, &QAction::toggled, this, &TFCOMM::setFollowNewest);
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
          Item{"N1000001", "100000", 100000}, Item{"limitess", "&limitless", 10000000}}) {
        QAction* a = record->addAction(item.caption);
        a->setObjectName(item.name);
        a->setCheckable(true);
        a->setChecked(item.value == 10000);
        m_recordCountGroup->addAction(a);
        const std::int32_t value = item.value;
        connect(a, &QAction::triggered, this, [this, a, value] { setMaxRecords(a, value); });
    }

    bar->addAction(QString())->setObjectName("N2");
    QAction* exit = bar->addAction("&Exit", this, &TFCOMM::BtExit1Click);
    exit->setObjectName("Exit1");
    exit->setShortcut(QKeySequence::Quit);
}

void TFCOMM::addCableItems() {
    // After START and STOP: the port START opens, and the band of cable controls.
    m_connectMenu->addSeparator();
    m_serial->addPortItems(m_connectMenu);
    m_connectMenu->addSeparator();
    m_cableAction = m_connectMenu->addAction("Cable c&ontrols");
    m_cableAction->setObjectName("CableControls");
    m_cableAction->setCheckable(true);
    m_cableAction->setChecked(m_cableShown);
    connect(m_cableAction, &QAction::toggled, this, &TFCOMM::setCableControlsShown);
}

void TFCOMM::orderFocus() {
    // Left to right, top to bottom: the top row of buttons, the left column (the log's
    // strip and grid), then the right column (the limits, the chart's toolbar and chart).
    QList<QWidget*> order{m_usbButton, m_exitButton};
    order << m_logStrip->focusChain() << m_grid.get() << m_limits->T1HI() << m_limits->T1LO()
          << m_chart->focusChain();
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void TFCOMM::showStatistics() {
    if (!m_statistics)
        m_statistics = std::make_unique<StatisticsDialog>(*m_recorder, this);
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

QList<QWidget*> TFCOMM::cableControls() const {
    QList<QWidget*> out;
    for (QWidget* child : m_client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow() && child->x() >= kClientWidth)
            out << child;
    }
    if (m_serial && m_serial->band())
        out << m_serial->band();
    return out;
}

void TFCOMM::pressConnect(ConnectLink link) {
    QAbstractButton* button = nullptr;
    switch (link) {
    case ConnectLink::None:
        return;
    case ConnectLink::Usb:
        button = m_usbButton;
        break;
    case ConnectLink::Hid:
        button = m_hid->USBCon();
        break;
    case ConnectLink::Serial:
        button = m_serial->COMCon();
        break;
    }
    // A click, not a checked state: the button's own handling connects, and the group's.
    if (button && !button->isChecked())
        button->click();
}

void TFCOMM::setCableControlsShown(bool shown) {
    m_cableShown = shown;
    if (m_cableAction && m_cableAction->isChecked() != shown)
        m_cableAction->setChecked(shown);
    // Out of sight they would still take Tab stops and keys (a port stepped on, a HID
    // message): hidden, they take neither.
    QRect all(0, 0, kClientWidth, kClientHeight);
    for (QWidget* control : cableControls()) {
        control->setVisible(shown);
        // Only what lies beyond the right edge widens the window: the visible controls
        // keep the client area's height as it is.
        if (shown && control->parentWidget() == m_client)
            all |= control->geometry();
    }
    constexpr int kMargin = 4;
    const QSize client =
        shown ? QSize(all.right() + 1 + kMargin, std::max(kClientHeight, all.bottom() + 1))
              : QSize(kClientWidth, kClientHeight);
    if (client == m_client->size() && size() == sizeHint())
        return;
    m_client->setFixedSize(client);
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    adjustSize();
    setFixedSize(sizeHint());
    // Before the window shows it is centred at its new width; once it is up, it stays where
    // the user put it, on the screen.
    if (QScreen* screen = this->screen(); screen && !isVisible()) {
        move(screen->availableGeometry().center() - rect().center());
    } else if (screen) {
        const QRect avail = screen->availableGeometry();
        QRect frame = frameGeometry();
        if (frame.right() > avail.right())
            frame.moveRight(avail.right());
        if (frame.left() < avail.left())
            frame.moveLeft(avail.left());
        move(frame.topLeft());
    }
}

void TFCOMM::setFollowNewest(bool follow) {
    m_follow = follow;
    if (m_followAction && m_followAction->isChecked() != follow)
        m_followAction->setChecked(follow);
    m_gridModel->setFollowNewest(follow);
    m_recorder->ChartPager.setFollow(follow);
}

void TFCOMM::markSecondWindow() {
    setWindowTitle(windowTitle() + QStringLiteral(" - second window, records separately"));
    // Beside the first window, which opened in the middle of the screen.
    constexpr int kOffset = 48;
    move(pos() + QPoint(kOffset, kOffset));
}

void TFCOMM::BtSaveClick() {
    m_files->BtSaveClick([this] { return m_chart->grabChart().toImage(); });
}

void TFCOMM::TrecordTimer() {
    m_recorder->TrecordTimer();
    m_journal->sync();
}

void TFCOMM::RecordNewClick() {
    // One click on "Close Data" or the chart's New would empty hours of
    // readings: unsaved ones go only when the user says so.
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
    // Hours of readings could go with one click: the user decides. The meter
    // goes on logging while the question is open, so its count follows.
    if (unsavedRows() > 0 && !m_dialogs.askLive(this, windowTitle(), [this] {
            return QStringLiteral("%1 readings have not been saved. Close and discard them?")
                .arg(unsavedRows());
        }))
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
