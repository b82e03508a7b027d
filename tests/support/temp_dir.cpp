#include "support/temp_dir.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace kq::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kq_test_XXXXXX").string();
    const char* made = ::mkdtemp(pattern.data());
    if (made == nullptr)
        throw std::runtime_error("cannot make a test folder from " + pattern + ": " +
                                 std::strerror(errno));
    m_path = made;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

std::vector<std::string> TempDir::names() const {
    std::vector<std::string> out;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(m_path, ignored))
        out.push_back(entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace kq::test
