#pragma once
// Where the running program file lies; the settings file sits beside it.
#include "platform/Paths.h"

#include <string>

namespace qm {

class ProgramLocation {
public:
    virtual ~ProgramLocation() = default;
    // Full path of the program file.
    virtual std::string programFile() const = 0;
};

// The running executable, as the kernel reports it.
class ProcessProgramLocation : public ProgramLocation {
public:
    std::string programFile() const override;
};

} // namespace qm
