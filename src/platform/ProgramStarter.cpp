#include "platform/ProgramStarter.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

bool DetachedProgramStarter::start(
    const std::string& program, const std::vector<std::string>& arguments, const std::string& workingDir)
{
    QStringList args;
    for (const std::string& a : arguments)
        args << QString::fromLocal8Bit(a);
    return QProcess::startDetached(QString::fromLocal8Bit(program), args, QString::fromLocal8Bit(workingDir));
}

bool isExecutableFile(const std::string& path)
{
    struct stat st { };
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string currentDirectory()
{
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr)
        return {};
    std::string dir(buffer);
    if (dir.back() != '/')
        dir.push_back('/');
    return dir;
}

} // namespace qm
