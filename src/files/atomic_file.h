#pragma once

#include "files/byte_io.h"

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace kq::files {

// A save after which the target holds its complete old content or its
// complete new content, whatever fails. The bytes go to a temporary file
// beside the target, which is renamed over it on commit.
//
// Where a rename would change what the user sees of the file (another owner
// that cannot be kept, more than one hard link) or no file can be made in its
// folder, the new content is staged in an anonymous file and written over the
// target on commit, in place: the space is reserved first, a copy of the old
// content is kept in the data folder until the new content is synced, and the
// old content is put back if anything fails. Only a kill during that last
// write can leave the target half written; the copy then stays in the data
// folder (keptCopiesIn() finds it).
//
// A target that exists and is not a regular file (a device, a pipe, a socket)
// is written as a stream and never replaced; a folder is refused; a link is
// followed, also one that names a file that does not exist yet. A target the
// user may not write is refused before anything is written. Dropping the
// object without commit() leaves the target untouched.
class AtomicFile final : public ByteSink {
public:
    // Replace: the new content takes the target's place. NewName: nothing is
    // ever replaced; commit() puts the file under the target's name, or, when
    // something took that name meanwhile, under the first free one of
    // "NAME-2.EXT", "NAME-3.EXT" ... (placedAt()).
    enum class Kind { Replace, NewName };
    // `keepFolder`: where the copy of the old content goes during a save in
    // place; empty: the data folder.
    explicit AtomicFile(std::string target, Kind kind = Kind::Replace, std::string keepFolder = {});
    ~AtomicFile() override;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Checks the target and opens where the bytes go first.
    bool open();
    bool write(const char* data, std::size_t size) override;
    // Puts the new content in place; false (with error()) on failure.
    bool commit();
    // Forgets what was written; the target is untouched.
    void discard();

    std::string error() const override { return m_error; }
    // The temporary file beside the target, empty when there is none.
    const std::string& temporaryPath() const { return m_tempPath; }
    bool writesInPlace() const { return m_way == Way::InPlace; }
    bool writesStream() const { return m_way == Way::Stream; }
    // Where the content went (NewName: the free name found).
    const std::string& placedAt() const { return m_target; }

private:
    enum class Way { None, Beside, InPlace, Stream };
    void fail(const char* what, int err);
    bool openBeside(bool exists, const struct stat& st);
    bool openInPlace();
    bool openStream();
    bool placeUnderFreeName();
    bool commitInPlace();
    bool keepOldContent(std::uint64_t length, int& err);
    void dropKeptCopy();

    std::string m_given; // the name as given, before links were followed
    std::string m_target;
    Kind m_kind;
    std::string m_keepFolder;
    std::string m_tempPath;
    std::string m_keptPath; // the copy of the old content during a save in place
    std::string m_error;
    Way m_way = Way::None;
    int m_fd = -1;       // where write() puts the bytes
    int m_targetFd = -1; // in place: the target
    int m_keptFd = -1;
    std::uint64_t m_written = 0;
};

// Copies of old content that a save in place left in `folder` when it was
// killed before the new content was complete, as full paths.
std::vector<std::string> keptCopiesIn(const std::string& folder);

} // namespace kq::files
