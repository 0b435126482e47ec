#include "datasets/OmmFields.h"

#include "catalogue/Epoch.h"
#include "catalogue/Support.h"
#include "datasets/DataSetFormat.h"

#include <algorithm>
#include <cstdint>

namespace qm {

namespace {

using G = OmmGroup;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Beyond this many zeros between the point and the digits (or after them), a decimal
// stays an exponent: a checked field can hold an exponent of eight digits, and its
// plain form must not grow without bound.
constexpr int kMostSpelledZeros = 64;

// Columns of line 1 and line 2 as the record holds them, from column `first` on.
std::string_view columns(const char* line, int first, int count)
{
    return {line + first - 1, static_cast<std::size_t>(count)};
}

} // namespace

const std::array<OmmFieldDef, kOmmFieldCount> kOmmFields = {{
    {"OBJECT_NAME", G::Metadata, false},
    {"OBJECT_ID", G::Metadata, false},
    {"CENTER_NAME", G::Metadata, false},
    {"REF_FRAME", G::Metadata, false},
    {"TIME_SYSTEM", G::Metadata, false},
    {"MEAN_ELEMENT_THEORY", G::Metadata, false},
    {"EPOCH", G::MeanElements, false},
    {"MEAN_MOTION", G::MeanElements, true},
    {"ECCENTRICITY", G::MeanElements, true},
    {"INCLINATION", G::MeanElements, true},
    {"RA_OF_ASC_NODE", G::MeanElements, true},
    {"ARG_OF_PERICENTER", G::MeanElements, true},
    {"MEAN_ANOMALY", G::MeanElements, true},
    {"EPHEMERIS_TYPE", G::TleParameters, true},
    {"CLASSIFICATION_TYPE", G::TleParameters, false},
    {"NORAD_CAT_ID", G::TleParameters, true},
    {"ELEMENT_SET_NO", G::TleParameters, true},
    {"REV_AT_EPOCH", G::TleParameters, true},
    {"BSTAR", G::TleParameters, true},
    {"MEAN_MOTION_DOT", G::TleParameters, true},
    {"MEAN_MOTION_DDOT", G::TleParameters, true},
}};

OmmFormat ommFormatFromItem(int item)
{
    return item >= 0 && item <= 3 ? static_cast<OmmFormat>(item) : OmmFormat::None;
}

std::string_view ommExtension(OmmFormat format)
{
    switch (format) {
    case OmmFormat::Xml:
        return ".xml";
    case OmmFormat::Csv:
        return ".csv";
    case OmmFormat::Json:
        return ".json";
    case OmmFormat::None:
        break;
    }
    return {};
}

void appendObjectId(std::string& out, std::string_view designator)
{
    // The launch year stands in the first two columns; the check lets either be blank.
    if (designator.size() < 2 || !isDigit(designator[0]) || !isDigit(designator[1])) {
        const std::string_view kept = trimBlanks(designator);
        // The orbit data messages' word for a value that is not known: readers that
        // take the field apart need something to take.
        out.append(kept.empty() ? std::string_view("UNKNOWN") : kept);
        return;
    }
    const int yy = (designator[0] - '0') * 10 + (designator[1] - '0');
    out.append(yy >= 57 ? "19" : "20");
    out.append(designator.substr(0, 2));
    out.push_back('-');
    out.append(trimBlanks(designator.substr(2)));
}

void appendEpoch(std::string& out, std::string_view line1)
{
    const std::optional<TleEpoch> epoch = Epoch_Value(line1);
    if (!epoch)
        return;
    using namespace std::chrono;
    // Day 1 is 1 January; day 0 falls on the last day of the year before.
    const std::int64_t micros = std::int64_t{epoch->fraction} * 864;
    appendDateTime(out, sys_days{year{epoch->year} / January / 1} + days{epoch->day - 1}, micros / 1'000'000, 'T');
    out.push_back('.');
    appendDigits(out, micros % 1'000'000, 6);
}

void appendPlainDecimal(std::string& out, std::string_view field)
{
    std::string_view s = trimBlanks(field);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    std::size_t i = 0;
    while (i < s.size() && isDigit(s[i]))
        ++i;
    const std::string_view whole = s.substr(0, i);
    std::string_view fraction;
    if (i < s.size() && s[i] == '.') {
        const std::size_t from = ++i;
        while (i < s.size() && isDigit(s[i]))
            ++i;
        fraction = s.substr(from, i - from);
    }
    if (whole.empty() && fraction.empty())
        return;
    long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool down = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            down = s[i++] == '-';
        const std::size_t from = i;
        for (; i < s.size() && isDigit(s[i]); ++i)
            exponent = std::min(exponent * 10 + (s[i] - '0'), 1'000'000'000L);
        if (i == from)
            return;
        if (down)
            exponent = -exponent;
    }
    if (i != s.size())
        return;

    // The digits without leading zeros, and where the point falls among them.
    std::string digits(whole);
    digits.append(fraction);
    long point = static_cast<long>(whole.size()) + exponent;
    std::size_t lead = 0;
    while (lead + 1 < digits.size() && digits[lead] == '0' && point > 1) {
        ++lead;
        --point;
    }
    std::string_view d = std::string_view(digits).substr(lead);

    if (negative)
        out.push_back('-');
    const long size = static_cast<long>(d.size());
    if (point < -kMostSpelledZeros || point > size + kMostSpelledZeros) {
        // d.ddd...e(point - 1), from the first nonzero digit.
        const std::size_t first = d.find_first_not_of('0');
        if (first == std::string_view::npos) {
            out.push_back('0');
            return;
        }
        point -= static_cast<long>(first);
        d.remove_prefix(first);
        out.push_back(d.front());
        if (d.size() > 1) {
            out.push_back('.');
            out.append(d.substr(1));
        }
        out.push_back('e');
        out.append(std::to_string(point - 1));
        return;
    }
    if (point <= 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-point), '0');
        out.append(d);
    } else if (point >= size) {
        // Leading zeros are gone, so a digit string that starts with one is zero.
        if (d.front() == '0') {
            out.push_back('0');
            return;
        }
        out.append(d);
        out.append(static_cast<std::size_t>(point - size), '0');
    } else {
        out.append(d.substr(0, static_cast<std::size_t>(point)));
        out.push_back('.');
        out.append(d.substr(static_cast<std::size_t>(point)));
    }
}

void appendExponentField(std::string& out, std::string_view field)
{
    if (field.size() != 8)
        return;
    // "-0.11606e-4" for "-11606-4".
    char text[12] = {'+', '0', '.', '0', '0', '0', '0', '0', 'e', '+', '0', '\0'};
    if (field[0] == '-')
        text[0] = '-';
    for (std::size_t k = 0; k < 5; ++k)
        if (isDigit(field[1 + k]))
            text[3 + k] = field[1 + k];
    if (field[6] == '-')
        text[9] = '-';
    if (isDigit(field[7]))
        text[10] = field[7];
    appendPlainDecimal(out, std::string_view(text, 11));
}

void appendWholeNumber(std::string& out, std::string_view field)
{
    while (!field.empty() && (field.front() == ' ' || field.front() == '0'))
        field.remove_prefix(1);
    if (field.empty()) {
        out.push_back('0');
        return;
    }
    for (char c : field)
        out.push_back(isDigit(c) ? c : '0');
}

std::string ommCreationDate(std::chrono::system_clock::time_point at)
{
    using namespace std::chrono;
    const sys_days day = floor<days>(at);
    std::string out;
    appendDateTime(out, day, duration_cast<seconds>(at - day).count(), 'T');
    return out;
}

void OmmValues::read(const char* record)
{
    const char* line1 = record + kRecordLine1Offset;
    const char* line2 = record + kRecordLine2Offset;
    text_.clear();
    starts_[0] = 0;

    std::string_view name(record, kNameSize);
    while (!name.empty() && name.back() == ' ')
        name.remove_suffix(1);
    text_.append(name);
    endField(0);
    appendObjectId(text_, columns(line1, 10, 8));
    endField(1);
    static constexpr std::string_view kFixed[] = {"EARTH", "TEME", "UTC"};
    for (std::size_t k = 0; k < 3; ++k) {
        text_.append(kFixed[k]);
        endField(2 + k);
    }
    // Ephemeris type 4 element sets are fitted for the extended propagator, and readers
    // choose theirs by this name.
    text_.append(line1[62] == '4' ? "SGP4-XP" : "SGP4");
    endField(5);
    appendEpoch(text_, std::string_view(line1, kLineLength));
    endField(6);
    appendPlainDecimal(text_, columns(line2, 53, 11));
    endField(7);
    text_.append("0.");
    text_.append(columns(line2, 27, 7));
    endField(8);
    appendPlainDecimal(text_, columns(line2, 9, 8));
    endField(9);
    appendPlainDecimal(text_, columns(line2, 18, 8));
    endField(10);
    appendPlainDecimal(text_, columns(line2, 35, 8));
    endField(11);
    appendPlainDecimal(text_, columns(line2, 44, 8));
    endField(12);
    appendWholeNumber(text_, columns(line1, 63, 1));
    endField(13);
    text_.push_back(line1[7]);
    endField(14);
    bool ok = false;
    const int number = Catalog_Number(std::string_view(line1, kLineLength), 3, ok);
    if (ok)
        text_.append(std::to_string(number));
    endField(15);
    appendWholeNumber(text_, columns(line1, 65, 4));
    endField(16);
    appendWholeNumber(text_, columns(line2, 64, 5));
    endField(17);
    appendExponentField(text_, columns(line1, 54, 8));
    endField(18);
    appendPlainDecimal(text_, columns(line1, 34, 10));
    endField(19);
    appendExponentField(text_, columns(line1, 45, 8));
    endField(20);
}

} // namespace qm
