#include "platform/UserFolders.h"

#include "platform/Errors.h"
#include "platform/Paths.h"

#include <QDir>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

std::string baseFolder(const char* variable, const char* fallback)
{
    const char* value = std::getenv(variable);
    if (value && *value == '/')
        return value;
    return QDir::homePath().toStdString() + fallback;
}

bool isFolder(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

std::string xdgConfigHome()
{
    return baseFolder("XDG_CONFIG_HOME", "/.config");
}

std::string xdgStateHome()
{
    return baseFolder("XDG_STATE_HOME", "/.local/state");
}

std::string stateFolder()
{
    return xdgStateHome() + "/quillmaren/";
}

std::string settingsFileFor(const std::string& programFile)
{
    const std::string portable = changeFileExt(programFile, ".ini");
    if (::access(portable.c_str(), F_OK) == 0)
        return portable;
    const std::string folder = xdgConfigHome() + "/quillmaren";
    if (!isFolder(folder)) {
        std::error_code ignored;
        std::filesystem::create_directories(xdgConfigHome(), ignored);
        // The file may hold passwords: the folder is the owner's alone.
        ::mkdir(folder.c_str(), 0700);
    }
    return folder + "/quillmaren.ini";
}

std::string runFolderFor(const std::string& programFolder)
{
    if (!programFolder.empty() && ::access(programFolder.c_str(), W_OK) == 0)
        return programFolder;
    const std::string state = stateFolder();
    std::error_code ignored;
    std::filesystem::create_directories(state, ignored);
    return state;
}

std::optional<std::string> takeRunFolderOption(std::vector<std::string>& arguments)
{
    const std::string option = kRunFolderOption;
    std::optional<std::string> value;
    for (auto it = arguments.begin(); it != arguments.end();) {
        if (it->starts_with(option + "=")) {
            value = it->substr(option.size() + 1);
            it = arguments.erase(it);
        } else if (*it == option && it + 1 != arguments.end()) {
            value = *(it + 1);
            it = arguments.erase(it, it + 2);
        } else {
            ++it;
        }
    }
    return value;
}

void enterRunFolderWhenAsked(
    const Environment& environment, const std::string& programFolder, const std::optional<std::string>& option)
{
    const std::optional<std::string> value = option ? option : environment.variable(kRunFolderVariable);
    if (!value || value->empty())
        return;
    if (*value != "auto") {
        const std::string name = option ? kRunFolderOption : kRunFolderVariable;
        throw IoError(name + " must be \"auto\" or empty, not \"" + *value + "\".");
    }
    const std::string folder = runFolderFor(programFolder);
    if (!isFolder(folder))
        throw IoError("Unable to create directory: " + folder);
    if (::chdir(folder.c_str()) != 0)
        throw IoError("Unable to change to directory: " + folder);
}

} // namespace qm
