#include "NotificationDesktop.h"

#include <chrono>
#include <csignal>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>

namespace qm::test {

NotificationDesktop::NotificationDesktop()
    : pid_(startProgram(QM_NOTIFICATION_DESKTOP, {"start", dir_.path()}, dir_.path(), {"PATH=/usr/bin:/bin"}))
{
    for (int tries = 0; tries < 200 && !exists(dir_.file("address")); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!exists(dir_.file("address")))
        throw std::runtime_error("dunst did not come up:\n" + readFile(dir_.file("stderr.txt")));
    address_ = readFile(dir_.file("address"));
    address_.pop_back(); // the line end
    // The script's later calls keep their output apart from the one still writing.
    ::mkdir(dir_.file("calls").c_str(), 0700);
}

NotificationDesktop::~NotificationDesktop()
{
    ::kill(pid_, SIGTERM);
    waitForProgram(pid_, dir_.path());
}

ProgramOutcome NotificationDesktop::script(const std::vector<std::string>& arguments) const
{
    return runProgram(QM_NOTIFICATION_DESKTOP, arguments, dir_.file("calls/"), {"PATH=/usr/bin:/bin"});
}

} // namespace qm::test
