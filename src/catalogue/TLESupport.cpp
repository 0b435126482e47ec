#include "catalogue/TLESupport.h"

#include "catalogue/Support.h"
#include "core/Reporter.h"
#include "platform/File.h"
#include "platform/Paths.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>

namespace qm {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool isUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}
bool isBlankOrDigit(char c)
{
    return c == ' ' || isDigit(c);
}
bool isSign(char c)
{
    return c == ' ' || c == '+' || c == '-';
}

// Column access on one 69-character line; columns count from 1.
struct Line {
    char* p;
    char& operator[](int column) const { return p[column - 1]; }
};
struct ConstLine {
    const char* p;
    char operator[](int column) const { return p[column - 1]; }
    std::string_view text() const { return {p, kLineLength}; }
};

bool intAtMost(ConstLine l, int first, int count, int max)
{
    bool ok = false;
    const int v = Integer_Value(l.text(), first, count, ok);
    return ok && v <= max;
}

bool realAtMost(ConstLine l, int first, int count, double max)
{
    bool ok = false;
    const double v = Real_Value(l.text(), first, count, ok);
    return ok && v <= max;
}

bool allOf(ConstLine l, int from, int to, bool (*test)(char))
{
    for (int c = from; c <= to; ++c)
        if (!test(l[c]))
            return false;
    return true;
}

bool validLine1(ConstLine l)
{
    if (l[1] != '1' || l[2] != ' ')
        return false;
    bool numberOk = false;
    const int number = Catalog_Number(l.text(), 3, numberOk);
    if (!numberOk || number > kHighestCatalogNumber)
        return false;
    if (l[8] != 'U' || l[9] != ' ')
        return false;
    if (!allOf(l, 10, 11, isBlankOrDigit))
        return false;
    for (int c = 12; c <= 16; ++c)
        if (!(l[c] == ' ' || l[c] == '-' || isDigit(l[c]) || isUpper(l[c])))
            return false;
    if (!(l[17] == ' ' || isDigit(l[17]) || isUpper(l[17])))
        return false;
    if (l[18] != ' ')
        return false;
    if (!intAtMost(l, 19, 2, 99) || !intAtMost(l, 21, 3, 366))
        return false;
    if (l[24] != '.' || !allOf(l, 25, 32, isDigit) || l[33] != ' ')
        return false;
    if (!(isSign(l[34]) || l[34] == '0') || l[35] != '.')
        return false;
    if (!allOf(l, 36, 43, isDigit) || l[44] != ' ')
        return false;
    if (!isSign(l[45]) || !allOf(l, 46, 50, isBlankOrDigit) || !isSign(l[51]) || !isBlankOrDigit(l[52]))
        return false;
    if (l[53] != ' ')
        return false;
    if (!isSign(l[54]) || !allOf(l, 55, 59, isBlankOrDigit) || !isSign(l[60]) || !isBlankOrDigit(l[61]))
        return false;
    if (l[62] != ' ' || !isDigit(l[63]) || l[64] != ' ')
        return false;
    if (!allOf(l, 65, 67, isBlankOrDigit) || !isDigit(l[68]))
        return false;
    return l[69] == TLE_Checksum(l.p);
}

bool validLine2(ConstLine l, ConstLine line1)
{
    if (l[1] != '2' || l[2] != ' ')
        return false;
    if (std::memcmp(l.p + 2, line1.p + 2, 5) != 0)
        return false;
    if (!realAtMost(l, 9, 8, 180) || l[17] != ' ')
        return false;
    if (!realAtMost(l, 18, 8, 360) || l[26] != ' ')
        return false;
    if (!allOf(l, 27, 33, isDigit) || l[34] != ' ')
        return false;
    if (!realAtMost(l, 35, 8, 360) || l[43] != ' ')
        return false;
    if (!realAtMost(l, 44, 8, 360) || l[52] != ' ')
        return false;
    bool ok = false;
    const double meanMotion = Real_Value(l.text(), 53, 11, ok);
    if (!ok || !(meanMotion < 17))
        return false;
    if (!allOf(l, 64, 67, isBlankOrDigit) || !isDigit(l[68]))
        return false;
    return l[69] == TLE_Checksum(l.p);
}

void blankToZero(Line l, int from, int to)
{
    for (int c = from; c <= to; ++c)
        if (l[c] == ' ')
            l[c] = '0';
}

// Leading zeros of columns from..to become blanks, pair by pair from the left: a "0"
// right of a blank becomes a blank.
void dropLeadingZeros(Line l, int from, int to)
{
    for (int c = from; c < to; ++c)
        if (l[c] == ' ' && l[c + 1] == '0')
            l[c + 1] = ' ';
}

void setChecksumIfBlank(Line l)
{
    if (l[69] == ' ')
        l[69] = TLE_Checksum(l.p);
}

bool blanks(Line l, int from, int to)
{
    for (int c = from; c <= to; ++c)
        if (l[c] != ' ')
            return false;
    return true;
}

void repairLine1(Line l)
{
    blankToZero(l, 3, 6);
    if (isDigit(l[10])) {
        blankToZero(l, 12, 13);
        if (l[15] == ' ' && l[16] == ' ') {
            l[15] = l[17];
            l[17] = ' ';
        }
        if (l[15] == ' ') {
            l[15] = l[16];
            l[16] = l[17];
            l[17] = ' ';
        }
    }
    blankToZero(l, 21, 22);
    if (l[34] == '+')
        l[34] = ' ';
    if (l[45] == '+' || l[45] == '0')
        l[45] = ' ';
    if (blanks(l, 45, 52)) {
        std::memcpy(&l[46], "00000+0", 7);
    }
    // The first "    0+0" in the line must start at column 46.
    static constexpr std::string_view kGap = "    0+0";
    const std::string_view text(l.p, kLineLength);
    if (text.find(kGap) == 45)
        std::memcpy(&l[46], "0000", 4);
    if (isDigit(l[52]) && l[51] == ' ')
        l[51] = '+';
    if (l[54] == '+')
        l[54] = ' ';
    if (blanks(l, 54, 61))
        std::memcpy(&l[55], "00000+0", 7);
    if (isDigit(l[61]) && l[60] == ' ')
        l[60] = '+';
    if (l[63] == ' ')
        l[63] = '0';
    dropLeadingZeros(l, 64, 67);
    if (l[68] == ' ')
        l[68] = '0';
    setChecksumIfBlank(l);
}

void repairLine2(Line l)
{
    blankToZero(l, 3, 6);
    dropLeadingZeros(l, 8, 10);
    dropLeadingZeros(l, 17, 19);
    dropLeadingZeros(l, 34, 36);
    dropLeadingZeros(l, 43, 45);
    if (l[53] == '0')
        l[53] = ' ';
    if (l[64] == '0')
        l[64] = ' ';
    dropLeadingZeros(l, 64, 67);
    if (l[68] == ' ')
        l[68] = '0';
    setChecksumIfBlank(l);
}

} // namespace

namespace {

// What each character adds to the check sum; a table lookup instead of a test per
// character, which the mix of digits and blanks makes hard to predict.
constexpr std::array<unsigned char, 256> kChecksumWeights = [] {
    std::array<unsigned char, 256> weights{};
    for (int c = '0'; c <= '9'; ++c)
        weights[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c - '0');
    weights['-'] = 1;
    return weights;
}();

} // namespace

char TLE_Checksum(const char* line)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < kLineLength - 1; ++i)
        sum += kChecksumWeights[static_cast<unsigned char>(line[i])];
    return static_cast<char>('0' + sum % 10);
}

bool Valid_TLE(const char* pair)
{
    const ConstLine line1{pair};
    return validLine1(line1) && validLine2(ConstLine{pair + kLine2Offset}, line1);
}

void Repair_TLE(char* pair)
{
    repairLine1(Line{pair});
    repairLine2(Line{pair + kLine2Offset});
}

namespace {

// Reads the next line into `out` (at most `width` characters kept, the rest of the
// line skipped) and pads it with blanks. A line ends at LF; every CR is dropped.
void readField(BufferedReader& in, char* out, std::size_t width)
{
    const std::size_t n = in.readLine(out, width);
    std::memset(out + n, ' ', width - n);
}

// One line of a record: the field, then CR LF. Returns where the next line goes.
char* readRecordLine(BufferedReader& in, char* out, std::size_t width)
{
    readField(in, out, width);
    out[width] = '\r';
    out[width + 1] = '\n';
    return out + width + 2;
}

// The record pass's sorting of one record: repaired, then kept or rejected.
class RecordSorter {
public:
    explicit RecordSorter(const std::string& path)
        : bad_(changeFileExt(path, ".err"))
    {
    }
    // Called once the good records' file is created, so that the files appear in the
    // order the stage's messages name them.
    void createErrorFile()
    {
        badGuard_.emplace(bad_);
        badOut_.create(bad_);
    }
    void sort(char* record, std::size_t recordSize, std::size_t pairOffset, BufferedWriter& good)
    {
        char* pair = record + pairOffset;
        Repair_TLE(pair);
        if (Valid_TLE(pair)) {
            good.write(record, recordSize);
        } else {
            badOut_.write(record, recordSize);
            ++rejected_;
        }
    }
    void close() { badOut_.close(); }
    // Once the good records are in place. An error file without records is removed
    // (by the guard).
    void keepErrorFile()
    {
        if (rejected_ > 0)
            badGuard_->keep();
    }

private:
    std::string bad_;
    std::optional<WorkFileGuard> badGuard_;
    BufferedWriter badOut_;
    std::uint64_t rejected_ = 0;
};

void recordPass(const std::string& path, std::size_t recordSize, std::size_t pairOffset)
{
    const std::string good = changeFileExt(path, ".tmp");
    BufferedReader in(path);
    WorkFileGuard goodGuard(good);
    BufferedWriter goodOut(good);
    RecordSorter sorter(path);
    sorter.createErrorFile();

    char record[kThreeLineRecordSize];
    while (in.read(record, recordSize) == recordSize)
        sorter.sort(record, recordSize, pairOffset, goodOut);
    in.close();
    goodOut.close();
    sorter.close();
    renameFileChecked(good, path);
    goodGuard.keep();
    sorter.keepErrorFile();
}

// The line pass and the record pass in one reading of the text: each record is
// repaired and sorted as soon as its lines are read, and only the good records are
// written under the line pass's name.
void checkText(const std::string& catalogFile, bool twoLine, Reporter& reporter)
{
    const std::string tmp = catalogFile + ".tmp";
    BufferedReader in(catalogFile);
    reporter.log("Open [fi] " + catalogFile);
    RecordSorter sorter(catalogFile);
    WorkFileGuard tmpGuard(tmp);
    BufferedWriter out(tmp);
    reporter.log("Open [fo] " + tmp);
    sorter.createErrorFile();

    // A first line starting with "#" and the line after it are a header.
    char first = ' ';
    readField(in, &first, 1);
    if (first == '#')
        in.skipLine();
    else
        in.rewind();

    char record[kThreeLineRecordSize];
    const std::size_t size = twoLine ? kTwoLineRecordSize : kThreeLineRecordSize;
    const std::size_t pairOffset = twoLine ? 0 : kThreeLinePairOffset;
    do {
        char* p = record;
        if (!twoLine)
            p = readRecordLine(in, p, kNameLength);
        p = readRecordLine(in, p, kLineLength);
        readRecordLine(in, p, kLineLength);
        sorter.sort(record, size, pairOffset, out);
    } while (!in.atEnd());

    out.close();
    reporter.log("Close [fo]");
    in.close();
    reporter.log("Close [fi]");
    sorter.close();
    // Renamed over the text directly: a failed rename leaves the text as it was.
    renameFileChecked(tmp, catalogFile);
    tmpGuard.keep();
    sorter.keepErrorFile();
}

} // namespace

void Check_Two_Line_File(const std::string& path)
{
    recordPass(path, kTwoLineRecordSize, 0);
}

void Check_Three_Line_File(const std::string& path)
{
    recordPass(path, kThreeLineRecordSize, kThreeLinePairOffset);
}

void CheckCatalog(const std::string& catalogFile, bool twoLine, Reporter& reporter)
{
    reporter.updateStatusBar(twoLine ? "Checking TLE data (2)" : "Checking TLE data (3)");
    checkText(catalogFile, twoLine, reporter);
}

} // namespace qm
