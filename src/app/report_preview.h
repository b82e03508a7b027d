#pragma once

#include <QString>

#include <cstdint>

class QWidget;

namespace kq::record {
class LogTable;
}

namespace kq::app {

class Dialogs;

// The print preview of the "Data Report" (object name "ReportPreview"): page by
// page, printing through the platform's printers, and a "Save as PDF" action
// (object name "ReportSavePdf") that writes the same pages to a PDF file. A
// report of more than `progressRows` rows shows a progress dialog while its
// pages are drawn; Cancel stops after the pages drawn so far. Returns when the
// preview is closed; the table must not change meanwhile.
void showReportPreview(QWidget* owner, Dialogs& dialogs, const record::LogTable& table,
                       const QString& date, std::uint64_t progressRows = 100000);

} // namespace kq::app
