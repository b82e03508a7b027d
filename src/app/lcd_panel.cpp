#include "app/lcd_panel.h"

#include "app/annunciator_pictures.h"

#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

namespace kq::app {

namespace {

using decode::Widget;

struct Place {
    Widget widget;
    QRectF box;
};

// widget, box it is drawn in on the glass
constexpr std::array<Place, 30> kPlaces = {{
    {Widget::LcdP1, {89, 129, 7, 8}},     {Widget::LcdP2, {176, 129, 7, 7}},
    {Widget::LcdP3, {260, 129, 7, 8}},    {Widget::LCDHold, {8, 2, 22, 18}},
    {Widget::p_off, {32, 1, 20, 20}},     {Widget::MAX, {70, 10, 36, 18}},
    {Widget::MIN, {110, 10, 36, 18}},     {Widget::REL, {152, 10, 36, 18}},
    {Widget::perecent, {192, 8, 20, 20}}, {Widget::Auto, {240, 8, 48, 22}},
    {Widget::Z, {312, 6, 14, 24}},        {Widget::o1, {328, 8, 14, 21}},
    {Widget::o2, {344, 8, 14, 21}},       {Widget::o3, {360, 8, 14, 21}},
    {Widget::o4, {376, 8, 14, 21}},       {Widget::FC, {352, 48, 40, 20}},
    {Widget::LUX, {352, 72, 40, 20}},     {Widget::X10, {350, 94, 44, 22}},
    {Widget::CD, {352, 120, 40, 20}},     {Widget::t_p, {360, 160, 22, 22}},
    {Widget::power, {48, 164, 28, 13}},   {Widget::FULL, {80, 166, 36, 16}},
    {Widget::loadNO, {118, 167, 80, 18}}, {Widget::REC, {208, 167, 40, 17}},
    {Widget::z4, {256, 168, 22, 17}},     {Widget::z3, {280, 168, 22, 17}},
    {Widget::z2, {304, 168, 22, 17}},     {Widget::z11, {336, 168, 22, 17}},
    {Widget::usb1, {6, 171, 40, 22}},     {Widget::PBar2, {0, 200, 398, 17}},
}};

// left edges of LcdDa..LcdDd; each label is 58 x 171 from the top 4
constexpr std::array<qreal, 4> kDigitLeft = {24, 104, 192, 274};

constexpr GlyphStyle kDigitStyle{0.2, 1.2, 0.07};

// the bar's segments: 4 pixels lit, 2 free, centred along the foot of the glass
constexpr qreal kBarPitch = 6;
constexpr qreal kBarLeft = (LcdPanel::kWidth - (LcdPanel::kBarSegments * kBarPitch - 2)) / 2;
constexpr qreal kBarTop = 204;
constexpr qreal kBarHeight = 9;

const QColor kInk(0, 0, 0);
// lit segments cast a soft shadow on the reflector behind the liquid
const QColor kShadow(226, 220, 204);
const QPointF kShadowOffset(1.5, 1.5);
// unlit segments: just darker than the glass, as seen when looking at a meter slightly askew
const QColor kGhost(240, 235, 222);

// What a drawn item may cover beyond its box: antialiasing, the shadow and, for digits, the
// slant of the glyph.
constexpr qreal kInkMargin = 4;

QRect paintBounds(const QRectF& box, qreal lean = 0) {
    return box
        .adjusted(-kInkMargin - lean, -kInkMargin, kInkMargin + lean + kShadowOffset.x(),
                  kInkMargin + kShadowOffset.y())
        .toAlignedRect();
}

QRect digitBounds(int index) {
    const QRectF box = LcdPanel::digitBox(index);
    return paintBounds(box, kDigitStyle.slant * box.height() / 2);
}

constexpr std::array<Widget, 4> kDigitWidgets = {Widget::LcdDa, Widget::LcdDb, Widget::LcdDc,
                                                 Widget::LcdDd};
constexpr std::array<Widget, 3> kPoints = {Widget::LcdP1, Widget::LcdP2, Widget::LcdP3};
constexpr std::array<Widget, 4> kRow2Digits = {Widget::LcdDa2, Widget::LcdDb2, Widget::LcdDc2,
                                               Widget::LcdDd2};
constexpr std::array<Widget, 3> kRow2Points = {Widget::LcdP12, Widget::LcdP22, Widget::LcdP32};

// The two-row glass: both rows of four digits in the space of the big row, clear of the
// annunciators along the top and the foot. Digit pitch, left of the first digit, tops.
constexpr qreal kRowPitch = 54;
constexpr qreal kRowLeft = 78;
constexpr std::array<qreal, 2> kRowTop = {34, 102};
constexpr QSizeF kRowDigit = {30, 54};

// What the two-row glass draws of the annunciators: those the second family lights in the
// visible area. The light meter's own (its units, the bar, REL, the per-cent sign ...) are
// what the last light-meter frame left and mean nothing on this glass.
constexpr std::array<Widget, 10> kTwoRowAnnunciators = {
    Widget::LCDHold, Widget::p_off, Widget::MAX,    Widget::MIN, Widget::X10,
    Widget::t_p,     Widget::power, Widget::loadNO, Widget::REC, Widget::usb1};

using WidgetSet = std::bitset<decode::kWidgetCount>;

WidgetSet makeDrawnSet() {
    WidgetSet set;
    for (const Place& p : kPlaces) {
        set.set(static_cast<std::size_t>(p.widget));
    }
    return set;
}

// The widgets whose visibility changes the picture (the digits are handled by caption).
const WidgetSet& drawnSet() {
    static const WidgetSet set = makeDrawnSet();
    return set;
}

} // namespace

LcdPanel::LcdPanel(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("LcdPanel"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setFixedSize(kWidth, kHeight);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, glassColour());
    setPalette(pal);
    setAutoFillBackground(true);
}

bool LcdPanel::setDisplay(const decode::DisplayModel& model) {
    Glass next;
    for (std::size_t i = 0; i < next.digits.size(); ++i) {
        next.digits[i] = segmentsForCaption(model.digits[i]);
    }
    next.lit = model.shown & drawnSet();
    // a hidden digit label shows nothing, whatever its caption
    for (std::size_t i = 0; i < kDigitWidgets.size(); ++i) {
        if (!model.isShown(kDigitWidgets[i])) {
            next.digits[i] = 0;
        }
    }
    next.barSegments = model.isShown(Widget::PBar2) ? litBarSegments(model.PBar2) : 0;
    next.lit.reset(static_cast<std::size_t>(Widget::PBar2));
    if (model.family == decode::DisplayModel::Family::Lcd24B) {
        next.twoRows = true;
        next.barSegments = 0;
        WidgetSet lit;
        for (Widget w : kTwoRowAnnunciators)
            lit.set(static_cast<std::size_t>(w), model.isShown(w));
        for (Widget w : kPoints)
            lit.set(static_cast<std::size_t>(w), model.isShown(w));
        for (Widget w : kRow2Points)
            lit.set(static_cast<std::size_t>(w), model.isShown(w));
        lit.set(static_cast<std::size_t>(Widget::LcdFH), model.isShown(Widget::LcdFH));
        next.lit = lit;
        for (std::size_t i = 0; i < kRow2Digits.size(); ++i)
            next.row2[i] = model.isShown(kRow2Digits[i]) ? segmentsForCaption(model.row2[i]) : 0;
        next.unit = QString::fromStdString(model.MaxTextU);
    }

    if (next == m_glass) {
        return false;
    }
    updateChanged(m_glass, next);
    m_glass = next;
    return true;
}

void LcdPanel::updateChanged(const Glass& before, const Glass& after) {
    // The two-row glass is drawn whole: few meters of that family send many frames a second.
    if (before.twoRows || after.twoRows) {
        update();
        return;
    }
    QRegion dirty;
    for (std::size_t i = 0; i < before.digits.size(); ++i) {
        if (before.digits[i] != after.digits[i])
            dirty += digitBounds(static_cast<int>(i));
    }
    const WidgetSet flipped = before.lit ^ after.lit;
    for (const Place& p : kPlaces) {
        if (flipped.test(static_cast<std::size_t>(p.widget)))
            dirty += paintBounds(p.box);
    }
    if (before.barSegments != after.barSegments) {
        const int from =
            std::clamp(std::min(before.barSegments, after.barSegments), 0, kBarSegments);
        const int to = std::clamp(std::max(before.barSegments, after.barSegments), 0, kBarSegments);
        if (to > from)
            dirty +=
                barSegment(from).united(barSegment(to - 1)).adjusted(-1, -1, 1, 1).toAlignedRect();
    }
    update(dirty);
}

void LcdPanel::setGhostSegments(bool on) {
    if (on != m_ghost) {
        m_ghost = on;
        update();
    }
}

QRectF LcdPanel::digitBox(int index) {
    const qreal left = kDigitLeft[static_cast<std::size_t>(std::clamp(index, 0, 3))];
    // the glyph of the 153-pixel digit face: cap height 104, baseline level with the points,
    // narrow enough that its slant stays inside the label
    return {left + 4, 33, 50, 104};
}

const GlyphStyle& LcdPanel::digitStyle() {
    return kDigitStyle;
}

QRectF LcdPanel::placeOf(Widget widget) {
    for (std::size_t i = 0; i < kDigitWidgets.size(); ++i) {
        if (widget == kDigitWidgets[i]) {
            return {kDigitLeft[i], 4, 58, 171};
        }
    }
    for (const Place& p : kPlaces) {
        if (p.widget == widget) {
            return p.box;
        }
    }
    return {};
}

QRectF LcdPanel::twoRowDigitBox(int row, int index) {
    return {kRowLeft + std::clamp(index, 0, 3) * kRowPitch, kRowTop[row == 0 ? 0 : 1],
            kRowDigit.width(), kRowDigit.height()};
}

QRectF LcdPanel::twoRowPointBox(int row, int index) {
    const QRectF digit = twoRowDigitBox(row, index);
    return {digit.right() + 9, digit.bottom() - 5, 5, 5};
}

QRectF LcdPanel::twoRowMinusBox() {
    const QRectF first = twoRowDigitBox(1, 0);
    return {first.left() - 34, first.center().y() - 2.5, 22, 5};
}

QRectF LcdPanel::twoRowUnitBox() {
    const QRectF last = twoRowDigitBox(1, 3);
    return {last.right() + 20, last.bottom() - 26, kWidth - last.right() - 24, 26};
}

QRectF LcdPanel::barSegment(int index) {
    return {kBarLeft + index * kBarPitch, kBarTop, kBarPitch - 2, kBarHeight};
}

int LcdPanel::litBarSegments(int position) {
    if (position <= 0) {
        return 0;
    }
    if (position >= kBarRange) {
        return kBarSegments;
    }
    // any positive position lights at least the first segment, as the meter's bar does
    const long long lit =
        (static_cast<long long>(position) * kBarSegments + kBarRange - 1) / kBarRange;
    return static_cast<int>(lit);
}

void LcdPanel::paintTwoRows(QPainter& painter, const QColor& ink) const {
    for (int i = 0; i < 4; ++i) {
        paintGlyph(painter, twoRowDigitBox(0, i), m_glass.digits[static_cast<std::size_t>(i)],
                   kDigitStyle, ink, Qt::transparent);
        paintGlyph(painter, twoRowDigitBox(1, i), m_glass.row2[static_cast<std::size_t>(i)],
                   kDigitStyle, ink, Qt::transparent);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    // Row 1 reads Da P1 Db P2 Dc P3 Dd, row 2 Da2 P12 Db2 P22 Dc2 P32 Dd2.
    for (int i = 0; i < 3; ++i) {
        if (m_glass.lit.test(static_cast<std::size_t>(kPoints[static_cast<std::size_t>(i)])))
            painter.drawRoundedRect(twoRowPointBox(0, i), 1, 1);
        if (m_glass.lit.test(static_cast<std::size_t>(kRow2Points[static_cast<std::size_t>(i)])))
            painter.drawRoundedRect(twoRowPointBox(1, i), 1, 1);
    }
    if (m_glass.lit.test(static_cast<std::size_t>(Widget::LcdFH)))
        painter.drawRect(twoRowMinusBox());
    for (Widget w : kTwoRowAnnunciators) {
        if (m_glass.lit.test(static_cast<std::size_t>(w)))
            paintAnnunciator(painter, w, placeOf(w), ink);
    }
    if (!m_glass.unit.isEmpty()) {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(20);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(ink);
        painter.drawText(twoRowUnitBox(), Qt::AlignLeft | Qt::AlignBottom, m_glass.unit);
    }
}

void LcdPanel::matchPictureRatio() const {
    const qreal ratio = devicePixelRatioF();
    if (ratio != m_digitPicturesRatio) {
        m_digitPictures.clear();
        m_placePictures = {};
        m_digitPicturesRatio = ratio;
    }
}

const QPixmap& LcdPanel::digitPicture(int index, SegmentMask lit) const {
    matchPictureRatio();
    const qreal ratio = m_digitPicturesRatio;
    const int key = index << 8 | lit;
    auto it = m_digitPictures.find(key);
    if (it != m_digitPictures.end())
        return *it;
    const QRect bounds = digitBounds(index);
    QPixmap picture((QSizeF(bounds.size()) * ratio).toSize());
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(-QPointF(bounds.topLeft()));
    painter.save();
    painter.translate(kShadowOffset);
    paintGlyph(painter, digitBox(index), lit, kDigitStyle, kShadow, Qt::transparent);
    painter.restore();
    paintGlyph(painter, digitBox(index), lit, kDigitStyle, kInk, Qt::transparent);
    painter.end();
    return *m_digitPictures.insert(key, picture);
}

void LcdPanel::paintLit(QPainter& painter, const QColor& ink) const {
    paintTwoRows(painter, ink);
}

const QPixmap& LcdPanel::placePicture(std::size_t place) const {
    matchPictureRatio();
    QPixmap& picture = m_placePictures[place];
    if (!picture.isNull())
        return picture;
    const qreal ratio = m_digitPicturesRatio;
    const Place& p = kPlaces[place];
    const QRect bounds = paintBounds(p.box);
    picture = QPixmap((QSizeF(bounds.size()) * ratio).toSize());
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(-QPointF(bounds.topLeft()));
    const bool point = std::find(kPoints.begin(), kPoints.end(), p.widget) != kPoints.end();
    for (const auto& [offset, ink] : {std::pair{kShadowOffset, kShadow}, {QPointF(), kInk}}) {
        painter.save();
        painter.translate(offset);
        if (point) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(ink);
            painter.drawRoundedRect(p.box, 1.5, 1.5);
        } else {
            paintAnnunciator(painter, p.widget, p.box, ink);
        }
        painter.restore();
    }
    return picture;
}

const QPixmap& LcdPanel::background() {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (m_background.size() != pixels || m_backgroundGhost != m_ghost ||
        m_backgroundTwoRows != m_glass.twoRows) {
        m_background = QPixmap(pixels);
        m_background.setDevicePixelRatio(ratio);
        m_background.fill(Qt::transparent);
        QPainter painter(&m_background);
        painter.setClipRect(contentsRect());
        painter.fillRect(contentsRect(), glassColour());
        paintBezelShade(painter);
        paintUnlit(painter);
        m_backgroundGhost = m_ghost;
        m_backgroundTwoRows = m_glass.twoRows;
    }
    return m_background;
}

void LcdPanel::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect dirty = event->rect();
    const QPixmap& glass = background();
    const qreal ratio = glass.devicePixelRatio();
    painter.drawPixmap(QRectF(dirty), glass,
                       QRectF(QPointF(dirty.topLeft()) * ratio, QSizeF(dirty.size()) * ratio));
    painter.save();
    painter.setClipRect(contentsRect());
    paintGlass(painter, event->region());
    painter.restore();
    if (!contentsRect().contains(dirty))
        drawFrame(&painter);
}

void LcdPanel::paintBezelShade(QPainter& painter) const {
    // the glass lies a little below the bezel, which shades its top and left edges
    const QRectF r = contentsRect();
    constexpr qreal depth = 5;
    QLinearGradient top(0, r.top(), 0, r.top() + depth);
    top.setColorAt(0, QColor(0, 0, 0, 34));
    top.setColorAt(1, QColor(0, 0, 0, 0));
    painter.fillRect(QRectF(r.left(), r.top(), r.width(), depth), top);
    QLinearGradient left(r.left(), 0, r.left() + depth, 0);
    left.setColorAt(0, QColor(0, 0, 0, 34));
    left.setColorAt(1, QColor(0, 0, 0, 0));
    painter.fillRect(QRectF(r.left(), r.top(), depth, r.height()), left);
}

void LcdPanel::paintUnlit(QPainter& painter) const {
    if (!m_ghost)
        return;
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_glass.twoRows) {
        for (int row = 0; row < 2; ++row) {
            for (int i = 0; i < 4; ++i)
                paintGlyph(painter, twoRowDigitBox(row, i), 0, kDigitStyle, kInk, kGhost);
        }
        return;
    }
    for (int i = 0; i < 4; ++i) {
        paintGlyph(painter, digitBox(i), 0, kDigitStyle, kInk, kGhost);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(kGhost);
    for (Widget w : kPoints) {
        painter.drawRoundedRect(placeOf(w), 1.5, 1.5);
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < kBarSegments; ++i) {
        painter.fillRect(barSegment(i), kGhost);
    }
}

void LcdPanel::paintGlass(QPainter& painter, const QRegion& dirty) const {
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_glass.twoRows) {
        // the unlit segments are in the background; the shadows of the lit
        // segments go under the ink
        painter.save();
        painter.translate(kShadowOffset);
        paintLit(painter, kShadow); // the bounds take the shadow in
        painter.restore();
        paintLit(painter, kInk);
    } else {
        // digits, points and annunciators come with their shadows; no ink of one comes near
        // another
        for (int i = 0; i < 4; ++i) {
            const SegmentMask lit = m_glass.digits[static_cast<std::size_t>(i)];
            if (lit != 0 && dirty.intersects(digitBounds(i)))
                painter.drawPixmap(digitBounds(i).topLeft(), digitPicture(i, lit));
        }
        for (std::size_t i = 0; i < kPlaces.size(); ++i) {
            const QRect bounds = paintBounds(kPlaces[i].box);
            if (m_glass.lit.test(static_cast<std::size_t>(kPlaces[i].widget)) &&
                dirty.intersects(bounds))
                painter.drawPixmap(bounds.topLeft(), placePicture(i));
        }
    }

    // the bar graph: crisp, pixel-aligned segments
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < m_glass.barSegments && i < kBarSegments; ++i) {
        painter.fillRect(barSegment(i), kInk);
    }
}

} // namespace kq::app
