#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kq::files {

// Where the bytes of a saved file go.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes all `size` bytes or fails; after a failure error() says why.
    virtual bool write(const char* data, std::size_t size) = 0;
    virtual std::string error() const = 0;
};

// Where the bytes of a loaded file come from.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to `capacity` bytes into `buffer`: the count read, 0 at the end, -1 on failure.
    virtual std::ptrdiff_t read(char* buffer, std::size_t capacity) = 0;
    // The total size if known (for progress), else 0.
    virtual std::uint64_t size() const = 0;
};

// Bytes already in memory (tests, fuzzing).
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string_view bytes) : m_bytes(bytes) {}
    std::ptrdiff_t read(char* buffer, std::size_t capacity) override;
    std::uint64_t size() const override { return m_bytes.size(); }

private:
    std::string_view m_bytes;
    std::size_t m_pos = 0;
};

// A file opened for reading.
class FileSource final : public ByteSource {
public:
    FileSource() = default;
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // `filesOnly`: a pipe, device or socket is refused (notAFile()) without
    // waiting for a writer.
    bool open(const std::string& path, bool filesOnly = false);
    std::ptrdiff_t read(char* buffer, std::size_t capacity) override;
    std::uint64_t size() const override { return m_size; }
    const std::string& error() const { return m_error; }
    // Not a regular file: a pipe or a device, which may never end.
    bool stream() const { return m_stream; }
    bool notAFile() const { return m_notAFile; }

private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
    std::string m_error;
    bool m_stream = false;
    bool m_notAFile = false;
};

// Collects output into large blocks so that a save of millions of rows makes
// few system calls. After the sink fails, further output is dropped and
// failed() stays true.
class BufferedWriter {
public:
    explicit BufferedWriter(ByteSink& sink, std::size_t capacity = std::size_t{1} << 20);

    void put(char c) {
        if (m_used == m_capacity)
            drain();
        m_buffer[m_used++] = c;
    }
    void put(std::string_view s);
    void putUnsigned(std::uint64_t v);
    void putInt(std::int64_t v);
    // Hands everything buffered to the sink; false if anything failed.
    bool flush();
    bool failed() const { return m_failed; }
    std::uint64_t written() const { return m_total + m_used; }

private:
    void drain();

    ByteSink& m_sink;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_capacity;
    std::size_t m_used = 0;
    std::uint64_t m_total = 0;
    bool m_failed = false;
};

// How much to read at a time from a source of `size` bytes (0: unknown): a
// mebibyte, or less for a small file.
std::size_t readChunkBytes(std::uint64_t size);

// The text of an errno value, e.g. "No space left on device".
std::string systemErrorText(int err);

} // namespace kq::files
