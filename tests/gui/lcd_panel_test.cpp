// The glass and the MIN/MAX strip, checked on the pixels a user sees: segment centres, point
// dots, annunciator ink and bar segments, sampled away from anti-aliased edges.
#include "app/lcd_panel.h"
#include "app/minmax_strip.h"

#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QtTest>
#include <climits>

using kq::app::LcdPanel;
using kq::app::MinMaxStrip;
using kq::app::Segment;
using kq::decode::DisplayModel;
using kq::decode::Widget;

namespace {

constexpr std::array<Widget, 4> kDigits = {Widget::LcdDa, Widget::LcdDb, Widget::LcdDc,
                                           Widget::LcdDd};

// Ink of a lit segment is black; ghosts, shadows and the glass are all far lighter.
bool dark(QRgb c) {
    return qGray(c) < 90;
}

DisplayModel model(std::array<std::string, 4> digits, std::initializer_list<Widget> shown,
                   int bar = 30) {
    DisplayModel m;
    m.digits = std::move(digits);
    for (Widget w : kDigits) {
        m.setShown(w, true);
    }
    for (Widget w : shown) {
        m.setShown(w, true);
    }
    m.PBar2 = bar;
    return m;
}

QImage render(const DisplayModel& m, bool ghost = true) {
    LcdPanel panel;
    panel.setGhostSegments(ghost);
    panel.setDisplay(m);
    return panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool darkAt(const QImage& img, QPointF p) {
    return dark(img.pixel(p.toPoint()));
}

QPointF centreOf(int digit, Segment s) {
    return kq::app::segmentCentre(s, LcdPanel::digitBox(digit), LcdPanel::digitStyle());
}

// The bounding box of all ink inside `area` (empty when there is none).
QRect inkBounds(const QImage& img, QRect area) {
    area &= img.rect();
    QRect bounds;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (dark(img.pixel(x, y))) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

QRect inside(const QImage& img) {
    return img.rect().adjusted(2, 2, -2, -2);
}

// Segments lit in a digit, as letters a..g, read back from the picture.
QString litSegments(const QImage& img, int digit) {
    QString lit;
    for (int s = 0; s < kq::app::kSegmentCount; ++s) {
        if (darkAt(img, centreOf(digit, static_cast<Segment>(s)))) {
            lit += QChar('a' + s);
        }
    }
    return lit;
}

} // namespace

class LcdPanelTest : public QObject {
    Q_OBJECT
private slots:
    void panelHasTheGlassSizeAndColour() {
        LcdPanel panel;
        QCOMPARE(panel.objectName(), QStringLiteral("LcdPanel"));
        QCOMPARE(panel.size(), QSize(398, 217));
        const QImage img = render(DisplayModel{});
        QCOMPARE(img.size(), QSize(398, 217));
        QCOMPARE(QColor(img.pixel(200, 190)), QColor(255, 251, 240));
    }

    void digitShowsItsSegments_data() {
        QTest::addColumn<int>("digit");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("lit");
        QTest::newRow("0") << 0 << "0"
                           << "abcdef";
        QTest::newRow("1") << 1 << "1"
                           << "bc";
        QTest::newRow("2") << 2 << "2"
                           << "abdeg";
        QTest::newRow("3") << 3 << "3"
                           << "abcdg";
        QTest::newRow("4") << 0 << "4"
                           << "bcfg";
        QTest::newRow("5") << 1 << "5"
                           << "acdfg";
        QTest::newRow("6") << 2 << "6"
                           << "acdefg";
        QTest::newRow("7") << 3 << "7"
                           << "abc";
        QTest::newRow("8") << 0 << "8"
                           << "abcdefg";
        QTest::newRow("9") << 1 << "9"
                           << "abcdfg";
        QTest::newRow("L shape") << 2 << "@"
                                 << "def";
        QTest::newRow("u") << 0 << "u"
                           << "cde";
        QTest::newRow("s reads as 5") << 1 << "s"
                                      << "acdfg";
        QTest::newRow("b") << 2 << "b"
                           << "cdefg";
        QTest::newRow("minus") << 3 << "-"
                               << "g";
        QTest::newRow("empty") << 0 << ""
                               << "";
        QTest::newRow("upper-case L is no glyph") << 1 << "L"
                                                  << "";
        QTest::newRow("two characters") << 2 << "12"
                                        << "";
        QTest::newRow("space") << 3 << " "
                               << "";
    }
    void digitShowsItsSegments() {
        QFETCH(int, digit);
        QFETCH(QString, caption);
        QFETCH(QString, lit);
        std::array<std::string, 4> digits;
        digits[static_cast<std::size_t>(digit)] = caption.toStdString();
        const QImage img = render(model(digits, {}));
        QCOMPARE(litSegments(img, digit), lit);
        for (int other = 0; other < 4; ++other) {
            if (other != digit) {
                QCOMPARE(litSegments(img, other), QString());
            }
        }
    }

    void hiddenDigitLabelShowsNothing() {
        DisplayModel m = model({"8", "8", "8", "8"}, {});
        m.setShown(Widget::LcdDc, false);
        const QImage img = render(m);
        QCOMPARE(litSegments(img, 1), QStringLiteral("abcdefg"));
        QCOMPARE(litSegments(img, 2), QString());
    }

    // The big digits sit inside their labels of the window's design.
    void digitsStayInsideTheirLabels_data() {
        QTest::addColumn<int>("digit");
        QTest::addColumn<int>("left");
        QTest::newRow("LcdDa") << 0 << 24;
        QTest::newRow("LcdDb") << 1 << 104;
        QTest::newRow("LcdDc") << 2 << 192;
        QTest::newRow("LcdDd") << 3 << 274;
    }
    void digitsStayInsideTheirLabels() {
        QFETCH(int, digit);
        QFETCH(int, left);
        std::array<std::string, 4> digits;
        digits[static_cast<std::size_t>(digit)] = "8";
        const QImage img = render(model(digits, {}));
        const QRect ink = inkBounds(img, inside(img));
        QVERIFY(!ink.isEmpty());
        QVERIFY2(QRect(left, 4, 58, 171).contains(ink), qPrintable(QStringLiteral("ink %1,%2 %3x%4")
                                                                       .arg(ink.x())
                                                                       .arg(ink.y())
                                                                       .arg(ink.width())
                                                                       .arg(ink.height())));
        // a digit of the 153-pixel face fills most of its label's height
        QVERIFY(ink.height() > 90);
    }

    void pointsLightOnlyWhenShown_data() {
        QTest::addColumn<int>("which");
        QTest::newRow("LcdP1") << 0;
        QTest::newRow("LcdP2") << 1;
        QTest::newRow("LcdP3") << 2;
    }
    void pointsLightOnlyWhenShown() {
        QFETCH(int, which);
        const std::array<Widget, 3> points = {Widget::LcdP1, Widget::LcdP2, Widget::LcdP3};
        // centres of the dots of the window's design
        const std::array<QPoint, 3> centres = {QPoint(92, 133), QPoint(179, 132), QPoint(263, 133)};
        const QPoint centre = centres[static_cast<std::size_t>(which)];
        const QImage lit =
            render(model({"1", "9", "9", "9"}, {points[static_cast<std::size_t>(which)]}));
        for (std::size_t i = 0; i < points.size(); ++i) {
            QCOMPARE(dark(lit.pixel(centres[i])), static_cast<int>(i) == which);
        }
        QVERIFY(dark(lit.pixel(centre)));
        const QImage unlit = render(model({"1", "9", "9", "9"}, {}));
        QVERIFY(!dark(unlit.pixel(centre)));
    }

    // Each annunciator, shown alone, puts ink near its place of the design and nowhere else;
    // hidden, it leaves its place clear.
    void annunciatorAppearsAtItsPlace_data() {
        QTest::addColumn<int>("widget");
        QTest::addColumn<QPoint>("designTopLeft");
        const auto row = [](const char* name, Widget w, int left, int top) {
            QTest::newRow(name) << static_cast<int>(w) << QPoint(left, top);
        };
        row("LCDHold", Widget::LCDHold, 8, -5);
        row("p_off", Widget::p_off, 32, -1);
        row("MAX", Widget::MAX, 70, 10);
        row("MIN", Widget::MIN, 110, 10);
        row("REL", Widget::REL, 152, 10);
        row("perecent", Widget::perecent, 192, 8);
        row("auto", Widget::Auto, 240, 8);
        row("Z", Widget::Z, 312, 6);
        row("o1", Widget::o1, 328, 8);
        row("o2", Widget::o2, 344, 8);
        row("o3", Widget::o3, 360, 8);
        row("o4", Widget::o4, 376, 8);
        row("FC", Widget::FC, 352, 48);
        row("LUX", Widget::LUX, 352, 72);
        row("X10", Widget::X10, 350, 94);
        row("CD", Widget::CD, 352, 120);
        row("t_p", Widget::t_p, 360, 160);
        row("power", Widget::power, 48, 162);
        row("FULL", Widget::FULL, 80, 166);
        row("loadNO", Widget::loadNO, 118, 167);
        row("REC", Widget::REC, 208, 167);
        row("z4", Widget::z4, 256, 168);
        row("z3", Widget::z3, 280, 168);
        row("z2", Widget::z2, 304, 168);
        row("z11", Widget::z11, 336, 168);
        row("usb1", Widget::usb1, 6, 171);
    }
    void annunciatorAppearsAtItsPlace() {
        QFETCH(int, widget);
        QFETCH(QPoint, designTopLeft);
        const auto w = static_cast<Widget>(widget);
        const QImage shown = render(model({"", "", "", ""}, {w}), false);
        const QRect ink = inkBounds(shown, inside(shown));
        QVERIFY(!ink.isEmpty());
        // the drawing starts near the design's top-left corner ...
        QVERIFY2(ink.left() >= designTopLeft.x() - 2 && ink.left() <= designTopLeft.x() + 12,
                 qPrintable(QStringLiteral("ink starts at x %1").arg(ink.left())));
        QVERIFY2(ink.top() >= designTopLeft.y() - 2 && ink.top() <= designTopLeft.y() + 16,
                 qPrintable(QStringLiteral("ink starts at y %1").arg(ink.top())));
        // ... and stays in the box the panel reports for it
        const QRect box = LcdPanel::placeOf(w).toAlignedRect().adjusted(-1, -1, 1, 1);
        QVERIFY(box.contains(ink));

        const QImage hidden = render(model({"", "", "", ""}, {}), false);
        QVERIFY(inkBounds(hidden, box).isEmpty());
    }

    void annunciatorsKeepClearOfTheDigits() {
        DisplayModel m = model({"", "", "", ""}, {});
        for (std::size_t i = 0; i < kq::decode::kWidgetCount; ++i) {
            m.shown.set(i);
        }
        m.PBar2 = 0;
        const QImage img = render(m, false);
        for (int d = 0; d < 4; ++d) {
            // the glyph's own box, less the shadow of the points beside it
            const QRect glyph = LcdPanel::digitBox(d).toAlignedRect();
            QVERIFY2(inkBounds(img, glyph.adjusted(4, 0, -4, -10)).isEmpty(),
                     qPrintable(QStringLiteral("ink over digit %1").arg(d)));
        }
    }

    // The second row and the rest of the clipped panel lie below the glass: driving them
    // changes no pixel and asks for no repaint.
    void clippedWidgetsDrawNothing() {
        const DisplayModel blank = model({"", "", "", ""}, {});
        DisplayModel clipped = blank;
        for (int i = static_cast<int>(Widget::LcdDa2); i <= static_cast<int>(Widget::Z1); ++i) {
            clipped.setShown(static_cast<Widget>(i), true);
        }
        clipped.row2 = {"8", "8", "8", "8", "8", "8"};
        QCOMPARE(render(clipped), render(blank));

        LcdPanel panel;
        panel.setDisplay(blank);
        QVERIFY(!panel.setDisplay(clipped));
    }

    void barGraphLightsItsShare_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<int>("segments");
        QTest::newRow("zero") << 0 << true << 0;
        QTest::newRow("negative") << -5 << true << 0;
        QTest::newRow("one lights the first segment") << 1 << true << 1;
        QTest::newRow("just under two segments") << 31 << true << 1;
        QTest::newRow("just over one segment") << 32 << true << 2;
        QTest::newRow("half") << 1000 << true << 32;
        QTest::newRow("a count below full") << 1999 << true << 64;
        QTest::newRow("full scale") << 2000 << true << 64;
        QTest::newRow("above the range shows a full bar") << 5000 << true << 64;
        QTest::newRow("largest position") << INT_MAX << true << 64;
        QTest::newRow("hidden bar") << 2000 << false << 0;
    }
    void barGraphLightsItsShare() {
        QFETCH(int, position);
        QFETCH(bool, shown);
        QFETCH(int, segments);
        DisplayModel m = model({"", "", "", ""}, {});
        m.setShown(Widget::PBar2, shown);
        m.PBar2 = position;
        const QImage img = render(m);
        int lit = 0;
        for (int i = 0; i < LcdPanel::kBarSegments; ++i) {
            const bool on = darkAt(img, LcdPanel::barSegment(i).center());
            QCOMPARE(on, i < segments); // lit segments form one run from the left
            lit += on ? 1 : 0;
        }
        QCOMPARE(lit, segments);
    }

    void barGraphLiesAlongTheFoot() {
        const QRectF first = LcdPanel::barSegment(0);
        const QRectF last = LcdPanel::barSegment(LcdPanel::kBarSegments - 1);
        QVERIFY(first.left() >= 1 && last.right() <= 397);
        QVERIFY(first.top() >= 200 && first.bottom() <= 216);
        // one full bar spans most of the glass's width
        QVERIFY(last.right() - first.left() > 350);
    }

    // The displays a light meter sends, as the decoders leave them in the model.
    void luxReadingLooksAsOnTheMeter() {
        const QImage img = render(model(
            {"1", "9", "9", "9"}, {Widget::LcdP2, Widget::LUX, Widget::usb1, Widget::PBar2}, 1999));
        QCOMPARE(litSegments(img, 0), QStringLiteral("bc"));
        QCOMPARE(litSegments(img, 1), QStringLiteral("abcdfg"));
        QCOMPARE(litSegments(img, 3), QStringLiteral("abcdfg"));
        QVERIFY(dark(img.pixel(179, 132)));
        QVERIFY(!dark(img.pixel(92, 133)));
        QVERIFY(!inkBounds(img, LcdPanel::placeOf(Widget::LUX).toAlignedRect()).isEmpty());
        QVERIFY(inkBounds(img, LcdPanel::placeOf(Widget::FC).toAlignedRect()).isEmpty());
        QVERIFY(inkBounds(img, LcdPanel::placeOf(Widget::CD).toAlignedRect()).isEmpty());
        QVERIFY(darkAt(img, LcdPanel::barSegment(LcdPanel::kBarSegments - 1).center()));
    }

    void overloadShowsZeroAndL() {
        const QImage img =
            render(model({"", "0", "@", ""}, {Widget::FC, Widget::usb1, Widget::PBar2}, 20));
        QCOMPARE(litSegments(img, 1), QStringLiteral("abcdef"));
        QCOMPARE(litSegments(img, 2), QStringLiteral("def"));
        QVERIFY(
            inkBounds(img, LcdPanel::placeOf(Widget::LcdDa).toAlignedRect().adjusted(0, 25, 0, -45))
                .isEmpty());
        QVERIFY(
            inkBounds(img, LcdPanel::placeOf(Widget::LcdDd).toAlignedRect().adjusted(0, 25, 0, -45))
                .isEmpty());
        QVERIFY(!inkBounds(img, LcdPanel::placeOf(Widget::FC).toAlignedRect()).isEmpty());
        QVERIFY(darkAt(img, LcdPanel::barSegment(0).center()));
        QVERIFY(!darkAt(img, LcdPanel::barSegment(1).center()));
    }

    void blankGlassHasNoInk() {
        const QImage img = render(DisplayModel{});
        QVERIFY(inkBounds(img, inside(img)).isEmpty());
    }

    void ghostSegmentsAreFaint_data() {
        QTest::addColumn<bool>("ghost");
        QTest::newRow("ghosts on") << true;
        QTest::newRow("ghosts off") << false;
    }
    void ghostSegmentsAreFaint() {
        QFETCH(bool, ghost);
        const QImage img = render(model({"1", "", "", ""}, {}), ghost);
        const QColor unlit(img.pixel(centreOf(0, Segment::g).toPoint()));
        const QColor unlitPoint(img.pixel(92, 133));
        QCOMPARE(unlit == LcdPanel::glassColour(), !ghost);
        QCOMPARE(unlitPoint == LcdPanel::glassColour(), !ghost);
        QVERIFY(qGray(unlit.rgb()) > 200);
        QVERIFY(darkAt(img, centreOf(0, Segment::b)));
    }

    void setDisplayReportsOnlyVisibleChanges_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("changed");
        QTest::newRow("nothing") << "nothing" << false;
        QTest::newRow("a clipped widget") << "AVE" << false;
        QTest::newRow("second row caption") << "row2" << false;
        QTest::newRow("s in place of 5") << "s" << false;
        QTest::newRow("bar beyond full scale") << "bar beyond" << false;
        QTest::newRow("bar moves while hidden") << "hidden bar" << false;
        QTest::newRow("limit panel texts") << "limit" << false;
        QTest::newRow("a digit") << "digit" << true;
        QTest::newRow("a point") << "point" << true;
        QTest::newRow("an annunciator") << "MAX" << true;
        QTest::newRow("bar position") << "bar" << true;
        QTest::newRow("a digit label hidden") << "hide LcdDa" << true;
    }
    void setDisplayReportsOnlyVisibleChanges() {
        QFETCH(QString, change);
        QFETCH(bool, changed);
        DisplayModel before = model({"1", "5", "9", "9"}, {Widget::LUX, Widget::PBar2}, 2500);
        LcdPanel panel;
        QVERIFY(panel.setDisplay(before));
        DisplayModel after = before;
        if (change == "AVE") {
            after.setShown(Widget::AVE, true);
        } else if (change == "row2") {
            after.row2[0] = "7";
        } else if (change == "s") {
            after.digits[1] = "s";
        } else if (change == "bar beyond") {
            after.PBar2 = 3000;
        } else if (change == "hidden bar") {
            before.setShown(Widget::PBar2, false);
            panel.setDisplay(before);
            after = before;
            after.PBar2 = 100;
        } else if (change == "limit") {
            after.T1VALUE = "15.99";
            after.judge = "Pass";
            after.verdict = DisplayModel::Verdict::Pass;
            after.MinText = "1";
        } else if (change == "digit") {
            after.digits[3] = "8";
        } else if (change == "point") {
            after.setShown(Widget::LcdP2, true);
        } else if (change == "MAX") {
            after.setShown(Widget::MAX, true);
        } else if (change == "bar") {
            after.PBar2 = 1000;
        } else if (change == "hide LcdDa") {
            after.setShown(Widget::LcdDa, false);
        }
        QCOMPARE(panel.setDisplay(after), changed);
        QVERIFY(!panel.setDisplay(after));
    }

    // A new frame repaints only what changed on the glass; what is on screen
    // afterwards must be the whole picture of the new frame, for any change.
    void repaintOfTheChangesLeavesTheWholeNewPicture() {
        const DisplayModel frames[] = {
            model({"1", "9", "9", "9"}, {Widget::LUX, Widget::PBar2, Widget::LcdP2, Widget::MAX},
                  1999),
            model({"", "0", "@", ""}, {Widget::FC, Widget::PBar2, Widget::LCDHold}, 20),
            model({"1", "2", "3", "4"},
                  {Widget::CD, Widget::PBar2, Widget::LcdP3, Widget::usb1, Widget::Auto}, 1234),
            model({"8", "8", "8", "8"}, {Widget::X10, Widget::LcdP1, Widget::REC}, 0),
        };
        QWidget top;
        LcdPanel panel(&top);
        top.resize(panel.size());
        top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&top));
        for (const auto& frame : frames) {
            panel.setDisplay(frame);
            QTest::qWait(30); // painted on screen
            const QImage onScreen = top.screen()
                                        ->grabWindow(top.winId())
                                        .toImage()
                                        .convertToFormat(QImage::Format_RGB32)
                                        .copy(panel.geometry());
            QCOMPARE(onScreen, render(frame));
        }
    }

    void minMaxStripLayout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QPoint>("topLeft");
        QTest::addColumn<QString>("text");
        QTest::newRow("Label11") << "Label11" << QPoint(16, 9) << "MIN: ";
        QTest::newRow("MinText") << "MinText" << QPoint(72, 7) << "2001";
        QTest::newRow("MinTextU") << "MinTextU" << QPoint(120, 7) << "lux";
        QTest::newRow("Label12") << "Label12" << QPoint(208, 9) << "MAX: ";
        QTest::newRow("MaxText") << "MaxText" << QPoint(264, 7) << "-2001";
        QTest::newRow("MaxTextU") << "MaxTextU" << QPoint(312, 7) << "lux";
    }
    void minMaxStripLayout() {
        QFETCH(QString, name);
        QFETCH(QPoint, topLeft);
        QFETCH(QString, text);
        MinMaxStrip strip;
        QCOMPARE(strip.objectName(), QStringLiteral("Panel3"));
        QCOMPARE(strip.size(), QSize(398, 26));
        auto* label = strip.findChild<QLabel*>(name);
        QVERIFY(label);
        QCOMPARE(label->pos(), topLeft);
        QCOMPARE(label->text(), text);
        QVERIFY(strip.rect().contains(label->geometry()));
    }

    void minMaxStripValuesAreItalic() {
        MinMaxStrip strip;
        for (const char* name : {"MinText", "MaxText"}) {
            const QFont f = strip.findChild<QLabel*>(name)->font();
            QVERIFY(f.italic());
            QCOMPARE(f.pixelSize(), 14);
        }
    }

    void minMaxStripShowsTextsInFull_data() {
        QTest::addColumn<QString>("min");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("max");
        QTest::newRow("lux reading") << "19.99"
                                     << "lux"
                                     << "20.00";
        QTest::newRow("overload as maximum") << "0.5"
                                             << "fc"
                                             << "0L";
        QTest::newRow("long unit") << "1"
                                   << "X10-lux"
                                   << "1999";
        QTest::newRow("unit with a bar") << "3"
                                         << "ft|min"
                                         << "4";
        QTest::newRow("empty after a reset") << ""
                                             << "cd"
                                             << "";
    }
    void minMaxStripShowsTextsInFull() {
        QFETCH(QString, min);
        QFETCH(QString, unit);
        QFETCH(QString, max);
        MinMaxStrip strip;
        DisplayModel m;
        m.MinText = min.toStdString();
        m.MaxText = max.toStdString();
        m.MinTextU = m.MaxTextU = unit.toStdString();
        strip.setDisplay(m);
        QCOMPARE(strip.minText(), min);
        QCOMPARE(strip.maxText(), max);
        for (const char* name : {"MinText", "MinTextU", "MaxText", "MaxTextU"}) {
            auto* label = strip.findChild<QLabel*>(name);
            // labels grow to the right and never cut their text
            QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(label->text()));
        }
        QCOMPARE(strip.findChild<QLabel*>("MinTextU")->text(), unit);
        QCOMPARE(strip.findChild<QLabel*>("MaxTextU")->pos(), QPoint(312, 7));
    }
};

QTEST_MAIN(LcdPanelTest)
#include "lcd_panel_test.moc"
