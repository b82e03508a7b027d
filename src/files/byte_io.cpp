#include "files/byte_io.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kq::files {

std::string systemErrorText(int err) {
    return std::generic_category().message(err);
}

std::size_t readChunkBytes(std::uint64_t size) {
    constexpr std::size_t kLarge = std::size_t{1} << 20;
    constexpr std::size_t kSmall = 4096;
    if (size == 0 || size >= kLarge)
        return kLarge;
    return std::max<std::size_t>(kSmall, static_cast<std::size_t>(size) + 1);
}

std::ptrdiff_t MemorySource::read(char* buffer, std::size_t capacity) {
    const std::size_t n = std::min(capacity, m_bytes.size() - m_pos);
    std::memcpy(buffer, m_bytes.data() + m_pos, n);
    m_pos += n;
    return static_cast<std::ptrdiff_t>(n);
}

FileSource::~FileSource() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FileSource::open(const std::string& path, bool filesOnly) {
    // Opening a pipe waits for a writer, which may never come.
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (filesOnly ? O_NONBLOCK : 0));
    if (m_fd < 0) {
        m_error = systemErrorText(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) {
        m_error = systemErrorText(errno);
        return false;
    }
    // A folder opens fine for reading but cannot be read from.
    if (S_ISDIR(st.st_mode)) {
        m_error = systemErrorText(EISDIR);
        return false;
    }
    m_stream = !S_ISREG(st.st_mode);
    if (m_stream && filesOnly) {
        m_error = "not a file but a pipe, a device or a socket, which may never end";
        m_notAFile = true;
        return false;
    }
    if (filesOnly) {
        const int flags = ::fcntl(m_fd, F_GETFL);
        if (flags >= 0)
            (void)::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    m_size = m_stream ? 0 : static_cast<std::uint64_t>(st.st_size);
    return true;
}

std::ptrdiff_t FileSource::read(char* buffer, std::size_t capacity) {
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, capacity);
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            m_error = systemErrorText(errno);
            return -1;
        }
    }
}

BufferedWriter::BufferedWriter(ByteSink& sink, std::size_t capacity)
    : m_sink(sink), m_capacity(std::max<std::size_t>(capacity, 64)) {
    // Not zeroed: every byte is written before it is handed on.
    m_buffer.reset(new char[m_capacity]);
}

void BufferedWriter::drain() {
    if (!m_failed && m_used > 0 && !m_sink.write(m_buffer.get(), m_used))
        m_failed = true;
    m_total += m_used;
    m_used = 0;
}

void BufferedWriter::put(std::string_view s) {
    while (!s.empty()) {
        if (m_used == m_capacity)
            drain();
        const std::size_t n = std::min(s.size(), m_capacity - m_used);
        std::memcpy(m_buffer.get() + m_used, s.data(), n);
        m_used += n;
        s.remove_prefix(n);
    }
}

void BufferedWriter::putUnsigned(std::uint64_t v) {
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, v);
    put(std::string_view(digits, static_cast<std::size_t>(r.ptr - digits)));
}

void BufferedWriter::putInt(std::int64_t v) {
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, v);
    put(std::string_view(digits, static_cast<std::size_t>(r.ptr - digits)));
}

bool BufferedWriter::flush() {
    drain();
    return !m_failed;
}

} // namespace kq::files
