#include "catalogue/Support.h"

#include "platform/Errors.h"

#include <charconv>
#include <cstdint>
#include <limits>

namespace qm {

namespace {

// The field of `count` characters from column `first`, cut where the text ends.
std::string_view field(std::string_view text, int first, int count)
{
    if (first < 1)
        first = 1;
    if (count <= 0 || static_cast<std::size_t>(first) > text.size())
        return {};
    return text.substr(static_cast<std::size_t>(first - 1), static_cast<std::size_t>(count));
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

int Integer_Value(std::string_view text, int first, int count, bool& ok)
{
    const std::string_view f = field(text, first, count);
    if (f.empty())
        Fatal_Error("Null call to Integer_Value!");
    ok = false;
    std::size_t i = 0;
    while (i < f.size() && f[i] == ' ')
        ++i;
    bool negative = false;
    if (i < f.size() && (f[i] == '+' || f[i] == '-')) {
        negative = f[i] == '-';
        ++i;
    }
    if (i == f.size())
        return 0;
    std::int64_t value = 0;
    for (; i < f.size(); ++i) {
        if (!isDigit(f[i]))
            return 0;
        value = value * 10 + (f[i] - '0');
        if (value > std::int64_t{std::numeric_limits<int>::max()} + 1)
            return 0;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        return 0;
    ok = true;
    return static_cast<int>(value);
}

double Real_Value(std::string_view text, int first, int count, bool& ok)
{
    const std::string_view f = field(text, first, count);
    if (f.empty())
        Fatal_Error("Null call to Real_Value!");
    ok = false;
    std::size_t begin = 0;
    std::size_t end = f.size();
    while (begin < end && f[begin] == ' ')
        ++begin;
    while (end > begin && f[end - 1] == ' ')
        --end;
    if (begin == end)
        return 0;

    // Validate the shape by hand so that nothing but plain decimal notation passes.
    std::size_t i = begin;
    if (f[i] == '+' || f[i] == '-')
        ++i;
    std::size_t digits = 0;
    while (i < end && isDigit(f[i])) {
        ++i;
        ++digits;
    }
    if (i < end && f[i] == '.') {
        ++i;
        while (i < end && isDigit(f[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0;
    if (i < end && (f[i] == 'e' || f[i] == 'E')) {
        ++i;
        if (i < end && (f[i] == '+' || f[i] == '-'))
            ++i;
        std::size_t expDigits = 0;
        while (i < end && isDigit(f[i])) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return 0;
    }
    if (i != end)
        return 0;

    // from_chars is locale independent; it takes no "+" sign.
    double value = 0;
    const char* from = f.data() + (f[begin] == '+' ? begin + 1 : begin);
    const auto [ptr, ec] = std::from_chars(from, f.data() + end, value, std::chars_format::general);
    if (ec != std::errc() || ptr != f.data() + end)
        return 0;
    ok = true;
    return value;
}

void Fatal_Error(const std::string& msg)
{
    throw FatalStop{msg};
}

} // namespace qm
