#pragma once

#include "decode/widget_id.h"

#include <QColor>
#include <QRectF>

class QPainter;

namespace kq::app {

// Paints the annunciator `widget` of the glass (a printed word, a small numeral or a pictogram)
// into `box` in `ink`. Returns false, painting nothing, for a widget the glass has no drawing for.
bool paintAnnunciator(QPainter& painter, decode::Widget widget, const QRectF& box,
                      const QColor& ink);

} // namespace kq::app
