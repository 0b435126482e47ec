#pragma once
// Runs a program as cron would: in a given folder, with exactly the environment given,
// standard output and error caught in files.
#include <string>
#include <vector>

namespace qm::test {

struct ProgramOutcome {
    int status = -1; // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` with `arguments` in `folder` (ending in "/"), which also receives
// "stdout.txt" and "stderr.txt".
ProgramOutcome runProgram(const std::string& program, const std::vector<std::string>& arguments,
    const std::string& folder, std::vector<std::string> environment);

} // namespace qm::test
