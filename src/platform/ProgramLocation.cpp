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

} // namespace qm
