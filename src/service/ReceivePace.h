#pragma once
// How long a wait for the server's bytes may last. Two rules judge every wait of an
// exchange, whatever it waits for (a TLS handshake, a proxy's reply, a response):
// silence longer than the time-out, and, from the first byte on, fewer than
// kMinBytesPerSecond a second over a whole time-out period. A server that drips a byte
// now and then keeps the first rule but not the second. The bytes counted are those
// that come off the connection, so a TLS record dripped in pieces, which yields no data
// until it is whole, is judged like any other drip.
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace qm {

class ReceivePace {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::int64_t kMinBytesPerSecond = 64;

    // A time-out of 0 sets no limit at all. Silence counts from `start`.
    explicit ReceivePace(int timeoutMs, Clock::time_point start = Clock::now());

    // How long the next wait may last in ms: 0 for no limit, -1 once a rule is broken.
    int nextWaitMs(Clock::time_point now = Clock::now());
    // `count` bytes came off the connection.
    void note(std::size_t count, Clock::time_point now = Clock::now());

    int timeoutMs() const { return timeoutMs_; }

private:
    int timeoutMs_;
    Clock::time_point lastData_;
    bool windowOpen_ = false;
    Clock::time_point windowStart_;
    std::int64_t windowBytes_ = 0;
};

} // namespace qm
