#include "datasets/ChangeState.h"

#include "catalogue/Archive.h"
#include "catalogue/Support.h"
#include "catalogue/TLESupport.h"
#include "platform/Errors.h"

#include <chrono>
#include <cmath>
#include <cstring>
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

void put16(unsigned char* p, unsigned v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char* p, std::uint32_t v)
{
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

unsigned get16(const unsigned char* p)
{
    return unsigned{p[0]} | unsigned{p[1]} << 8;
}

std::uint32_t get32(const unsigned char* p)
{
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

// The digits of a field that Valid_TLE accepted as digits only.
std::int32_t digitsValue(std::string_view field)
{
    std::int32_t value = 0;
    for (char c : field) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::size_t trimmedLength(const char* name)
{
    std::size_t n = kNameSize;
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
    if (const std::optional<TleEpoch> epoch = Epoch_Value(line1))
        o.epoch = *epoch;
    bool ok = false;
    o.inclination = scaled(Real_Value(line2, 9, 8, ok), 1e4);
    o.eccentricity = digitsValue(line2.substr(26, 7));
    o.meanMotion = scaled(Real_Value(line2, 53, 11, ok), 1e8);
    o.halfMotionRate = digitsValue(line1.substr(35, 8)) * (line1[33] == '-' ? -1 : 1);
    std::memcpy(o.name, name, kNameSize);
    return o;
}

std::int64_t epochTicks(const TleEpoch& epoch)
{
    using namespace std::chrono;
    const sys_days newYear{year{epoch.year} / January / 1};
    return (std::int64_t{newYear.time_since_epoch().count()} + epoch.day - 1) * 100000000 + epoch.fraction;
}

ChangeStateWriter::ChangeStateWriter(File file, const std::optional<TleEpoch>& newest)
{
    out_.create(std::move(file));
    unsigned char head[kHeadSize];
    std::memcpy(head, kMagic, sizeof kMagic);
    put32(head + 8, kVersion);
    putEpoch(head + 12, newest.value_or(TleEpoch{}));
    put(head, kHeadSize);
}

void ChangeStateWriter::put(const void* bytes, std::size_t n)
{
    crc_ = crc32Of(crc_, static_cast<const unsigned char*>(bytes), n);
    out_.write(bytes, n);
}

void ChangeStateWriter::add(const ObjectElements& o)
{
    unsigned char entry[kEntryFixed + kNameSize];
    put32(entry, static_cast<std::uint32_t>(o.number));
    putEpoch(entry + 4, o.hasEpoch() ? o.epoch : TleEpoch{});
    put32(entry + 12, static_cast<std::uint32_t>(o.inclination));
    put32(entry + 16, static_cast<std::uint32_t>(o.eccentricity));
    put32(entry + 20, static_cast<std::uint32_t>(o.meanMotion));
    put32(entry + 24, static_cast<std::uint32_t>(o.halfMotionRate));
    // Names are mostly shorter than their 24 columns: only what stands before the blanks.
    const std::size_t length = trimmedLength(o.name);
    entry[28] = static_cast<unsigned char>(length);
    std::memcpy(entry + kEntryFixed, o.name, length);
    put(entry, kEntryFixed + length);
    ++count_;
}

void ChangeStateWriter::finish()
{
    unsigned char tail[kTailSize];
    put32(tail, count_);
    crc_ = crc32Of(crc_, tail, 4);
    put32(tail + 4, crc_);
    out_.write(tail, kTailSize);
    out_.close();
}

ChangeStateReader::ChangeStateReader(const std::string& path)
{
    try {
        in_.open(path);
    } catch (const IoError& e) {
        throw DamagedState(e.what());
    }
    const std::uint64_t size = in_.size();
    if (size < kHeadSize + kTailSize)
        throw DamagedState("too short");
    if (size > kLargestFile)
        throw DamagedState("too long");
    entriesEnd_ = size - kTailSize;
    unsigned char head[kHeadSize];
    take(head, kHeadSize);
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

void ChangeStateReader::take(void* out, std::size_t n)
{
    std::size_t got = 0;
    try {
        got = in_.read(out, n);
    } catch (const IoError& e) {
        throw DamagedState(e.what());
    }
    if (got != n)
        throw DamagedState("ends early");
    crc_ = crc32Of(crc_, static_cast<const unsigned char*>(out), n);
    at_ += n;
}

bool ChangeStateReader::next(ObjectElements& out)
{
    if (done_)
        return false;
    if (at_ == entriesEnd_) {
        unsigned char tail[kTailSize];
        take(tail, 4);
        const std::uint32_t sum = crc_;
        take(tail + 4, 4);
        if (get32(tail) != count_ || get32(tail + 4) != sum || !in_.atEnd())
            throw DamagedState("checksum or count does not match");
        done_ = true;
        return false;
    }
    unsigned char entry[kEntryFixed + kNameSize];
    if (entriesEnd_ - at_ < kEntryFixed)
        throw DamagedState("damaged entry");
    take(entry, kEntryFixed);
    const std::uint32_t number = get32(entry);
    ObjectElements o;
    o.number = static_cast<int>(number);
    o.inclination = static_cast<std::int32_t>(get32(entry + 12));
    o.eccentricity = static_cast<std::int32_t>(get32(entry + 16));
    o.meanMotion = static_cast<std::int32_t>(get32(entry + 20));
    o.halfMotionRate = static_cast<std::int32_t>(get32(entry + 24));
    const std::size_t length = entry[28];
    if (number > std::uint32_t{kHighestCatalogNumber} || o.number <= last_ || !getEpoch(entry + 4, o.epoch)
        || o.eccentricity < 0 || o.eccentricity > kLargestEccentricity || o.halfMotionRate < -kLargestHalfRate
        || o.halfMotionRate > kLargestHalfRate || length > kNameSize || entriesEnd_ - at_ < length)
        throw DamagedState("damaged entry");
    std::memset(o.name, ' ', kNameSize);
    take(o.name, length);
    if (length > 0 && o.name[length - 1] == ' ')
        throw DamagedState("damaged entry");
    last_ = o.number;
    ++count_;
    out = o;
    return true;
}

} // namespace qm
