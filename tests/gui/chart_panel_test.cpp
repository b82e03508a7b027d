// The trend chart panel offscreen: real clicks on its toolbar, the fill menu, the page-length
// edit, enlarge/restore, that the plot holds only the page in view, and what it paints.
#include "app/chart_panel.h"
#include "app/trend_plot.h"
#include "record/chart_pager.h"

#include <QAction>
#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QMap>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <QtTest>

#include <memory>

using kq::app::ChartPanel;
using kq::app::TrendPlot;
using kq::record::TChartControl;

namespace {

// Pixels of one colour inside `area` of the picture.
int pixelsOf(const QImage& image, const QColor& colour, QRect area) {
    area &= image.rect();
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixelColor(x, y).rgb() == colour.rgb();
    return n;
}

// Pixels dark enough to be text, in one column of the picture.
int inkInColumn(const QImage& image, int x) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        n += qGray(image.pixel(x, y)) < 160;
    return n;
}

template <class T> T* child(QWidget& w, const char* name) {
    T* c = w.findChild<T*>(QString::fromLatin1(name));
    if (!c)
        qFatal("no child %s", name);
    return c;
}

void click(QWidget& panel, const char* name) {
    QTest::mouseClick(child<QAbstractButton>(panel, name), Qt::LeftButton);
}

// The window around the chart, at the design's place.
struct Harness {
    QWidget window;
    TChartControl pager{100};
    ChartPanel* panel;
    Harness() {
        window.resize(719, 544);
        panel = new ChartPanel(pager, &window);
        panel->move(400, 152);
        window.show();
    }
    void add(int n, double v = 1) {
        for (int i = 0; i < n; ++i)
            pager.AddValue(v);
        panel->refresh();
    }
    QString page() const { return child<QToolButton>(*panel, "Bt10")->text(); }
    TrendPlot& plot() const { return *panel->plot(); }
    std::pair<double, double> xRange() const { return {plot().xMin(), plot().xMax()}; }
    std::pair<double, double> yRange() const { return {plot().yMin(), plot().yMax()}; }
    qsizetype shown() const { return plot().points().size(); }
    QImage picture() { return panel->grabChart().toImage().convertToFormat(QImage::Format_RGB32); }
};

} // namespace

class ChartPanelTest : public QObject {
    Q_OBJECT
private slots:
    void startsAsDesigned() {
        Harness h;
        ChartPanel& p = *h.panel;
        QCOMPARE(p.objectName(), QStringLiteral("Chtshow"));
        QCOMPARE(p.size(), QSize(321, 394));
        QCOMPARE(h.page(), QStringLiteral("1"));
        QCOMPARE(p.Maxrecord()->text(), QStringLiteral("100"));
        QVERIFY(p.BtFill()->isChecked());
        QCOMPARE(p.BtFill()->text(), QStringLiteral("Fill"));
        QVERIFY(!child<QWidget>(p, "TbSx")->isVisible());
        QVERIFY(child<QWidget>(p, "TbFd")->isVisible());
        QCOMPARE(p.BtNew()->text(), QStringLiteral("New"));
        QCOMPARE(p.BtSave()->text(), QStringLiteral("Save"));
        QCOMPARE(child<QWidget>(p, "Bt10")->toolTip(), QStringLiteral("Page No."));
        QVERIFY(!p.Timer2()->isActive());
        QCOMPARE(h.yRange(), std::make_pair(-2000.0, 2000.0));
        QCOMPARE(h.xRange(), std::make_pair(1.0, 100.0));
        QVERIFY(h.plot().fillShown());
        QCOMPARE(h.shown(), 0); // the seed at x = 0 is never in view
        QCOMPARE(p.chartSurface()->accessibleName(), QStringLiteral("Trend chart"));

        // What is drawn: silver at the top fading to white, a white plot, the dashed value axis
        // with its labels every 1000 and four minor ticks between them.
        const QImage pic = h.picture();
        const QRect plot = h.plot().plotRect();
        QCOMPARE(pic.pixelColor(0, 0), QColor(192, 192, 192));
        QVERIFY(qGray(pic.pixel(0, pic.height() - 1)) > 250);
        QCOMPARE(pic.pixelColor(plot.center() + QPoint(7, 7)), QColor(Qt::white));
        const int axisLine =
            pixelsOf(pic, QColor(0, 64, 128), QRect(plot.left(), plot.top(), 1, plot.height()));
        QVERIFY(axisLine > plot.height() / 2 && axisLine < plot.height()); // dashed
        const int ticks =
            pixelsOf(pic, QColor(0, 64, 128), QRect(plot.left() - 1, plot.top(), 1, plot.height()));
        QCOMPARE(ticks, 5 + 4 * 4);
        QStringList labels;
        for (const TrendPlot::Label& l : h.plot().valueLabels())
            labels << l.text;
        QCOMPARE(labels, QStringList({"-2000", "-1000", "0", "1000", "2000"}));
    }

    void pagesWithRealClicks() {
        Harness h;
        for (int i = 1; i <= 450; ++i)
            h.pager.AddValue(i);
        h.panel->refresh();
        QCOMPARE(h.page(), QStringLiteral("5"));
        QCOMPARE(h.xRange(), std::make_pair(401.0, 500.0));
        QCOMPARE(h.shown(), 50);

        click(*h.panel, "BtFirst");
        QCOMPARE(h.page(), QStringLiteral("1"));
        QCOMPARE(h.xRange(), std::make_pair(1.0, 100.0));
        QCOMPARE(h.shown(), 100);
        QCOMPARE(h.plot().points().at(0), QPointF(1, 1));
        QCOMPARE(h.plot().points().at(99), QPointF(100, 100));

        click(*h.panel, "BtNext");
        QCOMPARE(h.page(), QStringLiteral("2"));
        QCOMPARE(h.plot().points().at(0), QPointF(101, 101));

        // browsing: new readings keep the view and the page number
        h.add(200, -7);
        QCOMPARE(h.page(), QStringLiteral("2"));
        QCOMPARE(h.xRange(), std::make_pair(101.0, 200.0));
        QCOMPARE(h.shown(), 100);

        click(*h.panel, "BTPrevious");
        QCOMPARE(h.page(), QStringLiteral("1"));
        click(*h.panel, "BTPrevious"); // on page 1: nothing
        QCOMPARE(h.page(), QStringLiteral("1"));

        click(*h.panel, "BTlast");
        QCOMPARE(h.page(), QStringLiteral("7"));
        QCOMPARE(h.xRange(), std::make_pair(601.0, 700.0));
        QCOMPARE(h.shown(), 50);
        QCOMPARE(h.plot().points().at(0), QPointF(601, -7));
        h.add(51);
        QCOMPARE(h.page(), QStringLiteral("8"));
        QCOMPARE(h.xRange(), std::make_pair(701.0, 800.0));
        QCOMPARE(h.shown(), 1);
    }

    // A point added inside the window repaints a strip one step wide; what the window shows
    // after such repaints is what a full paint draws.
    void refreshFeedsOnlyWhatChanged() {
        Harness h;
        h.pager.SetYMax(20);
        h.pager.SetYMin(-20);
        h.add(10);
        QApplication::processEvents();
        const std::uint64_t builds = h.plot().layerBuilds();
        const QRect before = h.plot().lastDamage();
        h.panel->refresh(); // nothing changed
        QCOMPARE(h.plot().lastDamage(), before);
        const double step = h.plot().plotRect().width() / 99.0;
        for (int i = 0; i < 30; ++i) {
            h.add(1, (i % 7) * 5 - 15); // inside the window: one point appended
            QVERIFY(h.plot().lastDamage().width() <= step + 6);
            QVERIFY(h.plot().plotRect().contains(h.plot().lastDamage()));
            QApplication::processEvents();
        }
        QCOMPARE(h.shown(), 40);
        QCOMPARE(h.plot().points().at(10), QPointF(11, -15));
        QCOMPARE(h.plot().layerBuilds(), builds);
        const QImage onScreen = h.window.screen()
                                    ->grabWindow(h.window.winId(), h.panel->x(), h.panel->y(),
                                                 h.panel->width(), h.panel->height())
                                    .toImage()
                                    .convertToFormat(QImage::Format_RGB32);
        const QImage full = h.picture();
        const QRect plot = h.plot().plotRect();
        QCOMPARE(onScreen.copy(plot), full.copy(plot));
    }

    void fillMenuTogglesFromTheCheckBox() {
        Harness h;
        h.add(60, 1500);
        QAction fill(QStringLiteral("Fill"));
        h.panel->attachFillAction(&fill);
        QVERIFY(fill.isChecked());
        const QColor area(255, 255, 128), outline(0, 128, 255), line(128, 255, 0);
        // the area under the curve, its outline on the curve's last point, the line over it
        auto drawn = [&h](const QColor& c) { return pixelsOf(h.picture(), c, h.picture().rect()); };
        const int filled = drawn(area);
        QVERIFY(filled > h.plot().plotRect().width() * h.plot().plotRect().height() / 3);
        QVERIFY(drawn(outline) > 0);

        fill.trigger();
        QVERIFY(!fill.isChecked());
        QVERIFY(!h.panel->BtFill()->isChecked());
        QVERIFY(!h.pager.fill());
        QVERIFY(!h.plot().fillShown());
        QCOMPARE(drawn(area), 0);
        QCOMPARE(drawn(outline), 0);
        QVERIFY(drawn(line) >= 59 * 2); // the line is always shown

        fill.trigger();
        QVERIFY(fill.isChecked());
        QVERIFY(h.panel->BtFill()->isChecked());
        QVERIFY(h.plot().fillShown());
        QCOMPARE(drawn(area), filled);

        // clicking the box leaves the menu's mark alone; the menu then toggles from the box
        QTest::mouseClick(h.panel->BtFill(), Qt::LeftButton, {}, QPoint(6, 8));
        QVERIFY(!h.panel->BtFill()->isChecked());
        QVERIFY(!h.plot().fillShown());
        QVERIFY(fill.isChecked());
        fill.trigger();
        QVERIFY(h.panel->BtFill()->isChecked());
        QVERIFY(fill.isChecked());
        QVERIFY(h.plot().fillShown());
    }

    void pageLengthIsAppliedByTimer2() {
        struct Case {
            const char* typed;
            const char* textAfter;
            int pageSize;
            const char* page;
            double xMin, xMax;
            bool selected;
        };
        const Case cases[] = {
            {"50", "50", 50, "5", 201, 250, false},
            {"", "100", 100, "3", 201, 300, true},            // emptied: back to 100, selected
            {"0", "100", 100, "3", 201, 300, true},           // 0 is refused like a non-number
            {"abc", "100", 100, "3", 201, 300, true},         // the key filter lets no letter in
            {"99999999999", "100", 100, "3", 201, 300, true}, // beyond 32 bits
            {"1000", "1000", 1000, "1", 1, 1000, false},
            // one point a page: the axis keeps that point inside a window one step wide
            {"1", "1", 1, "231", 229.5, 230.5, false},
        };
        for (const auto& c : cases) {
            Harness h;
            h.add(230);
            h.panel->Maxrecord()->setFocus();
            h.panel->Maxrecord()->selectAll();
            QTest::keyClick(h.panel->Maxrecord(), Qt::Key_Backspace);
            QTest::keyClicks(h.panel->Maxrecord(), QString::fromLatin1(c.typed));
            QVERIFY(h.panel->Timer2()->isActive());
            QCOMPARE(h.pager.pageSize(), 100); // nothing applied before the timer
            h.panel->Timer2Timer();
            QCOMPARE(h.panel->Maxrecord()->text(), QString::fromLatin1(c.textAfter));
            QCOMPARE(h.panel->Maxrecord()->hasSelectedText(), c.selected);
            QCOMPARE(h.pager.pageSize(), c.pageSize);
            QCOMPARE(h.page(), QString::fromLatin1(c.page));
            QCOMPARE(h.xRange(), std::make_pair(c.xMin, c.xMax));
            QVERIFY(!h.panel->Timer2()->isActive());
        }
    }

    // A pasted text is not filtered like typing: it stands until the timer applies it,
    // and one that is no whole number becomes "100", selected.
    void pastedPageLengthThatIsNoNumberBecomes100() {
        Harness h;
        h.panel->Maxrecord()->selectAll();
        h.panel->Maxrecord()->insert(QStringLiteral("-5x0"));
        QCOMPARE(h.panel->Maxrecord()->text(), QStringLiteral("-5x0"));
        h.panel->Timer2Timer();
        QCOMPARE(h.panel->Maxrecord()->text(), QStringLiteral("100"));
        QCOMPARE(h.panel->Maxrecord()->selectedText(), QStringLiteral("100"));
        QCOMPARE(h.pager.pageSize(), 100);
    }

    void enlargeAndRestore() {
        Harness h;
        click(*h.panel, "TbFd");
        QVERIFY(h.panel->enlarged());
        // Nothing of the grid or the limit panel is left beside or below it.
        QCOMPARE(h.panel->geometry(), QRect(0, 28, 719, 544 - 28));
        QVERIFY(child<QWidget>(*h.panel, "TbSx")->isVisible());
        QVERIFY(!child<QWidget>(*h.panel, "TbFd")->isVisible());
        QCOMPARE(h.panel->chartSurface()->size(), h.panel->size());
        click(*h.panel, "TbSx");
        QVERIFY(!h.panel->enlarged());
        QCOMPARE(h.panel->geometry(), QRect(400, 152, 321, 394));
        QVERIFY(child<QWidget>(*h.panel, "TbFd")->isVisible());
        QCOMPARE(h.panel->chartSurface()->size(), QSize(321, 394));
    }

    // Paged back to an older page, the value axis fits that page's points and holds still while
    // new readings of another size arrive; the live page keeps the axis of the newest reading.
    void olderPageFitsItsOwnPointsAndHoldsStill() {
        Harness h;
        // The reading log's rule: the axis follows the newest reading's size.
        auto reading = [&h](double v) {
            const double n = v <= 20 ? 20 : v <= 200 ? 200 : v <= 2000 ? 2000 : 20000;
            h.pager.SetYMax(n);
            h.pager.SetYMin(-n);
            h.pager.AddValue(v);
        };
        for (int i = 0; i < 100; ++i)
            reading(150 + i % 10); // page 1: 150 ... 159
        for (int i = 0; i < 99; ++i)
            reading(1500); // page 2, the live page
        h.panel->refresh();
        QCOMPARE(h.page(), QStringLiteral("2"));
        QCOMPARE(h.yRange(), std::make_pair(-2000.0, 2000.0));

        click(*h.panel, "BtFirst");
        QCOMPARE(h.page(), QStringLiteral("1"));
        QCOMPARE(h.yRange(), std::make_pair(150.0, 160.0));
        for (int i = 0; i < 5; ++i) {
            reading(i % 2 ? 15 : 9000);
            h.panel->refresh();
            QCOMPARE(h.yRange(), std::make_pair(150.0, 160.0));
        }

        click(*h.panel, "BTlast");
        QCOMPARE(h.yRange(), std::make_pair(-20000.0, 20000.0));
    }

    // A reading of another size changes the value axis's ticks: the labels must be whole and
    // the axis as wide as they need at once, for the window's next paint and for the bitmap
    // export taken right after it, not only after a later pass of the event loop.
    void valueLabelsAreWholeRightAfterAnAxisChange() {
        Harness h;
        QApplication::processEvents();
        const struct {
            double value;
            QStringList labels; // the value axis, bottom to top
        } steps[] = {
            {19.99, {"-20", "-10", "0", "10", "20"}},
            {1500, {"-2000", "-1000", "0", "1000", "2000"}},
            {5, {"-20", "-10", "0", "10", "20"}},
            {123.4, {"-200", "-100", "0", "100", "200"}},
            {15000, {"-20000", "-10000", "0", "10000", "20000"}},
            {-7, {"-20", "-10", "0", "10", "20"}},
        };
        for (const auto& step : steps) {
            const double n = std::abs(step.value) <= 20     ? 20
                             : std::abs(step.value) <= 200  ? 200
                             : std::abs(step.value) <= 2000 ? 2000
                                                            : 20000;
            h.pager.SetYMax(n);
            h.pager.SetYMin(-n);
            h.pager.AddValue(step.value);
            h.panel->refresh();
            const QPixmap exported = h.panel->grabChart();
            // the value labels lie left of the plot, whole, each a number as the axis shows it
            const QRect plot = h.plot().plotRect();
            QMap<double, QString> left;
            for (const TrendPlot::Label& l : h.plot().valueLabels()) {
                QVERIFY2(l.box.left() >= 0 && l.box.right() < plot.left() - 4, qPrintable(l.text));
                left.insert(-l.baseline.y(), l.text);
            }
            QCOMPARE(QStringList(left.values()), step.labels);
            QCOMPARE(inkInColumn(exported.toImage(), 0), 0);
            // nothing is left for the event loop to move: the export is what the window shows
            QApplication::processEvents();
            QCOMPARE(exported.toImage(), h.panel->grabChart().toImage());
        }
    }

    void wheelIsSwallowed() {
        Harness h;
        h.add(450);
        h.panel->BtFirstClick();
        QWidget* surface = h.panel->chartSurface();
        // nothing behind the chart sees the wheel either
        struct Watch : QObject {
            int wheels = 0;
            bool eventFilter(QObject*, QEvent* e) override {
                wheels += e->type() == QEvent::Wheel;
                return false;
            }
        } watch;
        h.panel->installEventFilter(&watch);
        h.window.installEventFilter(&watch);
        QWheelEvent wheel(QPointF(100, 200), surface->mapToGlobal(QPointF(100, 200)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(surface, &wheel);
        QVERIFY(wheel.isAccepted());
        QCOMPARE(watch.wheels, 0);
        QCOMPARE(h.xRange(), std::make_pair(1.0, 100.0));
        QCOMPARE(h.page(), QStringLiteral("1"));
    }

    void aVeryLongPageIsThinnedButKeepsItsPeaks() {
        Harness h;
        for (int i = 1; i <= 50000; ++i)
            h.pager.AddValue(i == 31234 ? 999 : (i % 7));
        h.pager.SetPageSize(1000000);
        h.panel->refresh();
        const qsizetype fed = h.shown();
        QVERIFY(fed > 1000);
        QVERIFY(fed <= 4096);
        bool peak = false;
        double lastX = -1;
        for (const QPointF& pt : h.plot().points()) {
            peak = peak || pt == QPointF(31234, 999);
            QVERIFY(pt.x() > lastX);
            lastX = pt.x();
        }
        QVERIFY(peak);
        // back to a short page: every point again, and the axis is rebuilt for the short range
        h.pager.SetPageSize(100);
        h.panel->refresh();
        QCOMPARE(h.shown(), 100);
        QCOMPARE(h.xRange(), std::make_pair(49901.0, 50000.0));
        QCOMPARE(h.plot().points().at(0), QPointF(49901, 49901 % 7));
    }

    void grabsTheChartWithoutTheToolbar() {
        Harness h;
        h.add(20, 10);
        const QImage pic = h.picture();
        QCOMPARE(pic.size(), QSize(321, 394));
        QVERIFY(h.panel->chartSurface()->findChild<QToolButton*>() == nullptr);
        // the toolbar's row holds only the background, one shade across the whole width
        for (int y : {5, 12, 20})
            QCOMPARE(pixelsOf(pic, pic.pixelColor(0, y), QRect(0, y, pic.width(), 1)), pic.width());
    }

    // Whatever the value range and however wide the page numbers get, every label is whole:
    // inside the chart, clear of the plot, and no text runs into the chart's edges.
    void labelsFitAtEveryRange() {
        const std::pair<double, double> windows[] = {
            {1, 100}, {99901, 100000}, {229.5, 230.5}, {2147483548, 2147483647}, {1, 3}};
        for (const double n : {20.0, 200.0, 2000.0, 20000.0}) {
            for (const auto& [from, to] : windows) {
                TrendPlot plot;
                plot.resize(321, 394);
                plot.setXWindow(from, to);
                plot.setValueSpan(-n, n);
                const QRect area = plot.plotRect();
                const QString what = QStringLiteral("%1 %2..%3").arg(n).arg(from).arg(to);
                QVERIFY2(plot.valueLabels().size() >= 3, qPrintable(what));
                QVERIFY2(!plot.xLabels().empty(), qPrintable(what));
                for (const TrendPlot::Label& l : plot.valueLabels())
                    QVERIFY2(plot.rect().contains(l.box) && l.box.right() < area.left() - 4,
                             qPrintable(what + " " + l.text));
                for (const TrendPlot::Label& l : plot.xLabels())
                    QVERIFY2(plot.rect().contains(l.box) && l.box.top() > area.bottom(),
                             qPrintable(what + " " + l.text));
                QCOMPARE(plot.valueLabels().back().text, QString::number(n, 'f', 0));
                const QImage pic = plot.grab().toImage();
                QVERIFY2(inkInColumn(pic, 0) == 0, qPrintable(what));
                QVERIFY2(inkInColumn(pic, pic.width() - 1) == 0, qPrintable(what));
            }
        }
    }

    // The page's first and last x and the axis's ends are the plot's edges, not beyond them.
    void pointsOnThePagesEdgesAreDrawnInsideThePlot() {
        Harness h;
        h.pager.SetYMax(20);
        h.pager.SetYMin(-20);
        h.pager.SetFill(false);
        h.add(99, 0);
        h.add(1, 20); // x = 100, the last of the page, at the top of the value axis
        const QImage pic = h.picture();
        const QRect plot = h.plot().plotRect();
        const QColor line(128, 255, 0);
        QVERIFY(pixelsOf(pic, line, QRect(plot.right(), plot.top(), 1, 1)) == 1);
        QCOMPARE(pixelsOf(pic, line, QRect(plot.right() + 1, 0, pic.width(), pic.height())), 0);
        QCOMPARE(pixelsOf(pic, line, QRect(0, 0, pic.width(), plot.top())), 0);
        // x = 1 on the value axis's column, at the middle row of the axis
        const int zero = plot.top() + plot.height() / 2;
        QVERIFY(pixelsOf(pic, line, QRect(plot.left() + 1, zero - 1, 1, 3)) == 1);
    }
};

QTEST_MAIN(ChartPanelTest)
#include "chart_panel_test.moc"
