#pragma once

#include "record/log_table.h"

#include <cstddef>
#include <string_view>
#include <vector>

namespace kq::files {

// The printed "Data Report" as data: bands of items placed in millimetres on
// an A4 page. The painter (kq::print) draws it; the page arithmetic lives here
// so that it can be checked without a paint device.

enum class BandKind { PageHeader, ColumnHeader, Detail, PageFooter };
enum class ItemContent { Label, Field, Date, PageNumber };

struct ReportFont {
    std::string_view family;
    double points = 10;
    bool bold = false;
    bool underline = false;
};

struct ReportItem {
    std::string_view name;
    ItemContent content = ItemContent::Label;
    std::string_view text;                                       // a label's text
    record::LogTable::Field field = record::LogTable::Field::No; // a field's column
    double left = 0;                                             // mm within the band
    double top = 0;                                              // mm within the band
    ReportFont font;
    bool centred = false; // centred on the band instead of placed at `left`
};

struct ReportBand {
    std::string_view name;
    BandKind kind = BandKind::Detail;
    double height = 0; // mm
    std::vector<ReportItem> items;
};

struct ReportLayout {
    double pageWidth = 210;  // mm, A4 portrait
    double pageHeight = 297; // mm
    double margin = 10;      // mm on all four sides
    std::vector<ReportBand> bands;

    const ReportBand& band(BandKind kind) const;
    double bandWidth() const { return pageWidth - 2 * margin; }
    // Detail bands that fit between the column titles and the page footer.
    std::size_t rowsPerPage() const;
    // A report is produced even for an empty table: at least one page.
    std::size_t pageCount(std::size_t rows) const;
    // The first row and the number of rows on page `page` (from 0).
    std::size_t firstRow(std::size_t page) const { return page * rowsPerPage(); }
    std::size_t rowsOnPage(std::size_t page, std::size_t rows) const;
    // Tops of the bands on every page, in mm from the paper's top edge.
    double headerTop() const { return margin; }
    double columnHeaderTop() const;
    double detailTop(std::size_t indexOnPage) const;
    double footerTop() const;
};

ReportLayout dataReportLayout();

} // namespace kq::files
