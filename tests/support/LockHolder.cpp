#include "LockHolder.h"

#include "TempDir.h"

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

namespace qm::test {

LockHolder::LockHolder(const std::string& folder, const std::string& work, int seconds)
    : work_(work)
{
    writeFile(work_ + "stdout.txt", "");
    std::vector<std::string> environment;
    if (const char* asan = std::getenv("ASAN_OPTIONS"))
        environment.push_back(std::string("ASAN_OPTIONS=") + asan);
    pid_ = startProgram(QM_LOCK_HOLDER, {folder, std::to_string(seconds)}, work_, environment);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string said;
    while ((said = readFile(work_ + "stdout.txt")).empty() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    holds_ = said == "held\n";
    if (!holds_ && said != "busy\n") {
        stop();
        throw std::runtime_error("the lock holder said \"" + said + "\"");
    }
}

LockHolder::~LockHolder()
{
    if (pid_ > 0)
        stop();
}

ProgramOutcome LockHolder::stop(int signal)
{
    if (pid_ > 0)
        ::kill(pid_, signal);
    return wait();
}

ProgramOutcome LockHolder::wait()
{
    const ProgramOutcome outcome = waitForProgram(pid_, work_);
    pid_ = -1;
    return outcome;
}

} // namespace qm::test
