#include "app/trend_plot.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace kq::app {

namespace {

// The title line of two spaces above the plot.
constexpr int kTitleHeight = 24;
constexpr int kMajorTick = 4;
constexpr int kMinorTick = 2;
// A value far outside the axis still draws as a steep line; beyond this it would overflow the
// rasteriser's fixed-point coordinates.
constexpr double kFarPixel = 1e6;

// A step of 1, 2 or 5 times a power of ten that cuts `span` into about `parts` pieces.
double niceStep(double span, int parts) {
    if (!(span > 0) || !std::isfinite(span))
        return 1;
    const double raw = span / parts;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / power;
    return (f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10) * power;
}

struct TickValue {
    double value;
    bool major;
};

// Ticks at whole multiples of `step` inside [min, max], and `minor` ticks between each two.
std::vector<TickValue> tickValues(double min, double max, double step, int minor) {
    std::vector<TickValue> out;
    const double slack = step * 1e-9;
    const double first = std::ceil((min - slack) / step);
    const double last = std::floor((max + slack) / step);
    if (!(last - first < 1000))
        return out;
    for (double k = first - 1; k <= last; ++k) {
        for (int j = 0; j <= minor; ++j) {
            const double v = k * step + j * step / (minor + 1);
            if (v >= min - slack && v <= max + slack && (j > 0 || k >= first))
                out.push_back({v, j == 0});
        }
    }
    return out;
}

int decimalsFor(double step) {
    return step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step)));
}

} // namespace

TrendPlot::TrendPlot(QWidget* parent) : QWidget(parent) {
    // Every pixel is painted here: nothing behind needs drawing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_labelFont = font();
    m_labelFont.setPixelSize(10);
}

void TrendPlot::setXWindow(double min, double max) {
    if (min == m_xMin && max == m_xMax)
        return;
    m_xMin = min;
    m_xMax = max;
    axesChanged();
}

void TrendPlot::setValueSpan(double min, double max) {
    if (!(min <= max) || (min == m_yMin && max == m_yMax))
        return;
    m_yMin = min;
    m_yMax = max;
    axesChanged();
}

void TrendPlot::setFill(bool show) {
    if (show == m_fill)
        return;
    m_fill = show;
    damage(plotRect());
}

void TrendPlot::setPoints(QList<QPointF> points) {
    m_points = std::move(points);
    damage(plotRect());
}

void TrendPlot::appendPoints(const QList<QPointF>& points) {
    if (points.isEmpty())
        return;
    const QRect plot = plotRect();
    // The strip from the last point shown (whose area edge goes) to the newest one.
    double from = toPixel(m_points.isEmpty() ? points.front() : m_points.back()).x();
    double to = toPixel(points.back()).x();
    m_points += points;
    from = std::clamp(from, double(plot.left()), double(plot.right()));
    to = std::clamp(to, double(plot.left()), double(plot.right()));
    const int left = static_cast<int>(std::floor(std::min(from, to))) - 1;
    const int right = static_cast<int>(std::ceil(std::max(from, to))) + 1;
    damage(QRect(left, plot.top(), right - left + 1, plot.height()) & plot);
}

QRect TrendPlot::plotRect() {
    layOut();
    return m_plot;
}

const std::vector<TrendPlot::Label>& TrendPlot::valueLabels() {
    layOut();
    return m_yLabels;
}

const std::vector<TrendPlot::Label>& TrendPlot::xLabels() {
    layOut();
    return m_xLabels;
}

void TrendPlot::axesChanged() {
    m_layoutDirty = true;
    m_layerDirty = true;
    // Above the top value label there is only the background, which no axis changes.
    const int top = kMarginTop + kTitleHeight - QFontMetrics(m_labelFont).height() - 1;
    damage(QRect(0, top, width(), height() - top));
}

void TrendPlot::damage(const QRect& r) {
    m_lastDamage = r;
    if (!r.isEmpty())
        update(r);
}

void TrendPlot::layOut() {
    if (!m_layoutDirty)
        return;
    m_layoutDirty = false;
    const QFontMetricsF fm(m_labelFont);
    const int lineHeight = QFontMetrics(m_labelFont).height();

    // The value labels first: the widest of them sets where the plot begins, so that none is
    // ever cut short.
    const double ySpan = m_yMax > m_yMin ? m_yMax - m_yMin : 1;
    const double yStep = niceStep(ySpan, 4);
    const int yDecimals = decimalsFor(yStep);
    const std::vector<TickValue> yTicks = tickValues(m_yMin, m_yMin + ySpan, yStep, kMinorTicks);
    std::vector<QString> yTexts;
    double yWidest = 0;
    for (const TickValue& t : yTicks) {
        if (!t.major)
            continue;
        yTexts.push_back(QString::number(t.value, 'f', yDecimals));
        yWidest = std::max(yWidest, advance(yTexts.back()));
    }
    const double xSpan = m_xMax > m_xMin ? m_xMax - m_xMin : 1;
    const double xStep = std::max(1.0, niceStep(xSpan, 5));
    const int xDecimals = decimalsFor(xStep);
    const std::vector<TickValue> xTicks = tickValues(m_xMin, m_xMin + xSpan, xStep, 0);
    std::vector<QString> xTexts;
    double xWidest = 0;
    for (const TickValue& t : xTicks) {
        xTexts.push_back(QString::number(t.value, 'f', xDecimals));
        xWidest = std::max(xWidest, advance(xTexts.back()));
    }

    const int left = static_cast<int>(std::lround(kMarginLeft + yWidest + 7.6));
    const int right = width() - kMarginRight - 1 - static_cast<int>(std::ceil(xWidest / 2));
    const int top = kMarginTop + kTitleHeight;
    const int bottom = height() - kMarginBottom - lineHeight - 8;
    m_plot = QRect(QPoint(left, top), QPoint(std::max(left + 1, right), std::max(top + 1, bottom)));

    // Text sits on its line as a label box centred on the tick would place it.
    const double baselineOffset = (lineHeight - fm.ascent() - fm.descent()) / 2 + fm.ascent();
    auto label = [&fm, baselineOffset](const QString& text, double x, int top, double width) {
        const QPointF at(x, top + baselineOffset);
        const QRect box =
            QRectF(x, at.y() - fm.ascent(), width, fm.ascent() + fm.descent()).toAlignedRect();
        return Label{text, at, box};
    };
    m_yTicks.clear();
    m_yLabels.clear();
    std::size_t text = 0;
    for (const TickValue& t : yTicks) {
        // Rows round down, as the curve's do.
        const int at = static_cast<int>(std::floor(toPixel(QPointF(m_xMin, t.value)).y() + 1e-6));
        m_yTicks.push_back({at, t.major});
        if (!t.major)
            continue;
        const QString& s = yTexts[text++];
        const double w = advance(s);
        m_yLabels.push_back(
            label(s, std::max<double>(kMarginLeft, left - 5 - w), at - lineHeight / 2 - 1, w));
    }
    m_xTicks.clear();
    m_xLabels.clear();
    for (std::size_t i = 0; i < xTicks.size(); ++i) {
        const int at = static_cast<int>(std::lround(toPixel(QPointF(xTicks[i].value, m_yMin)).x()));
        m_xTicks.push_back({at, true});
        const double w = advance(xTexts[i]);
        const int box = static_cast<int>(std::ceil(w)) + 2;
        const int x = std::clamp(at - box / 2, 0, std::max(0, width() - box));
        m_xLabels.push_back(label(xTexts[i], x + (box - w) / 2, bottom + 5, w));
    }
}

double TrendPlot::advance(const QString& text) {
    auto it = m_advances.constFind(text);
    if (it != m_advances.cend())
        return *it;
    if (m_advances.size() > 512)
        m_advances.clear();
    const double w = QFontMetricsF(m_labelFont).horizontalAdvance(text);
    m_advances.insert(text, w);
    return w;
}

QPointF TrendPlot::toPixel(QPointF point) const {
    const double xSpan = m_xMax > m_xMin ? m_xMax - m_xMin : 1;
    const double ySpan = m_yMax > m_yMin ? m_yMax - m_yMin : 1;
    double x = m_plot.left() + (point.x() - m_xMin) * (m_plot.right() - m_plot.left()) / xSpan;
    double y = m_plot.bottom() - (point.y() - m_yMin) * (m_plot.bottom() - m_plot.top()) / ySpan;
    if (std::isnan(y))
        y = m_plot.bottom();
    x = std::clamp(x, -kFarPixel, kFarPixel);
    y = std::clamp(y, -kFarPixel, kFarPixel);
    return {x, y};
}

void TrendPlot::buildLayer() {
    ++m_layerBuilds;
    m_layerDirty = false;
    const qreal ratio = devicePixelRatioF();
    if (m_layer.size() != size() * ratio) {
        m_layer = QImage(size() * ratio, QImage::Format_RGB32);
        m_layer.setDevicePixelRatio(ratio);
    }
    QPainter p(&m_layer);
    p.fillRect(rect(), kPanel);
    QLinearGradient background(0, 0, 0, height());
    background.setColorAt(0, kBackgroundTop);
    background.setColorAt(1, kBackgroundBottom);
    p.fillRect(rect(), background);
    const QRect& plot = m_plot;
    p.fillRect(plot.adjusted(1, 0, 0, 0), Qt::white);

    // A dashed line is drawn a pixel at a time; the same row copied is a block move.
    if (m_dashRow.width() != plot.width()) {
        m_dashRow = QImage(plot.width(), 1, QImage::Format_RGB32);
        for (int x = 0; x < plot.width(); ++x)
            m_dashRow.setPixel(x, 0, (x % 6 < 4 ? kGrid : QColor(Qt::white)).rgb());
    }
    const QPen major(kGrid, 0);
    p.setPen(major);
    for (const Tick& t : m_yTicks) {
        if (t.at == plot.bottom())
            continue;
        if (t.major)
            p.drawLine(plot.left() + 1, t.at, plot.right(), t.at);
        else
            p.drawImage(plot.left(), t.at, m_dashRow);
    }
    for (const Tick& t : m_xTicks) {
        if (t.at > plot.left())
            p.drawLine(t.at, plot.top(), t.at, plot.bottom() - 1);
    }

    p.setFont(m_labelFont);
    p.setPen(kLabel);
    for (const std::vector<Label>* labels : {&m_yLabels, &m_xLabels}) {
        for (const Label& l : *labels)
            p.drawText(l.baseline, l.text);
    }
}

void TrendPlot::drawSeries(QPainter& p, const QRect& clip) {
    if (m_points.isEmpty())
        return;
    const QRect area = clip & m_plot;
    if (area.isEmpty())
        return;
    p.setClipRect(area);
    // Only the points whose lines cross the strip being painted, and one on each side.
    const double xSpan = m_xMax > m_xMin ? m_xMax - m_xMin : 1;
    const double perPixel = xSpan / std::max(1, m_plot.right() - m_plot.left());
    const double fromX = m_xMin + (area.left() - 1 - m_plot.left()) * perPixel;
    const double toX = m_xMin + (area.right() + 1 - m_plot.left()) * perPixel;
    auto byX = [](const QPointF& a, double x) { return a.x() < x; };
    auto first = std::lower_bound(m_points.cbegin(), m_points.cend(), fromX, byX);
    if (first != m_points.cbegin())
        --first;
    auto last = std::lower_bound(first, m_points.cend(), toX, byX);
    if (last != m_points.cend())
        ++last;
    const bool fromStart = first == m_points.cbegin();
    const bool toEnd = last == m_points.cend();

    QPolygonF line;
    line.reserve(static_cast<qsizetype>(last - first) + 2);
    for (auto it = first; it != last; ++it)
        line.append(toPixel(*it));
    if (m_fill) {
        // The area reaches down to the bottom of the value axis; its outline shows on the ends
        // of the curve, the line covers the rest.
        const double base = m_plot.bottom();
        fillUnder(p, line, area);
        p.setPen(QPen(kAreaPen, 0));
        if (fromStart)
            p.drawLine(QPointF(line.front().x(), base), line.front());
        if (toEnd)
            p.drawLine(QPointF(line.back().x(), base), line.back());
    }
    p.setPen(QPen(kLinePen, 0));
    p.drawPolyline(line);
    p.setClipping(false);
}

void TrendPlot::fillUnder(QPainter& p, const QPolygonF& line, const QRect& area) {
    const int bottom = std::min(m_plot.bottom() - 1, area.bottom());
    if (m_frame.devicePixelRatio() != 1) {
        // Scaled pixels: the painter fills the shape.
        QPolygonF shape = line;
        shape.append(QPointF(line.back().x(), m_plot.bottom()));
        shape.append(QPointF(line.front().x(), m_plot.bottom()));
        p.setPen(Qt::NoPen);
        p.setBrush(kAreaBrush);
        p.drawPolygon(shape);
        return;
    }
    // A column at a time from the curve down, written straight into the frame: a tenth of what
    // filling it as a polygon costs.
    const int from = std::max(area.left(), static_cast<int>(std::lround(line.front().x())));
    const int to = std::min(area.right(), static_cast<int>(std::lround(line.back().x())));
    const QRgb colour = kAreaBrush.rgb();
    const qsizetype stride = m_frame.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    QRgb* const pixels = reinterpret_cast<QRgb*>(m_frame.bits());
    qsizetype segment = 0;
    for (int c = from; c <= to; ++c) {
        while (segment + 2 < line.size() && line[segment + 1].x() < c)
            ++segment;
        const QPointF a = line[segment];
        const QPointF b = line[std::min(segment + 1, line.size() - 1)];
        const double t = b.x() > a.x() ? std::clamp((c - a.x()) / (b.x() - a.x()), 0.0, 1.0) : 1;
        const double y = a.y() + (b.y() - a.y()) * t;
        const int top = std::max(area.top(), static_cast<int>(std::lround(y)));
        QRgb* at = pixels + static_cast<qsizetype>(top) * stride + c;
        for (int row = top; row <= bottom; ++row, at += stride)
            *at = colour;
    }
}

void TrendPlot::drawAxes(QPainter& p, const QRect& clip) const {
    const QRect& plot = m_plot;
    // The axes lie over the series, as the curve's ends reach them.
    if (clip.bottom() >= plot.bottom()) {
        p.setPen(QPen(kBottomAxisLine, 0));
        p.drawLine(plot.left(), plot.bottom(), plot.right(), plot.bottom());
        for (const Tick& t : m_xTicks)
            p.drawLine(t.at, plot.bottom() + 1, t.at, plot.bottom() + kMajorTick);
    }
    if (clip.left() <= plot.left()) {
        p.setPen(QPen(kValueAxisLine, 0, Qt::DashLine));
        p.drawLine(plot.left(), plot.top(), plot.left(), plot.bottom());
        p.setPen(QPen(kValueAxisLine, 0));
        for (const Tick& t : m_yTicks)
            p.drawLine(plot.left() - (t.major ? kMajorTick : kMinorTick), t.at, plot.left(), t.at);
    }
}

void TrendPlot::paintEvent(QPaintEvent* event) {
    const QRect r = event->rect() & rect();
    if (r.isEmpty())
        return;
    layOut();
    const qreal ratio = devicePixelRatioF();
    if (m_layerDirty || m_layer.size() != size() * ratio)
        buildLayer();
    if (m_frame.size() != m_layer.size()) {
        m_frame = QImage(m_layer.size(), m_layer.format());
        m_frame.setDevicePixelRatio(ratio);
    }
    // The frame is the picture behind the series with the series and axes drawn over it, made
    // afresh only where the widget is painted.
    {
        QPainter f(&m_frame);
        f.setCompositionMode(QPainter::CompositionMode_Source);
        f.drawImage(r, m_layer, QRectF(QPointF(r.topLeft()) * ratio, QSizeF(r.size()) * ratio));
        f.setCompositionMode(QPainter::CompositionMode_SourceOver);
        drawSeries(f, r);
        drawAxes(f, r);
    }
    QPainter p(this);
    p.drawImage(r, m_frame, QRectF(QPointF(r.topLeft()) * ratio, QSizeF(r.size()) * ratio));
}

void TrendPlot::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_layoutDirty = true;
    m_layerDirty = true;
}

void TrendPlot::wheelEvent(QWheelEvent* event) {
    // The wheel neither scrolls nor zooms the chart, nor reaches the window behind it.
    event->accept();
}

void TrendPlot::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_labelFont = font();
        m_labelFont.setPixelSize(10);
        m_advances.clear();
        axesChanged();
    }
}

} // namespace kq::app
