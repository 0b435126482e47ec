#pragma once
// Unpacking of the downloaded archives: ZIP (stored and deflated members) and gzip.
// Opening an archive or reading its member list raises IoError (InvalidArchive when
// the archive's structure is broken); a member that cannot be extracted (damaged data,
// bad CRC or length, unsafe name, write failure, past the output cap) is skipped
// silently, except by extractOne(), which reports a failure to read or write.
// Members are written under their file name alone, first to a temporary name in the
// target folder, and put in place only when fully verified. They are work files of a
// run (unpacked anew by the next one), so they are not flushed to disk. One member may
// instead be read as it is unpacked (StreamedMember), and is then never written at all.
#include "platform/Errors.h"
#include "platform/File.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// ";"-separated patterns, blanks around each trimmed, case-insensitive, "*" any run,
// "?" one character; a pattern without a folder part is matched against the member's
// file name alone, otherwise against the whole stored name.
bool maskMatches(std::string_view mask, std::string_view memberName);

// The file name of a member that may be extracted, or "" when its stored name is
// unsafe (absolute, containing "..", without a file name).
std::string safeMemberFileName(std::string_view memberName);

// The CRC-32 of ZIP and gzip (reflected, initial and final value inverted inside):
// crc32Of(0, ...) starts a sum, and passing the result on continues it.
std::uint32_t crc32Of(std::uint32_t crc, const unsigned char* data, std::size_t n);

struct ArchiveMember {
    std::string name; // as stored
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0; // declared uncompressed size
    std::uint32_t crc32 = 0;
    std::uint16_t method = 0; // 0 stored, 8 deflated
    std::uint16_t flags = 0;
    std::uint64_t localHeaderOffset = 0;
};

// A member read as it is unpacked instead of written to its file. `consume` runs on a
// helper thread while the member is unpacked and must read to the end of the source.
// When the member turns out damaged (or unpacking stops for any other reason) the
// source raises DamagedMember where the reading has got to; `consume` lets it pass and
// leaves nothing behind.
struct StreamedMember {
    std::string path; // the file the member would be written to
    std::function<void(BufferedReader::Source&)> consume;
    // Set by the extraction: the member was whole and `consume` ran to its end, or
    // failed with its own error (`failure`). Otherwise nothing of the member remains.
    bool whole = false;
    std::exception_ptr failure;
};

// An archive whose own structure is broken (not one that cannot be read): what was
// stored under the archive's name is not an archive of its kind.
class InvalidArchive : public IoError {
public:
    using IoError::IoError;
};

class DamagedMember : public std::runtime_error {
public:
    DamagedMember()
        : std::runtime_error("damaged archive member")
    {
    }
};

// The members the processing run reads: the catalogue's text and the report's.
inline constexpr std::string_view kCatalogueMemberMask = "catalog*.*";
inline constexpr std::string_view kReportMemberMask = "ssr*.*";

// What one archive may write in all: a real catalogue is under 30 MB, and a small
// hostile archive must not fill the disk.
inline constexpr std::uint64_t kMaxArchiveOutput = std::uint64_t{1} << 30;

class ZipArchive {
public:
    explicit ZipArchive(std::uint64_t outputLimit = kMaxArchiveOutput)
        : outputLimit_(outputLimit)
    {
    }
    // Reads the end record and the central directory; IoError when that fails.
    // Members whose local header and data overlap an earlier member's are refused:
    // only the first of them is ever extracted.
    void open(const std::string& path);
    const std::vector<ArchiveMember>& members() const { return members_; }
    // Extracts the members matching `mask` into `targetFolder` (ending in "/" or not);
    // returns the number written. When exactly one of them would be written to
    // `streamed->path`, that one goes to `streamed` instead (and counts when whole).
    int extract(std::string_view mask, const std::string& targetFolder, StreamedMember* streamed = nullptr);
    // Extracts only the first member matching `mask` whose file name is that of
    // `outPath`, to `outPath` (or to `streamed`, when given); the others stay in the
    // archive. True when it was written (read whole). A damaged or unusable member
    // gives false; an archive that cannot be read or a file that cannot be written
    // raises its IoError.
    bool extractOne(std::string_view mask, const std::string& outPath, StreamedMember* streamed = nullptr);
    // Every member matching `mask` that extract() would write (a safe name) unpacks to
    // its declared size with its CRC-32, all of them within the output cap. Nothing is
    // written; an archive that cannot be read raises its IoError.
    bool membersWhole(std::string_view mask) const;
    const std::string& path() const { return file_.path(); }

private:
    // Where a member's data begin, and whether it may be extracted at all.
    struct Placement {
        std::uint64_t dataStart = 0;
        bool usable = false;
    };
    void placeMembers();
    bool extractMember(
        const ArchiveMember& m, const Placement& at, const std::string& outPath, StreamedMember* streamed);
    File file_;
    std::uint64_t size_ = 0;
    std::uint64_t outputLimit_;
    std::uint64_t budget_ = 0; // bytes the archive may still write
    std::vector<ArchiveMember> members_;
    std::vector<Placement> placements_;
};

class GzipFile {
public:
    explicit GzipFile(std::uint64_t outputLimit = kMaxArchiveOutput)
        : outputLimit_(outputLimit)
    {
    }
    // Reads and checks the first member header; IoError when that fails. The one
    // listed member is named like the gzip file without its last extension; its size
    // is what the file's last four bytes declare. Extraction unpacks member after
    // member (as concatenated files give), each checked against its own trailer,
    // into that one file; zero bytes after the last member are padding.
    void open(const std::string& path);
    const std::vector<ArchiveMember>& members() const { return members_; }
    int extract(std::string_view mask, const std::string& targetFolder, StreamedMember* streamed = nullptr);
    // As ZipArchive::extractOne, for the one member.
    bool extractOne(std::string_view mask, const std::string& outPath, StreamedMember* streamed = nullptr);
    // Every member unpacks to its end with its CRC-32 and length, all of them within the
    // output cap. Nothing is written; a file that cannot be read raises its IoError.
    bool whole() const;
    const std::string& path() const { return file_.path(); }

private:
    bool extractTo(const std::string& outPath, StreamedMember* streamed);
    File file_;
    std::uint64_t size_ = 0;
    std::uint64_t dataOffset_ = 0;
    std::uint64_t outputLimit_;
    std::uint64_t budget_ = 0;
    std::vector<ArchiveMember> members_;
};

} // namespace qm
