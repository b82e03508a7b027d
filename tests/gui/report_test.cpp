// The window's file handlers with scripted dialogs: saving and loading the
// log, the chart bitmap, the report preview and its PDF.
#include "app/log_file_actions.h"
#include "print/report_painter.h"
#include "record/log_table.h"
#include "support/recording_dialogs.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <cmath>
#include <functional>
#include <sys/stat.h>

using Icon = kq::app::Dialogs::Icon;
using kq::record::LogTable;
using kq::test::RecordingDialogs;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void fill(LogTable& t, int rows) {
    for (int i = 1; i <= rows; ++i)
        t.append(i, "10:15:02", QByteArray::number(i * 1.5).toStdString(), "lux");
}

// Runs `inspect` on the modal dialog the action opens, then closes it. The
// dialog is looked for every few milliseconds for a bounded time; when none
// comes, `missing` says so and every window still open is closed, so a
// broken preview fails the test in seconds instead of blocking it.
class ModalWatch {
public:
    explicit ModalWatch(std::function<void(QWidget*)> inspect) : m_inspect(std::move(inspect)) {
        m_deadline.start();
        QTimer::singleShot(0, &m_context, [this] { look(); });
    }
    bool missing() const { return !m_seen; }

private:
    static constexpr int kGiveUpMs = 10000;
    void look() {
        if (m_done)
            return;
        if (QWidget* modal = QApplication::activeModalWidget()) {
            m_seen = true;
            m_done = true;
            m_inspect(modal);
            modal->close();
            return;
        }
        if (m_deadline.elapsed() > kGiveUpMs) {
            m_done = true;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->isVisible())
                    w->close();
            return;
        }
        QTimer::singleShot(5, &m_context, [this] { look(); });
    }
    QObject m_context; // its going cancels a look still pending
    std::function<void(QWidget*)> m_inspect;
    QElapsedTimer m_deadline;
    bool m_seen = false;
    bool m_done = false;
};

int darkPixels(const QImage& image, const QRect& area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += qGray(image.pixel(x, y)) < 128;
    return n;
}

// A word of a PDF page as pdftotext places it: its left and top edge in
// millimetres from the page's top left corner, and its text.
struct PdfWord {
    double x = 0, y = 0, right = 0;
    QString text;
};
using PdfPage = QList<PdfWord>;

// The words of every page, read by pdftotext (poppler-utils), or an error.
QList<PdfPage> pdfWords(const QString& path, QString& error) {
    QProcess tool;
    tool.start("pdftotext", {"-bbox", path, "-"});
    if (!tool.waitForStarted(10000)) {
        error = "pdftotext (poppler-utils) cannot be started: " + tool.errorString();
        return {};
    }
    tool.waitForFinished(60000);
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        error = "pdftotext failed: " + QString::fromLocal8Bit(tool.readAllStandardError());
        return {};
    }
    const QString out = QString::fromUtf8(tool.readAllStandardOutput());
    constexpr double kMmPerPoint = 25.4 / 72;
    static const QRegularExpression word(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="[\d.]+">([^<]*)</word>)re");
    QList<PdfPage> pages;
    for (const QString& line : out.split('\n')) {
        if (line.contains("<page "))
            pages.push_back({});
        const auto m = word.match(line);
        if (m.hasMatch() && !pages.isEmpty())
            pages.back().push_back({m.captured(1).toDouble() * kMmPerPoint,
                                    m.captured(2).toDouble() * kMmPerPoint,
                                    m.captured(3).toDouble() * kMmPerPoint, m.captured(4)});
    }
    return pages;
}

// The text of the word whose left top corner is at (x, y) mm, or a null string.
QString wordAt(const PdfPage& page, double x, double y) {
    for (const auto& w : page)
        if (std::abs(w.x - x) < 0.25 && std::abs(w.y - y) < 0.25)
            return w.text;
    return {};
}
} // namespace

class ReportTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>(); // a folder of its own for each test
        QVERIFY(m_dir->isValid());
        m_dialogs = RecordingDialogs();
        m_table.clear();
        m_busy = false;
        m_actions =
            std::make_unique<kq::app::LogFileActions>(&m_window, m_dialogs, m_table, m_busy);
    }

    void saveasWritesTheFormTheNameSelects_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("xml");
        QTest::addColumn<QByteArray>("start");
        QTest::newRow("xls") << "a.xls"
                             << "Information" << false << QByteArray("No\tTime\tValue\tUnit\r\n");
        QTest::newRow("upper-case XML")
            << "A.XML" << QCoreApplication::applicationName() << true << QByteArray("<?xml");
        // A .csv name gets the CSV form that every tool trusting the name expects.
        QTest::newRow("csv") << "a.CSV"
                             << "Information" << false
                             << QByteArray("no,datetime,time,value,unit,verdict,text\r\n1,");
    }
    void saveasWritesTheFormTheNameSelects() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(bool, xml);
        QFETCH(QByteArray, start);
        m_table.append(1, "10:15:02", " 12.5", "lux");
        const QString path = m_dir->filePath(name);
        m_dialogs.fileAnswers << path;
        m_actions->saveasClick();

        QCOMPARE(m_dialogs.lastSpecs.size(), std::size_t{1});
        const auto& spec = m_dialogs.lastSpecs[0];
        QCOMPARE(spec.filters, QStringList({"Excel File(*.xls)", "XML(*.xml)", "Txt File(*.txt)"}));
        QCOMPARE(spec.defaultSuffix, QString("xls"));
        QVERIFY(spec.confirmOverwrite);
        QVERIFY(spec.initialName.isEmpty());

        QCOMPARE(m_dialogs.messages.size(), std::size_t{1});
        QCOMPARE(m_dialogs.messages[0].caption, caption);
        QCOMPARE(m_dialogs.messages[0].text, "Save table to specified file: " + path + " Scuss!");
        QCOMPARE(m_dialogs.messages[0].icon, xml ? Icon::None : Icon::Information);
        const QByteArray bytes = readAll(path);
        QVERIFY(bytes.startsWith(start));
    }

    void saveFailuresShowTheirMessages() {
        m_dialogs.fileAnswers << m_dir->filePath("missing/a.txt")
                              << m_dir->filePath("missing/a.xml");
        m_actions->saveasClick();
        m_actions->saveasClick();
        QCOMPARE(m_dialogs.messages.size(), std::size_t{2});
        QCOMPARE(m_dialogs.messages[0].caption, QString("Error"));
        // The fixed sentence, then what went wrong and what became of the file.
        const QStringList text = m_dialogs.messages[0].text.split(QStringLiteral("\n\n"));
        QCOMPARE(text.size(), 2);
        QCOMPARE(text[0],
                 "Could not save table to specified file: " + m_dir->filePath("missing/a.txt"));
        QVERIFY2(text[1].contains("No such file or directory"), qPrintable(text[1]));
        QVERIFY(!m_dialogs.messages[0].owned);
        // The XML form reports through the general error report.
        QCOMPARE(m_dialogs.messages[1].caption, QCoreApplication::applicationName());
        QCOMPARE(m_dialogs.messages[1].icon, Icon::Error);
        QVERIFY(m_dialogs.messages[1].text.contains("No such file or directory"));
    }

    void cancelledDialogsDoNothing() {
        m_actions->saveasClick();
        m_actions->SpeedButton2Click();
        m_actions->BtSaveClick([] { return QImage(); });
        QVERIFY(m_dialogs.messages.empty());
        QVERIFY(QDir(m_dir->path()).entryList(QDir::Files).isEmpty());
    }

    void loadAppendsRemembersTheNameAndReportsFailure() {
        fill(m_table, 10);
        const QString good = m_dir->filePath("five.txt");
        QFile f(good);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("No\tTime\tValue\tUnit\r\n11\t12:00:00\t1.1\tlux\r\n12\t12:00:01\t1.2\tlux\r\n");
        f.close();
        int changed = 0;
        m_actions->setTableChanged([&] { ++changed; });

        m_dialogs.fileAnswers << good << m_dir->filePath("missing.xml");
        m_actions->SpeedButton2Click();
        QCOMPARE(m_table.rowCount(), std::size_t{12});
        QCOMPARE(changed, 1);
        QVERIFY(m_dialogs.messages.empty());
        // CSV logs are offered too, after the three forms the program saves, and any file at
        // all.
        QCOMPARE(m_dialogs.lastSpecs[0].filters,
                 QStringList({"Excel File(*.xls)", "XML (*.xml)", "Txt File(*.txt)",
                              "CSV File(*.csv)", "All files (*)"}));
        QVERIFY(m_dialogs.lastSpecs[0].defaultSuffix.isEmpty());

        m_actions->SpeedButton2Click();
        QCOMPARE(m_dialogs.lastSpecs[1].initialName, good); // shows the last name chosen
        QCOMPARE(m_table.rowCount(), std::size_t{12});
        QCOMPARE(changed, 1);
        // An XML log would replace the 12 unsaved rows: asked first (the
        // script answers Yes).
        QCOMPARE(
            m_dialogs.questions,
            QStringList{"12 readings have not been saved. Open missing.xml and discard them?"});
        QCOMPARE(m_dialogs.messages.size(), std::size_t{2});
        QCOMPARE(m_dialogs.messages[1].caption, QString("Error"));
        // The fixed first line, then the file and the reason.
        const QStringList lines = m_dialogs.messages[1].text.split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QString("Failed to Load File!"));
        QCOMPARE(lines[1], m_dir->filePath("missing.xml"));
        QVERIFY(!lines[2].isEmpty());
        QCOMPARE(m_dialogs.messages[1].icon, Icon::Error);
        QVERIFY(!m_dialogs.messages[1].owned);
        QCOMPARE(m_actions->lastOpenName(), m_dir->filePath("missing.xml"));
    }

    void copyLeftByAKilledSaveIsReported() {
        // A save in place that was killed leaves the old content in the data folder.
        const QByteArray before = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->path()));
        QVERIFY(QDir(m_dir->path()).mkpath("kqmeter"));
        const QString kept = m_dir->filePath("kqmeter/log.txt.before-save-Ab12Cd");
        QFile f(kept);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        m_actions->reportKeptCopies();
        qputenv("XDG_DATA_HOME", before);
        QCOMPARE(m_dialogs.messages.size(), std::size_t{1});
        QVERIFY2(m_dialogs.messages[0].text.contains(kept), qPrintable(m_dialogs.messages[0].text));
        QVERIFY(QFile::exists(kept)); // the user's to copy back
    }

    void onlyFilesOpenNeverAPipeThatMayNotEnd() {
        // A pipe nobody writes to: opening it must neither wait for a writer
        // nor read forever; the table stays and the message says why.
        fill(m_table, 3);
        const QString pipe = m_dir->filePath("pipe.txt");
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        m_dialogs.fileAnswers << pipe;
        QElapsedTimer took;
        took.start();
        m_actions->SpeedButton2Click();
        QVERIFY(took.elapsed() < 5000);
        QCOMPARE(m_table.rowCount(), std::size_t{3});
        QCOMPARE(m_dialogs.messages.size(), std::size_t{1});
        QCOMPARE(m_dialogs.messages[0].caption, QString("Error"));
        QVERIFY2(m_dialogs.messages[0].text.startsWith("Failed to Load File!\n") &&
                     m_dialogs.messages[0].text.contains("not a file but a pipe"),
                 qPrintable(m_dialogs.messages[0].text));
    }

    void longWorkShowsProgressAndStillSavesEverything() {
        fill(m_table, 2000);
        m_actions->setProgressRows(100);
        const QString path = m_dir->filePath("long.xml");
        m_dialogs.fileAnswers << path << path;
        m_actions->saveasClick();
        QVERIFY(!m_busy);
        LogTable before;
        fill(before, 2000);
        m_table.clear();
        m_actions->SpeedButton2Click();
        QCOMPARE(m_table.rowCount(), std::size_t{2000});
        QVERIFY(!m_busy);
        QCOMPARE(m_dialogs.messages.size(), std::size_t{1}); // the save's, no failure
    }

    void chartBitmapIsABitmapWhateverTheExtension_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("bmp") << "chart.bmp";
        QTest::newRow("jpg") << "chart.jpg";
        QTest::newRow("none") << "chart";
    }
    void chartBitmapIsABitmapWhateverTheExtension() {
        QFETCH(QString, name);
        const QString path = m_dir->filePath(name);
        m_dialogs.fileAnswers << path;
        int grabbed = 0;
        m_actions->BtSaveClick([&] {
            ++grabbed;
            QImage image(321, 394, QImage::Format_RGB32);
            image.fill(Qt::darkGreen);
            return image;
        });
        QCOMPARE(grabbed, 1);
        QCOMPARE(m_dialogs.lastSpecs[0].filters, QStringList({"Bitmaps (*.bmp)"}));
        QCOMPARE(m_dialogs.lastSpecs[0].defaultSuffix, QString("bmp"));
        QVERIFY(m_dialogs.lastSpecs[0].confirmOverwrite);
        const QByteArray bytes = readAll(path);
        QVERIFY(bytes.startsWith("BM"));
        const QImage back = QImage::fromData(bytes, "BMP");
        QCOMPARE(back.size(), QSize(321, 394));
        QCOMPARE(back.pixelColor(10, 10), QColor(Qt::darkGreen));
        QCOMPARE(m_dialogs.messages.size(), std::size_t{1});
        QCOMPARE(m_dialogs.messages[0].caption, QString("Information"));
        QCOMPARE(m_dialogs.messages[0].text, "Graphic has saved on " + path);
        QVERIFY(m_dialogs.messages[0].owned);
    }

    void chartBitmapFailureGoesToTheErrorReport() {
        m_dialogs.fileAnswers << m_dir->filePath("missing/chart.bmp");
        m_actions->BtSaveClick([] {
            QImage image(10, 10, QImage::Format_RGB32);
            image.fill(Qt::white);
            return image;
        });
        QCOMPARE(m_dialogs.messages.size(), std::size_t{1});
        QCOMPARE(m_dialogs.messages[0].caption, QCoreApplication::applicationName());
        QCOMPARE(m_dialogs.messages[0].icon, Icon::Error);
        QVERIFY(!m_dialogs.messages[0].text.startsWith("Graphic has saved"));
    }

    void previewShowsEveryPageWhilePrintBusy_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("pages");
        QTest::newRow("empty table") << 0 << 1;
        QTest::newRow("100 rows") << 100 << 3;
    }
    void previewShowsEveryPageWhilePrintBusy() {
        QFETCH(int, rows);
        QFETCH(int, pages);
        fill(m_table, rows);
        bool busyWhileOpen = false;
        int shownPages = -1;
        QString objectName;
        ModalWatch watch([&](QWidget* modal) {
            busyWhileOpen = m_busy;
            objectName = modal->objectName();
            if (auto* view = modal->findChild<QPrintPreviewWidget*>())
                shownPages = view->pageCount();
        });
        m_actions->BtPrintClick("09/12/2026");
        QVERIFY2(!watch.missing(), "the report preview did not open");
        QVERIFY(busyWhileOpen);
        QVERIFY(!m_busy);
        QCOMPARE(objectName, QString("ReportPreview"));
        QCOMPARE(shownPages, pages);
    }

    void previewSavesThePdf() {
        fill(m_table, 50);
        const QString path = m_dir->filePath("report.pdf");
        m_dialogs.fileAnswers << path;
        ModalWatch watch([](QWidget* modal) {
            auto* pdf = modal->findChild<QAction*>("ReportSavePdf");
            QVERIFY(pdf != nullptr);
            pdf->trigger();
        });
        m_actions->BtPrintClick("09/12/2026");
        QVERIFY2(!watch.missing(), "the report preview did not open");
        QVERIFY(readAll(path).startsWith("%PDF"));
        QVERIFY(m_dialogs.messages.empty());

        // The report read back as a reader of the paper would: A4 with 10 mm
        // margins, the page header and the column titles (10.6 mm each) on
        // top, the page footer (10.6 mm) at the foot, 6.6 mm a row between.
        const double top = 10, left = 10, band = 10.6, row = 6.6;
        const double detailTop = top + 2 * band;
        const int rowsPerPage = int((297 - 2 * top - 3 * band) / row); // 37
        QString error;
        const QList<PdfPage> pages = pdfWords(path, error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(pages.size(), 2);
        for (int p = 0; p < pages.size(); ++p) {
            const PdfPage& page = pages[p];
            const QString where = QString("page %1").arg(p + 1);
            // Title centred on the 190 mm band, date and page number in place.
            const PdfWord* data = nullptr;
            const PdfWord* report = nullptr;
            for (const auto& w : page) {
                if (w.text == "Data")
                    data = &w;
                if (w.text == "Report")
                    report = &w;
            }
            QVERIFY2(data && report, qPrintable(where));
            QVERIFY2(std::abs((data->x + report->right) / 2 - (left + 95)) < 0.5,
                     qPrintable(where));
            QCOMPARE(data->y, report->y);
            QVERIFY(std::abs(data->y - (top + 2.1)) < 0.25);
            QCOMPARE(wordAt(page, left + 158.8, top + 5.3), QString("Print"));
            QCOMPARE(wordAt(page, left + 171.4, top + 5.3), QString("09/12/2026"));
            QCOMPARE(wordAt(page, left + 12.7, top + band + 4.2), QString("No"));
            QCOMPARE(wordAt(page, left + 33.9, top + band + 4.2), QString("Time"));
            QCOMPARE(wordAt(page, left + 66.4, top + band + 4.2), QString("Value"));
            QCOMPARE(wordAt(page, left + 86.8, top + band + 4.2), QString("Unit"));
            QCOMPARE(wordAt(page, left + 153.5, 297 - top - band + 4.2), QString::number(p + 1));
            // The detail rows this page holds, each field in its column.
            int rowsHere = 0;
            for (int k = 0; k < rowsPerPage; ++k) {
                const int no = p * rowsPerPage + k + 1;
                const double y = detailTop + k * row + 2.1;
                const QString slot = where + QString(", slot %1").arg(k + 1);
                if (no > 50) {
                    QVERIFY2(wordAt(page, left + 12.7, y).isNull(), qPrintable(slot));
                    continue;
                }
                ++rowsHere;
                QCOMPARE(wordAt(page, left + 12.7, y), QString::number(no));
                QCOMPARE(wordAt(page, left + 33.9, y), QString("10:15:02"));
                QCOMPARE(wordAt(page, left + 65.6, y), QString::number(no * 1.5));
                QCOMPARE(wordAt(page, left + 86.8, y), QString("lux"));
            }
            // Nothing else: title (2 words), "Print Date:" (2), date, four
            // titles, page number, four words a row.
            QCOMPARE(page.size(), 2 + 2 + 1 + 4 + 1 + 4 * rowsHere);
        }
    }

    void pagePictureHasItsTextInPlace() {
        fill(m_table, 40);
        const double dpi = 96;
        const QImage first = kq::print::reportPageImage(m_table, 0, "09/12/2026", dpi);
        const QImage second = kq::print::reportPageImage(m_table, 1, "09/12/2026", dpi);
        const double mm = dpi / 25.4;
        auto box = [&](double x, double y, double w, double h) {
            return QRect(int(x * mm), int(y * mm), int(w * mm), int(h * mm));
        };
        // Title centred on the band (10..200 mm), nothing in the left margin.
        QVERIFY(darkPixels(first, box(85, 12, 40, 7)) > 50);
        QCOMPARE(darkPixels(first, box(0, 0, 9, 297)), 0);
        QVERIFY(darkPixels(first, box(168, 14, 12, 4)) > 5); // "Print Date:"
        // Page 1 holds 37 detail bands, page 2 the other 3.
        QVERIFY(darkPixels(first, box(22, 31.2 + 36 * 6.6 + 2, 15, 4)) > 5);
        QVERIFY(darkPixels(second, box(22, 31.2 + 2 * 6.6 + 2, 15, 4)) > 5);
        QCOMPARE(darkPixels(second, box(22, 31.2 + 3 * 6.6 + 1, 100, 6)), 0);
        // The page number in the footer band on the bottom margin.
        QVERIFY(darkPixels(second, box(163, 276.4 + 4, 8, 5)) > 5);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QWidget m_window;
    RecordingDialogs m_dialogs;
    LogTable m_table;
    bool m_busy = false;
    std::unique_ptr<kq::app::LogFileActions> m_actions;
};

QTEST_MAIN(ReportTest)
#include "report_test.moc"
