#pragma once

#include <QCache>
#include <QFont>
#include <QHash>
#include <QStyledItemDelegate>
#include <QTextLayout>

namespace kq::app {

// Draws the grid's cells as the stock delegate does, from text layouts made once per text,
// font and width: the rows a meter brings in repeat the same few dozen texts, and laying a
// text out costs more than drawing it.
class LogGridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    // nullptr when the text does not fit its cell (the stock delegate elides it)
    const QTextLayout* layoutFor(const QStyleOptionViewItem& option, const QRect& textRect) const;

    mutable QCache<QString, QTextLayout> m_layouts{2048};
    mutable QHash<QFont, int> m_fonts; // a short name for each font the cells use
};

} // namespace kq::app
