#include "platform/Clock.h"

#include <QString>
#include <cstring>
#include <langinfo.h>
#include <locale.h>

namespace qm {

Clock::TimePoint SystemClock::now() const
{
    return std::chrono::system_clock::now();
}

std::tm SystemClock::local(TimePoint when) const
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm out{};
    ::localtime_r(&seconds, &out);
    return out;
}

TimeTexts cTimeTexts()
{
    return {{"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"}, ":"};
}

namespace {

class LocaleHandle {
public:
    explicit LocaleHandle(const std::string& name)
        // With its character set, which says how the names are encoded.
        : handle_(::newlocale(LC_TIME_MASK | LC_CTYPE_MASK, name.c_str(), nullptr))
    {
    }
    ~LocaleHandle()
    {
        if (handle_)
            ::freelocale(handle_);
    }
    LocaleHandle(const LocaleHandle&) = delete;
    LocaleHandle& operator=(const LocaleHandle&) = delete;
    explicit operator bool() const { return handle_ != nullptr; }
    locale_t get() const { return handle_; }

private:
    locale_t handle_;
};

// The locale's bytes as the program's single-byte text.
std::string singleByte(const char* text, bool utf8)
{
    if (!utf8)
        return text;
    return QString::fromUtf8(text).toLatin1().toStdString();
}

// What the locale writes between hours and minutes: its time format may be given
// through shorthands (%T, %r, %X), so a known time is formatted and read back.
std::string timeSeparatorOf(locale_t locale, bool utf8)
{
    std::tm sample{};
    sample.tm_hour = 13;
    sample.tm_min = 47;
    sample.tm_sec = 58;
    char text[128];
    if (::strftime_l(text, sizeof text, "%X", &sample, locale) == 0)
        return ":";
    const std::string formatted = text;
    const std::size_t minutes = formatted.find("47");
    if (minutes == std::string::npos || minutes == 0)
        return ":";
    std::size_t start = minutes;
    while (start > 0 && (formatted[start - 1] < '0' || formatted[start - 1] > '9'))
        --start;
    if (start == 0 || start == minutes)
        return ":";
    return singleByte(formatted.substr(start, minutes - start).c_str(), utf8);
}

} // namespace

TimeTexts localeTimeTexts(const std::string& localeName)
{
    const LocaleHandle locale(localeName);
    if (!locale)
        return cTimeTexts();
    const bool utf8 = std::strcmp(::nl_langinfo_l(CODESET, locale.get()), "UTF-8") == 0;
    TimeTexts texts;
    for (int month = 0; month < 12; ++month)
        texts.shortMonths[static_cast<std::size_t>(month)]
            = singleByte(::nl_langinfo_l(static_cast<nl_item>(ABMON_1 + month), locale.get()), utf8);
    texts.timeSeparator = timeSeparatorOf(locale.get(), utf8);
    return texts;
}

} // namespace qm
