#pragma once
// The start-up shortcut: an XDG autostart entry that starts the program at logon.
#include "platform/ShellFolders.h"

#include <string>

namespace qm {

class StartupShortcut {
public:
    static constexpr const char* kFileName = "Skarvelin Quillmaren.desktop";

    explicit StartupShortcut(const ShellFolders& folders)
        : folders_(folders)
    {
    }

    // A normal start-up names the program file and the folder it starts in.
    void setTarget(std::string programFile, std::string startIn);
    const std::string& target() const { return target_; }

    // The entry in the start-up folder.
    std::string path() const;
    bool exists() const;
    // Writes the entry, replacing one of the same name. Raises IoError when the program
    // file is gone or the entry cannot be written.
    void create() const;
    // An ordinary deletion; false when nothing was deleted.
    bool remove() const;

private:
    const ShellFolders& folders_;
    std::string target_;
    std::string startIn_;
};

} // namespace qm
