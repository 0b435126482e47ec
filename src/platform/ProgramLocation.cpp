#include "platform/ProgramLocation.h"

#include <QCoreApplication>
#include <climits>
#include <unistd.h>

namespace qm {

std::string ProcessProgramLocation::programFile() const
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0)
        return std::string(buffer, static_cast<std::size_t>(n));
    return QCoreApplication::applicationFilePath().toStdString();
}

std::string changeFileExt(const std::string& path, const std::string& ext)
{
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + ext;
    return path.substr(0, dot) + ext;
}

std::string extractFileName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string extractFilePath(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace qm
