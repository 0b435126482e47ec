// The TLE line pair: repair and validation, and the two field readers, against
// readings made here by other means.
#include "catalogue/Support.h"
#include "catalogue/TLESupport.h"

#include "FuzzSupport.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstring>
#include <regex>

using namespace qm;

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Integer_Value's rule written out: leading blanks, an optional sign, digits to the end.
void checkInteger(std::string_view field)
{
    bool ok = false;
    const int value = Integer_Value(field, 1, static_cast<int>(field.size()), ok);
    std::size_t i = field.find_first_not_of(' ');
    bool shaped = i != std::string_view::npos;
    if (shaped && (field[i] == '+' || field[i] == '-'))
        ++i;
    shaped = shaped && i < field.size() && std::all_of(field.begin() + static_cast<long>(i), field.end(), isDigit);
    if (!shaped) {
        FUZZ_CHECK(!ok && value == 0);
        return;
    }
    errno = 0;
    const std::string text(field);
    const long long expected = std::strtoll(text.c_str(), nullptr, 10);
    const bool fits = errno == 0 && expected >= INT32_MIN && expected <= INT32_MAX;
    FUZZ_CHECK(ok == fits);
    FUZZ_CHECK(value == (fits ? expected : 0));
}

// Real_Value's rule: blanks around a plain decimal number with an optional exponent.
void checkReal(std::string_view field)
{
    static const std::regex shape(R"( *[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)? *)");
    bool ok = false;
    const double value = Real_Value(field, 1, static_cast<int>(field.size()), ok);
    const std::string text(field);
    if (!std::regex_match(text, shape)) {
        FUZZ_CHECK(!ok && value == 0);
        return;
    }
    errno = 0;
    const double expected = std::strtod(text.c_str(), nullptr);
    if (errno == ERANGE)
        return; // out of range: either reading is acceptable
    FUZZ_CHECK(ok);
    FUZZ_CHECK(value == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::setlocale(LC_NUMERIC, "C");
    std::string pair(reinterpret_cast<const char*>(data), std::min(size, kTwoLineRecordSize));
    pair.resize(kTwoLineRecordSize, ' ');
    // The line ends are not the lines' business; the record pass always has them.
    pair[69] = pair[140] = '\r';
    pair[70] = pair[141] = '\n';
    const std::string before = pair;

    Repair_TLE(pair.data());
    FUZZ_CHECK(pair.substr(69, 2) == "\r\n" && pair.substr(140, 2) == "\r\n");
    for (std::size_t line : {std::size_t{0}, kLine2Offset}) {
        // A check character that is present is never changed; a missing one is computed.
        const char stored = before[line + 68];
        FUZZ_CHECK(stored == ' ' ? pair[line + 68] == TLE_Checksum(pair.c_str() + line) : pair[line + 68] == stored);
    }
    if (Valid_TLE(pair.c_str())) {
        FUZZ_CHECK(pair[0] == '1' && pair[kLine2Offset] == '2');
        FUZZ_CHECK(pair.compare(2, 5, pair, kLine2Offset + 2, 5) == 0);
        FUZZ_CHECK(pair[68] == TLE_Checksum(pair.c_str()));
        FUZZ_CHECK(pair[kLine2Offset + 68] == TLE_Checksum(pair.c_str() + kLine2Offset));
    }

    // Fields of every width the readers are given, cut from the input.
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (std::size_t width = 1; width <= 12 && width <= bytes.size(); width += 3) {
        checkInteger(bytes.substr(0, width));
        checkReal(bytes.substr(bytes.size() - width));
    }
    return 0;
}
