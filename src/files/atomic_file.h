#pragma once

#include "files/byte_io.h"

#include <cstdint>
#include <string>
#include <sys/stat.h>

namespace kq::files {

// A save that leaves the old file whole unless every byte of the new one is on
// disk. The bytes go to a temporary file beside the target, which is renamed
// over it on commit. Where a rename would change what the user sees of the
// file (another owner that cannot be kept, more than one hard link) or no
// temporary file can be made in its folder, the new content is kept in an
// anonymous temporary file elsewhere and copied over the target on commit; only
// that last copy can leave the target half written, and the error then says so.
// A target the user may not write is refused before anything is written.
// Dropping the object without commit() leaves the target untouched.
class AtomicFile final : public ByteSink {
public:
    explicit AtomicFile(std::string target);
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
    // The temporary file beside the target, empty when the content goes over
    // the target in place.
    const std::string& temporaryPath() const { return m_tempPath; }
    bool writesInPlace() const { return m_targetFd >= 0; }

private:
    void fail(const char* what, int err);
    bool openBeside(bool exists, const struct stat& st);
    bool openInPlace();
    bool copyIntoTarget();

    std::string m_target;
    std::string m_tempPath;
    std::string m_error;
    int m_fd = -1;         // where write() puts the bytes
    int m_targetFd = -1;   // the target, opened for writing over it in place
    bool m_direct = false; // no staging file could be made: m_fd is the target
    std::uint64_t m_written = 0;
};

} // namespace kq::files
