#pragma once
// Column-range field readers of the TLE text and the fatal stop.
#include <string>
#include <string_view>

namespace qm {

// Reads `count` characters from column `first` (columns count from 1) as a decimal
// integer: leading blanks, then an optional sign and digits to the end of the field.
// Trailing blanks, any other character or a value outside 32 bits: ok = false, 0.
// A field that is empty (text ends before `first`) is a fatal stop.
int Integer_Value(std::string_view text, int first, int count, bool& ok);

// Reads a decimal number with optional sign, fraction and exponent; blanks around it
// are allowed. The decimal point is always "." whatever the locale. Invalid: ok = false, 0.
// An empty field is a fatal stop.
double Real_Value(std::string_view text, int first, int count, bool& ok);

// Ends the program through the fatal-stop edge: throws qm::FatalStop{msg}.
[[noreturn]] void Fatal_Error(const std::string& msg);

} // namespace qm
