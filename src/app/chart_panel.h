#pragma once

#include <QPixmap>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <optional>

#include "record/chart_value_axis.h"

class QAction;
class QAbstractButton;
class QCheckBox;
class QFrame;
class QLineEdit;
class QTimer;
class QToolButton;

namespace kq::record {
class TChartControl;
}

namespace kq::app {

class TrendPlot;

// The trend chart Chtshow (321 x 394) with its toolbar on the top edge. It draws what the pager
// holds, feeding the plot only the points of the x window, so a new point and a repaint
// cost the same at ten million points as at a hundred.
class ChartPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 321;
    static constexpr int kHeight = 394;
    static constexpr int kPageLengthDelayMs = 1000;

    explicit ChartPanel(record::TChartControl& pager, QWidget* parent = nullptr);

    // Brings the chart, its axes and the page number up to the pager; returns at once when the
    // pager has not changed since the last call.
    void refresh();

    // Its controls in Tab order: the toolbar left to right, then the chart, which pages with
    // PageUp, PageDown, Home and End.
    QList<QWidget*> focusChain() const;

    // The chart alone, without the toolbar, for the bitmap export.
    QWidget* chartSurface() const;
    QPixmap grabChart();

    // For the window to connect: New of the log, Save of the chart picture.
    QToolButton* BtNew() const { return m_new; }
    QToolButton* BtSave() const { return m_save; }
    // The "Fill" item of the "Graphic" menu: its triggers toggle the fill, and its check mark is
    // set by FillClick.
    void attachFillAction(QAction* fill);

    QCheckBox* BtFill() const { return m_fill; }
    QLineEdit* Maxrecord() const { return m_pageLength; }
    QToolButton* Bt10() const { return m_pageNo; }
    QTimer* Timer2() const { return m_timer2; }
    // The drawing of the chart: the area (Series2) under the line (Series1), and the axes.
    TrendPlot* plot() const { return m_plot; }
    bool enlarged() const { return m_enlarged; }

    // Enlarged place in a client area of the given size: all of it below the top row of
    // buttons.
    static QRect enlargedGeometry(QSize clientSize);

public slots:
    // The page buttons and Graphic > First, Previous, Next, Last: which page the chart shows.
    void BtFirstClick();
    void BTPreviousClick();
    void BtNextClick();
    void BTlastClick();
    // The "Fill" check box: shows or hides the filled area under the line.
    void btFillClick();
    // Graphic > Fill: toggles the check box, and the item's check mark with it.
    void FillClick(QAction* fill);
    // The page-length edit: a new length applies a second after the typing stops.
    void MaxrecordChange();
    // Applies the page length typed; one that is no number or below 1 becomes 100.
    void Timer2Timer();
    // The magnifier: the chart fills the client area below the top row, or goes back.
    void TbFdClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildPlot();
    void buildToolbar();
    void feedSeries(bool replaceAll);
    record::ValueSpan valueAxis();

    record::TChartControl& m_pager;
    TrendPlot* m_plot = nullptr;

    QFrame* m_bevel = nullptr;
    QCheckBox* m_fill = nullptr;
    QLineEdit* m_pageLength = nullptr;
    QToolButton* m_new = nullptr;
    QToolButton* m_save = nullptr;
    QToolButton* m_first = nullptr;
    QToolButton* m_previous = nullptr;
    QToolButton* m_pageNo = nullptr;
    QToolButton* m_next = nullptr;
    QToolButton* m_last = nullptr;
    QToolButton* m_enlarge = nullptr;
    QToolButton* m_restore = nullptr;
    QTimer* m_timer2 = nullptr;

    // What the plot holds now: the x window they were fed for and how far points were fed.
    bool m_seenAny = false;
    std::uint64_t m_seenRevision = 0;
    std::int64_t m_fedXMin = 0;
    std::int64_t m_fedXMax = -1;
    std::int64_t m_fedUpTo = 0; // points with x below this are in the series (inside the window)
    bool m_fedDecimated = false;

    // The extremes of the older page last fitted, and its x window.
    std::optional<record::ValueSpan> m_fitted;
    std::int64_t m_fittedXMin = 0;
    std::int64_t m_fittedXMax = -1;

    bool m_enlarged = false;
    QRect m_normalGeometry;
};

} // namespace kq::app
