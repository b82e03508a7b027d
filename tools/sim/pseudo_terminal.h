#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kq::sim {

// The virtual meter's end of a serial line: the master side of a raw
// pseudo-terminal. The program opens the slave side as it would a cable.
class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal() { close(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool open(std::string& error);
    const std::string& slavePath() const { return m_slavePath; }
    // Writes the bytes in one write() so that they arrive as one burst.
    // Returns false when the line could not take them all (nobody reads and
    // its buffer is full); a meter does not wait, so the rest is dropped.
    bool send(const std::vector<std::uint8_t>& bytes);
    // Hangs up: the program's reads fail from now on.
    void close();

private:
    int m_master = -1;
    int m_slaveKeep = -1;
    std::string m_slavePath;
};

// Points `linkPath` at `target`, replacing what was there in one step.
bool replaceSymlink(const std::string& target, const std::string& linkPath, std::string& error);
// Writes `text` into `path` in one step (a reader never sees half of it).
bool replaceFile(const std::string& path, const std::string& text, std::string& error);

} // namespace kq::sim
