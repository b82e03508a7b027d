#pragma once

#include "app/command_line.h"
#include "decode/frame_select.h"
#include "decode/meter_state.h"
#include "decode/model_switch.h"
#include "links/hid_backend.h"
#include "links/usbbridge.h"
#include "record/limit_input.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <memory>

class QAction;
class QActionGroup;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;

namespace kq::record {
class Recorder;
}

namespace kq::app {

class ChartPanel;
class ConnectButtonGroup;
class Dialogs;
class LcdPanel;
class LimitPanel;
class LogFileActions;
class LogGridModel;
class LogGridView;
class LogStrip;
class MinMaxStrip;
class HidController;
class JournalKeeper;
class SerialController;
class StatisticsDialog;
class UsbController;

// The main window. It owns the program's state (the meter state and the
// recorder), composes the panels that render it, and forwards the user's
// actions and the timers to the core.
class TFCOMM : public QMainWindow {
    Q_OBJECT
public:
    // `bridge` is the USB bridge library to use, `hid` the HID services; null
    // means the system's.
    explicit TFCOMM(Dialogs& dialogs, std::unique_ptr<links::UsbBridge> bridge = nullptr,
                    const decode::ModelSwitchSet& switches = decode::builtModelSwitches(),
                    QWidget* parent = nullptr, std::shared_ptr<links::HidBackend> hid = nullptr);
    ~TFCOMM() override;

    const decode::MeterState& state() const { return m_state; }
    decode::MeterState& state() { return m_state; }
    record::Recorder& recorder() { return *m_recorder; }
    const decode::StartupResult& startup() const { return m_startup; }

    // Decodes the frame now held in FrameText with the given decoder, as the
    // links do, then shows the result.
    void decodeFrame(decode::Decoder which);
    // Brings the glass, the MIN/MAX strip and the limit panel up to date with
    // the state (at once, or within 40 ms while frames pour in), and the grid
    // and the chart within 250 ms.
    void render();
    // Brings the glass and its panels, or the grid and the chart, up to date now.
    void renderGlass();
    void renderViews();

    // Widens the window to show the cable controls that lie beyond the right
    // edge of the fixed client area (the HID and serial link bands), or hides
    // them again. Hidden, they take no focus and no keys. "Connect -> Cable
    // controls" does the same.
    void setCableControlsShown(bool shown);
    void showCableControls() { setCableControlsShown(true); }
    bool cableControlsShown() const { return m_cableShown; }

    // Presses the link's connect button as the user would ("USB Connect ", the HID cable's
    // "USB Connect", "COM Connect"); one already down stays down.
    void pressConnect(ConnectLink link);

    // New readings move the grid to the new row and the chart to the newest
    // page ("Record -> Follow the newest reading"); off, both stay where the user is.
    void setFollowNewest(bool follow);
    bool followNewest() const { return m_follow; }

    // A second window of the program, started while another runs: it says so in
    // its title and opens beside the first rather than on top of it.
    void markSecondWindow();
    HidController* hid() const { return m_hid.get(); }
    LogFileActions& files() { return *m_files; }

    // At start: offers the rows a crashed run left in the recovery journal.
    bool offerRecovery();
    JournalKeeper& journal() { return *m_journal; }
    // Record > Statistics...: the statistics dialog, made when first asked for.
    void showStatistics();
    StatisticsDialog* statistics() const { return m_statistics.get(); }
    // Rows of the log that no file holds.
    std::size_t unsavedRows() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Asks before unsaved rows are thrown away; true when the window may go.
    bool mayDiscardRows();
    void buildMenus();
    void addCableItems();
    void orderFocus();
    QList<QWidget*> cableControls() const;
    void buildWidgets();
    void wireLimitEdits();
    void limitChanged(QLineEdit* edit, record::Limit which, const QString& text);
    // Every 100 ms while it has something to count down: the connection indicator goes out
    // three ticks after the last frame, and a stalled HID cable is released.
    void ConTimerTimer();
    // Once, when the record limit has stopped the log.
    void tellWhenLogFull();
    // Wakes the timers that sleep while they have nothing to do.
    void stateChanged();
    // Every second: the sampling interval counts down, and the recovery journal follows the log.
    void TrecordTimer();
    // Record > New, "Close Data" and the chart's New: empties the log, asking first when
    // rows are unsaved.
    void RecordNewClick();
    // Graphic > Save and the chart's Save: the chart picture as a bitmap file.
    void BtSaveClick();
    // The Exit item: asks about unsaved rows, then ends the program.
    void BtExit1Click();
    void setMaxRecords(QAction* item, std::int32_t value);
    bool eventFilter(QObject* watched, QEvent* event) override;

    Dialogs& m_dialogs;
    decode::MeterState m_state;
    std::unique_ptr<record::Recorder> m_recorder;
    decode::StartupResult m_startup;
    // Every link's connect buttons: one down puts the others up.
    std::unique_ptr<ConnectButtonGroup> m_connectButtons;

    // Widgets, actions and timers that hold no reference to the state or to another part go
    // with their Qt parents, after every member.
    QWidget* m_client = nullptr;
    QPushButton* m_usbButton = nullptr;
    QPushButton* m_exitButton = nullptr;
    LcdPanel* m_lcd = nullptr;
    MinMaxStrip* m_minMax = nullptr;
    LimitPanel* m_limits = nullptr;
    QAction* m_startAction = nullptr;
    QAction* m_stopAction = nullptr;
    QTimer* m_conTimer = nullptr;
    QTimer* m_viewTimer = nullptr;
    QTimer* m_glassTimer = nullptr;
    QElapsedTimer m_clock;
    qint64 m_lastGlassRender = -1;
    QTimer* m_recordTimer = nullptr;
    QActionGroup* m_recordCountGroup = nullptr;
    QAction* m_fillAction = nullptr;
    bool m_fullTold = false;
    QMenu* m_connectMenu = nullptr;
    QAction* m_cableAction = nullptr;
    QAction* m_followAction = nullptr;
    bool m_cableShown = false;
    bool m_follow = true;

    // The parts that refer to the state, the recorder, the widgets above or one another are
    // owned here (they keep their Qt parents, for lookup). Members go in the reverse of their
    // order, so each part goes before what it refers to, and all go before the widgets.
    std::unique_ptr<LogGridModel> m_gridModel;      // over the recorder's table
    std::unique_ptr<LogStrip> m_logStrip;           // the recorder's interval and repeat
    std::unique_ptr<LogGridView> m_grid;            // shows m_gridModel
    std::unique_ptr<ChartPanel> m_chart;            // the recorder's chart pager
    std::unique_ptr<StatisticsDialog> m_statistics; // made when first asked for
    std::unique_ptr<LogFileActions> m_files;
    std::unique_ptr<JournalKeeper> m_journal; // keeps to m_files's save mark
    // The links' controllers use the connect group, the buttons and the menu items above,
    // and stop the reading threads that write the state as they go.
    std::unique_ptr<UsbController> m_usb;
    std::unique_ptr<HidController> m_hid;
    std::unique_ptr<SerialController> m_serial;
};

} // namespace kq::app
