#include "platform/XdgShellLauncher.h"

#include <QProcess>
#include <QString>
#include <QStringList>

namespace qm {

void XdgShellLauncher::open(const std::string& item, const std::string& workingDir)
{
    QProcess::startDetached(
        QStringLiteral("xdg-open"), QStringList{QString::fromLocal8Bit(item)}, QString::fromLocal8Bit(workingDir));
}

} // namespace qm
