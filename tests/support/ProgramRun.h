#pragma once
// Runs a program as cron would: in a given folder, with exactly the environment given,
// standard output and error caught in files.
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <sys/types.h>
#include <vector>

// At the top of a test that needs the tools `missing` names (empty: none is missing):
// skips it, or fails it under CI, which installs them with the test packages.
#define QM_NEED_INSTALLED(missing)                                                                                     \
    if (const std::string qmMissing = (missing); !qmMissing.empty()) {                                                 \
        if (std::getenv("CI"))                                                                                         \
            FAIL() << qmMissing;                                                                                       \
        GTEST_SKIP() << qmMissing;                                                                                     \
    }

namespace qm::test {

struct ProgramOutcome {
    int status = -1; // exit status; -1 when it did not exit normally
    int signal = 0; // the signal that ended it, if one did
    std::string out;
    std::string err;
};

// Runs `program` with `arguments` in `folder` (ending in "/"), which also receives
// "stdout.txt" and "stderr.txt".
ProgramOutcome runProgram(const std::string& program, const std::vector<std::string>& arguments,
    const std::string& folder, std::vector<std::string> environment);

// As runProgram, without waiting: the process number, for waitForProgram (and for a
// signal before it); -1 when it could not be started.
pid_t startProgram(const std::string& program, const std::vector<std::string>& arguments, const std::string& folder,
    std::vector<std::string> environment);
// Waits for a program that startProgram started in `folder` and reaps it.
ProgramOutcome waitForProgram(pid_t pid, const std::string& folder);

// Empty when every one of `files` is there; else "not installed: " and those that are not.
std::string notInstalled(std::initializer_list<const char*> files);

} // namespace qm::test
