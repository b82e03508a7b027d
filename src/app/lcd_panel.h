#pragma once

#include "app/lcd_glyphs.h"
#include "decode/meter_state.h"

#include <QFrame>
#include <QHash>
#include <QPixmap>
#include <QRect>
#include <QRectF>
#include <array>
#include <bitset>

namespace kq::app {

// The mirror of the meter's glass: four big segment digits with their points, the
// annunciators of the visible area and the bar graph along the foot. It only renders what a
// DisplayModel says; the decoders decide.
class LcdPanel : public QFrame {
    Q_OBJECT
public:
    static constexpr int kWidth = 398;
    static constexpr int kHeight = 217;
    // the bar graph's full scale; a higher position shows a full bar
    static constexpr int kBarRange = 2000;
    static constexpr int kBarSegments = 64;

    explicit LcdPanel(QWidget* parent = nullptr);

    // Takes what the glass shows from `model`. Returns true, and schedules a repaint, only when
    // the picture changes: widgets outside the visible glass and a bar position beyond full
    // scale change nothing.
    bool setDisplay(const decode::DisplayModel& model);

    // Unlit segments drawn very faintly, as they show on real glass (on by default).
    void setGhostSegments(bool on);
    bool ghostSegments() const { return m_ghost; }

    // Where things are drawn, in panel coordinates.
    static QRectF digitBox(int index); // 0 = LcdDa .. 3 = LcdDd
    static const GlyphStyle& digitStyle();
    // The box of a point, an annunciator or the bar graph; a null rect for a widget this glass
    // does not draw (the second row and everything else below the visible area).
    static QRectF placeOf(decode::Widget widget);
    // The two-row glass of the second frame family: digit `index` (0 = leftmost) of row 0 (the
    // main row) or row 1, the point after it, the minus sign before row 1 and the unit beside it.
    static QRectF twoRowDigitBox(int row, int index);
    static QRectF twoRowPointBox(int row, int index);
    static QRectF twoRowMinusBox();
    static QRectF twoRowUnitBox();

    // Segment i of the bar graph (0 = leftmost).
    static QRectF barSegment(int index);
    // How many bar segments a position lights.
    static int litBarSegments(int position);

    static QColor glassColour() { return {255, 251, 240}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Everything the picture depends on, so that an unchanged frame costs no repaint.
    struct Glass {
        std::array<SegmentMask, 4> digits{};
        std::bitset<decode::kWidgetCount> lit; // drawn widgets that are shown
        int barSegments = 0;
        // the second family's glass: both rows, the minus sign and the unit
        bool twoRows = false;
        std::array<SegmentMask, 4> row2{};
        QString unit;
        bool operator==(const Glass&) const = default;
    };

    void paintBezelShade(QPainter& painter) const;
    // Only what meets `dirty` is drawn: a frame that changes one digit repaints that digit.
    void paintGlass(QPainter& painter, const QRegion& dirty) const;
    void paintUnlit(QPainter& painter) const;
    const QPixmap& background();
    void paintLit(QPainter& painter, const QColor& ink) const;
    // A lit digit, shadow and ink, as drawn over the glass at digit `index`:
    // its outline is computed once per glyph instead of once per frame.
    const QPixmap& digitPicture(int index, SegmentMask lit) const;
    // A lit point or annunciator of the one-row glass, shadow and ink, over its paint bounds.
    const QPixmap& placePicture(std::size_t place) const;
    // Forgets the pictures when the pixel ratio changes.
    void matchPictureRatio() const;
    // Schedules the repaint of what differs between two pictures.
    void updateChanged(const Glass& before, const Glass& after);
    void paintTwoRows(QPainter& painter, const QColor& ink) const;

    Glass m_glass;
    bool m_ghost = true;
    // The glass with its bezel shade and unlit segments: the same for every
    // frame, so a meter sending many frames a second only costs the ink.
    QPixmap m_background;
    bool m_backgroundGhost = true;
    // digitPicture() by digit and segments (key index << 8 | mask), for one pixel ratio
    mutable QHash<int, QPixmap> m_digitPictures;
    mutable std::array<QPixmap, 30> m_placePictures; // by index into the place table
    mutable qreal m_digitPicturesRatio = 0;
    bool m_backgroundTwoRows = false;
};

} // namespace kq::app
