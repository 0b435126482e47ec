#include "catalogue/TLESupport.h"

#include "catalogue/BatchPipeline.h"
#include "catalogue/Support.h"
#include "core/Reporter.h"
#include "platform/File.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>
#include <vector>

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

// The field reads as its digits alone (the usual shape) into `value`; any other shape
// is left to Integer_Value.
bool allDigits(ConstLine l, int first, int count, int& value)
{
    value = 0;
    for (int c = first; c < first + count; ++c) {
        if (!isDigit(l[c]))
            return false;
        value = value * 10 + (l[c] - '0');
    }
    return true;
}

bool intAtMost(ConstLine l, int first, int count, int max)
{
    int v = 0;
    if (count <= 9 && allDigits(l, first, count, v))
        return v <= max;
    bool ok = false;
    v = Integer_Value(l.text(), first, count, ok);
    return ok && v <= max;
}

// The usual shape of a decimal field: blanks, then digits, a point and digits to its
// end. Its value, compared with a whole number, is decided by the whole part and by
// whether the fraction is zero: as exactly as Real_Value reads it, since a nonzero
// fraction of at most ten digits is far above the rounding of a double of that size.
// Any other shape is left to Real_Value.
bool plainDecimal(ConstLine l, int first, int count, int& whole, bool& zeroFraction)
{
    const char* p = l.p + first - 1;
    const char* const end = p + count;
    while (p != end && *p == ' ')
        ++p;
    const char* const digits = p;
    whole = 0;
    while (p != end && isDigit(*p) && p - digits < 9) {
        whole = whole * 10 + (*p - '0');
        ++p;
    }
    if (p == digits || p == end || *p != '.' || end - digits > 11)
        return false;
    zeroFraction = true;
    for (++p; p != end && isDigit(*p); ++p)
        zeroFraction = zeroFraction && *p == '0';
    return p == end;
}

// How the decimal field compares with the whole number `limit`: below it (< 0), equal
// (0) or above it (> 0); nullopt when the field is not a number.
std::optional<int> compareReal(ConstLine l, int first, int count, int limit)
{
    int whole = 0;
    bool zeroFraction = true;
    if (plainDecimal(l, first, count, whole, zeroFraction))
        return whole != limit ? (whole < limit ? -1 : 1) : (zeroFraction ? 0 : 1);
    bool ok = false;
    const double v = Real_Value(l.text(), first, count, ok);
    if (!ok)
        return std::nullopt;
    return v < limit ? -1 : v == limit ? 0 : 1;
}

bool realAtMost(ConstLine l, int first, int count, int max)
{
    const std::optional<int> order = compareReal(l, first, count, max);
    return order && *order <= 0;
}

bool realBelow(ConstLine l, int first, int count, int limit)
{
    const std::optional<int> order = compareReal(l, first, count, limit);
    return order && *order < 0;
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
    if (!realBelow(l, 53, 11, 17)) // mean motion
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
    // The first "    0+0" in the line must start at column 46: it is there, and it is
    // nowhere in the columns before (looked for only then: the search is costly).
    static constexpr std::string_view kGap = "    0+0";
    const std::string_view text(l.p, kLineLength);
    if (text.substr(45, kGap.size()) == kGap
        && text.substr(0, 45 + kGap.size() - 1).find(kGap) == std::string_view::npos)
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

// What the eight characters packed into `x` add to the check sum, all at once: each
// byte becomes its digit's value, 1 for "-" and 0 for anything else, and the bytes
// are summed by one multiplication. No test per character, whose outcome the mix of
// digits and blanks makes hard to predict.
unsigned checksumOf8(std::uint64_t x)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHigh = 0x8080808080808080u;
    constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fu;
    // High bit of a byte set when the byte is not zero.
    const auto nonZero = [&](std::uint64_t v) { return (((v & kLow7) + kLow7) | v) & kHigh; };
    const std::uint64_t digits = x ^ (kOnes * '0'); // "0"-"9" become 0-9
    const std::uint64_t notDigit = (((digits & kLow7) + kOnes * 0x76) | digits) & kHigh; // above 9
    const std::uint64_t digitBytes = ((notDigit >> 7) ^ kOnes) * 0xFF;
    const std::uint64_t minus = (nonZero(x ^ (kOnes * '-')) >> 7) ^ kOnes;
    // Each byte is at most 9, so the sum of eight fits the top byte of the product.
    return static_cast<unsigned>((((digits & digitBytes) + minus) * kOnes) >> 56);
}

std::uint64_t load8(const char* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

} // namespace

char TLE_Checksum(const char* line)
{
    // Columns 1-64 by eights, then 65-68 padded with blanks, which add nothing.
    unsigned sum = 0;
    for (std::size_t i = 0; i < 64; i += 8)
        sum += checksumOf8(load8(line + i));
    char tail[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    std::memcpy(tail, line + 64, kLineLength - 1 - 64);
    sum += checksumOf8(load8(tail));
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
    // Repairs the record's line pair in place; true when it is then valid.
    static bool repair(char* record, std::size_t pairOffset)
    {
        char* pair = record + pairOffset;
        Repair_TLE(pair);
        return Valid_TLE(pair);
    }
    void put(const char* record, std::size_t recordSize, bool valid, BufferedWriter& good)
    {
        if (valid) {
            good.write(record, recordSize);
        } else {
            badOut_.write(record, recordSize);
            ++rejected_;
        }
    }
    void sort(char* record, std::size_t recordSize, std::size_t pairOffset, BufferedWriter& good)
    {
        put(record, recordSize, repair(record, pairOffset), good);
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

// Records handed from the line reading to the sorting at once: about a thirtieth of
// the catalogue, so that the two threads wait for each other only briefly at the
// start and the end, within these bounds.
constexpr std::size_t kMinBatchRecords = 128;
constexpr std::size_t kMaxBatchRecords = 1024;

// The line pass and the record pass in one reading of the text: each record is
// repaired and sorted as soon as its lines are read, and only the good records are
// written under the line pass's name.
// `in` reads the text of `catalogFile`, from the file or as it is unpacked; `helped`
// lets a helper thread take part (none when the text comes from an unpacking thread).
// `received`, for a text read as it is unpacked: its bytes so far, which count as its
// size where they pass what the archive announced.
void checkText(BufferedReader& in, const std::string& catalogFile, bool twoLine, bool helped,
    const std::uint64_t* received, GrowthCap cap, Reporter& reporter)
{
    const std::string tmp = catalogFile + ".tmp";
    reporter.log("Open [fi] " + catalogFile);
    RecordSorter sorter(catalogFile);
    WorkFileGuard tmpGuard(tmp);
    BufferedWriter out(tmp);
    reporter.log("Open [fo] " + tmp);
    sorter.createErrorFile();

    // A first line starting with "#" and the line after it are a header. Reading drops
    // every CR, so the ones the text starts with can go before the test.
    while (in.peek() == '\r')
        in.consume(1);
    if (in.peek() == '#') {
        in.skipLine();
        in.skipLine();
    }

    // Lines are read into records on this thread while a helper writes the records
    // read before. The repairs and tests are shared so that both threads have about
    // as much to do: this thread does those of every second batch, the helper the
    // rest (writing costs the helper about what reading costs this thread). Behind a
    // batch's records, one verdict each.
    enum Verdict : char { kUntested, kGood, kBad };
    const std::size_t size = twoLine ? kTwoLineRecordSize : kThreeLineRecordSize;
    const std::size_t pairOffset = twoLine ? 0 : kThreeLinePairOffset;
    const std::size_t batchRecords
        = std::clamp<std::uint64_t>(in.size() / (size - 2) / 32, kMinBatchRecords, kMaxBatchRecords);
    // Records (good and bad) the text's size allows; the first one always, as an empty
    // text still gives one record.
    const auto allowedRecords = [&] {
        const std::uint64_t text = std::max<std::uint64_t>(in.size(), received ? *received : 0);
        return std::max<std::uint64_t>(1, cap.of(text) / size);
    };
    std::uint64_t recordsRead = 0;
    std::uint64_t recordLimit = allowedRecords();
    BatchPipeline sorting(
        batchRecords * (size + 1),
        [&](char* records, std::size_t count) {
            const char* verdicts = records + batchRecords * size;
            for (std::size_t i = 0; i < count; ++i) {
                char* record = records + i * size;
                const bool valid
                    = verdicts[i] == kUntested ? RecordSorter::repair(record, pairOffset) : verdicts[i] == kGood;
                sorter.put(record, size, valid, out);
            }
        },
        helped && BatchPipeline::worthAHelper(in.size(), BatchPipeline::kLeastBytes / 4));
    sorting.run([&] {
        bool more = true;
        for (std::size_t batches = 0; more; ++batches) {
            char* batch = sorting.take();
            char* verdicts = batch + batchRecords * size;
            const bool testHere = batches % 2 == 1;
            std::size_t count = 0;
            do {
                if (recordsRead == recordLimit) {
                    recordLimit = allowedRecords();
                    if (recordsRead >= recordLimit)
                        throw CatalogueTooLarge();
                }
                ++recordsRead;
                char* record = batch + count * size;
                char* p = record;
                if (!twoLine)
                    p = readRecordLine(in, p, kNameLength);
                p = readRecordLine(in, p, kLineLength);
                readRecordLine(in, p, kLineLength);
                verdicts[count] = !testHere ? kUntested : RecordSorter::repair(record, pairOffset) ? kGood : kBad;
                ++count;
                more = !in.atEnd();
            } while (more && count < batchRecords);
            sorting.submit(count);
        }
    });

    out.close();
    reporter.log("Close [fo]");
    in.close();
    reporter.log("Close [fi]");
    sorter.close();
    // The text is deleted before the rename: renaming over it would make the file
    // system write the records to disk at once, and they are a work file the run
    // deletes. A text that cannot be deleted meets the rename's refusal as well, and
    // stays as it was.
    removeFile(catalogFile);
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

namespace {

const char* checkingText(bool twoLine)
{
    return twoLine ? "Checking TLE data (2)" : "Checking TLE data (3)";
}

} // namespace

void CheckCatalog(const std::string& catalogFile, bool twoLine, Reporter& reporter, GrowthCap cap)
{
    reporter.updateStatusBar(checkingText(twoLine));
    BufferedReader in(catalogFile);
    checkText(in, catalogFile, twoLine, true, nullptr, cap, reporter);
}

namespace {

// The unpacked text's parts as they arrive, counted.
class CountingSource : public BufferedReader::Source {
public:
    explicit CountingSource(Source& source)
        : source_(source)
    {
    }
    std::string_view next() override
    {
        const std::string_view part = source_.next();
        count += part.size();
        return part;
    }
    std::uint64_t expectedSize() const override { return source_.expectedSize(); }
    std::uint64_t count = 0;

private:
    Source& source_;
};

} // namespace

// The helper thread's reports, held until the text is known to be whole.
class StreamedCheck::Recorder : public Reporter {
public:
    bool debugOn() const override { return true; }
    void outputToLog(std::string_view msg) override { lines.push_back({false, std::string(msg)}); }
    void updateStatusBar(std::string_view msg) override { lines.push_back({true, std::string(msg)}); }
    void setStatusText(std::string_view) override { }
    std::string trayHint() const override { return std::string(kProgramTitle); }
    struct Line {
        bool status;
        std::string text;
    };
    std::vector<Line> lines;
};

StreamedCheck::StreamedCheck(const std::string& catalogFile, bool twoLine, GrowthCap cap)
    : recorder_(std::make_unique<Recorder>())
    , twoLine_(twoLine)
{
    member_.path = catalogFile;
    member_.consume = [this, catalogFile, twoLine, cap](BufferedReader::Source& text) {
        CountingSource counted(text);
        BufferedReader in(counted);
        checkText(in, catalogFile, twoLine, false, &counted.count, cap, *recorder_);
    };
}

StreamedCheck::~StreamedCheck() = default;

void StreamedCheck::finish(Reporter& reporter)
{
    reporter.updateStatusBar(checkingText(twoLine_));
    for (const Recorder::Line& line : recorder_->lines) {
        if (line.status)
            reporter.updateStatusBar(line.text);
        else
            reporter.log(line.text);
    }
    if (member_.failure)
        std::rethrow_exception(member_.failure);
}

} // namespace qm
