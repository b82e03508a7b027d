#include "app/chart_panel.h"

#include "app/chart_tool_pictures.h"
#include "app/log_strip.h"
#include "app/trend_plot.h"
#include "decode/number_text.h"
#include "record/chart_pager.h"
#include "record/chart_thinning.h"
#include "record/chart_value_axis.h"

#include <QAction>
#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
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

} // namespace

ChartPanel::ChartPanel(record::TChartControl& pager, QWidget* parent)
    : QWidget(parent), m_pager(pager) {
    setObjectName(QStringLiteral("Chtshow"));
    resize(kWidth, kHeight);
    buildPlot();
    buildToolbar();
    refresh();
}

void ChartPanel::buildPlot() {
    m_plot = new TrendPlot(this);
    m_plot->setObjectName(QStringLiteral("ChtshowView"));
    m_plot->setGeometry(rect());
    // With the focus, PageUp / PageDown / Home / End page through the readings.
    m_plot->setFocusPolicy(Qt::StrongFocus);
    m_plot->setAccessibleName(QStringLiteral("Trend chart"));
    m_plot->installEventFilter(this);
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
    m_plot->setXWindow(static_cast<double>(m_pager.xMin()) - (single ? 0.5 : 0),
                       static_cast<double>(m_pager.xMax()) + (single ? 0.5 : 0));
    const record::ValueSpan y = valueAxis();
    m_plot->setValueSpan(y.min, y.max);
    m_plot->setFill(m_pager.fill());
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
            m_next, m_last,       m_enlarge, m_restore, m_plot};
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
        m_plot->appendPoints(fresh);
        return;
    }

    m_fedDecimated = count > record::kMaxFedPoints;
    const std::vector<record::FedPoint> fed = record::thinnedPoints(m_pager.points(), from, to);
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(fed.size()));
    for (const record::FedPoint& p : fed)
        points.append(QPointF(static_cast<double>(p.x), p.value));
    m_plot->setPoints(std::move(points));
    m_fedXMin = xMin;
    m_fedXMax = xMax;
    m_fedUpTo = count > 0 ? to + 1 : from;
}

QWidget* ChartPanel::chartSurface() const {
    return m_plot;
}

QPixmap ChartPanel::grabChart() {
    refresh();
    return m_plot->grab();
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
    if (m_plot)
        m_plot->setGeometry(rect());
}

bool ChartPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched == m_plot) {
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
    return QWidget::eventFilter(watched, event);
}

} // namespace kq::app
