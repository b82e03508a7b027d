#include "files/report_layout.h"

#include <cmath>
#include <stdexcept>

namespace kq::files {

using Field = record::LogTable::Field;

const ReportBand& ReportLayout::band(BandKind kind) const {
    for (const auto& b : bands)
        if (b.kind == kind)
            return b;
    throw std::logic_error("report layout without the band asked for");
}

double ReportLayout::columnHeaderTop() const {
    return headerTop() + band(BandKind::PageHeader).height;
}

double ReportLayout::detailTop(std::size_t indexOnPage) const {
    return columnHeaderTop() + band(BandKind::ColumnHeader).height +
           static_cast<double>(indexOnPage) * band(BandKind::Detail).height;
}

// The page footer sits on the bottom margin, as on a printed form.
double ReportLayout::footerTop() const {
    return pageHeight - margin - band(BandKind::PageFooter).height;
}

std::size_t ReportLayout::rowsPerPage() const {
    const double room = footerTop() - detailTop(0);
    // A hair of tolerance so that an exact fit is not lost to rounding.
    const auto n =
        static_cast<std::size_t>(std::floor(room / band(BandKind::Detail).height + 1e-9));
    return n == 0 ? 1 : n;
}

std::size_t ReportLayout::pageCount(std::size_t rows) const {
    if (rows == 0)
        return 1;
    const std::size_t per = rowsPerPage();
    return (rows + per - 1) / per;
}

std::size_t ReportLayout::rowsOnPage(std::size_t page, std::size_t rows) const {
    const std::size_t first = firstRow(page);
    if (first >= rows)
        return 0;
    const std::size_t per = rowsPerPage();
    return rows - first < per ? rows - first : per;
}

ReportLayout dataReportLayout() {
    // Sizes in points (14 pt = 19 px, 10 pt = 13 px, 8 pt = 11 px, 7 pt = 9 px on a
    // 96 dpi screen).
    const ReportFont title{"Arial", 14, true, true};
    const ReportFont small{"Arial", 7};
    const ReportFont body{"Arial", 10};
    const ReportFont footer{"Arial", 8};

    ReportLayout layout;
    layout.bands = {
        {"program_title",
         BandKind::PageHeader,
         10.6,
         {
             {"kq640", ItemContent::Label, "Data Report", Field::No, 0, 2.1, title, true},
             {"RepLabel39", ItemContent::Label, "Print Date:", Field::No, 158.8, 5.3, small},
             {"RepSysData8", ItemContent::Date, "", Field::No, 171.4, 5.3, small},
         }},
        {"grid_header_title",
         BandKind::ColumnHeader,
         10.6,
         {
             {"RepLabel9", ItemContent::Label, "No", Field::No, 12.7, 4.2, body},
             {"t_time", ItemContent::Label, "Time", Field::No, 33.9, 4.2, body},
             {"value", ItemContent::Label, "Value", Field::No, 66.4, 4.2, body},
             {"unit_main", ItemContent::Label, "Unit", Field::No, 86.8, 4.2, body},
         }},
        {"data_detial",
         BandKind::Detail,
         6.6,
         {
             {"RepDBText19", ItemContent::Field, "", Field::No, 12.7, 2.1, body},
             {"RepDBText20", ItemContent::Field, "", Field::Time, 33.9, 2.1, body},
             {"RepDBText21", ItemContent::Field, "", Field::Value, 65.6, 2.1, body},
             {"RepDBText22", ItemContent::Field, "", Field::Unit, 86.8, 2.1, body},
         }},
        {"RepBand14",
         BandKind::PageFooter,
         10.6,
         {
             {"RepSysData5", ItemContent::PageNumber, "", Field::No, 153.5, 4.2, footer},
         }},
    };
    return layout;
}

} // namespace kq::files
