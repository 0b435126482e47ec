#pragma once
// A second program on a folder's lock (tests/support/FolderLockHolder.cpp), started as
// its own process: the lock as another program of the user sees it.
#include "ProgramRun.h"

#include <csignal>
#include <string>
#include <sys/types.h>

namespace qm::test {

class LockHolder {
public:
    // Starts the holder on `folder` (ending in "/") for `seconds`, with its output in
    // `work` (ending in "/"), and waits until it says whether it got the lock.
    LockHolder(const std::string& folder, const std::string& work, int seconds = 120);
    // Kills the holder if it still runs.
    ~LockHolder();
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    // It got the lock ("held"); otherwise it found it taken and has ended with 3.
    bool holds() const { return holds_; }
    // Sends `signal` and waits for the holder to end.
    ProgramOutcome stop(int signal = SIGKILL);
    // Waits for the holder to end by itself.
    ProgramOutcome wait();

private:
    std::string work_;
    pid_t pid_ = -1;
    bool holds_ = false;
};

} // namespace qm::test
