#include "files/atomic_file.h"
#include "files/log_file.h"
#include "files_test_support.h"
#include "support/child_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using kq::files::SaveResult;
using kq::record::LogTable;
using namespace kq::files::test;

namespace {

constexpr uid_t kNobody = 65534;

LogTable twoRows() {
    LogTable t;
    t.append(1, "10:00:00", "1.5", "lux");
    t.append(2, "10:00:01", "2.5", "lux");
    return t;
}

const std::string kTwoRowsText = "No\tTime\tValue\tUnit\r\n1\t10:00:00\t1.5\tlux\r\n"
                                 "2\t10:00:01\t2.5\tlux\r\n";

struct Stat {
    ino_t inode = 0;
    nlink_t links = 0;
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};

Stat statOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return {st.st_ino, st.st_nlink, static_cast<mode_t>(st.st_mode & 07777), st.st_uid, st.st_gid};
}

// Runs `body` with the rights of an ordinary user: when the test runs as root
// (who may write anywhere) it runs in a child process that has become nobody.
// Returns what the body returned; 100 and up mean the child could not run it.
int asPlainUser(const std::function<int()>& body) {
    if (::geteuid() != 0)
        return body();
    return kq::test::runInChild([] { return ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0; },
                                body);
}

// A folder in which a plain user may write a file but create none.
void closeFolder(const TempDir& dir, const std::string& file) {
    if (::geteuid() == 0) {
        ::chmod(dir.path().c_str(), 0755);
        if (!file.empty())
            ::chown(file.c_str(), kNobody, kNobody);
    } else {
        ::chmod(dir.path().c_str(), 0555);
    }
}

void openFolder(const TempDir& dir) {
    ::chmod(dir.path().c_str(), 0700);
}

TEST(SafeSave, WriteProtectedFileIsRefusedAndKept) {
    for (const char* name : {"ro.txt", "ro.xml"}) {
        SCOPED_TRACE(name);
        TempDir dir;
        const std::string path = dir.file(name);
        writeFile(path, "the old log\r\n");
        ::chmod(path.c_str(), 0444);
        const auto r = kq::files::saveLog(twoRows(), path);
        EXPECT_EQ(r.status, SaveResult::Status::Failed);
        EXPECT_NE(r.error.find("Permission denied"), std::string::npos) << r.error;
        EXPECT_NE(r.error.find(path), std::string::npos) << r.error;
        EXPECT_EQ(readFile(path), "the old log\r\n");
        EXPECT_EQ(statOf(path).mode, 0444u);
        EXPECT_EQ(dir.names(), std::vector<std::string>{name});
    }
}

TEST(SafeSave, ReplacedFileKeepsItsNamesModeAndOwner) {
    struct Case {
        const char* what;
        bool hardLink;
        mode_t mode;
        bool otherOwner; // only root can hand a file to another user
    };
    const Case cases[] = {
        {"plain file", false, 0640, false},
        {"hard-linked file", true, 0600, false},
        {"another user's file", false, 0664, true},
        {"another user's hard-linked file", true, 0644, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.otherOwner && ::geteuid() != 0)
            continue;
        TempDir dir;
        const std::string path = dir.file("log.txt");
        writeFile(path, "old");
        ::chmod(path.c_str(), c.mode);
        if (c.hardLink) {
            ASSERT_EQ(::link(path.c_str(), dir.file("other.txt").c_str()), 0);
        }
        if (c.otherOwner) {
            ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
        }
        const Stat before = statOf(path);

        const auto r = kq::files::saveLog(twoRows(), path);
        ASSERT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(readFile(path), kTwoRowsText);
        const Stat after = statOf(path);
        EXPECT_EQ(after.mode, c.mode);
        EXPECT_EQ(after.uid, before.uid);
        EXPECT_EQ(after.gid, before.gid);
        EXPECT_EQ(after.links, before.links);
        if (c.hardLink) {
            EXPECT_EQ(after.inode, before.inode);
            EXPECT_EQ(readFile(dir.file("other.txt")), kTwoRowsText);
        }
        const std::vector<std::string> expected =
            c.hardLink ? std::vector<std::string>{"log.txt", "other.txt"}
                       : std::vector<std::string>{"log.txt"};
        EXPECT_EQ(dir.names(), expected);
    }
}

TEST(SafeSave, LongerAndShorterContentOverAFileWrittenInPlace) {
    // In place the new bytes go over the old ones: a shorter log must not
    // keep the old tail.
    for (const std::string& old : {std::string("x"), std::string(5000, 'y')}) {
        SCOPED_TRACE(old.size());
        TempDir dir;
        const std::string path = dir.file("log.txt");
        writeFile(path, old);
        ASSERT_EQ(::link(path.c_str(), dir.file("twin.txt").c_str()), 0);
        const auto r = kq::files::saveLog(twoRows(), path);
        ASSERT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(readFile(dir.file("twin.txt")), kTwoRowsText);
    }
}

TEST(SafeSave, FolderWithoutRoomForATemporaryFile) {
    struct Case {
        const char* what;
        const char* name;
        bool exists;
        int expected; // 0 saved with the new content, 1 refused
    };
    const Case cases[] = {
        {"existing text file is written in place", "a.txt", true, 0},
        {"existing xml file is written in place", "a.xml", true, 0},
        {"a new file cannot be made", "new.txt", false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir.file(c.name);
        if (c.exists) {
            writeFile(path, "old");
            ::chmod(path.c_str(), 0646);
        }
        closeFolder(dir, c.exists ? path : std::string());
        // The copy of the old content during a save in place goes to the
        // user's data folder.
        TempDir data;
        ::chmod(data.path().c_str(), 0777);
        const LogTable table = twoRows();
        const int got = asPlainUser([&] {
            const char* before = std::getenv("XDG_DATA_HOME");
            const std::string kept = before ? before : "";
            ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
            const auto r = kq::files::saveLog(table, path);
            if (before)
                ::setenv("XDG_DATA_HOME", kept.c_str(), 1);
            else
                ::unsetenv("XDG_DATA_HOME");
            if (r.ok())
                return 0;
            return r.error.find("Permission denied") != std::string::npos ? 1 : 2;
        });
        openFolder(dir);
        EXPECT_EQ(got, c.expected);
        if (c.exists) {
            EXPECT_EQ(statOf(path).mode, 0646u);
            const std::string bytes = readFile(path);
            if (std::string(c.name).ends_with(".xml")) {
                EXPECT_TRUE(bytes.starts_with("<?xml")) << bytes;
            } else {
                EXPECT_EQ(bytes, kTwoRowsText);
            }
            EXPECT_EQ(dir.names(), std::vector<std::string>{c.name});
        } else {
            EXPECT_TRUE(dir.names().empty());
        }
    }
}

TEST(SafeSave, CancelledSaveInPlaceLeavesTheOldContent) {
    TempDir dir;
    const std::string path = dir.file("big.txt");
    writeFile(path, "before");
    ASSERT_EQ(::link(path.c_str(), dir.file("twin.txt").c_str()), 0);
    LogTable big;
    for (int i = 1; i <= 200000; ++i)
        big.append(i, "10:00:00", "1.5", "lux");
    const auto r =
        kq::files::saveLog(big, path, [](std::uint64_t, std::uint64_t) { return false; });
    EXPECT_EQ(r.status, SaveResult::Status::Cancelled);
    EXPECT_EQ(readFile(path), "before");
    EXPECT_EQ(readFile(dir.file("twin.txt")), "before");
}

TEST(SafeSave, TemporaryFileIsMadeBesideTheTargetWhenItCanBe) {
    TempDir dir;
    kq::files::AtomicFile f(dir.file("x.txt"));
    ASSERT_TRUE(f.open());
    EXPECT_FALSE(f.writesInPlace());
    EXPECT_EQ(f.temporaryPath().rfind(dir.path() + "/", 0), 0u) << f.temporaryPath();
    ASSERT_TRUE(f.write("abc", 3));
    ASSERT_TRUE(f.commit());
    EXPECT_EQ(readFile(dir.file("x.txt")), "abc");
    // A new file gets what the umask leaves of read and write for everyone.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(statOf(dir.file("x.txt")).mode, 0666u & ~mask);
}

} // namespace
