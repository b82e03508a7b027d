#include "print/report_painter.h"

#include "record/log_table.h"

#include <QDate>
#include <QFont>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <cmath>

namespace kq::print {

using files::BandKind;
using files::ItemContent;
using files::ReportBand;
using files::ReportLayout;

namespace {

QFont fontOf(const files::ReportFont& f) {
    QFont font(QString::fromLatin1(f.family.data(), static_cast<qsizetype>(f.family.size())));
    font.setPointSizeF(f.points);
    font.setBold(f.bold);
    font.setUnderline(f.underline);
    // Metric-compatible stand-ins of the family are fine; a different shape is not.
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QString itemText(const files::ReportItem& item, const record::LogTable& table, std::size_t row,
                 std::size_t page, const QString& date) {
    switch (item.content) {
    case ItemContent::Label:
        return QString::fromUtf8(item.text.data(), static_cast<qsizetype>(item.text.size()));
    case ItemContent::Date:
        return date;
    case ItemContent::PageNumber:
        return QString::number(page + 1);
    case ItemContent::Field: {
        record::LogTable::Text text;
        if (!table.text(row, item.field, text))
            return {};
        return QString::fromUtf8(text.data, text.size);
    }
    }
    return {};
}

void paintBand(QPainter& painter, const ReportLayout& layout, const ReportBand& band, double top,
               const record::LogTable& table, std::size_t row, std::size_t page,
               const QString& date, double dotsPerMm) {
    const double bandLeft = layout.margin * dotsPerMm;
    const double bandTop = top * dotsPerMm;
    const double bandWidth = layout.bandWidth() * dotsPerMm;
    const double bandHeight = band.height * dotsPerMm;
    for (const auto& item : band.items) {
        const QString text = itemText(item, table, row, page, date);
        if (text.isEmpty())
            continue;
        painter.setFont(fontOf(item.font));
        const double y = bandTop + item.top * dotsPerMm;
        // Items are sized to their text; the band only bounds where they start.
        if (item.centred) {
            const QRectF rect(bandLeft, y, bandWidth, bandHeight);
            painter.drawText(rect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip, text);
        } else {
            const QRectF rect(bandLeft + item.left * dotsPerMm, y, bandWidth, bandHeight);
            painter.drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, text);
        }
    }
}

} // namespace

QString reportDateText(const QDate& date) {
    return QLocale::system().toString(date, QLocale::ShortFormat);
}

void paintReportPage(QPainter& painter, const ReportLayout& layout, const record::LogTable& table,
                     std::size_t page, const QString& date, double dotsPerMm) {
    painter.save();
    painter.setPen(Qt::black);
    const std::size_t rows = table.rowCount();
    paintBand(painter, layout, layout.band(BandKind::PageHeader), layout.headerTop(), table, 0,
              page, date, dotsPerMm);
    paintBand(painter, layout, layout.band(BandKind::ColumnHeader), layout.columnHeaderTop(), table,
              0, page, date, dotsPerMm);
    const ReportBand& detail = layout.band(BandKind::Detail);
    const std::size_t first = layout.firstRow(page);
    const std::size_t count = layout.rowsOnPage(page, rows);
    for (std::size_t i = 0; i < count; ++i)
        paintBand(painter, layout, detail, layout.detailTop(i), table, first + i, page, date,
                  dotsPerMm);
    paintBand(painter, layout, layout.band(BandKind::PageFooter), layout.footerTop(), table, 0,
              page, date, dotsPerMm);
    painter.restore();
}

bool printReport(QPagedPaintDevice& device, const record::LogTable& table, const QString& date,
                 const PageProgress& progress) {
    const ReportLayout layout = files::dataReportLayout();
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
    QPainter painter;
    if (!painter.begin(&device))
        return false;
    // The painter's origin is the paper's corner once the margins are 0 (a
    // printer may still keep a hardware margin; its offset is taken out here).
    const QRectF paper = device.pageLayout().fullRectPixels(device.logicalDpiX());
    const QRectF paint = device.pageLayout().paintRectPixels(device.logicalDpiX());
    painter.translate(paper.topLeft() - paint.topLeft());
    const double dotsPerMm = device.logicalDpiX() / 25.4;
    const std::size_t pages = layout.pageCount(table.rowCount());
    for (std::size_t page = 0; page < pages; ++page) {
        if (page > 0 && !device.newPage()) {
            painter.end();
            return false;
        }
        paintReportPage(painter, layout, table, page, date, dotsPerMm);
        if (progress && !progress(page + 1, pages)) {
            painter.end();
            return false;
        }
    }
    return painter.end();
}

bool saveReportPdf(const record::LogTable& table, const QString& path, const QString& date,
                   QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    bool painted = false;
    {
        QPdfWriter pdf(&file);
        pdf.setTitle(QStringLiteral("Data Report"));
        pdf.setResolution(300);
        painted = printReport(pdf, table, date);
    }
    if (!painted) {
        file.cancelWriting();
        file.commit();
        if (error)
            *error = QStringLiteral("The report could not be drawn");
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

QImage reportPageImage(const record::LogTable& table, std::size_t page, const QString& date,
                       double dpi) {
    const ReportLayout layout = files::dataReportLayout();
    const double dotsPerMm = dpi / 25.4;
    QImage image(static_cast<int>(std::lround(layout.pageWidth * dotsPerMm)),
                 static_cast<int>(std::lround(layout.pageHeight * dotsPerMm)),
                 QImage::Format_RGB32);
    const int dotsPerMeter = static_cast<int>(std::lround(dotsPerMm * 1000));
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    paintReportPage(painter, layout, table, page, date, dotsPerMm);
    painter.end();
    return image;
}

} // namespace kq::print
