#pragma once
// Waiting on a socket without blocking the user-interface thread: a local event loop
// runs until the socket is ready or the time-out passes, so timers fire and windows
// repaint meanwhile.
#include <chrono>

namespace qm {

enum class SocketReady { Read, Write };

enum class WaitEnd {
    Ready, // the socket became ready
    TimedOut, // timeoutMs passed
    // The program is ending: a fatal stop is recorded, or the application quits (then no
    // later wait turns the event loop, so nothing may wait again).
    Ending,
};

// Waits until the socket is ready, at most timeoutMs (0 = no limit).
WaitEnd waitForSocket(int fd, SocketReady what, int timeoutMs);

// A transfer whose data are always ready never has to wait, so it lets pending events
// through at least this often.
class EventPump {
public:
    void pumpIfDue();

private:
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

} // namespace qm
