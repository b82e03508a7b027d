#include "app/log_grid_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QTextOption>

namespace kq::app {

const QTextLayout* LogGridDelegate::layoutFor(const QStyleOptionViewItem& option,
                                              const QRect& textRect) const {
    const Qt::Alignment align = QStyle::visualAlignment(option.direction, option.displayAlignment);
    auto font = m_fonts.constFind(option.font);
    if (font == m_fonts.cend())
        font = m_fonts.insert(option.font, static_cast<int>(m_fonts.size()));
    const QString key =
        QString::number(*font) + QLatin1Char('\x1f') + QString::number(textRect.width()) +
        QLatin1Char('\x1f') + QString::number(static_cast<int>(align)) + QLatin1Char('\x1f') +
        QString::number(static_cast<int>(option.direction)) + QLatin1Char('\x1f') + option.text;
    if (QTextLayout* known = m_layouts.object(key))
        return known->lineCount() == 1 ? known : nullptr;
    auto* layout = new QTextLayout(option.text, option.font);
    QTextOption textOption;
    textOption.setWrapMode(QTextOption::ManualWrap);
    textOption.setTextDirection(option.direction);
    textOption.setAlignment(align);
    layout->setTextOption(textOption);
    layout->beginLayout();
    QTextLine line = layout->createLine();
    if (line.isValid())
        line.setLineWidth(textRect.width());
    const bool fits = line.isValid() && !layout->createLine().isValid() &&
                      line.naturalTextWidth() <= textRect.width();
    layout->endLayout();
    if (!fits)
        layout->clearLayout();
    m_layouts.insert(key, layout);
    return fits ? layout : nullptr;
}

void LogGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    const bool plain = !opt.text.isEmpty() && !(opt.features & QStyleOptionViewItem::WrapText) &&
                       !(opt.features & QStyleOptionViewItem::HasDecoration) &&
                       !(opt.features & QStyleOptionViewItem::HasCheckIndicator) &&
                       !(opt.state & QStyle::State_Editing);
    if (!plain) {
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        return;
    }
    // without a check box or an icon the text has the whole cell, less the style's margins
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect textRect = opt.rect.adjusted(margin, 0, -margin, 0);
    const QTextLayout* layout = layoutFor(opt, textRect);
    if (!layout) {
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        return;
    }
    // everything but the text through the style: ground, selection, focus frame
    const QString text = opt.text;
    opt.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    opt.text = text;

    QPalette::ColorGroup group =
        opt.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    if (group == QPalette::Normal && !(opt.state & QStyle::State_Active))
        group = QPalette::Inactive;
    painter->save();
    painter->setClipRect(textRect.adjusted(-margin, 0, margin, 0), Qt::IntersectClip);
    painter->setPen(opt.palette.color(
        group, opt.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    const qreal height = layout->lineAt(0).height();
    QPointF at(textRect.x(), textRect.top());
    if (opt.displayAlignment & Qt::AlignBottom)
        at.setY(textRect.bottom() - height);
    else if (opt.displayAlignment & Qt::AlignVCenter)
        at.setY((textRect.top() + textRect.bottom() - height) / 2);
    layout->draw(painter, at);
    painter->restore();
}

} // namespace kq::app
