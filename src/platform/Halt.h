#pragma once
// Process-wide record that a fatal stop has been decided. A stop inside an event
// handler cannot unwind through the Qt event loop, so the handler's guard records it
// and quits the loops; nested waits (modal dialogs, network waits) poll this flag to
// give up at once, and the program entry turns it into the exit status.
#include "platform/Errors.h"

namespace qm {

void requestHalt(int exitStatus = kFatalExitStatus);
bool haltRequested();
// The exit status the recorded stop asked for.
int haltExitStatus();
// For tests that provoke a stop and then carry on.
void clearHalt();

} // namespace qm
