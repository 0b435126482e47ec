#pragma once
#include "platform/ShellLauncher.h"

namespace qm {

// Hands the item to xdg-open, detached; never waits and never reports.
class XdgShellLauncher : public ShellLauncher {
public:
    void open(const std::string& item, const std::string& workingDir = {}) override;
};

} // namespace qm
