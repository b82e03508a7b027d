// The recovery journal: what the file holds after each step of a recording,
// and what a journal left behind by a crash or a power cut gives back.
#include "files/recovery_journal.h"
#include "files_test_support.h"
#include "record/log_table.h"
#include "record/save_mark.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kq::files {
namespace {

using record::LogTable;
using record::SaveMark;
using test::TempDir;

constexpr const char* kHeader = "No\tTime\tValue\tUnit\r\n";

// One step of a recording as the window takes it.
struct Step {
    enum Kind { Row, Sync, Save, New } kind;
    int no = 0;
    const char* value = nullptr; // null: a field without value
};

Step row(int no, const char* value) {
    return {Step::Row, no, value};
}
const Step sync{Step::Sync};
const Step save{Step::Save};
const Step fresh{Step::New};

struct Case {
    const char* name;
    std::vector<Step> steps;
    std::optional<std::string> file; // the journal's bytes at the end; nullopt: no file
};

class JournalSteps : public ::testing::TestWithParam<Case> {};

TEST_P(JournalSteps, FileHoldsExactlyTheUnsavedRows) {
    const Case& c = GetParam();
    TempDir dir;
    const std::string path = dir.file("recovery.txt");
    RecoveryJournal journal(path);
    LogTable table;
    SaveMark mark;
    for (const Step& s : c.steps) {
        switch (s.kind) {
        case Step::Row:
            table.append(s.no, "12:00:0" + std::to_string(s.no % 10),
                         s.value ? std::optional<std::string_view>(s.value) : std::nullopt, "Lux");
            break;
        case Step::Sync:
            ASSERT_TRUE(journal.sync(table, mark)) << journal.error();
            break;
        case Step::Save:
            mark.markAll(table);
            break;
        case Step::New:
            table.clear();
            break;
        }
    }
    if (c.file) {
        EXPECT_EQ(test::readFile(path), *c.file);
    } else {
        EXPECT_EQ(dir.names(), std::vector<std::string>{});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Recording, JournalSteps,
    ::testing::Values(
        Case{"NothingLoggedNoFile", {sync}, std::nullopt},
        Case{"RowsBeforeFirstSecond", {row(1, "12.5"), row(2, "13")}, std::nullopt},
        Case{"FirstSecond",
             {row(1, "12.5"), row(2, "13"), sync},
             std::string(kHeader) + "1\t12:00:01\t12.5\tLux\r\n2\t12:00:02\t13\tLux\r\n"},
        Case{"LaterRowsAppended",
             {row(1, "1"), sync, row(2, "2"), sync, sync, row(3, "3"), sync},
             std::string(kHeader) + "1\t12:00:01\t1\tLux\r\n2\t12:00:02\t2\tLux\r\n"
                                    "3\t12:00:03\t3\tLux\r\n"},
        Case{"FieldWithoutValueWrittenAsNull",
             {row(7, nullptr), sync},
             std::string(kHeader) + "7\t12:00:07\tNULL\tLux\r\n"},
        Case{"SavedEverythingRemovesIt", {row(1, "1"), sync, save, sync}, std::nullopt},
        Case{"RowsAfterSaveOnly",
             {row(1, "1"), row(2, "2"), sync, save, row(3, "3"), sync},
             std::string(kHeader) + "3\t12:00:03\t3\tLux\r\n"},
        Case{"SaveBetweenSyncsStartsAfresh",
             {row(1, "1"), sync, row(2, "2"), save, row(3, "3"), sync},
             std::string(kHeader) + "3\t12:00:03\t3\tLux\r\n"},
        Case{"NewRemovesIt", {row(1, "1"), sync, fresh, sync}, std::nullopt},
        Case{"NewThenRowsWithinOneSecond",
             {row(1, "1"), row(2, "2"), sync, fresh, row(1, "9"), sync},
             std::string(kHeader) + "1\t12:00:01\t9\tLux\r\n"},
        Case{"SavedThenNewThenRows",
             {row(1, "1"), sync, save, fresh, row(1, "5"), sync},
             std::string(kHeader) + "1\t12:00:01\t5\tLux\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecoveryJournal, ReadBackGivesTheSameRows) {
    TempDir dir;
    RecoveryJournal journal(dir.file("recovery.txt"));
    LogTable table;
    SaveMark mark;
    table.append(1, "23:59:58", "-0.05", "mV");
    table.append(2, "23:59:59", std::nullopt, "mV");
    ASSERT_TRUE(journal.sync(table, mark));
    table.append(3, "00:00:00", "OL", std::nullopt);
    table.append(4, "00:00:01", "1999", "Lux");
    ASSERT_TRUE(journal.sync(table, mark));
    LogTable back;
    const LoadResult r = readJournal(back, journal.path());
    ASSERT_TRUE(r.ok()) << r.error;
    // Written and read back through the text form, whose rule is that an empty
    // text is written as NULL and comes back as the text "NULL".
    EXPECT_EQ(test::rowTexts(back),
              (std::vector<std::string>{"1|23:59:58|-0.05|mV", "2|23:59:59|NULL|mV",
                                        "3|00:00:00|OL|NULL", "4|00:00:01|1999|Lux"}));
}

TEST(RecoveryJournal, FolderThatDoesNotExistIsReported) {
    TempDir dir;
    const std::string path = dir.file("gone/recovery.txt");
    RecoveryJournal journal(path);
    LogTable table;
    table.append(1, "12:00:00", "1", "Lux");
    EXPECT_FALSE(journal.sync(table, SaveMark{}));
    EXPECT_NE(journal.error().find(path), std::string::npos) << journal.error();
    // Once the folder is there, the next second writes every unsaved row.
    ASSERT_EQ(::mkdir(dir.file("gone").c_str(), 0700), 0);
    EXPECT_TRUE(journal.sync(table, SaveMark{}));
    EXPECT_EQ(test::readFile(path), std::string(kHeader) + "1\t12:00:00\t1\tLux\r\n");
}

struct LeftBehind {
    const char* name;
    std::string bytes;
    std::vector<std::string> rows;
};

class JournalLeftBehind : public ::testing::TestWithParam<LeftBehind> {};

TEST_P(JournalLeftBehind, WholeLinesComeBack) {
    TempDir dir;
    const std::string path = dir.file("recovery.txt");
    test::writeFile(path, GetParam().bytes);
    LogTable table;
    const LoadResult r = readJournal(table, path);
    EXPECT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(test::rowTexts(table), GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(
    Crash, JournalLeftBehind,
    ::testing::Values(
        LeftBehind{"Empty", "", {}}, LeftBehind{"HeaderCutShort", "No\tTi", {}},
        LeftBehind{"HeaderOnly", kHeader, {}},
        LeftBehind{"WholeRows",
                   std::string(kHeader) + "1\t10:00:00\t5\tLux\r\n2\t10:00:01\t6\tLux\r\n",
                   {"1|10:00:00|5|Lux", "2|10:00:01|6|Lux"}},
        LeftBehind{"LastRowCutShort",
                   std::string(kHeader) + "1\t10:00:00\t5\tLux\r\n2\t10:00",
                   {"1|10:00:00|5|Lux"}},
        LeftBehind{"CutBetweenCrAndLf",
                   std::string(kHeader) + "1\t10:00:00\t5\tLux\r\n2\t10:00:01\t6\tLux\r",
                   {"1|10:00:00|5|Lux", "2|10:00:01|6|Lux"}},
        LeftBehind{"CutLineLongerThanOneReadBlock",
                   std::string(kHeader) + "3\t10:00:02\t7\tLux\r\n4" + std::string(70000, 'x'),
                   {"3|10:00:02|7|Lux"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecoveryJournal, MissingJournalFailsToRead) {
    TempDir dir;
    LogTable table;
    EXPECT_FALSE(readJournal(table, dir.file("none.txt")).ok());
    EXPECT_TRUE(table.empty());
}

struct MarkCase {
    const char* name;
    int rowsAtSave;
    bool clearedAfter;
    int rowsAfter;
    std::size_t unsaved;
};

class SaveMarkCount : public ::testing::TestWithParam<MarkCase> {};

TEST_P(SaveMarkCount, CountsRowsNoFileHolds) {
    const MarkCase& c = GetParam();
    LogTable table;
    SaveMark mark;
    for (int i = 0; i < c.rowsAtSave; ++i)
        table.append(i + 1, "00:00:00", "1", "V");
    if (c.rowsAtSave >= 0)
        mark.markAll(table);
    if (c.clearedAfter)
        table.clear();
    for (int i = 0; i < c.rowsAfter; ++i)
        table.append(i + 1, "00:00:00", "1", "V");
    EXPECT_EQ(mark.unsaved(table), c.unsaved);
}

INSTANTIATE_TEST_SUITE_P(Rows, SaveMarkCount,
                         ::testing::Values(MarkCase{"NeverSaved", -1, false, 5, 5},
                                           MarkCase{"SavedAll", 3, false, 0, 0},
                                           MarkCase{"RowsSinceSave", 3, false, 2, 2},
                                           MarkCase{"EmptySavedThenRows", 0, false, 4, 4},
                                           MarkCase{"NewAfterSave", 3, true, 0, 0},
                                           MarkCase{"NewAfterSaveThenFewerRows", 3, true, 2, 2},
                                           MarkCase{"NewAfterSaveThenMoreRows", 3, true, 5, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kq::files
