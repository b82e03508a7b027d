// The trend chart panel offscreen: real clicks on its toolbar, the fill menu, the page-length
// edit, enlarge/restore, and that the series hold only the page in view.
#include "app/chart_panel.h"
#include "record/chart_pager.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QAreaSeries>
#include <QChart>
#include <QCheckBox>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QLineEdit>
#include <QLineSeries>
#include <QMap>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>
#include <QValueAxis>
#include <QWheelEvent>
#include <QtTest>

#include <memory>

using kq::app::ChartPanel;
using kq::record::TChartControl;

namespace {

QValueAxis* axis(ChartPanel& panel, Qt::Orientation o) {
    return qobject_cast<QValueAxis*>(panel.chart()->axes(o).first());
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
    std::pair<double, double> xRange() {
        auto* a = axis(*panel, Qt::Horizontal);
        return {a->min(), a->max()};
    }
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
        QCOMPARE(p.chart()->series().size(), 2);
        QCOMPARE(p.chart()->series().at(0), p.Series2());
        QCOMPARE(p.chart()->series().at(1), p.Series1());
        QCOMPARE(p.Series2()->brush().color(), QColor(255, 255, 128));
        QCOMPARE(p.Series2()->pen().color(), QColor(0, 128, 255));
        QCOMPARE(p.Series1()->pen().color(), QColor(128, 255, 0));
        QVERIFY(!p.chart()->legend()->isVisible());
        QCOMPARE(p.chart()->title(), QStringLiteral("  "));
        auto* y = axis(p, Qt::Vertical);
        QCOMPARE(y->min(), -2000.0);
        QCOMPARE(y->max(), 2000.0);
        QCOMPARE(y->minorTickCount(), 4);
        QCOMPARE(y->linePen().color(), QColor(0, 64, 128));
        QCOMPARE(y->linePen().style(), Qt::DashLine);
        QCOMPARE(h.xRange(), std::make_pair(1.0, 100.0));
        QCOMPARE(p.Series1()->count(), 0); // the seed at x = 0 is never in view
    }

    void pagesWithRealClicks() {
        Harness h;
        for (int i = 1; i <= 450; ++i)
            h.pager.AddValue(i);
        h.panel->refresh();
        QCOMPARE(h.page(), QStringLiteral("5"));
        QCOMPARE(h.xRange(), std::make_pair(401.0, 500.0));
        QCOMPARE(h.panel->Series1()->count(), 50);

        click(*h.panel, "BtFirst");
        QCOMPARE(h.page(), QStringLiteral("1"));
        QCOMPARE(h.xRange(), std::make_pair(1.0, 100.0));
        QCOMPARE(h.panel->Series1()->count(), 100);
        QCOMPARE(h.panel->Series1()->at(0), QPointF(1, 1));
        QCOMPARE(h.panel->Series1()->at(99), QPointF(100, 100));
        QCOMPARE(h.panel->Series2()->upperSeries()->count(), 100);

        click(*h.panel, "BtNext");
        QCOMPARE(h.page(), QStringLiteral("2"));
        QCOMPARE(h.panel->Series1()->at(0), QPointF(101, 101));

        // browsing: new readings keep the view and the page number
        h.add(200, -7);
        QCOMPARE(h.page(), QStringLiteral("2"));
        QCOMPARE(h.xRange(), std::make_pair(101.0, 200.0));
        QCOMPARE(h.panel->Series1()->count(), 100);

        click(*h.panel, "BTPrevious");
        QCOMPARE(h.page(), QStringLiteral("1"));
        click(*h.panel, "BTPrevious"); // on page 1: nothing
        QCOMPARE(h.page(), QStringLiteral("1"));

        click(*h.panel, "BTlast");
        QCOMPARE(h.page(), QStringLiteral("7"));
        QCOMPARE(h.xRange(), std::make_pair(601.0, 700.0));
        QCOMPARE(h.panel->Series1()->count(), 50);
        QCOMPARE(h.panel->Series1()->at(0), QPointF(601, -7));
        h.add(51);
        QCOMPARE(h.page(), QStringLiteral("8"));
        QCOMPARE(h.xRange(), std::make_pair(701.0, 800.0));
        QCOMPARE(h.panel->Series1()->count(), 1);
    }

    void refreshFeedsOnlyWhatChanged() {
        Harness h;
        h.add(10);
        QSignalSpy replaced(h.panel->Series1(), &QXYSeries::pointsReplaced);
        QSignalSpy added(h.panel->Series1(), &QXYSeries::pointAdded);
        h.panel->refresh(); // nothing changed
        QCOMPARE(replaced.count() + added.count(), 0);
        h.add(1, 5); // inside the window: one point appended
        QCOMPARE(added.count(), 1);
        QCOMPARE(replaced.count(), 0);
        QCOMPARE(h.panel->Series1()->count(), 11);
        QCOMPARE(h.panel->Series1()->at(10), QPointF(11, 5));
        h.panel->refresh();
        QCOMPARE(added.count(), 1);
    }

    void fillMenuTogglesFromTheCheckBox() {
        Harness h;
        QAction fill(QStringLiteral("Fill"));
        h.panel->attachFillAction(&fill);
        QVERIFY(fill.isChecked());

        fill.trigger();
        QVERIFY(!fill.isChecked());
        QVERIFY(!h.panel->BtFill()->isChecked());
        QVERIFY(!h.pager.fill());
        QVERIFY(!h.panel->Series2()->isVisible());
        QVERIFY(h.panel->Series1()->isVisible());

        fill.trigger();
        QVERIFY(fill.isChecked());
        QVERIFY(h.panel->BtFill()->isChecked());
        QVERIFY(h.panel->Series2()->isVisible());

        // clicking the box leaves the menu's mark alone; the menu then toggles from the box
        QTest::mouseClick(h.panel->BtFill(), Qt::LeftButton, {}, QPoint(6, 8));
        QVERIFY(!h.panel->BtFill()->isChecked());
        QVERIFY(!h.panel->Series2()->isVisible());
        QVERIFY(fill.isChecked());
        fill.trigger();
        QVERIFY(h.panel->BtFill()->isChecked());
        QVERIFY(fill.isChecked());
        QVERIFY(h.panel->Series2()->isVisible());
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
        auto* y = axis(*h.panel, Qt::Vertical);
        QCOMPARE(h.page(), QStringLiteral("2"));
        QCOMPARE(std::make_pair(y->min(), y->max()), std::make_pair(-2000.0, 2000.0));

        click(*h.panel, "BtFirst");
        QCOMPARE(h.page(), QStringLiteral("1"));
        QCOMPARE(std::make_pair(y->min(), y->max()), std::make_pair(150.0, 160.0));
        for (int i = 0; i < 5; ++i) {
            reading(i % 2 ? 15 : 9000);
            h.panel->refresh();
            QCOMPARE(std::make_pair(y->min(), y->max()), std::make_pair(150.0, 160.0));
        }

        click(*h.panel, "BTlast");
        QCOMPARE(std::make_pair(y->min(), y->max()), std::make_pair(-20000.0, 20000.0));
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
            // the value labels are the texts left of the plot, each a number as the axis shows it
            const QRectF plot = h.panel->chart()->plotArea();
            QMap<double, QString> left;
            for (QGraphicsItem* item : h.panel->chart()->scene()->items()) {
                auto* text = dynamic_cast<QGraphicsTextItem*>(item);
                if (!text || !text->isVisible() || text->toPlainText().trimmed().isEmpty())
                    continue;
                QVERIFY2(!text->toPlainText().contains(QStringLiteral("...")),
                         qPrintable(text->toPlainText()));
                const QRectF at = text->sceneBoundingRect();
                if (at.right() <= plot.left())
                    left.insert(-at.center().y(), text->toPlainText());
            }
            QCOMPARE(QStringList(left.values()), step.labels);
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
        auto* area = qobject_cast<QAbstractScrollArea*>(surface);
        QVERIFY(area);
        QWidget* target = area->viewport();
        QWheelEvent wheel(QPointF(100, 200), surface->mapToGlobal(QPointF(100, 200)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QVERIFY(QCoreApplication::sendEvent(target, &wheel));
        QCOMPARE(h.xRange(), std::make_pair(1.0, 100.0));
        QCOMPARE(h.page(), QStringLiteral("1"));
    }

    void aVeryLongPageIsThinnedButKeepsItsPeaks() {
        Harness h;
        for (int i = 1; i <= 50000; ++i)
            h.pager.AddValue(i == 31234 ? 999 : (i % 7));
        h.pager.SetPageSize(1000000);
        h.panel->refresh();
        const int fed = h.panel->Series1()->count();
        QVERIFY(fed > 1000);
        QVERIFY(fed <= 4096);
        bool peak = false;
        double lastX = -1;
        for (const QPointF& pt : h.panel->Series1()->points()) {
            peak = peak || pt == QPointF(31234, 999);
            QVERIFY(pt.x() > lastX);
            lastX = pt.x();
        }
        QVERIFY(peak);
        // back to a short page: every point again, and the axis is rebuilt for the short range
        h.pager.SetPageSize(100);
        h.panel->refresh();
        QCOMPARE(h.panel->Series1()->count(), 100);
        QCOMPARE(h.xRange(), std::make_pair(49901.0, 50000.0));
        QCOMPARE(h.panel->Series1()->at(0), QPointF(49901, 49901 % 7));
    }

    void grabsTheChartWithoutTheToolbar() {
        Harness h;
        h.add(20, 10);
        const QPixmap pm = h.panel->grabChart();
        QCOMPARE(pm.size(), QSize(321, 394));
        QVERIFY(h.panel->chartSurface()->findChild<QToolButton*>() == nullptr);
    }
};

QTEST_MAIN(ChartPanelTest)
#include "chart_panel_test.moc"
