#include "platform/Halt.h"

#include <atomic>

namespace qm {

namespace {
std::atomic<bool> halted{false};
std::atomic<int> exitStatus{kFatalExitStatus};
} // namespace

void requestHalt(int status)
{
    exitStatus.store(status);
    halted.store(true);
}
bool haltRequested()
{
    return halted.load();
}
int haltExitStatus()
{
    return exitStatus.load();
}
void clearHalt()
{
    halted.store(false);
    exitStatus.store(kFatalExitStatus);
}

} // namespace qm
