#include "cli_commands.h"
#include "command_help.h"
#include "log_loading.h"

#include "files/log_file.h"
#include "print/report_painter.h"
#include "record/log_table.h"

#include <QDate>
#include <QGuiApplication>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace kq::cli {

// Renders the "Data Report" of a log file to PDF with the layout and painter
// the window's preview uses. Fonts and painting need a GUI application, which
// runs offscreen unless a platform is named.
int runReport(const std::vector<std::string>& args, int argc, char** argv) {
    std::optional<std::string> date;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--date" && i + 1 < args.size())
            date = args[++i];
        else
            files.push_back(args[i]);
    }
    if (files.size() != 2) {
        printCommandUsage("report", stderr);
        return 2;
    }
    record::LogTable table;
    const files::LoadResult loaded = loadLogOrTell(table, files[0]);
    if (!loaded.ok())
        return 1;
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    const QString dateText =
        date ? QString::fromLocal8Bit(date->c_str()) : print::reportDateText(QDate::currentDate());
    QString error;
    if (!print::saveReportPdf(table, QString::fromLocal8Bit(files[1].c_str()), dateText, &error)) {
        std::fprintf(stderr, "kqmeter-cli: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    const auto pages = files::dataReportLayout().pageCount(table.rowCount());
    std::printf("rows %zu, pages %zu\n", table.rowCount(), pages);
    return 0;
}

} // namespace kq::cli
