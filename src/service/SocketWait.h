#pragma once
// Waiting on a socket without blocking the user-interface thread: a local event loop
// runs until the socket is ready or the time-out passes, so timers fire and windows
// repaint meanwhile.
#include <chrono>

namespace qm {

enum class SocketReady { Read, Write };

// True when the socket became ready; false after timeoutMs of waiting (0 = no limit)
// or when the application quits or a fatal stop is recorded meanwhile.
bool waitForSocket(int fd, SocketReady what, int timeoutMs);

// A transfer whose data are always ready never has to wait, so it lets pending events
// through at least this often.
class EventPump {
public:
    void pumpIfDue();

private:
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

} // namespace qm
