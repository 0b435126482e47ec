#include "Unprivileged.h"

#include <cerrno>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qm::test {

namespace {
constexpr uid_t kNobody = 65534;
}

std::string runUnprivileged(const std::function<std::string()>& check)
{
    if (::geteuid() != 0)
        return check();

    int channel[2];
    if (::pipe(channel) != 0)
        return "pipe failed";
    const pid_t child = ::fork();
    if (child < 0)
        return "fork failed";
    if (child == 0) {
        ::close(channel[0]);
        std::string result;
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            result = "cannot drop privileges";
        else
            result = check();
        const char* p = result.data();
        std::size_t left = result.size();
        while (left > 0) {
            const ssize_t n = ::write(channel[1], p, left);
            if (n <= 0)
                break;
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        ::close(channel[1]);
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string result;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(channel[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            result.append(buffer, static_cast<std::size_t>(n));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "the unprivileged check did not finish";
    return result;
}

void openUpForOthers(const std::string& path)
{
    std::string folder = path;
    while (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    // The test folder itself; its parents (the system's temporary folder) already are.
    ::chmod(folder.c_str(), 0755);
}

} // namespace qm::test
