#include "catalogue/Epoch.h"

#include "catalogue/Support.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qm {

namespace {

// Columns count from 1.
constexpr int kYearColumn = 19;
constexpr int kPointColumn = 24;
constexpr std::size_t kFractionColumn = 25;
constexpr std::size_t kFractionDigits = 8;
constexpr double kFractionScale = 1e8;

} // namespace

std::optional<TleEpoch> Epoch_Value(std::string_view line1)
{
    if (line1.size() < kFractionColumn - 1 + kFractionDigits)
        return std::nullopt;
    // Year and day as digits (the published layout), read in one word: every pass over
    // a catalogue reads every epoch. "000yyddd": the five digits after three 0s.
    const std::int64_t yearDay = Digits_Value(Eight_Chars(line1.data() + kYearColumn - 1) << 24 | 0x303030);
    int yy = static_cast<int>(yearDay / 1000);
    int day = static_cast<int>(yearDay % 1000);
    if (yearDay < 0) {
        bool ok = false;
        yy = Integer_Value(line1, kYearColumn, 2, ok);
        if (!ok || yy < 0 || yy > 99)
            return std::nullopt;
        day = Integer_Value(line1, kYearColumn + 2, 3, ok);
        if (!ok || day < 0)
            return std::nullopt;
    }
    static_assert(kFractionDigits == 8);
    const std::int64_t fraction = Eight_Digits(line1.data() + kFractionColumn - 1);
    if (day > 366 || line1[kPointColumn - 1] != '.' || fraction < 0)
        return std::nullopt;
    return TleEpoch{yy >= 57 ? 1900 + yy : 2000 + yy, day, static_cast<int>(fraction)};
}

std::chrono::system_clock::time_point TleEpoch::timePoint() const
{
    using namespace std::chrono;
    const sys_days newYear{std::chrono::year{year} / January / 1};
    // Day 1.0 is the first instant of the year; a day 0 falls on the year before.
    const auto micros = std::llround(fraction / kFractionScale * 86400e6);
    return time_point_cast<system_clock::duration>(newYear + days{day - 1} + microseconds{micros});
}

void appendDigits(std::string& out, std::int64_t value, int width)
{
    char digits[20];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(digits, static_cast<std::size_t>(width));
}

void appendDateTime(std::string& out, std::chrono::sys_days day, std::int64_t seconds, char separator)
{
    const std::chrono::year_month_day date{day};
    appendDigits(out, int(date.year()), 4);
    out.push_back('-');
    appendDigits(out, unsigned(date.month()), 2);
    out.push_back('-');
    appendDigits(out, unsigned(date.day()), 2);
    out.push_back(separator);
    appendDigits(out, seconds / 3600, 2);
    out.push_back(':');
    appendDigits(out, seconds / 60 % 60, 2);
    out.push_back(':');
    appendDigits(out, seconds % 60, 2);
}

std::string epochLine(const TleEpoch& epoch, std::chrono::system_clock::time_point now)
{
    using namespace std::chrono;
    const auto at = epoch.timePoint();
    const year_month_day date{floor<days>(at)};
    const double ageDays = duration<double>(now - at).count() / 86400.0;
    // Whole tenths, so that a small negative age reads "-0.1" or "0.0", never "-0.0".
    const long long tenths = std::llround(ageDays * 10.0);
    char text[96];
    std::snprintf(text, sizeof text, "Epoch %04d-%02u-%02u, %s%lld.%lld days old", int(date.year()),
        unsigned(date.month()), unsigned(date.day()), tenths < 0 ? "-" : "", std::llabs(tenths) / 10,
        std::llabs(tenths) % 10);
    return text;
}

} // namespace qm
