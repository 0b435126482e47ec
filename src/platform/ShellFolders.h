#pragma once
// The user's special folders by their historical index (3 start-up, 4 documents...).
#include <string>

namespace qm {

class ShellFolders {
public:
    virtual ~ShellFolders() = default;
    // The folder's path, without a guaranteed trailing "/"; empty when there is none.
    virtual std::string folder(int index) const = 0;
};

// XDG folders: 4 = the documents folder, 3 = $XDG_CONFIG_HOME/autostart, others the
// nearest XDG folder or empty.
class XdgShellFolders : public ShellFolders {
public:
    std::string folder(int index) const override;
};

// The folder with a trailing "/" when it is non-empty; empty for a missing folder or
// an index outside 0..22.
std::string GetShellFolder(const ShellFolders& folders, int index);

} // namespace qm
