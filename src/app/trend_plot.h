#pragma once

#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QPolygonF>
#include <QRect>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <vector>

namespace kq::app {

// The trend chart's drawing: the area under the readings and the line over them, on a grid with
// a bottom axis and a value axis. It is told the axes and the points and paints them itself.
// Everything but the series (background, grid, labels) is kept as a picture that is redrawn only
// when the size or an axis changes; a point added inside the window repaints only the strip
// between the last point and the new one.
class TrendPlot : public QWidget {
    Q_OBJECT
public:
    static inline const QColor kPanel{192, 221, 248};
    static inline const QColor kBackgroundTop{192, 192, 192};
    static inline const QColor kBackgroundBottom{255, 255, 255};
    static inline const QColor kAreaBrush{255, 255, 128};
    static inline const QColor kAreaPen{0, 128, 255};
    static inline const QColor kLinePen{128, 255, 0};
    static inline const QColor kValueAxisLine{0, 64, 128};
    static inline const QColor kBottomAxisLine{214, 214, 214};
    static inline const QColor kGrid{226, 226, 226};
    static inline const QColor kLabel{64, 64, 68};
    static constexpr int kMinorTicks = 4;

    // The chart's margins: left 1, right 10, bottom 1, and the toolbar's 14 pixels on top.
    static constexpr int kMarginLeft = 1;
    static constexpr int kMarginTop = 14;
    static constexpr int kMarginRight = 10;
    static constexpr int kMarginBottom = 1;

    struct Label {
        QString text;
        QPointF baseline; // where the text starts
        QRect box;        // the pixels its advance and line height cover
    };

    explicit TrendPlot(QWidget* parent = nullptr);

    void setXWindow(double min, double max);
    // A span with min above max is ignored; one without width is drawn one unit wide.
    void setValueSpan(double min, double max);
    void setFill(bool show);
    // Points in x order, replacing those shown / after those shown.
    void setPoints(QList<QPointF> points);
    void appendPoints(const QList<QPointF>& points);

    double xMin() const { return m_xMin; }
    double xMax() const { return m_xMax; }
    double yMin() const { return m_yMin; }
    double yMax() const { return m_yMax; }
    bool fillShown() const { return m_fill; }
    const QList<QPointF>& points() const { return m_points; }

    // The plot as the next paint lays it out: its rectangle (the value axis on its left column,
    // the bottom axis on its last row) and the axes' labels.
    QRect plotRect();
    const std::vector<Label>& valueLabels();
    const std::vector<Label>& xLabels();
    QFont labelFont() const { return m_labelFont; }
    // The part of the widget the last change asked to repaint, and how often the picture
    // behind the series was drawn.
    QRect lastDamage() const { return m_lastDamage; }
    std::uint64_t layerBuilds() const { return m_layerBuilds; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Tick {
        int at = 0; // pixel column or row
        bool major = false;
    };

    void layOut();
    double advance(const QString& text);
    void buildLayer();
    void drawSeries(QPainter& p, const QRect& clip);
    void fillUnder(QPainter& p, const QPolygonF& line, const QRect& area);
    void drawAxes(QPainter& p, const QRect& clip) const;
    QPointF toPixel(QPointF point) const;
    void axesChanged();
    void damage(const QRect& r);

    double m_xMin = 1;
    double m_xMax = 100;
    double m_yMin = -2000;
    double m_yMax = 2000;
    bool m_fill = true;
    QList<QPointF> m_points;
    QFont m_labelFont;
    // The labels' widths: the same few dozen texts come back whenever the range does.
    QHash<QString, double> m_advances;
    QImage m_dashRow; // one row of the dashed minor grid, as wide as the plot

    bool m_layoutDirty = true;
    bool m_layerDirty = true;
    QRect m_plot;
    std::vector<Tick> m_xTicks;
    std::vector<Tick> m_yTicks;
    std::vector<Label> m_xLabels;
    std::vector<Label> m_yLabels;
    QImage m_layer; // everything but the series and the axis lines
    QImage m_frame; // the layer with the series over it, as last painted
    QRect m_lastDamage;
    std::uint64_t m_layerBuilds = 0;
};

} // namespace kq::app
