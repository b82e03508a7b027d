#include "app/log_grid_model.h"

#include "app/lcd_glyphs.h"
#include "app/log_grid_view.h"
#include "record/log_table.h"

#include <QHeaderView>

#include <limits>

namespace kq::app {

namespace {

using Field = record::LogTable::Field;

constexpr int kColumns = 4;
constexpr Field kFields[kColumns] = {Field::No, Field::Time, Field::Value, Field::Unit};
constexpr const char* kTitles[kColumns] = {"No", "Time", "Value", "Unit"};
constexpr int kWidths[kColumns] = {80, 100, 100, 70};
constexpr Qt::Alignment kAlign[kColumns] = {
    Qt::AlignLeft | Qt::AlignVCenter, Qt::AlignHCenter | Qt::AlignVCenter,
    Qt::AlignRight | Qt::AlignVCenter, Qt::AlignRight | Qt::AlignVCenter};

// A view counts rows in int; a table beyond that shows its first INT_MAX rows.
int viewRows(std::size_t rows) {
    constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<int>::max());
    return static_cast<int>(rows < kMax ? rows : kMax);
}

} // namespace

LogGridModel::LogGridModel(const record::LogTable& table, QObject* parent)
    : QAbstractTableModel(parent), m_table(table), m_rows(viewRows(table.rowCount())),
      m_generation(table.generation()), m_font(QStringLiteral("Arial")),
      m_unitFont(lcdLabelFont(12, false)) {
    m_font.setPixelSize(12);
}

int LogGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int LogGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant LogGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows || index.column() >= kColumns)
        return {};
    const int col = index.column();
    switch (role) {
    case Qt::DisplayRole: {
        const auto row = static_cast<std::size_t>(index.row());
        if (row >= m_table.rowCount())
            return {};
        if (col == 0) {
            const auto no = m_table.no(row);
            return no ? QVariant(QString::number(*no)) : QVariant();
        }
        record::LogTable::Text text;
        if (!m_table.text(row, kFields[col], text))
            return {};
        return QString::fromUtf8(text.data, text.size);
    }
    case Qt::TextAlignmentRole:
        return static_cast<int>(kAlign[col].toInt());
    case Qt::FontRole:
        return col == 3 ? m_unitFont : m_font;
    default:
        return {};
    }
}

QVariant LogGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && section >= 0 && section < kColumns) {
        if (role == Qt::DisplayRole)
            return QString::fromLatin1(kTitles[section]);
        if (role == Qt::FontRole)
            return m_font;
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags LogGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void LogGridModel::sync() {
    const int rows = viewRows(m_table.rowCount());
    if (m_table.generation() != m_generation || rows < m_rows) {
        beginResetModel();
        m_rows = rows;
        m_generation = m_table.generation();
        endResetModel();
    } else if (rows > m_rows) {
        beginInsertRows({}, m_rows, rows - 1);
        m_rows = rows;
        endInsertRows();
    }
}

void configureLogGrid(QTableView* grid, LogGridModel* model) {
    grid->setObjectName(QStringLiteral("DBGrid1"));
    grid->setModel(model);
    if (auto* view = qobject_cast<LogGridView*>(grid))
        view->setFollowModel(model);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setShowGrid(true);
    grid->setWordWrap(false);
    grid->setCornerButtonEnabled(false);
    // Tab walking the cells would trap the keyboard in the grid (and wrap it to row 1).
    grid->setTabKeyNavigation(false);

    QHeaderView* vertical = grid->verticalHeader();
    vertical->setSectionResizeMode(QHeaderView::Fixed);
    vertical->setDefaultSectionSize(
        QFontMetrics(model->headerData(0, Qt::Horizontal, Qt::FontRole).value<QFont>()).height() +
        6);
    vertical->hide();

    QHeaderView* horizontal = grid->horizontalHeader();
    horizontal->setSectionResizeMode(QHeaderView::Interactive);
    horizontal->setHighlightSections(false);
    horizontal->setStretchLastSection(false);
    for (int c = 0; c < kColumns; ++c)
        grid->setColumnWidth(c, kWidths[c]);

    // A table opened anew (loaded, emptied, cut back) starts on its first row, as a data
    // grid does, so the keyboard works at once without a click.
    QObject::connect(model, &QAbstractItemModel::modelReset, grid, [grid, model] {
        if (model->rowCount() == 0)
            return;
        const QModelIndex first = model->index(0, 0);
        grid->setCurrentIndex(first);
        grid->scrollTo(first);
    });
    // The grid moves to each new row, as a table cursor does after an append.
    QObject::connect(model, &QAbstractItemModel::rowsInserted, grid,
                     [grid, model](const QModelIndex&, int, int last) {
                         if (!model->followNewest())
                             return;
                         const QModelIndex index = model->index(last, 0);
                         grid->setCurrentIndex(index);
                         grid->scrollTo(index);
                     });
}

} // namespace kq::app
