#include "platform/Halt.h"

#include <atomic>

namespace qm {

namespace {
std::atomic<bool> halted{false};
}

void requestHalt()
{
    halted.store(true);
}
bool haltRequested()
{
    return halted.load();
}
void clearHalt()
{
    halted.store(false);
}

} // namespace qm
