// The limit panel: its controls where the window's design puts them, the verdict colours on
// the value, the disc and the caption, and the connection pictogram.
#include "app/limit_panel.h"

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

using kq::app::LimitPanel;
using kq::decode::DisplayModel;
using kq::decode::Widget;
using Verdict = kq::decode::DisplayModel::Verdict;

Q_DECLARE_METATYPE(Verdict)

namespace {

QImage grabbed(LimitPanel& panel) {
    return panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// A point inside the disc, above the caption label.
constexpr QPoint kDiscPoint(240, 32);
// The top-left corner of the caption label, clear of any caption's ink.
constexpr QPoint kCaptionPoint(213, 47);
// Inside the value box, right of any reading's text and clear of its frame.
constexpr QPoint kValuePoint(178, 66);
// The middle of the computer's screen in the pictogram.
constexpr QPoint kScreenPoint(295, 15);

QColor tipColour() {
    return LimitPanel().palette().color(QPalette::ToolTipBase);
}

Verdict verdictOf(const QString& name) {
    if (name == "Pass") {
        return Verdict::Pass;
    }
    if (name == "Fail") {
        return Verdict::Fail;
    }
    return Verdict::None;
}

} // namespace

class LimitPanelTest : public QObject {
    Q_OBJECT
private slots:
    void controlsSitAtTheirPlaces_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("T1HI") << "T1HI" << QRect(104, 11, 57, 22);
        QTest::newRow("T1LO") << "T1LO" << QRect(104, 84, 57, 22);
        QTest::newRow("T1VALUE") << "T1VALUE" << QRect(104, 43, 81, 32);
        QTest::newRow("Shape1") << "Shape1" << QRect(200, 24, 81, 73);
        QTest::newRow("conok") << "conok" << QRect(286, 5, 28, 26);
        QTest::newRow("conokn") << "conokn" << QRect(286, 5, 28, 26);
    }
    void controlsSitAtTheirPlaces() {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        LimitPanel panel;
        QCOMPARE(panel.objectName(), QStringLiteral("Panel4"));
        QCOMPARE(panel.size(), QSize(319, 121));
        auto* w = panel.findChild<QWidget*>(name);
        QVERIFY(w);
        QCOMPARE(w->geometry(), geometry);
        // nothing may hang over the bevel
        QVERIFY(panel.rect().adjusted(2, 2, -2, -2).contains(w->geometry()));
    }

    void captionsFitBeforeTheEdits_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QPoint>("topLeft");
        QTest::newRow("T1_HI") << "T1_HI"
                               << "Set High Limit:" << QPoint(16, 16);
        QTest::newRow("T1_Value") << "T1_Value"
                                  << "Measure Value:" << QPoint(16, 52);
        QTest::newRow("T1_LO") << "T1_LO"
                               << "Set Low Limit:" << QPoint(16, 84);
    }
    void captionsFitBeforeTheEdits() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QPoint, topLeft);
        LimitPanel panel;
        auto* label = panel.findChild<QLabel*>(name);
        QVERIFY(label);
        QCOMPARE(label->text(), text);
        QCOMPARE(label->pos(), topLeft);
        QVERIFY(label->geometry().right() < 104);
    }

    void startsAsDesigned() {
        LimitPanel panel;
        QCOMPARE(panel.T1HI(), panel.findChild<QLineEdit*>("T1HI"));
        QCOMPARE(panel.T1LO(), panel.findChild<QLineEdit*>("T1LO"));
        QCOMPARE(panel.T1HI()->text(), QStringLiteral("6000"));
        QCOMPARE(panel.T1LO()->text(), QStringLiteral("-6000"));
        for (QLineEdit* edit : {panel.T1HI(), panel.T1LO()}) {
            QCOMPARE(edit->toolTip(), QStringLiteral("Please enter a number here."));
            QVERIFY(!edit->isReadOnly());
        }
        QCOMPARE(panel.T1VALUE()->text(), QStringLiteral("0"));
        QVERIFY(panel.T1VALUE()->isReadOnly());
        QCOMPARE(panel.T1VALUE()->font().pixelSize(), 21);
        QVERIFY(panel.T1VALUE()->font().bold());
        QCOMPARE(panel.T1VALUE()->palette().color(QPalette::Base), tipColour());
        QCOMPARE(panel.findChild<QLabel*>("judge")->text(), QString());
        QVERIFY(!panel.connected());
        QVERIFY(panel.findChild<QWidget*>("conok")->isHidden());
        QVERIFY(!panel.findChild<QWidget*>("conokn")->isHidden());
        QCOMPARE(QColor(grabbed(panel).pixel(kDiscPoint)), tipColour());
    }

    // Each row is a run of verdicts; the checks apply to the panel after the last one.
    void verdictColoursValueDiscAndCaption_data() {
        QTest::addColumn<QStringList>("run");
        QTest::addColumn<QColor>("colour"); // invalid: the colours of the start
        const QColor green(0, 128, 0);
        const QColor red(255, 0, 0);
        QTest::newRow("pass") << QStringList{"Pass"} << green;
        QTest::newRow("fail") << QStringList{"Fail"} << red;
        QTest::newRow("none at start") << QStringList{"None"} << QColor();
        QTest::newRow("fail then pass") << QStringList{"Fail", "Pass"} << green;
        QTest::newRow("pass then fail") << QStringList{"Pass", "Fail"} << red;
        QTest::newRow("pass then none") << QStringList{"Pass", "None"} << QColor();
        QTest::newRow("fail twice") << QStringList{"Fail", "Fail"} << red;
    }
    void verdictColoursValueDiscAndCaption() {
        QFETCH(QStringList, run);
        QFETCH(QColor, colour);
        LimitPanel panel;
        auto* judge = panel.findChild<QLabel*>("judge");
        const QColor startText = panel.T1VALUE()->palette().color(QPalette::Text);
        const QColor startCaption = judge->palette().color(QPalette::WindowText);
        for (const QString& v : run) {
            panel.setVerdict(verdictOf(v), v == "None" ? QString() : v);
        }
        const QString last = run.last();
        const QColor ground = colour.isValid() ? colour : tipColour();
        QCOMPARE(panel.verdict(), verdictOf(last));
        QCOMPARE(judge->text(), last == "None" ? QString() : last);
        // The verdict is the ground colour of the value box, the disc and the opaque
        // caption; the texts keep their font colour.
        QCOMPARE(panel.T1VALUE()->palette().color(QPalette::Base), ground);
        QCOMPARE(judge->palette().color(QPalette::Window), ground);
        QCOMPARE(panel.T1VALUE()->palette().color(QPalette::Text), startText);
        QCOMPARE(judge->palette().color(QPalette::WindowText), startCaption);
        const QImage img = grabbed(panel);
        QCOMPARE(QColor(img.pixel(kDiscPoint)), ground);
        QCOMPARE(QColor(img.pixel(kValuePoint)), ground);
        if (!judge->text().isEmpty()) {
            QCOMPARE(QColor(img.pixel(kCaptionPoint)), ground);
        }
    }

    void captionFitsOnTheDisc_data() {
        QTest::addColumn<QString>("caption");
        QTest::newRow("Pass") << "Pass";
        QTest::newRow("Fail") << "Fail";
    }
    void captionFitsOnTheDisc() {
        QFETCH(QString, caption);
        LimitPanel panel;
        panel.setVerdict(Verdict::Fail, caption);
        auto* judge = panel.findChild<QLabel*>("judge");
        QCOMPARE(judge->pos(), QPoint(213, 46));
        QVERIFY(judge->width() >= judge->fontMetrics().horizontalAdvance(caption));
        // inside the disc's box, so the caption never spills onto the panel
        QVERIFY(QRect(200, 24, 81, 73).contains(judge->geometry()));
        // the caption's ground is the disc's colour, so no patch shows around it
        const QImage img = grabbed(panel);
        QCOMPARE(QColor(img.pixel(kCaptionPoint)), LimitPanel::failColour());
    }

    void emptyCaptionLeavesNoPatchOnTheDisc() {
        LimitPanel panel;
        panel.setVerdict(Verdict::Fail, QStringLiteral("Fail"));
        panel.setVerdict(Verdict::Fail, QString());
        QCOMPARE(QColor(grabbed(panel).pixel(kCaptionPoint)), LimitPanel::failColour());
    }

    void measureShowsTheReadingFromItsStart_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("reading") << "19.99";
        QTest::newRow("overload") << "0L";
        QTest::newRow("wider than the box") << "1234567890123";
        QTest::newRow("empty") << "";
    }
    void measureShowsTheReadingFromItsStart() {
        QFETCH(QString, text);
        LimitPanel panel;
        panel.setMeasure(text);
        QCOMPARE(panel.T1VALUE()->text(), text);
        QCOMPARE(panel.T1VALUE()->cursorPosition(), 0);
    }

    void connectionShowsOnePictogram_data() {
        QTest::addColumn<QList<bool>>("run");
        QTest::newRow("connected") << QList<bool>{true};
        QTest::newRow("not connected") << QList<bool>{false};
        QTest::newRow("lost") << QList<bool>{true, false};
        QTest::newRow("regained") << QList<bool>{false, true, true};
    }
    void connectionShowsOnePictogram() {
        QFETCH(QList<bool>, run);
        LimitPanel panel;
        for (bool c : run) {
            panel.setConnected(c);
        }
        const bool connected = run.last();
        QCOMPARE(panel.connected(), connected);
        QCOMPARE(panel.findChild<QWidget*>("conok")->isHidden(), !connected);
        QCOMPARE(panel.findChild<QWidget*>("conokn")->isHidden(), connected);
        // lit screen bright, dark screen dark
        const int grey = qGray(grabbed(panel).pixel(kScreenPoint));
        QVERIFY2(connected ? grey > 120 : grey < 90, qPrintable(QString::number(grey)));
    }

    void setDisplayLeavesTheLimitEditsAlone() {
        LimitPanel panel;
        panel.T1HI()->setText(QStringLiteral("123"));
        panel.T1LO()->setText(QStringLiteral("-4"));
        DisplayModel m;
        m.T1VALUE = "19.99";
        m.judge = "Pass";
        m.verdict = Verdict::Pass;
        m.setShown(Widget::conok, true);
        panel.setDisplay(m);
        QCOMPARE(panel.T1VALUE()->text(), QStringLiteral("19.99"));
        QCOMPARE(panel.findChild<QLabel*>("judge")->text(), QStringLiteral("Pass"));
        QCOMPARE(panel.verdict(), Verdict::Pass);
        QVERIFY(panel.connected());
        QCOMPARE(panel.T1HI()->text(), QStringLiteral("123"));
        QCOMPARE(panel.T1LO()->text(), QStringLiteral("-4"));

        m.setShown(Widget::conok, false);
        m.setShown(Widget::conokn, true);
        panel.setDisplay(m);
        QVERIFY(!panel.connected());
    }
};

QTEST_MAIN(LimitPanelTest)
#include "limit_panel_test.moc"
