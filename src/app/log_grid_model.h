#pragma once

#include <QAbstractTableModel>
#include <QFont>

#include <cstdint>

namespace kq::record {
class LogTable;
}

class QTableView;

namespace kq::app {

// The log table cds1 as the grid DBGrid1 shows it: columns No, Time, Value, Unit, read-only.
// Cells are read from the compact row store when the view asks; nothing is copied per row.
class LogGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit LogGridModel(const record::LogTable& table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Whether the grid moves to each new row (on at start).
    void setFollowNewest(bool follow) { m_follow = follow; }
    bool followNewest() const { return m_follow; }

public slots:
    // Brings the model up to the table: rows appended since the last sync are inserted; a table
    // that was emptied, cut or replaced resets the model.
    void sync();

private:
    const record::LogTable& m_table;
    int m_rows = 0; // rows the views know of
    std::uint64_t m_generation = 0;
    QFont m_font;
    QFont m_unitFont;
    bool m_follow = true;
};

// Sets up the grid DBGrid1 over the model: column widths 80/100/100/70, whole-row selection,
// read-only, fixed row height (so scrolling to any of millions of rows costs the same), the
// current row following each newly appended row while the model follows, Tab leaving the grid
// for the next control (the arrows move inside it), and a table that was replaced, emptied or
// cut opening on its first row.
void configureLogGrid(QTableView* grid, LogGridModel* model);

} // namespace kq::app
