#pragma once
// What the report of catalogue changes keeps of one completed processing run for the
// next: a few numbers and the name of every object, in catalogue-number order, in
// "changes.dat" in the run folder.
//
// Layout, little-endian: a head of 20 bytes ("QMCHANGE", version 1 as 4 bytes, the
// catalogue's newest epoch as year (2 bytes, 0 = none), day (2) and fraction (4)); one
// entry per object (number 4, epoch year 2, day 2, fraction 4, inclination 4,
// eccentricity 4, mean motion 4, half the first derivative 4, name length 1, then the
// name without its trailing blanks); a tail of the entry count (4) and the CRC-32 (4)
// of everything before it.
#include "catalogue/Epoch.h"
#include "catalogue/Support.h"
#include "datasets/DataSetFormat.h"
#include "platform/File.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qm {

// One object as the comparison sees it, from its checked TLE lines. The values are the
// fields' text scaled to whole numbers, so nothing is lost that the lines hold.
struct ObjectElements {
    int number = 0;
    TleEpoch epoch; // year 0: the lines hold no readable epoch
    std::int64_t ticks = 0; // the epoch as epochTicks() counts it
    std::int32_t inclination = 0; // 1e-4 degree
    std::int32_t eccentricity = 0; // 1e-7
    std::int32_t meanMotion = 0; // 1e-8 revolutions a day
    std::int32_t halfMotionRate = 0; // line 1 columns 34-43: half the first derivative, 1e-8 rev/day²
    char name[kNameSize]{}; // as the data sets name the object, blank-padded

    bool hasEpoch() const { return epoch.year != 0; }
};

// The object of catalogue number `number` from its line pair (line 1 at 0, line 2 at
// kLine2Offset, as Valid_TLE accepts them) and its 24-byte name.
ObjectElements Object_Elements(int number, const char* pair, const char* name);

// An epoch as hundred-millionths of a day since 1970-01-01 0h UTC, for differences.
inline constexpr std::int64_t kTicksPerDay = 100000000;
std::int64_t epochTicks(const TleEpoch& epoch);

// A state file that cannot be used: the reason, for the log.
class DamagedState : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ChangeStateWriter {
public:
    // Writes into `file` (created empty) the state of a catalogue whose newest epoch is
    // `newest`.
    ChangeStateWriter(File file, const std::optional<TleEpoch>& newest);
    // Objects come in ascending catalogue number.
    void add(const ObjectElements& object);
    // Writes the tail and closes the file.
    void finish();

    // A writer of entries only, with neither head nor tail: the later part of a state
    // put together from two, for a comparison done in two parts at once. The entries go
    // from `at` of `file`: a file of their own (`at` 0), or the state's file itself,
    // where the earlier part's entries will end (namelessEnd()).
    static ChangeStateWriter part(File file, std::uint64_t at = 0);
    // Where a state's entries end after `count` entries without a name.
    static std::uint64_t namelessEnd(std::uint32_t count);
    // Puts the entries that `later` (a part, of higher numbers) wrote after this
    // writer's own, copied or, written in place, as they stand; closes `later`'s file.
    void append(ChangeStateWriter& later);

private:
    ChangeStateWriter(File file, std::uint64_t at);
    void put(const void* bytes, std::size_t n);
    void flush();
    File file_;
    std::vector<unsigned char> buffer_;
    std::size_t used_ = 0;
    std::uint64_t start_ = 0;
    std::uint64_t at_ = 0;
    std::uint32_t crc_ = 0;
    std::uint32_t count_ = 0;
};

class ChangeStateReader {
public:
    // A state file of more bytes than this is no state this program wrote.
    static constexpr std::uint64_t kLargestFile
        = 20 + 8 + std::uint64_t{kHighestCatalogNumber + 1} * (29 + kNameSize);

    // Opens `path` and reads its head. DamagedState for a file that cannot be read, is
    // too short or too long, or of another kind or version.
    explicit ChangeStateReader(const std::string& path);
    const std::optional<TleEpoch>& newest() const { return newest_; }
    // The next object into `out`; false after the last, once the count and the checksum
    // have matched. DamagedState for anything the writer does not write.
    bool next(ObjectElements& out);
    // Passes over the entries of numbers below `number`, looking no further than where
    // each ends (the checksum and the count still take them in): for a caller that has
    // those same entries read by another reader, which checks them, as a comparison in
    // two parts at once does. Stops before the first entry of `number` or above.
    void skipBelow(int number);
    // Objects read so far.
    std::uint32_t count() const { return count_; }

private:
    // `n` bytes (up to an entry's) from the reading position, in the buffer; valid
    // until the next call.
    const unsigned char* bytes(std::size_t n)
    {
        if (len_ - pos_ < n)
            refill(n);
        const unsigned char* p = block_.data() + pos_;
        pos_ += n;
        at_ += n;
        return p;
    }
    void refill(std::size_t n);
    File file_;
    std::vector<unsigned char> block_;
    std::size_t pos_ = 0; // in block_
    std::size_t len_ = 0;
    std::uint64_t size_ = 0;
    std::uint64_t read_ = 0; // bytes of the file in block_ or before it
    std::uint64_t at_ = 0; // the reading position in the file
    std::uint32_t crc_ = 0;
    std::uint32_t count_ = 0;
    int last_ = -1;
    bool done_ = false;
    std::optional<TleEpoch> newest_;
};

} // namespace qm
