#include "service/TransferMeter.h"

#include <algorithm>
#include <cstdio>

namespace qm {

std::string byteSize(std::int64_t bytes)
{
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    // 1023.96 KiB would print as "1024.0 KiB": move up before rounding does.
    while (value >= 1023.95 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

void TransferMeter::reset()
{
    samples_.clear();
    received_ = 0;
    total_ = -1;
}

void TransferMeter::update(std::int64_t received, std::int64_t total, Clock::time_point now)
{
    if (received < received_)
        samples_.clear();
    received_ = received;
    total_ = total;
    samples_.push_back({now, received});
    // Keep one sample at or before the window's start, so the span covers the window.
    while (samples_.size() > 2 && now - samples_[1].at >= kRateWindow)
        samples_.pop_front();
}

std::optional<int> TransferMeter::permille() const
{
    if (total_ < 0)
        return std::nullopt;
    if (total_ == 0)
        return 1000;
    // Content-Length does not limit the body: more than announced shows as full.
    const auto share = static_cast<double>(std::min(received_, total_)) / static_cast<double>(total_);
    return static_cast<int>(share * 1000.0);
}

std::optional<double> TransferMeter::rate() const
{
    if (samples_.size() < 2)
        return std::nullopt;
    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    const std::chrono::duration<double> span = last.at - first.at;
    if (span < kLeastRateSpan)
        return std::nullopt;
    return static_cast<double>(last.received - first.received) / span.count();
}

std::string TransferMeter::text() const
{
    std::string text = byteSize(received_);
    if (total_ >= 0)
        text += " of " + byteSize(total_);
    if (const std::optional<double> bytesPerSecond = rate())
        text += ", " + byteSize(static_cast<std::int64_t>(*bytesPerSecond)) + "/s";
    return text;
}

} // namespace qm
