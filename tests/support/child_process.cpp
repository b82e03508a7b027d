#include "support/child_process.h"

#include <sys/wait.h>
#include <unistd.h>

namespace kq::test {

int runInChild(const std::function<bool()>& setUp, const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid < 0)
        return 100;
    if (pid == 0) {
        if (!setUp())
            ::_exit(101);
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return 102;
    return WEXITSTATUS(status);
}

} // namespace kq::test
