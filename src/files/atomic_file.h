#pragma once

#include "files/byte_io.h"

#include <string>

namespace kq::files {

// A file that is written beside its target under a temporary name and only
// renamed over the target once every byte is on disk, so that a failed or
// cancelled save leaves the old file as it was. Dropping the object without
// commit() removes the temporary file.
class AtomicFile final : public ByteSink {
public:
    explicit AtomicFile(std::string target);
    ~AtomicFile() override;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file in the target's folder.
    bool open();
    bool write(const char* data, std::size_t size) override;
    // Flushes to disk and replaces the target; false (with error()) on failure,
    // in which case the target is untouched and the temporary file is gone.
    bool commit();
    // Removes the temporary file; the target is untouched.
    void discard();

    std::string error() const override { return m_error; }
    const std::string& temporaryPath() const { return m_tempPath; }

private:
    void fail(const char* what, int err);

    std::string m_target;
    std::string m_tempPath;
    std::string m_error;
    int m_fd = -1;
};

} // namespace kq::files
