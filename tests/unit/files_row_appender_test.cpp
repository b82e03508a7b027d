// Files that grow by rows (a recording, the recovery journal) when the disk
// refuses part of a batch: what is on disk always ends at a whole row, is
// never cut below what was reported written, and the refused rows follow once
// there is room.
#include "files/recording_file.h"
#include "files/recovery_journal.h"
#include "files_test_support.h"
#include "record/log_table.h"
#include "record/save_mark.h"
#include "support/child_process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kq::files {
namespace {

using record::LogTable;
using test::TempDir;

const std::string kHeader = "No\tTime\tValue\tUnit\r\n";

std::string rowLine(int i) {
    return std::to_string(i) + "\t08:00:00\t" + std::to_string(i * 111) + "\tlux\r\n";
}

void appendRows(LogTable& table, int from, int to) {
    for (int i = from; i <= to; ++i)
        table.append(i, "08:00:00", std::to_string(i * 111), "lux");
}

std::string lines(int from, int to) {
    std::string s;
    for (int i = from; i <= to; ++i)
        s += rowLine(i);
    return s;
}

// Runs `body` in a child whose files may not grow past `limit` bytes (writes
// beyond it are cut short, then refused), as on a nearly full disk. The body
// may raise the limit again with setrlimit. Returns the body's status.
int withFileSizeLimit(rlim_t limit, const std::function<int()>& body) {
    return kq::test::runInChild(
        [limit] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit rl{};
            ::getrlimit(RLIMIT_FSIZE, &rl);
            rl.rlim_cur = limit;
            return ::setrlimit(RLIMIT_FSIZE, &rl) == 0;
        },
        body);
}

void liftFileSizeLimit() {
    rlimit rl{};
    ::getrlimit(RLIMIT_FSIZE, &rl);
    rl.rlim_cur = rl.rlim_max;
    ::setrlimit(RLIMIT_FSIZE, &rl);
}

TEST(RowsOnAFullDisk, FileEndsAtAWholeRowAndTheRestFollows) {
    const auto recording = [](const std::string& path) {
        auto file = std::make_shared<RecordingFile>(path);
        return std::function<bool(const LogTable&)>(
            [file, first = true](const LogTable& t) mutable {
                if (first && !file->start())
                    return false;
                first = false;
                return file->flush(t);
            });
    };
    const auto journal = [](const std::string& path) {
        auto j = std::make_shared<RecoveryJournal>(path);
        return std::function<bool(const LogTable&)>(
            [j](const LogTable& t) { return j->sync(t, record::SaveMark{}); });
    };
    const struct {
        const char* what;
        std::function<std::function<bool(const LogTable&)>(const std::string&)> make;
    } writers[] = {{"recording", recording}, {"recovery journal", journal}};

    for (const auto& w : writers) {
        SCOPED_TRACE(w.what);
        TempDir dir;
        const std::string path = dir.file("log.txt");
        // Room for the header, two rows and half of the third.
        const rlim_t limit = kHeader.size() + lines(1, 2).size() + rowLine(3).size() / 2;
        const int got = withFileSizeLimit(limit, [&] {
            auto sync = w.make(path);
            LogTable table;
            appendRows(table, 1, 2);
            if (!sync(table))
                return 1;
            appendRows(table, 3, 5);
            if (sync(table))
                return 2; // the disk took rows it has no room for
            // What is on disk: the rows reported, not a byte of a torn one.
            if (test::readFile(path) != kHeader + lines(1, 2))
                return 3;
            if (sync(table) || test::readFile(path) != kHeader + lines(1, 2))
                return 4; // still full: nothing changes
            liftFileSizeLimit();
            appendRows(table, 6, 6);
            if (!sync(table))
                return 5;
            return test::readFile(path) == kHeader + lines(1, 6) ? 0 : 6;
        });
        EXPECT_EQ(got, 0);
    }
}

TEST(RecordingFile, StartTakesTheNameOrNothing) {
    TempDir dir;
    // A second recording onto a name in use, or onto a file that is there,
    // does not start and leaves the file alone.
    const std::string text = dir.file("log.txt");
    RecordingFile first(text);
    ASSERT_TRUE(first.start()) << first.error();
    EXPECT_EQ(test::readFile(text), kHeader);
    RecordingFile second(text);
    EXPECT_FALSE(second.start());
    EXPECT_NE(second.error().find("File exists"), std::string::npos) << second.error();
    LogTable table;
    appendRows(table, 1, 2);
    ASSERT_TRUE(first.flush(table));
    EXPECT_EQ(test::readFile(text), kHeader + lines(1, 2));

    // An XML recording does not start where the packet's name is taken.
    test::writeFile(dir.file("old.xml"), "mine");
    RecordingFile xml(dir.file("old.xml"));
    EXPECT_FALSE(xml.start());
    EXPECT_EQ(test::readFile(dir.file("old.xml")), "mine");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"log.txt", "old.xml"}));

    // A place that takes no file fails at the start and names the file.
    RecordingFile nowhere(dir.file("none/log.txt"));
    EXPECT_FALSE(nowhere.start());
    EXPECT_EQ(nowhere.error(),
              "Cannot write file " + dir.file("none/log.txt") + ": No such file or directory");
}

TEST(RecordingFile, PacketThatFindsItsNameTakenGoesToAFreeOne) {
    TempDir dir;
    const std::string path = dir.file("run.xml");
    RecordingFile out(path);
    ASSERT_TRUE(out.start());
    LogTable table;
    appendRows(table, 1, 3);
    ASSERT_TRUE(out.flush(table));
    // Another program saved under the name, and a second free name is taken too.
    test::writeFile(path, "theirs");
    test::writeFile(dir.file("run-2.xml"), "also theirs");
    const SaveResult r = out.finish(table);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_TRUE(out.tookAnotherName());
    EXPECT_EQ(out.path(), dir.file("run-3.xml"));
    EXPECT_EQ(test::readFile(path), "theirs");
    EXPECT_EQ(test::readFile(dir.file("run-2.xml")), "also theirs");
    LogTable back;
    ASSERT_TRUE(loadLog(back, out.path()).ok());
    EXPECT_EQ(back.rowCount(), 3u);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"run-2.xml", "run-3.xml", "run.xml"}));
}

TEST(RecordingFile, PacketThatCannotBeWrittenKeepsTheRows) {
    TempDir dir;
    const std::string path = dir.file("log.xml");
    const int got = withFileSizeLimit(4096, [&] {
        RecordingFile out(path);
        LogTable table;
        appendRows(table, 1, 3);
        if (!out.start() || !out.flush(table))
            return 1;
        appendRows(table, 4, 200); // a packet far beyond the limit
        if (out.finish(table).ok())
            return 2;
        // The rows file holds whole rows only, and says how many.
        const std::string rows = test::readFile(out.rowsPath());
        if (rows.substr(0, kHeader.size()) != kHeader || !rows.ends_with("\r\n") ||
            rows.size() > 4096)
            return 3;
        if (out.rowsOnDisk() < 3 || rows != kHeader + lines(1, static_cast<int>(out.rowsOnDisk())))
            return 4;
        return 0;
    });
    EXPECT_EQ(got, 0);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"log.xml.rows.txt"});
}

TEST(RecordingFile, RecordingThatNeverBeganLeavesNoFile) {
    TempDir dir;
    for (const char* name : {"a.txt", "b.xml"}) {
        RecordingFile out(dir.file(name));
        ASSERT_TRUE(out.start());
    }
    EXPECT_TRUE(dir.names().empty());
}

} // namespace
} // namespace kq::files
