#pragma once
// A pause during which the Qt event loop keeps turning: timers fire, windows repaint and
// signals are answered while a run waits for something that has no descriptor to watch.
#include <chrono>

namespace qm {

// Lets the event loop turn for `time` (without an application, just sleeps). False when
// the program was told to end meanwhile: a fatal stop is recorded, or the application
// quits, after which no event loop turns again, so nothing may wait any longer.
bool pauseWithEvents(std::chrono::milliseconds time);

} // namespace qm
