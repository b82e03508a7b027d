#pragma once

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <cstdint>
#include <string_view>

class QPainter;

namespace kq::app {

// The seven segments of a digit on the glass, lettered as usual: a top, b upper right,
// c lower right, d bottom, e lower left, f upper left, g middle.
enum class Segment : std::uint8_t { a, b, c, d, e, f, g };
inline constexpr int kSegmentCount = 7;

// One bit per segment: bit i is Segment i.
using SegmentMask = std::uint8_t;

constexpr SegmentMask segmentBit(Segment s) {
    return static_cast<SegmentMask>(1u << static_cast<unsigned>(s));
}

// The segments a digit caption lights: "0".."9", "@" (the L shape), "u", "s", "b" and "-".
// Any other caption, the empty one included, lights nothing.
SegmentMask segmentsForCaption(std::string_view caption);

// How a glyph sits in its box.
struct GlyphStyle {
    qreal thickness = 0.2; // segment width as a fraction of the box width
    qreal gap = 1.0;       // pixels left free where two segments meet
    qreal slant = 0.07;    // rightward lean of the top per pixel of height
};

// A segment's outline and a point well inside it, in the coordinates of `box`'s parent.
QPolygonF segmentPolygon(Segment s, const QRectF& box, const GlyphStyle& style);
QPointF segmentCentre(Segment s, const QRectF& box, const GlyphStyle& style);

// Paints a glyph: lit segments in `ink`, the unlit ones in `ghost` (skipped when `ghost` is
// fully transparent).
void paintGlyph(QPainter& painter, const QRectF& box, SegmentMask lit, const GlyphStyle& style,
                const QColor& ink, const QColor& ghost);

// The narrow bold face of the words printed on the glass and on the MIN/MAX strip.
QFont lcdLabelFont(int pixelSize, bool bold = true);

} // namespace kq::app
