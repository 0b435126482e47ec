#pragma once
// TLE lines in fixed records: checksum, validation, repair, and the check stage
// that turns a downloaded catalogue text into a file of good records.
//
// TwoLineRecord (142 bytes): line 1 (69) CR LF, line 2 (69) CR LF.
// ThreeLineRecord (168 bytes): name (24) CR LF, line 1 (69) CR LF, line 2 (69) CR LF.
// A line pair is laid out as bytes 0-141 of a TwoLineRecord; inside a
// ThreeLineRecord it starts at kThreeLinePairOffset.
#include "catalogue/Archive.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace qm {

class Reporter;

inline constexpr std::size_t kLineLength = 69;
inline constexpr std::size_t kNameLength = 24;
inline constexpr std::size_t kTwoLineRecordSize = 142;
inline constexpr std::size_t kThreeLineRecordSize = 168;
inline constexpr std::size_t kLine2Offset = 71; // inside a line pair
inline constexpr std::size_t kThreeLinePairOffset = 26;

// The check character (a digit) of a line: over columns 1-68 each digit adds its
// value and each "-" adds 1, modulo 10.
char TLE_Checksum(const char* line);

// True when the line pair passes every column test of both lines, checksums included.
bool Valid_TLE(const char* pair);

// Fixes the usual harmless defects of a line pair in place (blank-for-zero, missing
// checksum, sign characters, leading zeros). Never changes a checksum that is present.
void Repair_TLE(char* pair);

// Record pass: repairs every record, keeps the valid ones in `path` (input order) and
// moves the others to the path with extension ".err" (removed when empty).
void Check_Two_Line_File(const std::string& path);
void Check_Three_Line_File(const std::string& path);

// What the check stage may write, records plus rejects: four times the text's size, as
// a real catalogue's records are about as large as its text while a text of bare line
// ends would grow seventyfold; but never below `floor`, so that the few rejects of a
// small damaged text still end in the empty-catalogue halt, and never above `ceiling`
// (a real catalogue of 339,999 objects writes about 60 MB).
struct GrowthCap {
    static constexpr std::uint64_t kFactor = 4;
    std::uint64_t floor = std::uint64_t{16} << 20;
    std::uint64_t ceiling = std::uint64_t{256} << 20;
    std::uint64_t of(std::uint64_t textSize) const { return std::min(std::max(kFactor * textSize, floor), ceiling); }
};

// The text grows past that limit: it is no catalogue. Nothing of the stage remains.
class CatalogueTooLarge : public std::runtime_error {
public:
    CatalogueTooLarge()
        : std::runtime_error("Catalogue expands beyond its limit")
    {
    }
};

// The check stage: rewrites `catalogFile` as fixed CR LF lines (line pass) and sorts
// the records as the record pass of the given form does, both in one reading of the
// text: `catalogFile` ends up holding the good records, the error file the rejects.
// Raises IoError when a file cannot be used, CatalogueTooLarge past `cap`; the text then
// stays as it was.
void CheckCatalog(const std::string& catalogFile, bool twoLine, Reporter& reporter, GrowthCap cap = {});

// The same check on the text while it is unpacked, so that it is never written out:
// hand member() to the archive's extract() for the text's path; when checked(), call
// finish(). Otherwise nothing of the check remains and nothing was reported.
class StreamedCheck {
public:
    StreamedCheck(const std::string& catalogFile, bool twoLine, GrowthCap cap = {});
    ~StreamedCheck();
    StreamedCheck(const StreamedCheck&) = delete;
    StreamedCheck& operator=(const StreamedCheck&) = delete;
    StreamedMember& member() { return member_; }
    // The text came whole from the archive and went through the check.
    bool checked() const { return member_.whole; }
    // The stage's status and log lines as CheckCatalog gives them, then its failure,
    // if it failed.
    void finish(Reporter& reporter);

private:
    class Recorder;
    StreamedMember member_;
    std::unique_ptr<Recorder> recorder_;
    bool twoLine_ = false;
};

} // namespace qm
