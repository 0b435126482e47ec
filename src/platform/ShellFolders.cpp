#include "platform/ShellFolders.h"

#include "platform/UserFolders.h"

#include <QDir>
#include <QStandardPaths>

namespace qm {

namespace {

std::string location(QStandardPaths::StandardLocation which)
{
    return QStandardPaths::writableLocation(which).toStdString();
}

} // namespace

std::string XdgShellFolders::folder(int index) const
{
    switch (index) {
    case 0:
        return location(QStandardPaths::DesktopLocation);
    case 1:
    case 2:
        return location(QStandardPaths::ApplicationsLocation);
    case 3:
        return xdgConfigHome() + "/autostart";
    case 4: {
        // A desktop session's user-dirs tool creates the documents folder at login; a
        // bare account may lack it, and the working tree below it is created one level
        // deep only, so make sure it is there.
        const std::string docs = location(QStandardPaths::DocumentsLocation);
        if (!docs.empty())
            QDir().mkpath(QString::fromStdString(docs));
        return docs;
    }
    case 5:
    case 16:
        return location(QStandardPaths::GenericDataLocation);
    case 6:
        return location(QStandardPaths::FontsLocation);
    case 10:
        return location(QStandardPaths::GenericCacheLocation);
    case 19:
        return xdgConfigHome();
    default:
        return {};
    }
}

std::string GetShellFolder(const ShellFolders& folders, int index)
{
    if (index < 0 || index > 22)
        return {};
    std::string path = folders.folder(index);
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path;
}

} // namespace qm
