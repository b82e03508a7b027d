#include "app/chart_tool_pictures.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kq::app {

QIcon chartToolIcon(ChartTool tool, int size) {
    // Drawn at the screen's pixel density, so a scaled screen shows it sharp.
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap pm(QSize(size, size) * ratio);
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 128));
    const double s = size;
    auto triangle = [&](double x, bool right) {
        QPainterPath path;
        if (right) {
            path.moveTo(x, s * 0.25);
            path.lineTo(x + s * 0.3, s * 0.5);
            path.lineTo(x, s * 0.75);
        } else {
            path.moveTo(x + s * 0.3, s * 0.25);
            path.lineTo(x, s * 0.5);
            path.lineTo(x + s * 0.3, s * 0.75);
        }
        path.closeSubpath();
        p.drawPath(path);
    };
    switch (tool) {
    case ChartTool::First:
        p.drawRect(QRectF(s * 0.22, s * 0.25, s * 0.1, s * 0.5));
        triangle(s * 0.36, false);
        break;
    case ChartTool::Previous:
        triangle(s * 0.33, false);
        break;
    case ChartTool::Next:
        triangle(s * 0.37, true);
        break;
    case ChartTool::Last:
        triangle(s * 0.34, true);
        p.drawRect(QRectF(s * 0.68, s * 0.25, s * 0.1, s * 0.5));
        break;
    case ChartTool::Enlarge:
    case ChartTool::Restore: {
        // a framed chart with arrows pointing out of (enlarge) or into (restore) its corners
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0, 64, 128), 1.5));
        p.drawRect(QRectF(s * 0.12, s * 0.12, s * 0.76, s * 0.76));
        p.setPen(QPen(QColor(0, 128, 255), 1.5));
        p.drawPolyline(QPolygonF({QPointF(s * 0.2, s * 0.75), QPointF(s * 0.4, s * 0.45),
                                  QPointF(s * 0.55, s * 0.6), QPointF(s * 0.8, s * 0.25)}));
        p.setPen(QPen(QColor(200, 0, 0), 2));
        const bool out = tool == ChartTool::Enlarge;
        const double a = out ? 0.02 : 0.2, b = out ? 0.2 : 0.02;
        p.drawLine(QPointF(s * (0.5 + a), s * (0.5 - a)), QPointF(s * (0.5 + b), s * (0.5 - b)));
        p.drawLine(QPointF(s * (0.5 - a), s * (0.5 + a)), QPointF(s * (0.5 - b), s * (0.5 + b)));
        break;
    }
    }
    return QIcon(pm);
}

} // namespace kq::app
