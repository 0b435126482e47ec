#pragma once
// Starts a program directly (not through the desktop's open action), detached: the
// program never waits for it and reads nothing back.
#include <string>
#include <vector>

namespace qm {

class ProgramStarter {
public:
    virtual ~ProgramStarter() = default;
    // False when the program could not be started; callers stay silent about it.
    virtual bool start(
        const std::string& program, const std::vector<std::string>& arguments, const std::string& workingDir)
        = 0;
};

class DetachedProgramStarter : public ProgramStarter {
public:
    bool start(
        const std::string& program, const std::vector<std::string>& arguments, const std::string& workingDir) override;
};

// True for a regular file the user may execute.
bool isExecutableFile(const std::string& path);

// The process's current directory, ending in "/"; empty when it cannot be read.
std::string currentDirectory();

} // namespace qm
