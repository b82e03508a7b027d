#include "app/report_preview.h"

#include "app/dialogs.h"
#include "print/report_painter.h"
#include "record/log_table.h"

#include <QCoreApplication>
#include <QFileDevice>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QToolBar>

#include <memory>

namespace kq::app {

namespace {

// Draws the report onto the printer the preview (or the print dialog) hands
// over, with a progress dialog when the report is long.
bool paintWithProgress(QWidget* owner, QPagedPaintDevice& device, const record::LogTable& table,
                       const QString& date, std::uint64_t progressRows) {
    std::unique_ptr<QProgressDialog> progress;
    if (table.rowCount() > progressRows) {
        progress = std::make_unique<QProgressDialog>(QStringLiteral("Drawing the report..."),
                                                     QStringLiteral("Cancel"), 0, 1000, owner);
        progress->setWindowModality(Qt::WindowModal);
        progress->setMinimumDuration(0);
        progress->setValue(0);
    }
    return print::printReport(device, table, date, [&](std::size_t done, std::size_t total) {
        if (!progress)
            return true;
        progress->setValue(static_cast<int>(done * 1000 / total));
        return !progress->wasCanceled();
    });
}

} // namespace

void showReportPreview(QWidget* owner, Dialogs& dialogs, const record::LogTable& table,
                       const QString& date, std::uint64_t progressRows) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setFullPage(true);
    printer.setDocName(QStringLiteral("Data Report"));
    QPrintPreviewDialog preview(&printer, owner);
    preview.setObjectName(QStringLiteral("ReportPreview"));
    preview.setWindowTitle(QStringLiteral("Data Report"));
    QObject::connect(
        &preview, &QPrintPreviewDialog::paintRequested, &preview,
        [&](QPrinter* target) { paintWithProgress(&preview, *target, table, date, progressRows); });

    if (auto* bar = preview.findChild<QToolBar*>()) {
        QAction* pdf = bar->addAction(QStringLiteral("Save as PDF"));
        pdf->setObjectName(QStringLiteral("ReportSavePdf"));
        QObject::connect(pdf, &QAction::triggered, &preview, [&] {
            Dialogs::FileSpec spec;
            spec.filters = {QStringLiteral("PDF (*.pdf)")};
            spec.defaultSuffix = QStringLiteral("pdf");
            spec.confirmOverwrite = true;
            const QString name = dialogs.saveFileName(&preview, spec);
            if (name.isEmpty())
                return;
            QString error;
            if (!print::saveReportPdf(table, name, date, &error))
                dialogs.message(&preview, QCoreApplication::applicationName(), error,
                                Dialogs::Icon::Error);
        });
    }
    preview.exec();
}

} // namespace kq::app
