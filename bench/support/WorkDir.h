#pragma once
// The working folder a driver is given on its command line.
#include <cstdio>
#include <string>
#include <unistd.h>

namespace qm::bench {

// Makes `work` the current directory; returns it with a '/' at its end, or empty (the
// reason on standard error) when it cannot be entered.
inline std::string enterWorkDir(std::string work)
{
    if (work.empty() || work.back() != '/')
        work += '/';
    if (::chdir(work.c_str()) != 0) {
        std::perror("chdir");
        return {};
    }
    return work;
}

} // namespace qm::bench
