#include "datasets/ChangeState.h"

#include "catalogue/Archive.h"
#include "catalogue/Support.h"
#include "catalogue/TLESupport.h"
#include "platform/Errors.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace qm {

namespace {

constexpr char kMagic[8] = {'Q', 'M', 'C', 'H', 'A', 'N', 'G', 'E'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeadSize = 20;
constexpr std::size_t kTailSize = 8;
constexpr std::size_t kEntryFixed = 29;
// Eight digits after the point: the largest half derivative line 1 can hold.
constexpr std::int32_t kLargestHalfRate = 99999999;
constexpr std::int32_t kLargestEccentricity = 9999999;
constexpr std::size_t kFlushBytes = 64 * 1024;
constexpr std::size_t kReadBytes = 64 * 1024;

// Little-endian values, a whole one at a time where the machine's order is that.
constexpr bool kLittleEndian = std::endian::native == std::endian::little;

void put16(unsigned char* p, unsigned v)
{
    if constexpr (kLittleEndian) {
        const auto v16 = static_cast<std::uint16_t>(v);
        std::memcpy(p, &v16, 2);
    } else {
        p[0] = static_cast<unsigned char>(v);
        p[1] = static_cast<unsigned char>(v >> 8);
    }
}

void put32(unsigned char* p, std::uint32_t v)
{
    if constexpr (kLittleEndian) {
        std::memcpy(p, &v, 4);
    } else {
        put16(p, v & 0xFFFF);
        put16(p + 2, v >> 16);
    }
}

unsigned get16(const unsigned char* p)
{
    return unsigned{p[0]} | unsigned{p[1]} << 8;
}

std::uint32_t get32(const unsigned char* p)
{
    if constexpr (kLittleEndian) {
        std::uint32_t v = 0;
        std::memcpy(&v, p, 4);
        return v;
    }
    return std::uint32_t{get16(p)} | std::uint32_t{get16(p + 2)} << 16;
}

void putEpoch(unsigned char* p, const TleEpoch& e)
{
    put16(p, static_cast<unsigned>(e.year));
    put16(p + 2, static_cast<unsigned>(e.day));
    put32(p + 4, static_cast<std::uint32_t>(e.fraction));
}

// Only what Epoch_Value gives, or the all-zero "no epoch".
bool getEpoch(const unsigned char* p, TleEpoch& e)
{
    e.year = static_cast<int>(get16(p));
    e.day = static_cast<int>(get16(p + 2));
    const std::uint32_t fraction = get32(p + 4);
    if (fraction >= 100000000)
        return false;
    e.fraction = static_cast<int>(fraction);
    if (e.year == 0)
        return e.day == 0 && e.fraction == 0;
    return e.year >= 1957 && e.year <= 2056 && e.day <= 366;
}

// A field value scaled to a whole number; values no orbit has are held at the ends of
// the range, so that they still read as a large change.
std::int32_t scaled(double value, double scale)
{
    const double x = value * scale;
    constexpr double kEnd = 2e9;
    if (!(x > -kEnd && x < kEnd))
        return x > 0 ? static_cast<std::int32_t>(kEnd) : x < 0 ? -static_cast<std::int32_t>(kEnd) : 0;
    return static_cast<std::int32_t>(std::llround(x));
}

// A decimal field scaled to `decimals` places, for any form Real_Value reads.
std::int32_t scaledField(std::string_view line, int first, int count, int decimals)
{
    bool ok = false;
    return scaled(Real_Value(line, first, count, ok), std::pow(10.0, decimals));
}

// The published layouts of the decimal fields, read with Eight_Digits: blanks (before
// the digits, or after them, where they stand for zeros) count as 0, and the point
// stands where the layout has it. -1 for any other layout. Only for fields Valid_TLE
// accepted, where a blank between digits cannot stand.
// Inclination "ddd.dddd", in 1e-4 degree.
std::int64_t plainInclination(const char* field)
{
    const std::uint64_t v = Eight_Chars(field);
    if ((v >> 24 & 0xFF) != '.')
        return -1;
    // "0ddddddd": the whole degrees moved over the point, a 0 before them.
    return Digits_Value((v & 0xFFFFFF) << 8 | (v & 0xFFFFFFFF00000000) | '0', true);
}

// Mean motion "dd.dddddddd", in 1e-8 revolutions a day.
std::int64_t plainMeanMotion(const char* field)
{
    const char tens = static_cast<char>(field[0] | 0x10);
    const char units = static_cast<char>(field[1] | 0x10);
    const std::int64_t fraction = Eight_Digits(field + 3, true);
    if (field[2] != '.' || tens < '0' || tens > '9' || units < '0' || units > '9' || fraction < 0)
        return -1;
    return ((tens - '0') * 10 + (units - '0')) * std::int64_t{100000000} + fraction;
}

// Days from 1970-01-01 to 1 January of the year: 365 a year and the leap days between.
constexpr std::int64_t daysToNewYear(std::int64_t year)
{
    const std::int64_t y = year - 1;
    return 365 * (y - 1969) + (y / 4 - 492) - (y / 100 - 19) + (y / 400 - 4);
}

// Looked up for the years of two-digit epochs: both sides of the comparison need the
// ticks of every object.
constexpr int kFirstEpochYear = 1957;
constexpr auto kNewYears = [] {
    std::array<std::int64_t, 100> days{};
    for (std::size_t i = 0; i < days.size(); ++i)
        days[i] = daysToNewYear(kFirstEpochYear + std::int64_t(i));
    return days;
}();

// The CRC-32 of two runs of bytes one after the other, from the CRC of each and the
// length of the second: the first's CRC moved past `secondLength` zero bytes (a
// product with x^(8 * secondLength) modulo the polynomial, in reflected bit order),
// plus the second's.
constexpr std::uint32_t kCrcPolynomial = 0xEDB88320;

// a(x) * b(x) modulo the polynomial; `a` not 0.
std::uint32_t multiplyModulo(std::uint32_t a, std::uint32_t b)
{
    std::uint32_t product = 0;
    for (std::uint32_t bit = std::uint32_t{1} << 31;; bit >>= 1) {
        if ((a & bit) != 0) {
            product ^= b;
            if ((a & (bit - 1)) == 0)
                return product;
        }
        b = (b & 1) != 0 ? (b >> 1) ^ kCrcPolynomial : b >> 1;
    }
}

std::uint32_t crc32Combine(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength)
{
    // x^(2^k) for k = 3, 4, ...: squared in turn; x^(8n) the product of those of n's bits.
    std::uint32_t power = std::uint32_t{1} << 23; // x^8
    std::uint32_t shift = std::uint32_t{1} << 31; // x^0
    for (std::uint64_t n = secondLength; n != 0; n >>= 1) {
        if ((n & 1) != 0)
            shift = multiplyModulo(power, shift);
        power = multiplyModulo(power, power);
    }
    return multiplyModulo(shift, first) ^ second;
}

// epochTicks(), inline for the passes that take every object's.
std::int64_t ticksOf(const TleEpoch& epoch)
{
    const auto at = static_cast<std::size_t>(epoch.year - kFirstEpochYear);
    const std::int64_t newYear = at < kNewYears.size() ? kNewYears[at] : daysToNewYear(epoch.year);
    return (newYear + epoch.day - 1) * kTicksPerDay + epoch.fraction;
}

std::size_t trimmedLength(const char* name)
{
    // Eight blanks at a time first: two-line names are all blanks here.
    std::size_t n = kNameSize;
    for (std::uint64_t word = 0; n >= 8; n -= 8) {
        std::memcpy(&word, name + n - 8, 8);
        if (word != 0x2020202020202020)
            break;
    }
    while (n > 0 && name[n - 1] == ' ')
        --n;
    return n;
}

} // namespace

ObjectElements Object_Elements(int number, const char* pair, const char* name)
{
    const std::string_view line1(pair, kLineLength);
    const std::string_view line2(pair + kLine2Offset, kLineLength);
    ObjectElements o;
    o.number = number;
    if (const std::optional<TleEpoch> epoch = Epoch_Value(line1)) {
        o.epoch = *epoch;
        o.ticks = ticksOf(o.epoch);
    }
    // Inclination "ddd.dddd" in columns 9-16, mean motion "dd.dddddddd" in 53-63.
    const std::int64_t inclination = plainInclination(line2.data() + 8);
    o.inclination = inclination >= 0 ? static_cast<std::int32_t>(inclination) : scaledField(line2, 9, 8, 4);
    const std::int64_t meanMotion = plainMeanMotion(line2.data() + 52);
    o.meanMotion = meanMotion >= 0 && meanMotion < 2000000000 ? static_cast<std::int32_t>(meanMotion)
                                                               : scaledField(line2, 53, 11, 8);
    // Eccentricity: seven digits after the blank of column 26; the derivative: eight.
    o.eccentricity = static_cast<std::int32_t>(std::max<std::int64_t>(0, Eight_Digits(line2.data() + 25, true)));
    o.halfMotionRate = static_cast<std::int32_t>(std::max<std::int64_t>(0, Eight_Digits(line1.data() + 35)))
        * (line1[33] == '-' ? -1 : 1);
    std::memcpy(o.name, name, kNameSize);
    return o;
}

std::int64_t epochTicks(const TleEpoch& epoch)
{
    return ticksOf(epoch);
}

ChangeStateWriter::ChangeStateWriter(File file, std::uint64_t at)
    : file_(std::move(file))
    , buffer_(kFlushBytes + kEntryFixed + kNameSize)
    , start_(at)
    , at_(at)
{
}

ChangeStateWriter ChangeStateWriter::part(File file, std::uint64_t at)
{
    return ChangeStateWriter(std::move(file), at);
}

std::uint64_t ChangeStateWriter::namelessEnd(std::uint32_t count)
{
    return kHeadSize + std::uint64_t{count} * kEntryFixed;
}

ChangeStateWriter::ChangeStateWriter(File file, const std::optional<TleEpoch>& newest)
    : ChangeStateWriter(std::move(file), 0)
{
    unsigned char head[kHeadSize];
    std::memcpy(head, kMagic, sizeof kMagic);
    put32(head + 8, kVersion);
    putEpoch(head + 12, newest.value_or(TleEpoch{}));
    put(head, kHeadSize);
}

void ChangeStateWriter::put(const void* bytes, std::size_t n)
{
    std::memcpy(buffer_.data() + used_, bytes, n);
    used_ += n;
    if (used_ >= kFlushBytes)
        flush();
}

void ChangeStateWriter::flush()
{
    // Summed a block at a time: the sum costs little that way.
    crc_ = crc32Of(crc_, buffer_.data(), used_);
    file_.writeAt(at_, buffer_.data(), used_);
    at_ += used_;
    used_ = 0;
}

void ChangeStateWriter::add(const ObjectElements& o)
{
    // Put together in the buffer itself, which always has room for one more entry.
    unsigned char* entry = buffer_.data() + used_;
    put32(entry, static_cast<std::uint32_t>(o.number));
    putEpoch(entry + 4, o.hasEpoch() ? o.epoch : TleEpoch{});
    put32(entry + 12, static_cast<std::uint32_t>(o.inclination));
    put32(entry + 16, static_cast<std::uint32_t>(o.eccentricity));
    put32(entry + 20, static_cast<std::uint32_t>(o.meanMotion));
    put32(entry + 24, static_cast<std::uint32_t>(o.halfMotionRate));
    // Names are mostly shorter than their 24 columns: only what stands before the blanks.
    const std::size_t length = trimmedLength(o.name);
    entry[28] = static_cast<unsigned char>(length);
    std::memcpy(entry + kEntryFixed, o.name, kNameSize);
    used_ += kEntryFixed + length;
    if (used_ >= kFlushBytes)
        flush();
    ++count_;
}

void ChangeStateWriter::append(ChangeStateWriter& later)
{
    later.flush();
    flush();
    const std::uint64_t length = later.at_ - later.start_;
    // A state's entries start after its head: at 0, the later part has a file of its own.
    if (later.start_ == 0)
        file_.copyAt(at_, later.file_, 0, length);
    else if (later.start_ != at_)
        throw std::logic_error("the later part of the state does not start where the earlier ends");
    crc_ = crc32Combine(crc_, later.crc_, length);
    at_ += length;
    count_ += later.count_;
    later.file_.close();
}

void ChangeStateWriter::finish()
{
    unsigned char tail[kTailSize];
    put32(tail, count_);
    put(tail, 4);
    flush();
    put32(tail + 4, crc_);
    file_.writeAt(at_, tail + 4, 4);
    file_.close();
}

ChangeStateReader::ChangeStateReader(const std::string& path)
    : block_(kReadBytes + kEntryFixed + kNameSize)
{
    try {
        file_.open(path, File::Mode::Read);
        size_ = file_.size();
    } catch (const IoError& e) {
        throw DamagedState(e.what());
    }
    if (size_ < kHeadSize + kTailSize)
        throw DamagedState("too short");
    if (size_ > kLargestFile)
        throw DamagedState("too long");
    const unsigned char* head = bytes(kHeadSize);
    if (std::memcmp(head, kMagic, sizeof kMagic) != 0)
        throw DamagedState("not a state file");
    if (get32(head + 8) != kVersion)
        throw DamagedState("version " + std::to_string(get32(head + 8)));
    TleEpoch newest;
    if (!getEpoch(head + 12, newest))
        throw DamagedState("damaged head");
    if (newest.year != 0)
        newest_ = newest;
}

void ChangeStateReader::refill(std::size_t n)
{
    // The unread rest moves to the front; the next block follows it and is summed as
    // it comes, all but the last four bytes of the file (the sum itself).
    const std::size_t rest = len_ - pos_;
    std::memmove(block_.data(), block_.data() + pos_, rest);
    pos_ = 0;
    len_ = rest;
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kReadBytes, size_ - read_));
    if (rest + want < n)
        throw DamagedState("ends early");
    try {
        file_.readAt(read_, block_.data() + rest, want);
    } catch (const IoError& e) {
        throw DamagedState(e.what());
    }
    const std::uint64_t summed = std::min<std::uint64_t>(read_ + want, size_ - 4);
    if (summed > read_)
        crc_ = crc32Of(crc_, block_.data() + rest, static_cast<std::size_t>(summed - read_));
    read_ += want;
    len_ = rest + want;
}

void ChangeStateReader::skipBelow(int number)
{
    const std::uint64_t entriesEnd = size_ - kTailSize;
    while (!done_ && entriesEnd - at_ >= kEntryFixed) {
        if (len_ - pos_ < kEntryFixed)
            refill(kEntryFixed);
        const unsigned char* entry = block_.data() + pos_;
        const std::uint32_t entryNumber = get32(entry);
        const std::size_t length = entry[28];
        if (number < 0 || entryNumber >= static_cast<std::uint32_t>(number))
            return;
        if (length > kNameSize || entriesEnd - at_ - kEntryFixed < length)
            throw DamagedState("damaged entry");
        bytes(kEntryFixed + length);
        last_ = static_cast<int>(entryNumber);
        ++count_;
    }
}

bool ChangeStateReader::next(ObjectElements& out)
{
    if (done_)
        return false;
    if (at_ == size_ - kTailSize) {
        const unsigned char* tail = bytes(kTailSize);
        if (get32(tail) != count_ || get32(tail + 4) != crc_)
            throw DamagedState("checksum or count does not match");
        done_ = true;
        return false;
    }
    if (size_ - kTailSize - at_ < kEntryFixed)
        throw DamagedState("damaged entry");
    const unsigned char* entry = bytes(kEntryFixed);
    const std::uint32_t number = get32(entry);
    ObjectElements& o = out;
    o.number = static_cast<int>(number);
    o.inclination = static_cast<std::int32_t>(get32(entry + 12));
    o.eccentricity = static_cast<std::int32_t>(get32(entry + 16));
    o.meanMotion = static_cast<std::int32_t>(get32(entry + 20));
    o.halfMotionRate = static_cast<std::int32_t>(get32(entry + 24));
    const std::size_t length = entry[28];
    if (number > std::uint32_t{kHighestCatalogNumber} || o.number <= last_ || !getEpoch(entry + 4, o.epoch)
        || o.eccentricity < 0 || o.eccentricity > kLargestEccentricity || o.halfMotionRate < -kLargestHalfRate
        || o.halfMotionRate > kLargestHalfRate || length > kNameSize || size_ - kTailSize - at_ < length)
        throw DamagedState("damaged entry");
    const unsigned char* name = bytes(length);
    if (length > 0 && name[length - 1] == ' ')
        throw DamagedState("damaged entry");
    // Blanks, then the name before them (none in a two-line run's state).
    std::memset(o.name, ' ', kNameSize);
    if (length > 0)
        std::memcpy(o.name, name, length);
    o.ticks = o.hasEpoch() ? ticksOf(o.epoch) : 0;
    last_ = o.number;
    ++count_;
    return true;
}

} // namespace qm
