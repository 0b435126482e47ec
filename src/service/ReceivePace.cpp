#include "service/ReceivePace.h"

#include <algorithm>

namespace qm {

namespace {

std::int64_t msBetween(ReceivePace::Clock::time_point from, ReceivePace::Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

} // namespace

ReceivePace::ReceivePace(int timeoutMs, Clock::time_point start)
    : timeoutMs_(timeoutMs)
    , lastData_(start)
{
}

int ReceivePace::nextWaitMs(Clock::time_point now)
{
    if (timeoutMs_ <= 0)
        return 0;
    const std::int64_t silent = msBetween(lastData_, now);
    if (silent >= timeoutMs_)
        return -1;
    std::int64_t wait = timeoutMs_ - silent;
    if (windowOpen_) {
        std::int64_t inWindow = msBetween(windowStart_, now);
        if (inWindow >= timeoutMs_) {
            // The floor is a rate: a longer time-out asks for more bytes per window.
            if (windowBytes_ * 1000 < kMinBytesPerSecond * timeoutMs_)
                return -1;
            // Each window is judged on its own bytes: one fast burst buys no later drip.
            windowStart_ = now;
            windowBytes_ = 0;
            inWindow = 0;
        }
        wait = std::min(wait, timeoutMs_ - inWindow);
    }
    return static_cast<int>(std::max<std::int64_t>(wait, 1));
}

void ReceivePace::note(std::size_t count, Clock::time_point now)
{
    lastData_ = now;
    if (!windowOpen_) {
        // The speed is judged from the first byte on; waiting for it is the silence
        // rule's business.
        windowOpen_ = true;
        windowStart_ = now;
    }
    windowBytes_ += static_cast<std::int64_t>(count);
}

} // namespace qm
