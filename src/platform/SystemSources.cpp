#include "platform/SystemSources.h"

#include <fstream>
#include <iterator>
#include <sys/utsname.h>

namespace qm {

namespace {

std::optional<std::string> slurp(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::optional<utsname> uname()
{
    utsname u{};
    if (::uname(&u) != 0)
        return std::nullopt;
    return u;
}

} // namespace

std::optional<std::string> LinuxSystemSources::osRelease() const
{
    if (auto text = slurp("/etc/os-release"))
        return text;
    return slurp("/usr/lib/os-release");
}

std::optional<std::string> LinuxSystemSources::kernelRelease() const
{
    if (auto u = uname())
        return std::string(u->release);
    return std::nullopt;
}

std::optional<std::string> LinuxSystemSources::kernelVersion() const
{
    if (auto u = uname())
        return std::string(u->version);
    return std::nullopt;
}

std::optional<std::string> LinuxSystemSources::machine() const
{
    if (auto u = uname())
        return std::string(u->machine);
    return std::nullopt;
}

std::optional<std::string> LinuxSystemSources::cpuinfo() const
{
    return slurp("/proc/cpuinfo");
}

} // namespace qm
