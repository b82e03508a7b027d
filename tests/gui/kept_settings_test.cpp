// What the window keeps between runs and what its command line asks for: the
// user's choices come back at the next start, the start-up values stay the
// defaults, and a settings file that was edited by hand or comes from another
// machine never puts a value into the window that a user could not have typed.
// Every settings file here lives in a scratch folder, never the user's own.
#include "app/chart_panel.h"
#include "app/command_line.h"
#include "app/kept_settings.h"
#include "app/limit_panel.h"
#include "app/log_file_actions.h"
#include "app/tfcomm.h"
#include "record/log_table.h"
#include "record/recorder.h"
#include "support/recording_dialogs.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using kq::app::KeptSettings;
using Link = kq::app::ConnectLink;
using kq::app::TFCOMM;
using kq::test::RecordingDialogs;

namespace {

// The values every window shows at start-up when nothing is kept.
constexpr int kStartPageLength = 100;
const QString kStartInterval = QStringLiteral("1");
const std::string kStartHigh = "2000"; // the light meter's 2000-count range
const std::string kStartLow = "-2000";

QLineEdit* edit(TFCOMM& w, const char* name) {
    return w.findChild<QLineEdit*>(QLatin1String(name));
}
QCheckBox* box(TFCOMM& w, const char* name) {
    return w.findChild<QCheckBox*>(QLatin1String(name));
}

struct Window {
    RecordingDialogs dialogs;
    std::unique_ptr<TFCOMM> w = std::make_unique<TFCOMM>(dialogs);
};

} // namespace

class KeptSettingsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void commandLine_data();
    void commandLine();
    void settingsFileFollowsXdgConfigHome();
    void choicesComeBackAtTheNextStart();
    void nothingKeptLeavesStartUpValues();
    void textsSurviveTheFile_data();
    void textsSurviveTheFile();
    void refusedValuesLeaveStartUpValues_data();
    void refusedValuesLeaveStartUpValues();
    void fileDialogsOpenInTheLastFolder();
    void fileNamedOnStartIsLoaded();

private:
    QTemporaryDir m_scratch;
};

void KeptSettingsTest::initTestCase() {
    QVERIFY(m_scratch.isValid());
    // Whatever reaches for the user's own settings ends up in the scratch folder.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_scratch.filePath(QStringLiteral("config"))));
}

void KeptSettingsTest::commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("help");
    QTest::addColumn<bool>("version");
    QTest::addColumn<bool>("defaults");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<Link>("connect");

    QTest::newRow("nothing") << QStringList{} << false << false << false << QString() << false
                             << Link::None;
    QTest::newRow("file") << QStringList{"log.xls"} << false << false << false << "log.xls" << false
                          << Link::None;
    QTest::newRow("file with blanks") << QStringList{"my log.xml"} << false << false << false
                                      << "my log.xml" << false << Link::None;
    QTest::newRow("help") << QStringList{"--help"} << true << false << false << QString() << false
                          << Link::None;
    QTest::newRow("-h") << QStringList{"-h"} << true << false << false << QString() << false
                        << Link::None;
    QTest::newRow("version") << QStringList{"--version"} << false << true << false << QString()
                             << false << Link::None;
    QTest::newRow("defaults and file") << QStringList{"--defaults", "a.txt"} << false << false
                                       << true << "a.txt" << false << Link::None;
    QTest::newRow("file after --") << QStringList{"--", "-log.txt"} << false << false << false
                                   << "-log.txt" << false << Link::None;
    QTest::newRow("lone dash is a name")
        << QStringList{"-"} << false << false << false << "-" << false << Link::None;
    QTest::newRow("unknown option")
        << QStringList{"--bogus"} << false << false << false << QString() << true << Link::None;
    QTest::newRow("option needs two dashes")
        << QStringList{"-defaults"} << false << false << false << QString() << true << Link::None;
    QTest::newRow("two files") << QStringList{"a.txt", "b.txt"} << false << false << false
                               << "a.txt" << true << Link::None;
    QTest::newRow("empty name") << QStringList{""} << false << false << false << QString() << true
                                << Link::None;
    QTest::newRow("help wins over a fault") << QStringList{"--bogus", "--help"} << true << false
                                            << false << QString() << true << Link::None;
    // The link is the next argument, whatever it looks like; a fault names the option.
    QTest::newRow("connect usb") << QStringList{"--connect", "usb"} << false << false << false
                                 << QString() << false << Link::Usb;
    QTest::newRow("connect hid, then a file") << QStringList{"--connect", "hid", "a.txt"} << false
                                              << false << false << "a.txt" << false << Link::Hid;
    QTest::newRow("connect serial after --defaults")
        << QStringList{"--defaults", "--connect", "serial"} << false << false << true << QString()
        << false << Link::Serial;
    QTest::newRow("the same link twice")
        << QStringList{"--connect", "usb", "--connect", "usb"} << false << false << false
        << QString() << false << Link::Usb;
    QTest::newRow("two links") << QStringList{"--connect", "usb", "--connect", "hid"} << false
                               << false << false << QString() << true << Link::Usb;
    QTest::newRow("unknown link") << QStringList{"--connect", "bluetooth"} << false << false
                                  << false << QString() << true << Link::None;
    QTest::newRow("link names are lower case") << QStringList{"--connect", "USB"} << false << false
                                               << false << QString() << true << Link::None;
    QTest::newRow("no link") << QStringList{"--connect"} << false << false << false << QString()
                             << true << Link::None;
    QTest::newRow("an option is no link") << QStringList{"--connect", "--defaults"} << false
                                          << false << false << QString() << true << Link::None;
    QTest::newRow("the link is no file") << QStringList{"a.txt", "--connect", "serial"} << false
                                         << false << false << "a.txt" << false << Link::Serial;
    QTest::newRow("help wins over an unknown link")
        << QStringList{"--connect", "x", "--help"} << true << false << false << QString() << true
        << Link::None;
}

void KeptSettingsTest::commandLine() {
    QFETCH(QStringList, args);
    QFETCH(bool, help);
    QFETCH(bool, version);
    QFETCH(bool, defaults);
    QFETCH(QString, file);
    QFETCH(bool, refused);
    QFETCH(Link, connect);
    const kq::app::WindowOptions o = kq::app::parseWindowArguments(args);
    QCOMPARE(o.help, help);
    QCOMPARE(o.version, version);
    QCOMPARE(o.defaults, defaults);
    QCOMPARE(o.file, file);
    QCOMPARE(!o.error.isEmpty(), refused);
    QCOMPARE(o.connect, connect);
    // The reason is told on one line, and a link's names the option.
    QVERIFY(!o.error.contains(QLatin1Char('\n')));
    if (refused && args.contains(QStringLiteral("--connect")))
        QVERIFY2(o.error.contains(QStringLiteral("--connect")), qPrintable(o.error));
}

void KeptSettingsTest::settingsFileFollowsXdgConfigHome() {
    QCOMPARE(kq::app::keptSettingsPath(),
             m_scratch.filePath(QStringLiteral("config/kqmeter/kqmeter.conf")));
}

void KeptSettingsTest::choicesComeBackAtTheNextStart() {
    const QString path = m_scratch.filePath(QStringLiteral("round-trip.conf"));
    const QString folder = m_scratch.filePath(QStringLiteral("logs"));
    QVERIFY(QDir().mkpath(folder));
    {
        Window first;
        TFCOMM& w = *first.w;
        edit(w, "T1HI")->setText(QStringLiteral("150"));
        edit(w, "T1LO")->setText(QStringLiteral("-7.5"));
        edit(w, "Maxrecord")->setText(QStringLiteral("250"));
        w.findChild<kq::app::ChartPanel*>()->Timer2Timer();
        box(w, "RepeatSet")->setChecked(false);
        box(w, "RecordSI")->setChecked(true);
        edit(w, "RecordSITime")->setText(QStringLiteral("5"));
        w.files().setLastFolder(folder);
        QVERIFY(first.dialogs.messages.empty());
        QSettings store(path, QSettings::IniFormat);
        kq::app::writeKeptSettings(store, kq::app::captureSettings(w));
        QCOMPARE(store.status(), QSettings::NoError);
    }
    Window next;
    TFCOMM& w = *next.w;
    QSettings store(path, QSettings::IniFormat);
    kq::app::applySettings(w, kq::app::readKeptSettings(store));
    // The core follows the controls, as if the user had typed the values again.
    QCOMPARE(w.state().T1HI, std::string("150"));
    QCOMPARE(w.state().T1LO, std::string("-7.5"));
    QCOMPARE(edit(w, "T1HI")->text(), QStringLiteral("150"));
    QCOMPARE(w.recorder().ChartPager.pageSize(), 250);
    QCOMPARE(w.recorder().log().RepeatSet, false);
    QCOMPARE(w.recorder().log().RecordSI, true);
    QCOMPARE(w.recorder().log().RecordSITime, std::string("5"));
    QCOMPARE(w.files().lastFolder(), folder);
    QVERIFY(next.dialogs.messages.empty());
}

void KeptSettingsTest::nothingKeptLeavesStartUpValues() {
    const QString path = m_scratch.filePath(QStringLiteral("absent.conf"));
    Window win;
    TFCOMM& w = *win.w;
    QSettings store(path, QSettings::IniFormat);
    kq::app::applySettings(w, kq::app::readKeptSettings(store));
    QCOMPARE(w.state().T1HI, kStartHigh);
    QCOMPARE(w.state().T1LO, kStartLow);
    QCOMPARE(w.recorder().ChartPager.pageSize(), kStartPageLength);
    QCOMPARE(w.recorder().log().RepeatSet, true);
    QCOMPARE(w.recorder().log().RecordSI, false);
    QCOMPARE(edit(w, "RecordSITime")->text(), kStartInterval);
    QVERIFY(w.files().lastFolder().isEmpty());
    QVERIFY(win.dialogs.messages.empty());
    // Reading an absent file creates none.
    QVERIFY(!QFile::exists(path));
}

void KeptSettingsTest::textsSurviveTheFile_data() {
    QTest::addColumn<QString>("text");
    // A comma is the decimal separator of many locales, and a list separator to the
    // settings file; a folder may hold blanks, '=', ';', '#' and letters beyond ASCII.
    QTest::newRow("decimal comma") << "-1,5";
    QTest::newRow("two commas") << "1,000,5";
    QTest::newRow("blanks around") << " 100 ";
    QTest::newRow("folder of many kinds") << "/home/me/Meßwerte; alt #2 = neu, 10%";
    QTest::newRow("quote and backslash") << "C:\\logs\"old\"";
}

void KeptSettingsTest::textsSurviveTheFile() {
    QFETCH(QString, text);
    const QString path = m_scratch.filePath(QStringLiteral("texts.conf"));
    QFile::remove(path);
    KeptSettings written;
    written.lastFolder = text;
    written.pageLength = text;
    written.interval = text;
    written.high = text;
    written.low = text;
    written.repeat = false;
    {
        QSettings store(path, QSettings::IniFormat);
        kq::app::writeKeptSettings(store, written);
    }
    QSettings store(path, QSettings::IniFormat);
    const KeptSettings read = kq::app::readKeptSettings(store);
    QCOMPARE(read.lastFolder, text);
    QCOMPARE(read.pageLength, text);
    QCOMPARE(read.interval, text);
    QCOMPARE(read.high, text);
    QCOMPARE(read.low, text);
    QCOMPARE(read.repeat, std::optional<bool>(false));
    QCOMPARE(read.sampling, std::optional<bool>()); // never written, so not kept
}

void KeptSettingsTest::refusedValuesLeaveStartUpValues_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("page length 0") << "chart/pageLength"
                                   << "0";
    QTest::newRow("page length negative") << "chart/pageLength"
                                          << "-5";
    QTest::newRow("page length words") << "chart/pageLength"
                                       << "many";
    QTest::newRow("page length beyond 32 bits") << "chart/pageLength"
                                                << "99999999999";
    QTest::newRow("interval with a sign") << "log/intervalSeconds"
                                          << "-1";
    QTest::newRow("interval with a point") << "log/intervalSeconds"
                                           << "1.5";
    QTest::newRow("interval endless digits") << "log/intervalSeconds" << QString(5000, '9');
    QTest::newRow("high limit words") << "limits/high"
                                      << "lots";
    QTest::newRow("high limit the not-a-number mark") << "limits/high"
                                                      << "-999999";
    QTest::newRow("low limit another locale's comma") << "limits/low"
                                                      << "-1,5";
    QTest::newRow("repeat neither true nor false") << "log/repeat"
                                                   << "maybe";
    QTest::newRow("folder gone") << "files/lastFolder"
                                 << "/nonexistent/kqmeter-logs";
    QTest::newRow("folder relative") << "files/lastFolder"
                                     << ".";
    QTest::newRow("folder is a file") << "files/lastFolder"
                                      << "/etc/passwd";
}

void KeptSettingsTest::refusedValuesLeaveStartUpValues() {
    QFETCH(QString, key);
    QFETCH(QString, value);
    const QString path = m_scratch.filePath(QStringLiteral("refused.conf"));
    QFile::remove(path);
    {
        QSettings store(path, QSettings::IniFormat);
        store.setValue(key, value);
    }
    Window win;
    TFCOMM& w = *win.w;
    QSettings store(path, QSettings::IniFormat);
    kq::app::applySettings(w, kq::app::readKeptSettings(store));
    QCOMPARE(w.state().T1HI, kStartHigh);
    QCOMPARE(w.state().T1LO, kStartLow);
    QCOMPARE(w.recorder().ChartPager.pageSize(), kStartPageLength);
    QCOMPARE(edit(w, "Maxrecord")->text(), QString::number(kStartPageLength));
    QCOMPARE(w.recorder().log().RepeatSet, true);
    QCOMPARE(edit(w, "RecordSITime")->text(), kStartInterval);
    QVERIFY(w.files().lastFolder().isEmpty());
    // Nothing to tell the user at start: no "Numerical input errors" box.
    QVERIFY2(win.dialogs.messages.empty(), qPrintable(win.dialogs.texts().join('|')));
}

void KeptSettingsTest::fileDialogsOpenInTheLastFolder() {
    const QString folder = m_scratch.filePath(QStringLiteral("pictures"));
    QVERIFY(QDir().mkpath(folder));
    Window win;
    TFCOMM& w = *win.w;
    // A chart picture saved in one folder; the log's dialogs then open there.
    win.dialogs.fileAnswers << folder + QStringLiteral("/chart.bmp");
    w.files().BtSaveClick(QImage(8, 8, QImage::Format_RGB32));
    QCOMPARE(w.files().lastFolder(), folder);
    w.files().saveasClick(); // cancelled
    w.files().SpeedButton2Click();
    QCOMPARE(win.dialogs.lastSpecs.size(), std::size_t{3});
    QVERIFY(win.dialogs.lastSpecs[0].folder.isEmpty()); // nothing chosen yet
    QCOMPARE(win.dialogs.lastSpecs[1].folder, folder);
    QCOMPARE(win.dialogs.lastSpecs[2].folder, folder);
    // A cancelled dialog keeps the folder.
    QCOMPARE(w.files().lastFolder(), folder);
}

void KeptSettingsTest::fileNamedOnStartIsLoaded() {
    Window win;
    TFCOMM& w = *win.w;
    w.files().openLog(QStringLiteral(KQ_TEST_DATA_DIR "/files/five_rows.txt"));
    QCOMPARE(w.recorder().cds1.rowCount(), std::uint64_t{5});
    QCOMPARE(w.files().lastFolder(), QStringLiteral(KQ_TEST_DATA_DIR "/files"));
    QVERIFY(win.dialogs.messages.empty());
    // A name that is no file is told as the open dialog's choice would be.
    w.files().openLog(m_scratch.filePath(QStringLiteral("no-such-log.txt")));
    QCOMPARE(win.dialogs.texts().size(), 1);
    QVERIFY(win.dialogs.texts()[0].startsWith(QStringLiteral("Failed to Load File!\n")));
    QCOMPARE(w.recorder().cds1.rowCount(), std::uint64_t{5});
}

QTEST_MAIN(KeptSettingsTest)
#include "kept_settings_test.moc"
