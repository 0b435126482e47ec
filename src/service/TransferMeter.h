#pragma once
// What the progress display of a file transfer shows: how much of the announced length
// has arrived, the bytes so far and the recent rate. Time comes in from the caller, so
// the arithmetic is tested without waiting.
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace qm {

// "512 B", "1.5 KiB", "12.0 MiB", "1.2 GiB".
std::string byteSize(std::int64_t bytes);

class TransferMeter {
public:
    using Clock = std::chrono::steady_clock;

    // Bytes received so far of `total` (-1: no length announced), at `now`. Fewer bytes
    // than last time mean a new transfer (a redirect's body came first).
    void update(std::int64_t received, std::int64_t total, Clock::time_point now);
    void reset();

    // Thousandths of the announced length, 0 to 1000; nullopt without a length.
    std::optional<int> permille() const;
    // Bytes a second over the last few seconds; nullopt until enough time has passed.
    std::optional<double> rate() const;
    // "1.5 MiB of 12.0 MiB, 640.0 KiB/s", without " of ..." when no length was
    // announced and without the rate until it is known.
    std::string text() const;

    // The span the rate is taken over, and the least span that gives one.
    static constexpr std::chrono::milliseconds kRateWindow{3000};
    static constexpr std::chrono::milliseconds kLeastRateSpan{500};

private:
    struct Sample {
        Clock::time_point at;
        std::int64_t received;
    };
    std::deque<Sample> samples_;
    std::int64_t received_ = 0;
    std::int64_t total_ = -1;
};

} // namespace qm
