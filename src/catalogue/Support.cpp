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

// Letters skip I and O, which read too much like 1 and 0.
constexpr std::string_view kAlpha5Letters = "ABCDEFGHJKLMNPQRSTUVWXYZ";

// The tens of thousands a leading letter stands for (A = 10), or -1 for any other
// character: its place in kAlpha5Letters, counted without a search.
int alpha5Letter(char c)
{
    if (c < 'A' || c > 'Z' || c == 'I' || c == 'O')
        return -1;
    return 10 + (c - 'A') - (c > 'I') - (c > 'O');
}

} // namespace

int Catalog_Number(std::string_view text, int first, bool& ok)
{
    const std::string_view f = field(text, first, 5);
    const int letter = f.size() == 5 ? alpha5Letter(f[0]) : -1;
    if (letter >= 0 && isDigit(f[1]) && isDigit(f[2]) && isDigit(f[3]) && isDigit(f[4])) {
        ok = true;
        return letter * 10000 + (f[1] - '0') * 1000 + (f[2] - '0') * 100 + (f[3] - '0') * 10 + (f[4] - '0');
    }
    return Integer_Value(text, first, 5, ok);
}

std::string Catalog_Number_Text(int n)
{
    if (n < kFirstAlpha5Number || n > kHighestCatalogNumber)
        return std::to_string(n);
    std::string text = std::to_string(n % 10000 + 10000); // four digits after a "1"
    text[0] = kAlpha5Letters[static_cast<std::size_t>(n / 10000 - 10)];
    return text;
}

int Integer_Value(std::string_view text, int first, int count, bool& ok)
{
    const std::string_view f = field(text, first, count);
    if (f.empty())
        Fatal_Error("Null call to Integer_Value!");
    ok = false;
    const char* p = f.data();
    const char* const end = p + f.size();
    while (p != end && *p == ' ')
        ++p;
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (p == end)
        return 0;
    std::int64_t value = 0;
    for (; p != end; ++p) {
        if (!isDigit(*p))
            return 0;
        value = value * 10 + (*p - '0');
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
    const char* begin = f.data();
    const char* end = begin + f.size();
    while (begin != end && *begin == ' ')
        ++begin;
    while (end != begin && end[-1] == ' ')
        --end;
    if (begin == end)
        return 0;

    // Validate the shape by hand so that nothing but plain decimal notation passes.
    const char* p = begin;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    std::uint64_t mantissa = 0; // meaningful up to 19 digits
    const char* const integerPart = p;
    while (p != end && isDigit(*p)) {
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
        ++p;
    }
    std::size_t digits = static_cast<std::size_t>(p - integerPart);
    std::size_t fractionDigits = 0;
    if (p != end && *p == '.') {
        const char* const fraction = ++p;
        while (p != end && isDigit(*p)) {
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
            ++p;
        }
        fractionDigits = static_cast<std::size_t>(p - fraction);
        digits += fractionDigits;
    }
    if (digits == 0)
        return 0;
    bool exponent = false;
    if (p != end && (*p == 'e' || *p == 'E')) {
        exponent = true;
        ++p;
        if (p != end && (*p == '+' || *p == '-'))
            ++p;
        const char* const exponentDigits = p;
        while (p != end && isDigit(*p))
            ++p;
        if (p == exponentDigits)
            return 0;
    }
    if (p != end)
        return 0;

    // Up to 15 digits are an exact integer and a power of ten up to 1e15 an exact
    // double, so their quotient is the correctly rounded value, the one from_chars
    // gives. Every field of a TLE line takes this way.
    if (!exponent && digits <= 15) {
        static constexpr double kPowersOfTen[]
            = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        const double value = static_cast<double>(mantissa) / kPowersOfTen[fractionDigits];
        ok = true;
        return negative ? -value : value;
    }

    // from_chars is locale independent; it takes no "+" sign.
    double value = 0;
    const char* from = *begin == '+' ? begin + 1 : begin;
    const auto [ptr, ec] = std::from_chars(from, end, value, std::chars_format::general);
    if (ec != std::errc() || ptr != end)
        return 0;
    ok = true;
    return value;
}

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

void Fatal_Error(const std::string& msg)
{
    throw FatalStop{msg};
}

} // namespace qm
