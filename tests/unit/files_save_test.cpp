#include "files/atomic_file.h"
#include "files/log_file.h"
#include "files_test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using kq::files::LoadResult;
using kq::files::LogForm;
using kq::files::SaveResult;
using kq::record::LogTable;
using namespace kq::files::test;

namespace {

LogTable tableOf(int rows) {
    LogTable t;
    for (int i = 1; i <= rows; ++i)
        t.append(i, "10:00:00", std::to_string(i) + ".5", "lux");
    return t;
}

TEST(LogFileForm, ChosenByTheLowerCasedExtensionOnly) {
    struct Case {
        const char* name;
        LogForm form;
    };
    const Case cases[] = {
        {"a.xml", LogForm::Xml},      {"A.XML", LogForm::Xml},   {"/x/b.XmL", LogForm::Xml},
        {".xml", LogForm::Xml},       {"a.csv", LogForm::Csv},   {"a.xls", LogForm::Text},
        {"a.txt", LogForm::Text},     {"a", LogForm::Text},      {"a.xml.txt", LogForm::Text},
        {"a.txt.xml", LogForm::Xml},  {"B.CSV", LogForm::Csv},   {"a.csv.txt", LogForm::Text},
        {"dir.xml/a", LogForm::Text}, {"a.xmll", LogForm::Text},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kq::files::formForName(c.name), c.form) << c.name;
}

TEST(LogFileSave, WritesTheFormTheNameSelects) {
    TempDir dir;
    LogTable t;
    t.append(1, "10:15:02", " 12.5", "lux");
    struct Case {
        const char* name;
        const char* expected;
    };
    for (const Case& c : {Case{"a.txt", "one_row.txt"}, Case{"a.csv", "one_row.csv"},
                          Case{"b.xls", "one_row.txt"}, Case{"noext", "one_row.txt"},
                          Case{"A.XML", "one_row.xml"}, Case{"c.xml", "one_row.xml"}}) {
        SCOPED_TRACE(c.name);
        const auto r = kq::files::saveLog(t, dir.file(c.name));
        ASSERT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(readFile(dir.file(c.name)), dataFile(c.expected));
    }
    // Nothing but the saved files is left in the folder.
    EXPECT_EQ(dir.names(),
              (std::vector<std::string>{"A.XML", "a.csv", "a.txt", "b.xls", "c.xml", "noext"}));
}

TEST(LogFileSave, FailuresLeaveTheOldFileAndNoTemporaryFile) {
    TempDir dir;
    const LogTable t = tableOf(3);
    struct Case {
        const char* what;
        std::string path;
    };
    ::mkdir(dir.file("folder.txt").c_str(), 0755);
    const Case cases[] = {
        {"missing folder", dir.file("missing/a.txt")},
        {"missing folder, xml", dir.file("missing/a.xml")},
        {"target is a folder", dir.file("folder.txt")},
        {"empty name", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto r = kq::files::saveLog(t, c.path);
        EXPECT_EQ(r.status, SaveResult::Status::Failed);
        EXPECT_FALSE(r.error.empty());
    }
    EXPECT_EQ(dir.names(), std::vector<std::string>{"folder.txt"});
}

// A real write error on a real file: the file size limit makes write() fail
// with EFBIG part-way, as a full disk would with ENOSPC.
TEST(LogFileSave, WriteErrorPartWayKeepsTheOldFile) {
    TempDir dir;
    for (const char* name : {"old.txt", "old.xml"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(name);
        writeFile(path, "the old log\r\n");
        const LogTable big = tableOf(300000); // several MiB in either form

        struct sigaction ignore {};
        struct sigaction previous {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGXFSZ, &ignore, &previous);
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 2u << 20;
        ::setrlimit(RLIMIT_FSIZE, &small);
        const auto r = kq::files::saveLog(big, path);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::sigaction(SIGXFSZ, &previous, nullptr);

        EXPECT_EQ(r.status, SaveResult::Status::Failed);
        EXPECT_NE(r.error.find("File too large"), std::string::npos) << r.error;
        EXPECT_EQ(readFile(path), "the old log\r\n");
        EXPECT_EQ(dir.names(), std::vector<std::string>{name});
        ::unlink(path.c_str());
    }
}

TEST(LogFileSave, CancelKeepsTheOldFile) {
    TempDir dir;
    const LogTable big = tableOf(200000);
    for (const char* name : {"c.txt", "c.xml"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(name);
        writeFile(path, "before");
        int calls = 0;
        const auto r = kq::files::saveLog(big, path, [&](std::uint64_t done, std::uint64_t total) {
            EXPECT_EQ(total, big.rowCount());
            EXPECT_LT(done, total);
            return ++calls < 2;
        });
        EXPECT_EQ(r.status, SaveResult::Status::Cancelled);
        EXPECT_EQ(calls, 2);
        EXPECT_EQ(readFile(path), "before");
    }
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"c.txt", "c.xml"}));
}

TEST(LogFileSave, ReplacingKeepsPermissionsAndFollowsLinks) {
    TempDir dir;
    const std::string real = dir.file("real.txt");
    writeFile(real, "old");
    ::chmod(real.c_str(), 0640);
    ASSERT_EQ(::symlink(real.c_str(), dir.file("link.txt").c_str()), 0);

    ASSERT_TRUE(kq::files::saveLog(tableOf(1), dir.file("link.txt")).ok());
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file("link.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(readFile(real), "No\tTime\tValue\tUnit\r\n1\t10:00:00\t1.5\tlux\r\n");
}

TEST(LogFileLoad, FailuresLeaveTheTableAsItWas) {
    TempDir dir;
    ::mkdir(dir.file("folder.xml").c_str(), 0755);
    writeFile(dir.file("empty.txt"), "");
    writeFile(dir.file("broken.xml"), dataFile("one_row.xml").substr(0, 200));
    writeFile(dir.file("text.xml"), dataFile("one_row.txt"));
    for (const char* name :
         {"missing.txt", "missing.xml", "folder.xml", "empty.txt", "broken.xml", "text.xml"}) {
        SCOPED_TRACE(name);
        LogTable t = tableOf(4);
        const auto r = kq::files::loadLog(t, dir.file(name));
        EXPECT_EQ(r.status, LoadResult::Status::Failed);
        EXPECT_EQ(rowTexts(t), rowTexts(tableOf(4)));
        EXPECT_EQ(changeLog(t), changeLog(tableOf(4)));
        // Still open for the reading log.
        t.append(5, "10:00:00", "5.5", "lux");
        EXPECT_EQ(t.rowCount(), 5u);
    }
}

TEST(LogFileLoad, XmlReplacesTextAppends) {
    TempDir dir;
    const std::string xml = dir.file("a.XML");
    const std::string txt = dir.file("a.txt");
    writeFile(xml, dataFile("one_row.xml"));
    writeFile(txt, dataFile("five_rows.txt"));

    LogTable t = tableOf(10);
    ASSERT_TRUE(kq::files::loadLog(t, txt).ok());
    EXPECT_EQ(t.rowCount(), 15u);
    const auto r = kq::files::loadLog(t, xml);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.rows, 1u);
    EXPECT_EQ(rowTexts(t), std::vector<std::string>{"1|10:15:02| 12.5|lux"});
}

TEST(LogFileLoad, CancelledXmlLoadLeavesTheTable) {
    TempDir dir;
    const std::string path = dir.file("big.xml");
    ASSERT_TRUE(kq::files::saveLog(tableOf(100000), path).ok());
    LogTable t = tableOf(2);
    const auto r = kq::files::loadLog(t, path, [](std::uint64_t, std::uint64_t) { return false; });
    EXPECT_EQ(r.status, LoadResult::Status::Cancelled);
    EXPECT_EQ(rowTexts(t), rowTexts(tableOf(2)));
}

TEST(AtomicFile, DroppedWithoutCommitRemovesItsTemporaryFile) {
    TempDir dir;
    {
        kq::files::AtomicFile f(dir.file("x.txt"));
        ASSERT_TRUE(f.open());
        ASSERT_TRUE(f.write("abc", 3));
        EXPECT_EQ(dir.names().size(), 1u);
    }
    EXPECT_TRUE(dir.names().empty());
}

} // namespace
