#include "app/indicator_pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace kq::app {

void paintConnectionPicture(QPainter& painter, const QRectF& box, bool lit) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // drawn on a 30 x 28 grid, scaled to the box
    painter.translate(box.topLeft());
    painter.scale(box.width() / 30.0, box.height() / 28.0);

    const QPen outline(QColor(70, 70, 70), 1);

    // the cable from the meter's top into the side of the computer
    QPainterPath cable;
    cable.moveTo(25, 6);
    cable.cubicTo(25, 1, 22, 1, 19, 6);
    painter.setPen(QPen(QColor(60, 60, 60), 1.2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(cable);

    // computer: monitor, neck and foot
    painter.setPen(outline);
    painter.setBrush(QColor(205, 205, 200));
    painter.drawRoundedRect(QRectF(0.5, 3.5, 19, 14), 1.5, 1.5);
    painter.drawRect(QRectF(8, 17.5, 4, 2.5));
    painter.drawRoundedRect(QRectF(4.5, 20, 11, 2.5), 1, 1);
    QLinearGradient screen(0, 5, 0, 16);
    if (lit) {
        screen.setColorAt(0, QColor(140, 230, 255));
        screen.setColorAt(1, QColor(30, 150, 225));
    } else {
        screen.setColorAt(0, QColor(70, 76, 84));
        screen.setColorAt(1, QColor(36, 40, 46));
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(screen);
    painter.drawRect(QRectF(2.5, 5.5, 15, 10));

    // the hand-held meter: body, display and range knob
    painter.setPen(outline);
    painter.setBrush(QColor(245, 190, 50));
    painter.drawRoundedRect(QRectF(20.5, 6.5, 9, 21), 2, 2);
    painter.setBrush(lit ? QColor(205, 235, 150) : QColor(62, 68, 54));
    painter.drawRect(QRectF(22, 8.5, 6, 5));
    if (lit) {
        painter.setPen(QPen(QColor(30, 40, 20), 1));
        painter.drawLine(QPointF(23, 11), QPointF(27, 11));
    }
    painter.setPen(outline);
    painter.setBrush(QColor(60, 60, 60));
    painter.drawEllipse(QPointF(25, 20), 2.2, 2.2);
    painter.restore();
}

IndicatorPicture::IndicatorPicture(bool lit, QWidget* parent) : QWidget(parent), m_lit(lit) {
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_TranslucentBackground);
}

void IndicatorPicture::paintEvent(QPaintEvent*) {
    const qreal ratio = devicePixelRatioF();
    if (m_picture.isNull() || m_picture.devicePixelRatio() != ratio) {
        m_picture = QPixmap((QSizeF(size()) * ratio).toSize());
        m_picture.setDevicePixelRatio(ratio);
        m_picture.fill(Qt::transparent);
        QPainter picture(&m_picture);
        paintConnectionPicture(picture, rect(), m_lit);
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
}

} // namespace kq::app
