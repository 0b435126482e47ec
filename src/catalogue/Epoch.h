#pragma once
// The epoch of an element set, columns 19-32 of line 1: a two-digit year (57-99 are
// the 1900s, 00-56 the 2000s), then the day of the year with its fraction, day 1.0
// being 1 January at 0h UTC.
#include <chrono>
#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

struct TleEpoch {
    int year = 0; // four digits
    int day = 0; // whole day of the year, 1 to 366
    int fraction = 0; // eight digits: hundred-millionths of a day

    auto operator<=>(const TleEpoch&) const = default;
    std::chrono::system_clock::time_point timePoint() const;
};

// The epoch of a line 1; nullopt when its fields do not read as one (a negative or
// unreadable year or day, a fraction that is not eight digits).
std::optional<TleEpoch> Epoch_Value(std::string_view line1);

// The newest epoch of the lines a pass shows it.
class NewestEpoch {
public:
    void take(std::string_view line1)
    {
        const std::optional<TleEpoch> epoch = Epoch_Value(line1);
        if (epoch && (!newest_ || *epoch > *newest_))
            newest_ = epoch;
    }
    const std::optional<TleEpoch>& value() const { return newest_; }
    void reset() { newest_.reset(); }

private:
    std::optional<TleEpoch> newest_;
};

// `value` (not negative) in exactly `width` digits, zeros in front.
void appendDigits(std::string& out, std::int64_t value, int width);
// `day` as yyyy-mm-dd, `separator`, then `seconds` into the day as hh:mm:ss: written by
// hand, as passes over a whole catalogue write one for many objects.
void appendDateTime(std::string& out, std::chrono::sys_days day, std::int64_t seconds, char separator);

// "Epoch yyyy-mm-dd, d.d days old": the epoch's date (UTC) and its age at `now`.
std::string epochLine(const TleEpoch& epoch, std::chrono::system_clock::time_point now);

} // namespace qm
