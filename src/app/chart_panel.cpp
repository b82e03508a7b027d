#include "app/chart_panel.h"

#include "app/chart_tool_pictures.h"
#include "app/log_strip.h"
#include "decode/number_text.h"
#include "record/chart_pager.h"
#include "record/chart_thinning.h"
#include "record/chart_value_axis.h"

#include <QAction>
#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLineSeries>
#include <QTimer>
#include <QToolButton>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <vector>

namespace kq::app {

namespace {

constexpr int kToolbarHeight = 26;

QToolButton* addButton(QWidget* parent, const char* name, const QString& hint, QRect place) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setToolTip(hint);
    b->setGeometry(place);
    // Reached with Tab and pressed with Space like any button; the picture buttons are named
    // for a screen reader by their hint.
    b->setFocusPolicy(Qt::TabFocus);
    b->setAccessibleName(hint);
    return b;
}

// A step of 1, 2 or 5 times a power of ten that cuts `span` into about `parts` pieces.
double niceStep(double span, int parts) {
    if (!(span > 0) || !std::isfinite(span))
        return 1;
    const double raw = span / parts;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / power;
    return (f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10) * power;
}

// Sets the range with ticks at round steps. The axis builds a tick item per step at once, so a
// coarser step goes in before a wider range and a finer step only after a narrower one.
void setRangeAndTicks(QValueAxis* axis, double min, double max, int parts, double minStep) {
    const double step = std::max(minStep, niceStep(max - min, parts));
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    if (step >= axis->tickInterval()) {
        axis->setTickInterval(step);
        axis->setRange(min, max);
    } else {
        axis->setRange(min, max);
        axis->setTickInterval(step);
    }
    const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step)));
    axis->setLabelFormat(QStringLiteral("%.") + QString::number(decimals) + QStringLiteral("f"));
}

// The same pen one device pixel wide. The chart is drawn without antialiasing, so a hairline
// lights the same pixels as a pen of width 1; but a line item with a wide pen works out its
// outline each time the scene asks for its bounds, many times a paint.
QPen hairline(QPen pen) {
    pen.setWidth(0);
    return pen;
}

} // namespace

ChartPanel::ChartPanel(record::TChartControl& pager, QWidget* parent)
    : QWidget(parent), m_pager(pager) {
    setObjectName(QStringLiteral("Chtshow"));
    resize(kWidth, kHeight);
    buildChart();
    buildToolbar();
    refresh();
}

void ChartPanel::buildChart() {
    m_chart = new QChart();
    m_chart->setTitle(QStringLiteral("  "));
    m_chart->legend()->hide();
    m_chart->setBackgroundRoundness(0);
    m_chart->layout()->setContentsMargins(0, 0, 0, 0);
    m_chart->setMargins(QMargins(1, kToolbarHeight - 12, 10, 1));
    QLinearGradient background(0, 0, 0, 1);
    background.setCoordinateMode(QGradient::ObjectBoundingMode);
    background.setColorAt(0, QColor(192, 192, 192));
    background.setColorAt(1, Qt::white);
    m_chart->setBackgroundBrush(background);
    m_chart->setPlotAreaBackgroundBrush(Qt::white);
    m_chart->setPlotAreaBackgroundVisible(true);

    // Series2, the filled area, comes first in the chart's series list; Series1 is the line.
    // The area's outline lives and dies with the area.
    m_area = new QAreaSeries();
    m_areaUpper = new QLineSeries(m_area);
    m_area->setUpperSeries(m_areaUpper);
    m_area->setObjectName(QStringLiteral("Series2"));
    m_area->setName(QStringLiteral("Series2"));
    m_area->setBrush(QColor(255, 255, 128));
    m_area->setPen(QPen(QColor(0, 128, 255), 1));
    m_line = new QLineSeries();
    m_line->setObjectName(QStringLiteral("Series1"));
    m_line->setName(QStringLiteral("Series1"));
    m_line->setPen(QPen(QColor(128, 255, 0), 1));
    m_chart->addSeries(m_area);
    m_chart->addSeries(m_line);

    m_xAxis = new QValueAxis();
    m_yAxis = new QValueAxis();
    m_yAxis->setLinePen(QPen(QColor(0, 64, 128), 1, Qt::DashLine));
    m_yAxis->setMinorTickCount(4);
    QFont axisFont = m_xAxis->labelsFont();
    axisFont.setPixelSize(10);
    m_xAxis->setLabelsFont(axisFont);
    m_yAxis->setLabelsFont(axisFont);
    m_chart->addAxis(m_xAxis, Qt::AlignBottom);
    m_chart->addAxis(m_yAxis, Qt::AlignLeft);
    for (QValueAxis* axis : {m_xAxis, m_yAxis}) {
        axis->setGridLinePen(hairline(axis->gridLinePen()));
        axis->setMinorGridLinePen(hairline(axis->minorGridLinePen()));
        axis->setLinePen(hairline(axis->linePen()));
    }
    for (auto* series :
         {static_cast<QAbstractSeries*>(m_area), static_cast<QAbstractSeries*>(m_line)}) {
        series->attachAxis(m_xAxis);
        series->attachAxis(m_yAxis);
    }

    m_view = new QChartView(m_chart, this);
    m_view->setObjectName(QStringLiteral("ChtshowView"));
    m_view->setGeometry(rect());
    m_view->setRubberBand(QChartView::NoRubberBand);
    m_view->setFrameShape(QFrame::NoFrame);
    m_view->setBackgroundBrush(QColor(192, 221, 248));
    // With the focus, PageUp / PageDown / Home / End page through the readings.
    m_view->setFocusPolicy(Qt::StrongFocus);
    m_view->setAccessibleName(QStringLiteral("Trend chart"));
    m_view->installEventFilter(this);
    m_view->viewport()->installEventFilter(this);
    // Every axis change moves most of the chart's hundred items; walking them when painting
    // costs less than keeping a spatial index of them up to date.
    m_view->scene()->setItemIndexMethod(QGraphicsScene::NoIndex);
}

void ChartPanel::buildToolbar() {
    const QColor silver(192, 192, 192);

    m_bevel = new QFrame(this);
    m_bevel->setObjectName(QStringLiteral("Bevel1"));
    m_bevel->setGeometry(2, 2, 40, 20);
    m_bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
    m_fill = new QCheckBox(QStringLiteral("Fill"), this);
    m_fill->setObjectName(QStringLiteral("BtFill"));
    m_fill->setToolTip(QStringLiteral("Graphic Fill"));
    m_fill->setGeometry(5, 5, 36, 17);
    // The caption must fit 36 pixels beside its box, whatever face the window uses.
    QFont fillFont = m_fill->font();
    fillFont.setPixelSize(11);
    fillFont.setBold(false);
    m_fill->setFont(fillFont);
    m_fill->setChecked(m_pager.fill());
    m_fill->setAutoFillBackground(true);
    QPalette fillPalette = m_fill->palette();
    fillPalette.setColor(QPalette::Window, silver);
    m_fill->setPalette(fillPalette);

    m_pageLength = new QLineEdit(QString::number(m_pager.pageSize()), this);
    m_pageLength->setObjectName(QStringLiteral("Maxrecord"));
    m_pageLength->setGeometry(48, 3, 41, 21);
    QPalette editPalette = m_pageLength->palette();
    editPalette.setColor(QPalette::Base, silver);
    m_pageLength->setPalette(editPalette);
    installDigitKeyFilter(m_pageLength);

    m_new = addButton(this, "BtNew", QStringLiteral("New"), QRect(91, 3, 35, 21));
    m_new->setText(QStringLiteral("New"));
    m_save = addButton(this, "BtSave", QStringLiteral("Save"), QRect(125, 3, 35, 21));
    m_save->setText(QStringLiteral("Save"));
    m_first = addButton(this, "BtFirst", QStringLiteral("First"), QRect(163, 3, 25, 21));
    m_first->setIcon(chartToolIcon(ChartTool::First, 16));
    m_previous = addButton(this, "BTPrevious", QStringLiteral("Previous"), QRect(187, 3, 25, 21));
    m_previous->setIcon(chartToolIcon(ChartTool::Previous, 16));
    m_pageNo = addButton(this, "Bt10", QStringLiteral("Page No."), QRect(211, 3, 25, 21));
    m_pageNo->setText(QString::number(m_pager.curPage()));
    m_pageNo->setFocusPolicy(Qt::NoFocus); // shows the page number, does nothing
    QPalette pagePalette = m_pageNo->palette();
    pagePalette.setColor(QPalette::ButtonText, Qt::blue);
    m_pageNo->setPalette(pagePalette);
    m_next = addButton(this, "BtNext", QStringLiteral("Next"), QRect(235, 2, 25, 22));
    m_next->setIcon(chartToolIcon(ChartTool::Next, 16));
    m_last = addButton(this, "BTlast", QStringLiteral("last"), QRect(259, 3, 25, 21));
    m_last->setIcon(chartToolIcon(ChartTool::Last, 16));
    m_enlarge = addButton(this, "TbFd", QStringLiteral("Graphic Enlarge"), QRect(288, 3, 25, 25));
    m_enlarge->setIcon(chartToolIcon(ChartTool::Enlarge, 22));
    m_enlarge->setIconSize(QSize(22, 22));
    m_enlarge->setAutoRaise(true);
    m_restore = addButton(this, "TbSx", QStringLiteral("Graphic Restore"), QRect(288, 3, 25, 25));
    m_restore->setIcon(chartToolIcon(ChartTool::Restore, 22));
    m_restore->setIconSize(QSize(22, 22));
    m_restore->setAutoRaise(true);
    m_restore->hide();

    m_timer2 = new QTimer(this);
    m_timer2->setObjectName(QStringLiteral("Timer2"));
    m_timer2->setInterval(kPageLengthDelayMs);

    connect(m_first, &QToolButton::clicked, this, &ChartPanel::BtFirstClick);
    connect(m_previous, &QToolButton::clicked, this, &ChartPanel::BTPreviousClick);
    connect(m_next, &QToolButton::clicked, this, &ChartPanel::BtNextClick);
    connect(m_last, &QToolButton::clicked, this, &ChartPanel::BTlastClick);
    connect(m_fill, &QCheckBox::toggled, this, &ChartPanel::btFillClick);
    connect(m_pageLength, &QLineEdit::textChanged, this, &ChartPanel::MaxrecordChange);
    connect(m_timer2, &QTimer::timeout, this, &ChartPanel::Timer2Timer);
    connect(m_enlarge, &QToolButton::clicked, this, &ChartPanel::TbFdClick);
    connect(m_restore, &QToolButton::clicked, this, &ChartPanel::TbFdClick);
}

void ChartPanel::refresh() {
    if (m_seenAny && m_pager.revision() == m_seenRevision)
        return;
    m_seenAny = true;
    m_seenRevision = m_pager.revision();

    // A page of one point has no width; half a step on each side keeps that point in view.
    const bool single = m_pager.xMax() <= m_pager.xMin();
    const double xMin = static_cast<double>(m_pager.xMin()) - (single ? 0.5 : 0);
    const double xMax = static_cast<double>(m_pager.xMax()) + (single ? 0.5 : 0);
    if (m_xAxis->min() != xMin || m_xAxis->max() != xMax) {
        setRangeAndTicks(m_xAxis, xMin, xMax, 5, 1);
    }
    const record::ValueSpan y = valueAxis();
    if (y.min <= y.max && (m_yAxis->min() != y.min || m_yAxis->max() != y.max)) {
        setRangeAndTicks(m_yAxis, y.min, y.max, 4, 0);
    }
    // New ticks are labelled within the axis's old width (a wider label shows as "2..." or not
    // at all) and the chart fits its axes to them only on a later pass of the event loop. Fitting
    // them now keeps a paint or a grab in between from showing those labels. A chart not yet
    // shown has no size of its own to fit them to.
    if (m_view->isVisible())
        m_chart->layout()->activate();
    m_area->setVisible(m_pager.fill());
    m_pageNo->setText(QString::number(m_pager.curPage()));
    feedSeries(false);
}

record::ValueSpan ChartPanel::valueAxis() {
    const record::ValueSpan newest{m_pager.yAxisMin(), m_pager.yAxisMax()};
    const std::int64_t last = static_cast<std::int64_t>(m_pager.size()) - 1;
    const bool live = m_pager.xMax() >= last;
    if (live)
        return record::valueAxisForPage(true, newest, std::nullopt);
    // An older page's points never change: their extremes are found once per page.
    if (!m_fitted || m_fittedXMin != m_pager.xMin() || m_fittedXMax != m_pager.xMax()) {
        m_fitted = record::pointsSpan(m_pager, m_pager.xMin(), m_pager.xMax());
        m_fittedXMin = m_pager.xMin();
        m_fittedXMax = m_pager.xMax();
    }
    return record::valueAxisForPage(false, newest, m_fitted);
}

QList<QWidget*> ChartPanel::focusChain() const {
    return {m_fill, m_pageLength, m_new,     m_save,    m_first, m_previous,
            m_next, m_last,       m_enlarge, m_restore, m_view};
}

void ChartPanel::feedSeries(bool replaceAll) {
    const std::int64_t xMin = m_pager.xMin();
    const std::int64_t xMax = m_pager.xMax();
    const std::int64_t last = static_cast<std::int64_t>(m_pager.size()) - 1;
    const std::int64_t from = std::max<std::int64_t>(xMin, 0);
    const std::int64_t to = std::min(xMax, last);
    const std::int64_t count = to >= from ? to - from + 1 : 0;

    if (!replaceAll && !m_fedDecimated && xMin == m_fedXMin && xMax == m_fedXMax &&
        count <= record::kMaxFedPoints) {
        // The same window: only points that arrived inside it since the last feed are new.
        QList<QPointF> fresh;
        m_pager.forEachPoint(m_fedUpTo, to, [&fresh](std::int64_t x, double v) {
            fresh.append(QPointF(static_cast<double>(x), v));
        });
        m_fedUpTo = std::max(m_fedUpTo, to + 1);
        if (fresh.size() == 1) {
            m_areaUpper->append(fresh.front());
            m_line->append(fresh.front());
        } else if (!fresh.isEmpty()) {
            // A series lays itself out again for every point appended, but
            // only once for a replace: the points of a quarter second at 60
            // frames a second go in as one.
            QList<QPointF> all = m_line->points();
            all += fresh;
            m_areaUpper->replace(all);
            m_line->replace(all);
        }
        return;
    }

    m_fedDecimated = count > record::kMaxFedPoints;
    const std::vector<record::FedPoint> fed = record::thinnedPoints(m_pager.points(), from, to);
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(fed.size()));
    for (const record::FedPoint& p : fed)
        points.append(QPointF(static_cast<double>(p.x), p.value));
    m_areaUpper->replace(points);
    m_line->replace(points);
    m_fedXMin = xMin;
    m_fedXMax = xMax;
    m_fedUpTo = count > 0 ? to + 1 : from;
}

QWidget* ChartPanel::chartSurface() const {
    return m_view;
}

QPixmap ChartPanel::grabChart() {
    refresh();
    return m_view->grab();
}

void ChartPanel::attachFillAction(QAction* fill) {
    fill->setCheckable(true);
    fill->setChecked(m_fill->isChecked());
    connect(fill, &QAction::triggered, this, [this, fill] { FillClick(fill); });
}

void ChartPanel::BtFirstClick() {
    m_pager.FirstPage();
    refresh();
}

void ChartPanel::BTPreviousClick() {
    m_pager.PriorPage();
    refresh();
}

void ChartPanel::BtNextClick() {
    m_pager.NextPage();
    refresh();
}

void ChartPanel::BTlastClick() {
    m_pager.LastPage();
    refresh();
}

void ChartPanel::btFillClick() {
    m_pager.SetFill(m_fill->isChecked());
    refresh();
}

void ChartPanel::FillClick(QAction* fill) {
    // The menu toggles from the check box's state; setting the box runs btFillClick.
    const bool show = !m_fill->isChecked();
    if (fill)
        fill->setChecked(show);
    m_fill->setChecked(show);
}

void ChartPanel::MaxrecordChange() {
    m_timer2->start();
}

void ChartPanel::Timer2Timer() {
    // A page length of 0 is refused like a text that is no number.
    const auto n = decode::textToInt32(m_pageLength->text().toStdString());
    std::int32_t length = n.value_or(0);
    if (length < 1) {
        m_pageLength->setText(QStringLiteral("100"));
        m_pageLength->setSelection(0, 3);
        length = 100;
    }
    m_pager.SetPageSize(length);
    refresh();
    m_timer2->stop();
}

QRect ChartPanel::enlargedGeometry(QSize clientSize) {
    // Everything below the top row of buttons, to the edges: no strip of the grid or of the
    // limit panel is left beside or below it.
    constexpr int kTopRow = 28;
    return QRect(0, kTopRow, clientSize.width(), clientSize.height() - kTopRow);
}

void ChartPanel::TbFdClick() {
    if (y() > 50) {
        m_enlarge->hide();
        m_restore->show();
        m_normalGeometry = geometry();
        setGeometry(enlargedGeometry(parentWidget() ? parentWidget()->size() : size()));
        raise();
        m_enlarged = true;
    } else {
        m_restore->hide();
        m_enlarge->show();
        setGeometry(m_normalGeometry);
        m_enlarged = false;
    }
}

void ChartPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_view)
        m_view->setGeometry(rect());
}

bool ChartPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched == m_view) {
        // The page keys move as the toolbar's buttons do.
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_PageUp:
            BTPreviousClick();
            return true;
        case Qt::Key_PageDown:
            BtNextClick();
            return true;
        case Qt::Key_Home:
            BtFirstClick();
            return true;
        case Qt::Key_End:
            BTlastClick();
            return true;
        default:
            break;
        }
    }
    // The wheel neither scrolls nor zooms the chart.
    if (event->type() == QEvent::Wheel && (watched == m_view || watched == m_view->viewport())) {
        event->accept();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kq::app
