#include "app/log_grid_view.h"

#include "app/log_grid_delegate.h"
#include "app/log_grid_model.h"

#include <QEvent>
#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStringListModel>

#include <algorithm>
#include <climits>
#include <vector>

namespace kq::app {

LogGridView::LogGridView(QWidget* parent)
    : QTableView(parent), m_noRows(new QStringListModel(this)) {
    setItemDelegate(new LogGridDelegate(this));
    setVerticalScrollMode(ScrollPerItem);
}

int LogGridView::rowPixels() const {
    return std::max(1, verticalHeader()->defaultSectionSize());
}

int LogGridView::rows() const {
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int LogGridView::rowsInViewport() const {
    return std::clamp(viewport()->height() / rowPixels(), 1, std::max(1, rows()));
}

int LogGridView::rowTop(int row) const {
    return row * rowPixels() - verticalOffset();
}

int LogGridView::rowAtY(int y) const {
    const int content = y + verticalOffset();
    if (content < 0)
        return -1;
    const int row = content / rowPixels();
    return row < rows() ? row : -1;
}

void LogGridView::setModel(QAbstractItemModel* model) {
    m_fullLayoutDue = true;
    QTableView::setModel(model);
    verticalHeader()->setModel(m_noRows);
}

int LogGridView::verticalOffset() const {
    // As the stock view scrolls by rows: at the end of the range the last row sits at the
    // bottom of the viewport, elsewhere the row of the scroll value at its top.
    const QScrollBar* bar = verticalScrollBar();
    if (bar->maximum() > 0 && bar->value() == bar->maximum())
        return static_cast<int>(
            std::clamp<qint64>(qint64{rows()} * rowPixels() - viewport()->height(), 0, INT_MAX));
    return bar->value() * rowPixels();
}

void LogGridView::scrollContentsBy(int dx, int dy) {
    // The stock view reads the vertical move from the row header, which has no rows here.
    (void)dy;
    QTableView::scrollContentsBy(dx, 0);
    const int offset = verticalOffset();
    const int moved = m_shownOffset - offset;
    m_shownOffset = offset;
    if (moved != 0)
        viewport()->scroll(0, moved);
}

void LogGridView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QTableView::rowsInserted(parent, start, end);
    // What the row header's count would have started.
    scheduleDelayedItemsLayout();
}

void LogGridView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    QTableView::rowsAboutToBeRemoved(parent, start, end);
    m_fullLayoutDue = true;
    scheduleDelayedItemsLayout();
}

void LogGridView::setSelectionModel(QItemSelectionModel* selection) {
    QTableView::setSelectionModel(selection);
    // The hidden row header would look up the place of each new current row (summing every
    // row's height) only to repaint itself, which nobody sees.
    if (selectionModel())
        QObject::disconnect(selectionModel(), nullptr, verticalHeader(), nullptr);
}

void LogGridView::reset() {
    m_fullLayoutDue = true;
    QTableView::reset();
}

bool LogGridView::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::StyleChange:
    case QEvent::PaletteChange:
    case QEvent::LayoutDirectionChange:
        m_fullLayoutDue = true;
        break;
    default:
        break;
    }
    return QTableView::event(event);
}

void LogGridView::doItemsLayout() {
    const int now = rows();
    if (m_fullLayoutDue || now < m_rowsLaidOut || verticalScrollMode() != ScrollPerItem) {
        m_fullLayoutDue = false;
        m_rowsLaidOut = now;
        QTableView::doItemsLayout();
        return;
    }
    // Rows were appended: the rows above them are unchanged, so only the new ones are painted
    // (a scroll to follow them moves the old ones by copying pixels).
    const int before = m_rowsLaidOut;
    m_rowsLaidOut = now;
    updateGeometries();
    if (now > before) {
        const int top = rowTop(before);
        const QRect added(0, top, viewport()->width(), rowTop(now) - top);
        viewport()->update(added.intersected(viewport()->rect()));
    }
}

void LogGridView::layOutNow() {
    if (m_fullLayoutDue || rows() != m_rowsLaidOut)
        doItemsLayout();
}

void LogGridView::updateGeometries() {
    // The stock view sets the vertical range from the row header, which has no rows here: its
    // range is put right at once, silently, and the value kept. Following the newest row, the
    // view stays at the end of the grown range.
    QScrollBar* bar = verticalScrollBar();
    const int last = rows() > 0 ? std::max(0, rows() - rowsInViewport()) : 0;
    int value = bar->value();
    if (m_follow && m_follow->followNewest() && value == bar->maximum())
        value = last;
    {
        const QSignalBlocker block(bar);
        QTableView::updateGeometries();
    }
    bar->setRange(0, last);
    bar->setSingleStep(1);
    bar->setPageStep(rows() > 0 ? rowsInViewport() : 0);
    bar->setValue(std::min(value, last));
}

QRect LogGridView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model() || index.parent() != rootIndex() ||
        verticalScrollMode() != ScrollPerItem)
        return QTableView::visualRect(index);
    if (isColumnHidden(index.column()))
        return {};
    const int grid = showGrid() ? 1 : 0;
    return QRect(columnViewportPosition(index.column()), rowTop(index.row()),
                 columnWidth(index.column()) - grid, rowPixels() - grid);
}

QModelIndex LogGridView::indexAt(const QPoint& point) const {
    if (verticalScrollMode() != ScrollPerItem)
        return QTableView::indexAt(point);
    const int row = rowAtY(point.y());
    const int column = columnAt(point.x());
    return row >= 0 && column >= 0 ? model()->index(row, column, rootIndex()) : QModelIndex();
}

void LogGridView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid() || index.model() != model() || verticalScrollMode() != ScrollPerItem ||
        horizontalScrollMode() != ScrollPerItem) {
        QTableView::scrollTo(index, hint);
        return;
    }
    layOutNow(); // the range must already cover appended rows

    // columns: few, so their places are cheap to ask the column header
    const int column = index.column();
    const int left = columnViewportPosition(column);
    const int width = columnWidth(column);
    QScrollBar* hbar = horizontalScrollBar();
    const int visual = horizontalHeader()->visualIndex(column);
    if (left < 0) {
        hbar->setValue(visual);
    } else if (left + width > viewport()->width()) {
        int first = visual;
        for (int w = width; first > 0;) {
            w += horizontalHeader()->sectionSize(horizontalHeader()->logicalIndex(first - 1));
            if (w > viewport()->width())
                break;
            --first;
        }
        hbar->setValue(first);
    }

    const int row = index.row();
    const int fit = rowsInViewport();
    QScrollBar* vbar = verticalScrollBar();
    int value = vbar->value();
    switch (hint) {
    case PositionAtTop:
        value = row;
        break;
    case PositionAtBottom:
        value = row - fit + 1;
        break;
    case PositionAtCenter:
        value = row - (fit - 1) / 2;
        break;
    case EnsureVisible:
        if (row < value)
            value = row;
        else if (row >= value + fit)
            value = row - fit + 1;
        break;
    }
    vbar->setValue(value);
    update(index);
}

QModelIndex LogGridView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    // As the stock view moves over rows that are never hidden or moved, by row number: its own
    // moves look the rows up in the row header.
    const int rowCount = rows();
    const QHeaderView* columns = horizontalHeader();
    std::vector<int> shown; // logical columns in visual order, hidden ones left out
    for (int v = 0; v < columns->count(); ++v)
        if (!columns->isSectionHidden(columns->logicalIndex(v)))
            shown.push_back(columns->logicalIndex(v));
    if (rowCount == 0 || shown.empty())
        return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return model()->index(0, shown.front(), rootIndex());
    int row = current.row();
    const auto at = std::find(shown.begin(), shown.end(), current.column());
    int column = at == shown.end() ? 0 : static_cast<int>(at - shown.begin());
    const int lastColumn = static_cast<int>(shown.size()) - 1;
    const int page = viewport()->height() / rowPixels();
    switch (action) {
    case MoveUp:
        row = std::max(0, row - 1);
        break;
    case MoveDown:
        row = std::min(rowCount - 1, row + 1);
        break;
    case MoveLeft:
        column = std::max(0, column - 1);
        break;
    case MoveRight:
        column = std::min(lastColumn, column + 1);
        break;
    case MoveHome:
        column = 0;
        if (modifiers & Qt::ControlModifier)
            row = 0;
        break;
    case MoveEnd:
        column = lastColumn;
        if (modifiers & Qt::ControlModifier)
            row = rowCount - 1;
        break;
    case MovePageUp:
        row = std::max(0, row - page);
        break;
    case MovePageDown:
        row = std::min(rowCount - 1, row + page);
        break;
    case MoveNext:
        if (column < lastColumn)
            ++column;
        else if (row < rowCount - 1 || tabKeyNavigation()) {
            column = 0;
            row = row < rowCount - 1 ? row + 1 : 0;
        }
        break;
    case MovePrevious:
        if (column > 0)
            --column;
        else if (row > 0 || tabKeyNavigation()) {
            column = lastColumn;
            row = row > 0 ? row - 1 : rowCount - 1;
        }
        break;
    }
    return model()->index(row, shown[static_cast<std::size_t>(column)], rootIndex());
}

QRegion LogGridView::visualRegionForSelection(const QItemSelection& selection) const {
    if (verticalScrollMode() != ScrollPerItem)
        return QTableView::visualRegionForSelection(selection);
    QRegion region;
    const QRect view = viewport()->rect();
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid() || range.parent() != rootIndex())
            continue;
        const int top = std::max(range.top(), std::max(0, rowAtY(0)));
        const int bottom = std::min(range.bottom(), rows() - 1);
        if (top > bottom)
            continue;
        for (int c = range.left(); c <= range.right(); ++c) {
            if (isColumnHidden(c))
                continue;
            const QRect cell(columnViewportPosition(c), rowTop(top), columnWidth(c),
                             (bottom - top + 1) * rowPixels());
            region += cell.intersected(view);
        }
    }
    return region;
}

void LogGridView::paintEvent(QPaintEvent* event) {
    if (verticalScrollMode() != ScrollPerItem || !model() || isRightToLeft()) {
        QTableView::paintEvent(event);
        return;
    }
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const bool grid = showGrid();
    const int gridSize = grid ? 1 : 0;
    const QColor gridColor = QColor::fromRgba(
        static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this)));
    const QPen gridPen(gridColor, 1, gridStyle());
    const QHeaderView* columns = horizontalHeader();
    QPainter painter(viewport());
    const int rowCount = rows();
    if (columns->count() == 0 || rowCount == 0 || !itemDelegate())
        return;
    const int h = rowPixels();
    const int right = columns->length() - columns->offset() - 1;
    const int bottom = rowCount * h - verticalOffset() - 1;
    const QModelIndex current = currentIndex();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    const QItemSelectionModel* selection = selectionModel();

    for (QRect dirty : event->region()) {
        dirty.setBottom(std::min(dirty.bottom(), bottom));
        dirty.setRight(std::min(dirty.right(), right));
        int first = rowAtY(dirty.top());
        int last = rowAtY(dirty.bottom());
        if (last < 0)
            last = rowCount - 1;
        if (first < 0 || first > last)
            continue;
        int leftColumn = columns->visualIndexAt(dirty.left());
        int rightColumn = columns->visualIndexAt(dirty.right());
        if (leftColumn < 0)
            leftColumn = 0;
        if (rightColumn < 0)
            rightColumn = columns->count() - 1;

        for (int row = first; row <= last; ++row) {
            const int y = rowTop(row);
            for (int v = leftColumn; v <= rightColumn; ++v) {
                const int column = columns->logicalIndex(v);
                if (columns->isSectionHidden(column))
                    continue;
                const QModelIndex index = model()->index(row, column, rootIndex());
                if (!index.isValid())
                    continue;
                QStyleOptionViewItem cell = option;
                cell.rect = QRect(columnViewportPosition(column), y, columnWidth(column) - gridSize,
                                  h - gridSize);
                if (selection && selection->isSelected(index))
                    cell.state |= QStyle::State_Selected;
                if (cell.state & QStyle::State_Enabled) {
                    if (!(model()->flags(index) & Qt::ItemIsEnabled)) {
                        cell.state &= ~QStyle::State_Enabled;
                        cell.palette.setCurrentColorGroup(QPalette::Disabled);
                    } else {
                        cell.palette.setCurrentColorGroup(QPalette::Normal);
                    }
                }
                if (focus && index == current)
                    cell.state |= QStyle::State_HasFocus;
                style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &cell, &painter, this);
                itemDelegateForIndex(index)->paint(&painter, cell, index);
            }
        }

        if (grid) {
            const QPen old = painter.pen();
            painter.setPen(gridPen);
            for (int row = first; row <= last; ++row) {
                const int y = rowTop(row) + h - gridSize;
                painter.drawLine(dirty.left(), y, dirty.right(), y);
            }
            for (int v = leftColumn; v <= rightColumn; ++v) {
                const int column = columns->logicalIndex(v);
                if (columns->isSectionHidden(column))
                    continue;
                const int x = columnViewportPosition(column) + columnWidth(column) - gridSize;
                painter.drawLine(x, dirty.top(), x, dirty.bottom());
            }
            painter.setPen(old);
        }
    }
}

} // namespace kq::app
