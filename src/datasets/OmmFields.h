#pragma once
// The Orbit Mean-Elements Message (OMM) fields of one data-set record, taken from the
// TLE columns as text: no value makes a trip through binary floating point, so a
// reader gets exactly the numbers the element set holds.
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

enum class OmmFormat { None = 0, Xml = 1, Csv = 2, Json = 3 };

// The "OMM Format" setting's item as a format; an item it does not know is None.
OmmFormat ommFormatFromItem(int item);
// ".xml", ".csv" or ".json"; empty for None.
std::string_view ommExtension(OmmFormat format);

// Where a field stands in an NDM document.
enum class OmmGroup { Metadata, MeanElements, TleParameters };

struct OmmFieldDef {
    std::string_view key;
    OmmGroup group;
    bool number; // written as a JSON number; otherwise as a string
};

inline constexpr std::size_t kOmmFieldCount = 21;
inline constexpr std::size_t kOmmObjectName = 0;

// Every field in the order all three formats write them (the NDM order).
extern const std::array<OmmFieldDef, kOmmFieldCount> kOmmFields;

// The field conversions; each appends its result to `out`.

// Columns 10-17 of line 1 ("98067A  ") as "1998-067A": launch years 57-99 are the
// 1900s, 00-56 the 2000s. "UNKNOWN" for a blank field; a field whose year is not two
// digits is kept as it stands, without the blanks around it.
void appendObjectId(std::string& out, std::string_view designator);
// The epoch of line 1 as yyyy-mm-ddThh:mm:ss.ffffff (UTC). The day fraction has eight
// digits, hundred-millionths of a day, each 864 microseconds, so the time is exact.
// Nothing when columns 19-32 do not read as an epoch.
void appendEpoch(std::string& out, std::string_view line1);
// A decimal field as the checked lines allow it (blanks around it, an optional sign,
// fraction and exponent) as a plain decimal with a digit before any point, which XML,
// CSV and JSON readers all take: " .00002182" gives 0.00002182, "1.5E-3" gives 0.0015.
// An exponent that would spell out more than 64 zeros stays an exponent. Nothing for a
// field that is not a number.
void appendPlainDecimal(std::string& out, std::string_view field);
// An assumed-point field with exponent, 8 columns: sign, five digits, exponent sign
// and digit (" 12345-4" is 0.12345e-4); blanks count as zeros.
void appendExponentField(std::string& out, std::string_view field);
// A field of digits, blanks before them and blanks counting as zeros among them, as a
// whole number without leading zeros.
void appendWholeNumber(std::string& out, std::string_view field);
// The header's CREATION_DATE: yyyy-mm-ddThh:mm:ss (UTC).
std::string ommCreationDate(std::chrono::system_clock::time_point at);

// The field values of one 168-byte data-set record (name line, line 1, line 2), in the
// order of kOmmFields. The name is the name line's bytes without trailing blanks;
// every other value is ASCII.
class OmmValues {
public:
    void read(const char* record);
    std::string_view operator[](std::size_t field) const
    {
        return std::string_view(text_).substr(starts_[field], starts_[field + 1] - starts_[field]);
    }

private:
    void endField(std::size_t field) { starts_[field + 1] = static_cast<std::uint32_t>(text_.size()); }
    std::string text_;
    std::array<std::uint32_t, kOmmFieldCount + 1> starts_{};
};

} // namespace qm
