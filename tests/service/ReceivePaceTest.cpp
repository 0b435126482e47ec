// The two rules every wait of an exchange keeps, on a clock of the test's own: a drip
// that each wait would let through ends at the moment the rules say, a fair speed never.
#include "service/ReceivePace.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace qm {
namespace {

using std::chrono::milliseconds;
const ReceivePace::Clock::time_point t0{};

struct Arrival {
    int atMs;
    int bytes;
};

// `count` arrivals of `bytes` each, `gapMs` apart from `fromMs` on.
std::vector<Arrival> drip(int fromMs, int gapMs, int count, int bytes)
{
    std::vector<Arrival> arrivals;
    for (int i = 0; i < count; ++i)
        arrivals.push_back({fromMs + i * gapMs, bytes});
    return arrivals;
}

// The ms at which the pace ends a transfer whose bytes arrive as given, driven as a
// transport drives it: each wait lasts what the pace allows unless bytes come first.
// nullopt when every byte arrives.
std::optional<int> givesUpAt(int timeoutMs, const std::vector<Arrival>& arrivals)
{
    ReceivePace pace(timeoutMs, t0);
    int now = 0;
    for (std::size_t next = 0; next < arrivals.size();) {
        const int wait = pace.nextWaitMs(t0 + milliseconds(now));
        if (wait < 0)
            return now;
        if (wait > 0 && now + wait < arrivals[next].atMs) {
            now += wait; // the wait ends empty
            continue;
        }
        now = arrivals[next].atMs;
        pace.note(static_cast<std::size_t>(arrivals[next].bytes), t0 + milliseconds(now));
        ++next;
    }
    return std::nullopt;
}

TEST(ReceivePace, DripsEndWhenARuleIsBrokenAFairSpeedNever)
{
    std::vector<Arrival> burstThenDrip = drip(0, 1, 1, 2048);
    for (const Arrival& a : drip(200, 200, 30, 1))
        burstThenDrip.push_back(a);
    std::vector<Arrival> lateStart = drip(2500, 100, 60, 7);

    struct Case {
        const char* what;
        int timeoutMs;
        std::vector<Arrival> arrivals;
        std::optional<int> end;
    };
    for (const Case& c : std::vector<Case>{
             // 40 bytes a second: 120 in a 3 s window, less than 64 a second for 3 s.
             {"40 B/s at 3 s", 3000, drip(0, 100, 100, 4), 3000},
             // A fast first window buys nothing for the next: 5 bytes in it end the call.
             {"burst, then a drip", 1000, burstThenDrip, 2000},
             {"70 B/s", 1000, drip(0, 100, 60, 7), std::nullopt},
             {"silence after a byte", 1000, {{0, 1}, {1500, 1}}, 1000},
             // Waiting for the first byte is the silence rule's alone; the speed counts
             // from that byte on.
             {"no byte within the time-out", 2000, lateStart, 2000},
             {"first byte late but within it", 3000, lateStart, std::nullopt},
             {"no limit", 0, {{0, 1}, {100000, 1}}, std::nullopt},
         }) {
        EXPECT_EQ(givesUpAt(c.timeoutMs, c.arrivals), c.end) << c.what;
    }
}

} // namespace
} // namespace qm
