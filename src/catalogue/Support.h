#pragma once
// Column-range field readers of the TLE text and the fatal stop.
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace qm {

// Reads `count` characters from column `first` (columns count from 1) as a decimal
// integer: leading blanks, then an optional sign and digits to the end of the field.
// Trailing blanks, any other character or a value outside 32 bits: ok = false, 0.
// A field that is empty (text ends before `first`) is a fatal stop.
int Integer_Value(std::string_view text, int first, int count, bool& ok);

// The highest catalogue number, Z9999 in the letter form.
inline constexpr int kHighestCatalogNumber = 339999;
// The first number that five digits cannot hold, A0000 in the letter form.
inline constexpr int kFirstAlpha5Number = 100000;

// Reads the catalogue number of the five columns from `first`, everywhere one is read:
// what Integer_Value reads there, or a capital letter other than I and O followed by
// four digits, for the numbers from 100000 on (A0000 = 100000, B = 11, ..., H = 17,
// J = 18, ..., N = 22, P = 23, ..., Z9999 = 339999). An empty field is a fatal stop,
// as for Integer_Value.
int Catalog_Number(std::string_view text, int first, bool& ok);

// The catalogue number as its own text: decimal, or the letter form from 100000 on.
std::string Catalog_Number_Text(int n);

// Reads a decimal number with optional sign, fraction and exponent; blanks around it
// are allowed. The decimal point is always "." whatever the locale. Invalid: ok = false, 0.
// An empty field is a fatal stop.
double Real_Value(std::string_view text, int first, int count, bool& ok);

// The eight characters from `p` as one word, the first in the lowest byte, whatever
// the machine's order.
inline std::uint64_t Eight_Chars(const char* p)
{
    std::uint64_t v = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&v, p, 8);
    } else {
        for (int i = 7; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(p[i]);
    }
    return v;
}

// The eight characters of `v` (as Eight_Chars gives them) as one number when every one
// is a digit, else -1; with `blankAsZero` a blank counts as a 0. A handful of
// operations for all eight: passes over a whole catalogue read fields of eight digits
// for every object.
inline std::int64_t Digits_Value(std::uint64_t v, bool blankAsZero = false)
{
    if (blankAsZero)
        v |= 0x1010101010101010; // 0x20 becomes 0x30; a digit stays, anything else stays no digit
    // High nibble 3, and adding 6 keeps it 3: a digit in every byte.
    if (((v & 0xF0F0F0F0F0F0F0F0) | (((v + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) >> 4)) != 0x3333333333333333)
        return -1;
    v = (v & 0x0F0F0F0F0F0F0F0F) * 2561 >> 8;
    v = (v & 0x00FF00FF00FF00FF) * 6553601 >> 16;
    return static_cast<std::int64_t>((v & 0x0000FFFF0000FFFF) * 42949672960001 >> 32);
}

// The eight characters from `p` as one number, as Digits_Value reads them.
inline std::int64_t Eight_Digits(const char* p, bool blankAsZero = false)
{
    return Digits_Value(Eight_Chars(p), blankAsZero);
}

// `s` without the blanks (0x20) at either end.
std::string_view trimBlanks(std::string_view s);

// Ends the program through the fatal-stop edge: throws qm::FatalStop{msg}.
[[noreturn]] void Fatal_Error(const std::string& msg);

} // namespace qm
