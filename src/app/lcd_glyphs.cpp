#include "app/lcd_glyphs.h"

#include <QPainter>
#include <QStringList>
#include <array>

namespace kq::app {

namespace {

constexpr SegmentMask mask(std::string_view segments) {
    SegmentMask m = 0;
    for (char s : segments) {
        m |= static_cast<SegmentMask>(1u << static_cast<unsigned>(s - 'a'));
    }
    return m;
}

struct CaptionGlyph {
    char caption;
    SegmentMask lit;
};

// caption character, segments it lights
constexpr std::array<CaptionGlyph, 15> kGlyphs = {{
    {'0', mask("abcdef")},
    {'1', mask("bc")},
    {'2', mask("abdeg")},
    {'3', mask("abcdg")},
    {'4', mask("bcfg")},
    {'5', mask("acdfg")},
    {'6', mask("acdefg")},
    {'7', mask("abc")},
    {'8', mask("abcdefg")},
    {'9', mask("abcdfg")},
    {'@', mask("def")}, // the L shape of the overload display
    {'u', mask("cde")},
    {'s', mask("acdfg")},
    {'b', mask("cdefg")},
    {'-', mask("g")},
}};

// Outline of a bar lying along the centre line from `from` to `to` (horizontal or vertical),
// with pointed ends so that neighbouring bars meet in a mitre.
QPolygonF bar(QPointF from, QPointF to, qreal thickness, qreal gap) {
    const qreal h = thickness / 2;
    if (from.y() == to.y()) {
        const qreal y = from.y();
        const qreal x0 = from.x() + gap;
        const qreal x1 = to.x() - gap;
        return QPolygonF(
            {{x0, y}, {x0 + h, y - h}, {x1 - h, y - h}, {x1, y}, {x1 - h, y + h}, {x0 + h, y + h}});
    }
    const qreal x = from.x();
    const qreal y0 = from.y() + gap;
    const qreal y1 = to.y() - gap;
    return QPolygonF(
        {{x, y0}, {x + h, y0 + h}, {x + h, y1 - h}, {x, y1}, {x - h, y1 - h}, {x - h, y0 + h}});
}

// Leans a point of the upright glyph so that the glyph keeps its centre.
QPointF lean(QPointF p, const QRectF& box, const GlyphStyle& style) {
    return {p.x() + style.slant * (box.center().y() - p.y()), p.y()};
}

} // namespace

SegmentMask segmentsForCaption(std::string_view caption) {
    if (caption.size() != 1) {
        return 0;
    }
    for (const CaptionGlyph& g : kGlyphs) {
        if (g.caption == caption.front()) {
            return g.lit;
        }
    }
    return 0;
}

QPolygonF segmentPolygon(Segment s, const QRectF& box, const GlyphStyle& style) {
    const qreal t = style.thickness * box.width();
    const qreal left = box.left() + t / 2;
    const qreal right = box.right() - t / 2;
    const qreal top = box.top() + t / 2;
    const qreal middle = box.center().y();
    const qreal bottom = box.bottom() - t / 2;
    QPolygonF upright;
    switch (s) {
    case Segment::a:
        upright = bar({left, top}, {right, top}, t, style.gap);
        break;
    case Segment::b:
        upright = bar({right, top}, {right, middle}, t, style.gap);
        break;
    case Segment::c:
        upright = bar({right, middle}, {right, bottom}, t, style.gap);
        break;
    case Segment::d:
        upright = bar({left, bottom}, {right, bottom}, t, style.gap);
        break;
    case Segment::e:
        upright = bar({left, middle}, {left, bottom}, t, style.gap);
        break;
    case Segment::f:
        upright = bar({left, top}, {left, middle}, t, style.gap);
        break;
    case Segment::g:
        upright = bar({left, middle}, {right, middle}, t, style.gap);
        break;
    }
    QPolygonF leaning;
    leaning.reserve(upright.size());
    for (const QPointF& p : upright) {
        leaning << lean(p, box, style);
    }
    return leaning;
}

QPointF segmentCentre(Segment s, const QRectF& box, const GlyphStyle& style) {
    const QPolygonF outline = segmentPolygon(s, box, style);
    // the first and fourth corners are the two tips of the bar
    return (outline[0] + outline[3]) / 2;
}

void paintGlyph(QPainter& painter, const QRectF& box, SegmentMask lit, const GlyphStyle& style,
                const QColor& ink, const QColor& ghost) {
    painter.save();
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < kSegmentCount; ++i) {
        const auto s = static_cast<Segment>(i);
        const bool on = (lit & segmentBit(s)) != 0;
        if (!on && ghost.alpha() == 0) {
            continue;
        }
        painter.setBrush(on ? ink : ghost);
        painter.drawPolygon(segmentPolygon(s, box, style));
    }
    painter.restore();
}

QFont lcdLabelFont(int pixelSize, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Arial Narrow"),
                      QStringLiteral("Arial")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

} // namespace kq::app
