#pragma once

#include <string>
#include <vector>

namespace kq::test {

// A folder of its own for each test in the system's temporary folder,
// removed with everything in it when the object goes.
class TempDir {
public:
    // Throws std::runtime_error when no folder can be made: without it a test
    // would write to or remove from a path nobody checked.
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    // The names in the folder, sorted.
    std::vector<std::string> names() const;

private:
    std::string m_path;
};

} // namespace kq::test
