#pragma once

#include <QTableView>

namespace kq::app {

class LogGridModel;

// The grid DBGrid1: a table view whose rows all have one height and are never hidden or moved,
// so a row's place follows from its number. The stock view asks its row header for every
// place, and the header sums the heights of all rows after each append: at ten million rows
// that costs milliseconds per reading. This view computes places itself, paints only the cells
// that changed, and, while the grid follows the newest row, moves the rows up by one and paints
// just the row that came in. Its row header (hidden, as in the stock grid) is kept without rows:
// a header keeps a record for each of its rows, eight bytes a reading for the whole recording,
// so the view keeps the scroll offset, the scroll range and the cursor moves itself. It looks
// and behaves exactly like the stock view, which scrolls by whole rows.
class LogGridView : public QTableView {
    Q_OBJECT
public:
    explicit LogGridView(QWidget* parent = nullptr);

    // The model whose follow switch says whether an append keeps the view on the newest row.
    void setFollowModel(const LogGridModel* model) { m_follow = model; }

    QRect visualRect(const QModelIndex& index) const override;
    QModelIndex indexAt(const QPoint& point) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    void setModel(QAbstractItemModel* model) override;
    void setSelectionModel(QItemSelectionModel* selection) override;
    void doItemsLayout() override;
    void reset() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void updateGeometries() override;
    int verticalOffset() const override;
    void scrollContentsBy(int dx, int dy) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    bool event(QEvent* event) override;

private:
    int rowPixels() const;
    int rows() const;
    int rowsInViewport() const; // rows that fit whole
    int rowTop(int row) const;  // in viewport coordinates
    int rowAtY(int y) const;    // -1 outside the rows
    void layOutNow();

    const LogGridModel* m_follow = nullptr;
    QAbstractItemModel* m_noRows; // what the row header is given instead of the rows
    int m_shownOffset = 0;        // the vertical offset the viewport's pixels show
    int m_rowsLaidOut = 0;
    bool m_fullLayoutDue = true;
};

} // namespace kq::app
