#include "files/data_folder.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace kq::files {

std::string dataFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/')
        return std::string(data) + "/kqmeter";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/kqmeter";
}

bool makeFolders(const std::string& path, mode_t mode) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        errno = ENOTDIR;
        return false;
    }
    const auto slash = path.find_last_not_of('/') == std::string::npos
                           ? std::string::npos
                           : path.rfind('/', path.find_last_not_of('/'));
    if (slash != std::string::npos && slash > 0 && !makeFolders(path.substr(0, slash), mode))
        return false;
    return ::mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

} // namespace kq::files
