#pragma once
// Local time as the desktop shows it: the clock that timed plans read (tests replace
// it) and the locale's abbreviated month names and time separator.
#include <array>
#include <chrono>
#include <ctime>
#include <string>

namespace qm {

class Clock {
public:
    using TimePoint = std::chrono::system_clock::time_point;
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
    // The local calendar date and time of a moment.
    virtual std::tm local(TimePoint when) const = 0;
};

class SystemClock : public Clock {
public:
    TimePoint now() const override;
    std::tm local(TimePoint when) const override;
};

// The pieces of a date and time text that depend on the locale. Single-byte text:
// characters outside Latin-1 become "?".
struct TimeTexts {
    std::array<std::string, 12> shortMonths;
    std::string timeSeparator;
};

// "Jan" ... "Dec" and ":".
TimeTexts cTimeTexts();
// The texts of the named locale's LC_TIME category; "" names the one the environment
// chooses (LC_ALL, LC_TIME, LANG). The C texts when the locale is not installed.
TimeTexts localeTimeTexts(const std::string& localeName = {});

} // namespace qm
