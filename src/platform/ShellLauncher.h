#pragma once
// Opens a file, folder or address with the desktop's default handler, without waiting
// and without any message of its own: when nothing can open the item, nothing happens.
#include <string>

namespace qm {

class ShellLauncher {
public:
    virtual ~ShellLauncher() = default;
    // `item` may be relative to `workingDir` when one is given.
    virtual void open(const std::string& item, const std::string& workingDir = {}) = 0;
};

} // namespace qm
