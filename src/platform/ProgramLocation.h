#pragma once
// Where the running program file lies; the settings file sits beside it.
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

// The path with the extension of its file-name part replaced by `ext` (".ini");
// a name without an extension gets `ext` appended.
std::string changeFileExt(const std::string& path, const std::string& ext);
// The file-name part of a path (after the last "/").
std::string extractFileName(const std::string& path);
// The folder part of a path, with its trailing "/"; empty when there is none.
std::string extractFilePath(const std::string& path);

} // namespace qm
