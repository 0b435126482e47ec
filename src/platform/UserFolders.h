#pragma once
// Where the program keeps the user's settings and its run files: the XDG base folders,
// with the program's own folder taking precedence where a portable copy asks for it.
#include "platform/Environment.h"

#include <optional>
#include <string>
#include <vector>

namespace qm {

// The XDG base folders: the variable when it holds an absolute path (a relative one
// is ignored, as the XDG rules say), otherwise the default under the home folder.
// No trailing "/".
std::string xdgConfigHome();
std::string xdgStateHome();

// $XDG_STATE_HOME/quillmaren/: run files and logs of a program whose own folder the
// user cannot write to.
std::string stateFolder();

// The settings file: a settings file that already exists beside the program (a
// portable copy) is used; otherwise $XDG_CONFIG_HOME/quillmaren/quillmaren.ini, whose
// folder is created (owner only) when missing. A folder that cannot be created shows
// up at the first write as the usual "Unable to write to" error.
std::string settingsFileFor(const std::string& programFile);

// The folder a start from a desktop entry or a timer runs in: the program's own
// folder when the user may write to it, otherwise stateFolder(), created when
// missing.
std::string runFolderFor(const std::string& programFolder);

// The option and the variable that ask for a start in runFolderFor(): the installed
// menu entry, the timer's service and the crontab line give "--run-folder=auto".
inline constexpr const char* kRunFolderOption = "--run-folder";
inline constexpr const char* kRunFolderVariable = "QUILLMAREN_RUN_FOLDER";

// Takes every "--run-folder=VALUE" and "--run-folder VALUE" out of `arguments`,
// wherever it stands, so that the rules for the first argument see the rest. The value
// of the last one, nullopt when there is none. A "--run-folder" with nothing after it
// stays, an argument the program does not know, as any other is.
std::optional<std::string> takeRunFolderOption(std::vector<std::string>& arguments);

// Changes into runFolderFor(programFolder) when the option's value, or without an
// option the variable, says "auto"; leaves the current folder alone when it is unset
// or empty. Raises IoError for a folder that cannot be made or entered, and for any
// other value.
void enterRunFolderWhenAsked(const Environment& environment, const std::string& programFolder,
    const std::optional<std::string>& option = std::nullopt);

} // namespace qm
