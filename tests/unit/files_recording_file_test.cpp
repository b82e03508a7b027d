// The log file of an unattended recording: which files exist, and what they
// hold, after each second and at the end, for both forms.
#include "files/log_file.h"
#include "files/recording_file.h"
#include "files_test_support.h"
#include "record/log_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kq::files {
namespace {

using record::LogTable;
using test::TempDir;

const std::string kHeader = "No\tTime\tValue\tUnit\r\n";

struct Case {
    const char* name;
    const char* file;
    int rows;    // rows logged
    bool finish; // the recording ended (else: one second has passed)
    std::vector<std::string> files;
    std::string rowsFile; // what the text file holding the rows reads, if any
};

class RecordingFileCase : public ::testing::TestWithParam<Case> {};

TEST_P(RecordingFileCase, FilesOnDisk) {
    const Case& c = GetParam();
    TempDir dir;
    const std::string path = dir.file(c.file);
    RecordingFile out(path);
    ASSERT_TRUE(out.start()) << out.error();
    LogTable table;
    for (int i = 1; i <= c.rows; ++i)
        table.append(i, "08:00:0" + std::to_string(i), std::to_string(i * 10), "lux");
    if (c.finish)
        ASSERT_TRUE(out.finish(table).ok()) << out.error();
    else
        ASSERT_TRUE(out.flush(table)) << out.error();
    EXPECT_EQ(dir.names(), c.files);
    if (!c.rowsFile.empty()) {
        EXPECT_EQ(test::readFile(out.rowsPath()), c.rowsFile);
    }
    if (c.finish) {
        // The complete file loads and holds every row.
        LogTable back;
        ASSERT_TRUE(loadLog(back, path).ok());
        EXPECT_EQ(back.rowCount(), std::size_t(c.rows));
        // Byte for byte what a save of the table writes.
        ASSERT_TRUE(
            saveLog(table, dir.file(std::string("saved.") + (out.xml() ? "xml" : "txt"))).ok());
        EXPECT_EQ(test::readFile(path),
                  test::readFile(dir.file(std::string("saved.") + (out.xml() ? "xml" : "txt"))));
    }
}

const std::string kTwoRows = kHeader + "1\t08:00:01\t10\tlux\r\n2\t08:00:02\t20\tlux\r\n";

INSTANTIATE_TEST_SUITE_P(
    Forms, RecordingFileCase,
    ::testing::Values(Case{"TextNothingYet", "log.txt", 0, false, {"log.txt"}, kHeader},
                      Case{"TextAfterASecond", "log.txt", 2, false, {"log.txt"}, kTwoRows},
                      Case{"TextEnded", "log.txt", 2, true, {"log.txt"}, kTwoRows},
                      Case{"TextEndedEmpty", "log.txt", 0, true, {"log.txt"}, kHeader},
                      Case{"NameWithoutExtensionIsText", "log", 2, false, {"log"}, kTwoRows},
                      Case{"XmlNothingYet", "log.xml", 0, false, {"log.xml.rows.txt"}, kHeader},
                      Case{"XmlAfterASecond", "log.xml", 2, false, {"log.xml.rows.txt"}, kTwoRows},
                      Case{"XmlUpperCase", "LOG.XML", 2, false, {"LOG.XML.rows.txt"}, kTwoRows},
                      Case{"XmlEnded", "log.xml", 2, true, {"log.xml"}, ""},
                      Case{"XmlEndedEmpty", "log.xml", 0, true, {"log.xml"}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kq::files
