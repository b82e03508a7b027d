#pragma once

#include "files/report_layout.h"

#include <QImage>
#include <QString>

#include <cstddef>
#include <functional>

class QDate;
class QPagedPaintDevice;
class QPainter;

namespace kq::record {
class LogTable;
}

namespace kq::print {

// The date as the report prints it: the system's short date format.
QString reportDateText(const QDate& date);

// Paints page `page` (from 0) of the report with its top-left paper corner at
// the painter's origin, `dotsPerMm` device pixels to the millimetre.
void paintReportPage(QPainter& painter, const files::ReportLayout& layout,
                     const record::LogTable& table, std::size_t page, const QString& date,
                     double dotsPerMm);

// Called after each page (pages done, pages in all); false stops printing.
using PageProgress = std::function<bool(std::size_t done, std::size_t total)>;

// Prints every page onto a printer or a PDF writer: A4 portrait, painted from
// the paper's corner (the layout holds its own 10 mm margins). The same code
// serves the preview, the printer and PDF. False if the device could not be
// painted on or printing was stopped.
bool printReport(QPagedPaintDevice& device, const record::LogTable& table, const QString& date,
                 const PageProgress& progress = {});

// The report as a PDF file, replaced only when complete.
bool saveReportPdf(const record::LogTable& table, const QString& path, const QString& date,
                   QString* error = nullptr);

// One page as a picture on white, `dpi` dots per inch (for checks and previews).
QImage reportPageImage(const record::LogTable& table, std::size_t page, const QString& date,
                       double dpi = 96);

} // namespace kq::print
