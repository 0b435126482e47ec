#include "ExpectedOutputs.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdint>
#include <regex>

namespace qm::e2e {

namespace {

const std::string kCrLf = "\r\n";

// The first n characters of s, filled with blanks to n.
std::string fit(const std::string& s, std::size_t n)
{
    std::string out = s.substr(0, std::min(s.size(), n));
    out.resize(n, ' ');
    return out;
}

// Text lines: a line ends at LF, the CR before it is not part of it, any other CR
// is dropped; nothing after the last line end counts unless it holds characters.
std::vector<std::string> textLines(const std::string& text, bool stopAtEof1A = false)
{
    std::vector<std::string> lines;
    std::string line;
    bool open = false;
    for (char c : text) {
        if (stopAtEof1A && c == '\x1A')
            break;
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
            open = false;
        } else if (c != '\r') {
            line += c;
            open = true;
        }
    }
    if (open)
        lines.push_back(line);
    return lines;
}

// Columns first..first+count-1 (1-based) of a line.
std::string columns(const std::string& line, std::size_t first, std::size_t count)
{
    return first - 1 < line.size() ? line.substr(first - 1, count) : std::string();
}

std::optional<double> realField(const std::string& field)
{
    static const std::regex number(R"(^ *([+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?) *$)");
    std::smatch m;
    if (!std::regex_match(field, m, number))
        return std::nullopt;
    std::string text = m[1].str();
    if (text.front() == '+')
        text.erase(0, 1);
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

char checksum(const std::string& line)
{
    int sum = 0;
    for (std::size_t i = 0; i < 68; ++i) {
        const char c = line[i];
        if (c >= '0' && c <= '9')
            sum += c - '0';
        else if (c == '-')
            ++sum;
    }
    return static_cast<char>('0' + sum % 10);
}

bool digit(char c)
{
    return c >= '0' && c <= '9';
}
bool blankOrDigit(char c)
{
    return c == ' ' || digit(c);
}
bool oneOf(char c, const char* set)
{
    return c != '\0' && std::string(set).find(c) != std::string::npos;
}

// The two lines of an element set, columns counted from 1.
struct Pair {
    std::string one;
    std::string two;
    char& a(int col) { return one[static_cast<std::size_t>(col - 1)]; }
    char& b(int col) { return two[static_cast<std::size_t>(col - 1)]; }
};

void blankToZero(char& c)
{
    if (c == ' ')
        c = '0';
}
// Leading zeros become blanks: a "0" right of a blank turns blank.
void dropLeadingZeros(std::string& line, std::initializer_list<std::pair<int, int>> pairs)
{
    for (const auto& [left, right] : pairs)
        if (line[static_cast<std::size_t>(left - 1)] == ' ' && line[static_cast<std::size_t>(right - 1)] == '0')
            line[static_cast<std::size_t>(right - 1)] = ' ';
}

void repair(Pair& p)
{
    for (int col = 3; col <= 6; ++col)
        blankToZero(p.a(col));
    if (digit(p.a(10))) {
        blankToZero(p.a(12));
        blankToZero(p.a(13));
        if (p.a(15) == ' ' && p.a(16) == ' ') {
            p.a(15) = p.a(17);
            p.a(17) = ' ';
        }
        if (p.a(15) == ' ') {
            p.a(15) = p.a(16);
            p.a(16) = p.a(17);
            p.a(17) = ' ';
        }
    }
    blankToZero(p.a(21));
    blankToZero(p.a(22));
    if (p.a(34) == '+')
        p.a(34) = ' ';
    if (p.a(45) == '+' || p.a(45) == '0')
        p.a(45) = ' ';
    if (p.one.substr(44, 8) == std::string(8, ' '))
        p.one.replace(45, 7, "00000+0");
    if (p.one.find("    0+0") == 45)
        p.one.replace(45, 4, "0000");
    if (digit(p.a(52)) && p.a(51) == ' ')
        p.a(51) = '+';
    if (p.a(54) == '+')
        p.a(54) = ' ';
    if (p.one.substr(53, 8) == std::string(8, ' '))
        p.one.replace(54, 7, "00000+0");
    if (digit(p.a(61)) && p.a(60) == ' ')
        p.a(60) = '+';
    blankToZero(p.a(63));
    dropLeadingZeros(p.one, {{64, 65}, {65, 66}, {66, 67}});
    blankToZero(p.a(68));
    if (p.a(69) == ' ')
        p.a(69) = checksum(p.one);

    for (int col = 3; col <= 6; ++col)
        blankToZero(p.b(col));
    dropLeadingZeros(p.two, {{8, 9}, {9, 10}, {17, 18}, {18, 19}, {34, 35}, {35, 36}, {43, 44}, {44, 45}});
    if (p.b(53) == '0')
        p.b(53) = ' ';
    if (p.b(64) == '0')
        p.b(64) = ' ';
    dropLeadingZeros(p.two, {{64, 65}, {65, 66}, {66, 67}});
    blankToZero(p.b(68));
    if (p.b(69) == ' ')
        p.b(69) = checksum(p.two);
}

bool all(const std::string& line, int first, int last, bool (*test)(char))
{
    for (int col = first; col <= last; ++col)
        if (!test(line[static_cast<std::size_t>(col - 1)]))
            return false;
    return true;
}

bool integerAtMost(const std::string& line, int first, int count, long most)
{
    const auto value = integerField(columns(line, static_cast<std::size_t>(first), static_cast<std::size_t>(count)));
    return value && *value <= most;
}

bool catalogueNumberAtMost(const std::string& lineOne, long most)
{
    const auto value = catalogueNumberField(columns(lineOne, 3, 5));
    return value && *value <= most;
}

bool realBelow(const std::string& line, int first, int count, double limit, bool inclusive)
{
    const auto value = realField(columns(line, static_cast<std::size_t>(first), static_cast<std::size_t>(count)));
    return value && (inclusive ? *value <= limit : *value < limit);
}

bool valid(Pair& p)
{
    const auto pieceChar = [](char c) { return c == ' ' || c == '-' || digit(c) || (c >= 'A' && c <= 'Z'); };
    bool pieceOk = true;
    for (int col = 12; col <= 16; ++col)
        pieceOk = pieceOk && pieceChar(p.a(col));
    const char c17 = p.a(17);
    const bool lineOne = p.a(1) == '1' && p.a(2) == ' ' && catalogueNumberAtMost(p.one, 339999) && p.a(8) == 'U'
        && p.a(9) == ' ' && all(p.one, 10, 11, blankOrDigit) && pieceOk
        && (c17 == ' ' || digit(c17) || (c17 >= 'A' && c17 <= 'Z')) && p.a(18) == ' ' && integerAtMost(p.one, 19, 2, 99)
        && integerAtMost(p.one, 21, 3, 366) && p.a(24) == '.' && all(p.one, 25, 32, digit) && p.a(33) == ' '
        && oneOf(p.a(34), " +-0") && p.a(35) == '.' && all(p.one, 36, 43, digit) && p.a(44) == ' '
        && oneOf(p.a(45), " +-") && all(p.one, 46, 50, blankOrDigit) && oneOf(p.a(51), " +-") && blankOrDigit(p.a(52))
        && p.a(53) == ' ' && oneOf(p.a(54), " +-") && all(p.one, 55, 59, blankOrDigit) && oneOf(p.a(60), " +-")
        && blankOrDigit(p.a(61)) && p.a(62) == ' ' && digit(p.a(63)) && p.a(64) == ' '
        && all(p.one, 65, 67, blankOrDigit) && digit(p.a(68)) && p.a(69) == checksum(p.one);
    return lineOne && p.b(1) == '2' && p.b(2) == ' ' && p.two.substr(2, 5) == p.one.substr(2, 5)
        && realBelow(p.two, 9, 8, 180, true) && p.b(17) == ' ' && realBelow(p.two, 18, 8, 360, true) && p.b(26) == ' '
        && all(p.two, 27, 33, digit) && p.b(34) == ' ' && realBelow(p.two, 35, 8, 360, true) && p.b(43) == ' '
        && realBelow(p.two, 44, 8, 360, true) && p.b(52) == ' ' && realBelow(p.two, 53, 11, 17, false)
        && all(p.two, 64, 67, blankOrDigit) && digit(p.b(68)) && p.b(69) == checksum(p.two);
}

long numberOf(const std::string& lineOne)
{
    return catalogueNumberField(columns(lineOne, 3, 5)).value_or(0);
}

// The name a record gets when its list line names none.
std::string ownName(const std::string& record, bool twoLine, const std::string& table)
{
    if (!twoLine)
        return record.substr(0, 24);
    const long m = numberOf(record.substr(0, 69));
    const long highest = static_cast<long>(table.size() / 40) - 1;
    if (m > highest)
        return fit("UNKNOWN", 24);
    return table.substr(static_cast<std::size_t>(m) * 40 + 16, 24);
}

std::string dataSetRecord(const std::string& record, bool twoLine, const std::string& name)
{
    return twoLine ? name + kCrLf + record : name + record.substr(24);
}

} // namespace

std::optional<long> integerField(const std::string& field)
{
    std::size_t i = field.find_first_not_of(' ');
    if (i == std::string::npos)
        return std::nullopt;
    const bool negative = field[i] == '-';
    if (field[i] == '+' || field[i] == '-')
        ++i;
    if (i == field.size())
        return std::nullopt;
    long value = 0;
    for (; i < field.size(); ++i) {
        if (!digit(field[i]))
            return std::nullopt;
        value = value * 10 + (field[i] - '0');
        if (value > INT_MAX + 1L)
            return std::nullopt;
    }
    value = negative ? -value : value;
    if (value > INT_MAX || value < INT_MIN)
        return std::nullopt;
    return value;
}

std::optional<long> catalogueNumberField(const std::string& field)
{
    // Past 99999 a capital letter stands for the leading digits: A = 10 ... Z = 33,
    // leaving out I and O.
    static const std::string kLetters = "ABCDEFGHJKLMNPQRSTUVWXYZ";
    const std::size_t letter = field.size() == 5 ? kLetters.find(field[0]) : std::string::npos;
    if (letter == std::string::npos || !std::all_of(field.begin() + 1, field.end(), digit))
        return integerField(field);
    return static_cast<long>(10 + letter) * 10000 + std::stol(field.substr(1));
}

CheckedCatalogue checkCatalogue(const std::string& text, bool twoLine)
{
    std::vector<std::string> lines = textLines(text);
    if (!lines.empty() && !lines.front().empty() && lines.front().front() == '#')
        lines.erase(lines.begin(), lines.begin() + std::min<std::ptrdiff_t>(2, std::ssize(lines)));
    CheckedCatalogue out;
    out.twoLine = twoLine;
    std::size_t at = 0;
    do {
        auto next = [&lines, &at] { return at < lines.size() ? lines[at++] : std::string(); };
        const std::string name = twoLine ? std::string() : fit(next(), 24);
        Pair pair{fit(next(), 69), fit(next(), 69)};
        repair(pair);
        const std::string record = (twoLine ? std::string() : name + kCrLf) + pair.one + kCrLf + pair.two + kCrLf;
        (valid(pair) ? out.good : out.rejected).push_back(record);
    } while (at < lines.size());
    for (std::size_t r = 0; r < out.good.size(); ++r)
        out.byNumber[numberOf(out.good[r].substr(twoLine ? 0 : 26, 69))] = r; // the later of two wins
    return out;
}

std::string CheckedCatalogue::index() const
{
    std::vector<std::int32_t> slots;
    for (std::size_t r = 0; r < good.size(); ++r) {
        const long n = numberOf(good[r].substr(twoLine ? 0 : 26, 69));
        if (n < 0)
            continue;
        if (slots.size() <= static_cast<std::size_t>(n))
            slots.resize(static_cast<std::size_t>(n) + 1, 0);
        slots[static_cast<std::size_t>(n)] = static_cast<std::int32_t>(r + 1);
    }
    std::string bytes;
    for (const std::int32_t slot : slots)
        for (int shift = 0; shift < 32; shift += 8)
            bytes += static_cast<char>((static_cast<std::uint32_t>(slot) >> shift) & 0xFF);
    return bytes;
}

std::optional<std::string> CheckedCatalogue::lookUp(long n) const
{
    const auto it = byNumber.find(n);
    if (it == byNumber.end())
        return std::nullopt;
    return good[it->second];
}

std::string CheckedCatalogue::rejectedFile() const
{
    std::string bytes;
    for (const std::string& record : rejected)
        bytes += record;
    return bytes;
}

std::string reportTable(const std::string& reportText)
{
    const std::vector<std::string> lines = textLines(reportText);
    auto at = std::find(lines.begin(), lines.end(), "Satellite Situation Report Objects in Orbit");
    std::string table;
    if (at == lines.end() || lines.end() - at < 4)
        return table;
    at += 4;
    while (lines.end() - at >= 2) {
        const std::string& data = *at++;
        const std::string& name = *at++;
        const std::string numberText = fit(columns(data, 17, 5), 5);
        const long n = catalogueNumberField(numberText).value_or(0);
        const std::string record
            = fit(data.substr(0, std::min<std::size_t>(11, data.size())), 11) + numberText + fit(name, 24);
        const std::size_t offset = static_cast<std::size_t>(n) * 40;
        if (table.size() < offset + 40)
            table.resize(offset + 40, '\0');
        table.replace(offset, 40, record);
        if (n == 1)
            break;
    }
    return table;
}

std::string dataSet(const std::string& queryList, const CheckedCatalogue& catalogue, const std::string& table,
    std::vector<long>* absent)
{
    std::string out;
    std::vector<std::string> lines = textLines(queryList, true);
    if (lines.empty())
        lines.emplace_back();
    for (const std::string& whole : lines) {
        const std::string line = whole.substr(0, std::min<std::size_t>(29, whole.size()));
        const long n = catalogueNumberField(line.substr(0, std::min<std::size_t>(5, line.size()))).value_or(0);
        const std::optional<std::string> record = catalogue.lookUp(n);
        if (!record) {
            if (absent)
                absent->push_back(n);
            continue;
        }
        const std::string given = fit(columns(line, 6, 24), 24);
        const std::string name = given != std::string(24, ' ') ? given : ownName(*record, catalogue.twoLine, table);
        out += dataSetRecord(*record, catalogue.twoLine, name);
    }
    return out;
}

std::string comprehensive(const CheckedCatalogue& catalogue, const std::string& table)
{
    std::string out;
    for (const std::string& record : catalogue.good)
        out += dataSetRecord(record, catalogue.twoLine, ownName(record, catalogue.twoLine, table));
    return out;
}

} // namespace qm::e2e
