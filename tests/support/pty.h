#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kq::test {

// A pseudo-terminal standing in for a cable: the test plays the meter on the
// master side, the program opens path() as it opens the cable's line.
class Pty {
public:
    // Throws std::runtime_error when the system gives no pseudo-terminal.
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& path() const { return m_path; }
    int master() const { return m_master; }
    // What the meter sends; false unless every byte went out.
    [[nodiscard]] bool send(const std::vector<std::uint8_t>& bytes) const;
    // The meter goes: the program's end of the line sees a hang-up.
    void hangUp();

private:
    int m_master = -1;
    std::string m_path;
};

} // namespace kq::test
