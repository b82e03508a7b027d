#include "app/annunciator_pictures.h"

#include "app/lcd_glyphs.h"

#include <QPainter>
#include <QPainterPath>

namespace kq::app {

namespace {

using decode::Widget;

// The small numerals of the range ("2" and four "0") lean like the big ones but
// have relatively thicker bars so that they stay legible at 20 pixels.
constexpr GlyphStyle kSmallGlyph{0.26, 0.7, 0.07};

void word(QPainter& p, const QRectF& box, const QString& text, int pixelSize,
          Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    p.setFont(lcdLabelFont(pixelSize));
    p.drawText(box, static_cast<int>(align), text);
}

void numeral(QPainter& p, const QRectF& box, char caption, const QColor& ink) {
    paintGlyph(p, box, segmentsForCaption(std::string_view(&caption, 1)), kSmallGlyph, ink,
               Qt::transparent);
}

QPen stroke(const QColor& ink, qreal width) {
    return QPen(ink, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// The data-hold mark: a bold H in a rounded frame.
void holdSymbol(QPainter& p, const QRectF& box, const QColor& ink) {
    p.setPen(stroke(ink, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(box.adjusted(1, 1, -1, -1), 3, 3);
    const QRectF h = box.adjusted(6, 4, -6, -4);
    p.drawLine(QPointF(h.left(), h.top()), QPointF(h.left(), h.bottom()));
    p.drawLine(QPointF(h.right(), h.top()), QPointF(h.right(), h.bottom()));
    p.drawLine(QPointF(h.left(), h.center().y()), QPointF(h.right(), h.center().y()));
}

// Auto power-off: the power symbol, a ring open at the top crossed by a short bar.
void powerOffSymbol(QPainter& p, const QRectF& box, const QColor& ink) {
    const qreal side = qMin(box.width(), box.height()) - 3;
    const QRectF ring(box.center().x() - side / 2, box.center().y() - side / 2 + 1, side, side);
    p.setPen(stroke(ink, 2.2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(ring, 120 * 16, 300 * 16);
    p.drawLine(QPointF(ring.center().x(), ring.top() - 1.5),
               QPointF(ring.center().x(), ring.center().y()));
}

void percentSign(QPainter& p, const QRectF& box, const QColor& ink) {
    const qreal r = box.width() * 0.16;
    p.setPen(stroke(ink, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(box.left() + r + 2, box.top() + r + 2), r, r);
    p.drawEllipse(QPointF(box.right() - r - 2, box.bottom() - r - 2), r, r);
    p.setPen(stroke(ink, 2.4));
    p.drawLine(QPointF(box.right() - 3, box.top() + 2), QPointF(box.left() + 3, box.bottom() - 2));
}

// The timer clock: a dial with the hands at ten past twelve.
void clockSymbol(QPainter& p, const QRectF& box, const QColor& ink) {
    const qreal side = qMin(box.width(), box.height()) - 3;
    const QRectF dial(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    p.setPen(stroke(ink, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(dial);
    const QPointF c = dial.center();
    p.drawLine(c, QPointF(c.x(), dial.top() + 4));
    p.drawLine(c, QPointF(dial.right() - 5, c.y() - 1.5));
}

// Low battery: an empty cell with its terminal cap and a single charge bar.
void batterySymbol(QPainter& p, const QRectF& box, const QColor& ink) {
    const QRectF cell = box.adjusted(1, 1, -5, -1);
    p.setPen(stroke(ink, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(cell);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawRect(QRectF(cell.right() + 1, cell.center().y() - 3, 3, 6));
    p.drawRect(QRectF(cell.left() + 3, cell.top() + 3, 4, cell.height() - 6));
}

} // namespace

bool paintAnnunciator(QPainter& painter, Widget widget, const QRectF& box, const QColor& ink) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(ink);
    bool drawn = true;
    switch (widget) {
    case Widget::LCDHold:
        holdSymbol(painter, box, ink);
        break;
    case Widget::p_off:
        powerOffSymbol(painter, box, ink);
        break;
    case Widget::MAX:
        word(painter, box, QStringLiteral("MAX"), 15);
        break;
    case Widget::MIN:
        word(painter, box, QStringLiteral("MIN"), 15);
        break;
    case Widget::REL:
        word(painter, box, QStringLiteral("REL"), 15);
        break;
    case Widget::perecent:
        percentSign(painter, box, ink);
        break;
    case Widget::Auto:
        word(painter, box, QStringLiteral("Auto"), 18);
        break;
    case Widget::Z:
        numeral(painter, box.adjusted(1, 2, -2, -2), '2', ink);
        break;
    case Widget::o1:
    case Widget::o2:
    case Widget::o3:
    case Widget::o4:
        numeral(painter, box.adjusted(1, 1, -2, -1), '0', ink);
        break;
    case Widget::FC:
        word(painter, box, QStringLiteral("FC"), 17);
        break;
    case Widget::LUX:
        word(painter, box, QStringLiteral("Lux"), 17);
        break;
    case Widget::X10:
        word(painter, box, QStringLiteral("x10"), 17);
        break;
    case Widget::CD:
        word(painter, box, QStringLiteral("CD"), 17);
        break;
    case Widget::t_p:
        clockSymbol(painter, box, ink);
        break;
    case Widget::power:
        batterySymbol(painter, box, ink);
        break;
    case Widget::FULL:
        word(painter, box, QStringLiteral("FULL"), 13);
        break;
    case Widget::loadNO:
        word(painter, box, QStringLiteral("LOAD NO"), 15);
        break;
    case Widget::REC:
        word(painter, box, QStringLiteral("REC"), 14);
        break;
    case Widget::z4:
        word(painter, box, QStringLiteral("z4"), 14);
        break;
    case Widget::z3:
        word(painter, box, QStringLiteral("z3"), 14);
        break;
    case Widget::z2:
        word(painter, box, QStringLiteral("z2"), 14);
        break;
    case Widget::z11:
        word(painter, box, QStringLiteral("z1"), 14);
        break;
    case Widget::usb1:
        word(painter, box, QStringLiteral("USB"), 18);
        break;
    default:
        drawn = false;
        break;
    }
    painter.restore();
    return drawn;
}

} // namespace kq::app
