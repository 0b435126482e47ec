#include "catalogue/Archive.h"

#include "catalogue/BatchPipeline.h"
#include "catalogue/Support.h"
#include "catalogue/TLESupport.h"
#include "platform/Errors.h"
#include "platform/HelperThread.h"
#include "platform/Paths.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>

namespace qm {

namespace {

// Large reads and a large output buffer: the inflater copies its 32 KiB history after
// every call, which is cheap only when each call fills far more than that.
constexpr std::size_t kInputSize = 256 * 1024;
constexpr std::size_t kOutputSize = 256 * 1024;
constexpr std::size_t kFirstReadSize = 16 * 1024;
// A stored member's input goes to the output a buffer at a time.
static_assert(kInputSize <= kOutputSize);
constexpr std::uint32_t kLocalHeaderSig = 0x04034b50;
constexpr std::uint32_t kCentralHeaderSig = 0x02014b50;
constexpr std::uint32_t kEndRecordSig = 0x06054b50;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
// A catalogue archive holds a handful of members; anything near this is not ours.
constexpr std::uint64_t kMaxCentralDirectory = 64ull * 1024 * 1024;

std::uint16_t le16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t le32(const unsigned char* p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

// Iterative wildcard match: remembers the last "*" and retries from there.
bool wildcardMatch(std::string_view pattern, std::string_view text)
{
    std::size_t p = 0, t = 0;
    std::size_t star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(text[t]))) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::string_view fileNamePart(std::string_view name)
{
    const auto slash = name.find_last_of("/\\");
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    return isSeparator(folder.back()) ? folder + name : folder + "/" + name;
}

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev
        && sa.st_ino == sb.st_ino;
}

[[noreturn]] void invalidArchive(const char* kind, const std::string& path, const char* reason)
{
    throw InvalidArchive(std::string("Invalid ") + kind + " file " + path + ": " + reason);
}

// Reads a byte range of a file through one fixed buffer; the inflater consumes straight from it.
struct Input {
    const File& file;
    std::uint64_t next;
    std::uint64_t end;
    unsigned char* buf;
    std::size_t capacity = kInputSize;
    std::size_t pos = 0;
    std::size_t len = 0;
    // The first reads are short, so that unpacking starts early; they double up to
    // `capacity`.
    std::size_t reads = 0;

    bool fill()
    {
        if (pos < len)
            return true;
        const std::size_t room = std::min(capacity, kFirstReadSize << std::min<std::size_t>(reads++, 4));
        const std::uint64_t n = std::min<std::uint64_t>(room, end - next);
        if (n == 0)
            return false;
        file.readAt(next, buf, static_cast<std::size_t>(n));
        next += n;
        pos = 0;
        len = static_cast<std::size_t>(n);
        return true;
    }
    int get()
    {
        if (!fill())
            return -1;
        return buf[pos++];
    }
    bool atEnd() { return !fill(); }
    // File offset of the next byte to be read.
    std::uint64_t position() const { return next - (len - pos); }
    // Reading goes on from `offset` (within the range), dropping what is buffered.
    void seek(std::uint64_t offset)
    {
        next = offset;
        pos = len = 0;
    }
};

struct Buffers {
    std::unique_ptr<unsigned char[]> in{new unsigned char[kInputSize]};
    std::unique_ptr<inflate_state> inflater{new inflate_state};
};

// Where unpacked bytes go, a buffer of capacity() bytes at a time.
class Output {
public:
    virtual ~Output() = default;
    // How much the next buffer() takes.
    virtual std::size_t capacity() const { return kOutputSize; }
    // Room for capacity() bytes, which put() hands over.
    virtual unsigned char* buffer() = 0;
    virtual void put(std::size_t n) = 0;
    // The member is whole: waits until everything handed over has arrived.
    virtual void complete() = 0;
    std::uint64_t handed() const { return handed_; }

protected:
    std::uint64_t handed_ = 0;
};

// The unpacked bytes on their way to the output file: a helper thread writes each part
// while the next is unpacked. A write that fails stops the extraction at the next
// part with the error a direct write raises.
class FileOutput final : public Output {
public:
    // `expected`: about how many bytes will come.
    FileOutput(File& file, std::uint64_t expected)
        : file_(file)
        , writer_(
              kOutputSize,
              [this](char* data, std::size_t n) {
                  file_.writeAt(written_, data, n);
                  written_ += n;
              },
              BatchPipeline::worthAHelper(expected))
    {
    }
    unsigned char* buffer() override { return reinterpret_cast<unsigned char*>(writer_.take()); }
    void put(std::size_t n) override
    {
        if (n == 0)
            return;
        writer_.submit(n);
        handed_ += n;
    }
    void complete() override { writer_.finish(); }

private:
    File& file_;
    std::uint64_t written_ = 0; // by the helper
    BatchPipeline writer_;
};

// Unpacked bytes that only prove the member whole: one buffer, used over and over.
class Discard final : public Output {
public:
    unsigned char* buffer() override { return buffer_.get(); }
    void put(std::size_t n) override { handed_ += n; }
    void complete() override { }

private:
    std::unique_ptr<unsigned char[]> buffer_{new unsigned char[kOutputSize]};
};

// The unpacked bytes handed to a streamed member's reader on a helper thread, which
// takes each part while the next is unpacked. The first parts are small, so that the
// reader starts early. Once the reader has stopped (it failed), the rest is unpacked
// only to learn whether the member is whole.
class StreamOutput final : public Output, private BufferedReader::Source {
public:
    StreamOutput(StreamedMember& member, std::uint64_t expected)
        : member_(member)
        , expected_(expected)
    {
        for (auto& part : parts_)
            part.data.reset(new unsigned char[kOutputSize]);
        reader_.emplace([this] { read(); });
    }
    StreamOutput(const StreamOutput&) = delete;
    StreamOutput& operator=(const StreamOutput&) = delete;
    // Unpacking that stops early ends the reading with DamagedMember.
    ~StreamOutput() override { end(false); }

    std::size_t capacity() const override
    {
        return std::min(kOutputSize, kFirstPartSize << std::min<std::size_t>(unpacked_, 8));
    }
    unsigned char* buffer() override
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return readerDone_ || unpacked_ - released_ < kParts; });
        if (readerDone_)
            return scratch();
        return parts_[unpacked_ % kParts].data.get();
    }
    void put(std::size_t n) override
    {
        if (n == 0)
            return;
        handed_ += n;
        {
            std::lock_guard lock(mutex_);
            if (readerDone_)
                return;
            parts_[unpacked_ % kParts].size = n;
            ++unpacked_;
        }
        changed_.notify_all();
    }
    void complete() override { end(true); }

private:
    static constexpr std::size_t kParts = 3;
    static constexpr std::size_t kFirstPartSize = 16 * 1024;
    struct Part {
        std::unique_ptr<unsigned char[]> data;
        std::size_t size = 0;
    };

    unsigned char* scratch()
    {
        if (!scratch_)
            scratch_.reset(new unsigned char[kOutputSize]);
        return scratch_.get();
    }

    // The reader's side: the next part, once the one before is given back.
    std::string_view next() override
    {
        std::unique_lock lock(mutex_);
        released_ = taken_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return ended_ || unpacked_ > taken_; });
        if (unpacked_ > taken_) {
            const Part& part = parts_[taken_++ % kParts];
            return {reinterpret_cast<const char*>(part.data.get()), part.size};
        }
        if (!whole_)
            throw DamagedMember();
        return {};
    }
    std::uint64_t expectedSize() const override { return expected_; }

    void read()
    {
        std::exception_ptr failure;
        bool abandoned = false;
        try {
            member_.consume(*this);
        } catch (const DamagedMember&) {
            abandoned = true;
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard lock(mutex_);
        readerDone_ = true;
        readerAbandoned_ = abandoned;
        readerFailure_ = failure;
        changed_.notify_all();
    }

    void end(bool whole)
    {
        {
            std::lock_guard lock(mutex_);
            if (ended_)
                return;
            ended_ = true;
            whole_ = whole;
        }
        changed_.notify_all();
        reader_->join();
        member_.whole = whole && !readerAbandoned_;
        member_.failure = member_.whole ? readerFailure_ : nullptr;
    }

    StreamedMember& member_;
    std::uint64_t expected_;
    Part parts_[kParts];
    std::unique_ptr<unsigned char[]> scratch_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t unpacked_ = 0; // parts handed over
    std::size_t taken_ = 0; // parts the reader has had
    std::size_t released_ = 0; // parts the reader has given back
    bool ended_ = false;
    bool whole_ = false;
    bool readerDone_ = false;
    bool readerAbandoned_ = false;
    std::exception_ptr readerFailure_;
    std::optional<HelperThread> reader_; // last: started once everything above is in place
};

// Where one member goes: a temporary beside its file, put in place once the member
// is verified, or a streamed member's reader.
class Destination {
public:
    Destination(const std::string& outPath, StreamedMember* streamed, std::uint64_t expected)
    {
        target_.emplace(outPath, ReplacingFile::Kind::WorkFile);
        target_->removeLeftovers(); // of an unpacking that a crash cut off
        if (streamed) {
            target_.reset();
            out_ = std::make_unique<StreamOutput>(*streamed, expected);
            return;
        }
        file_ = target_->createTemp();
        out_ = std::make_unique<FileOutput>(file_, expected);
    }
    Output& output() { return *out_; }
    // The member is verified.
    void complete()
    {
        out_->complete();
        if (target_) {
            file_.close();
            target_->commit();
        }
    }

private:
    std::optional<ReplacingFile> target_;
    File file_;
    std::unique_ptr<Output> out_; // last: gone before the file it writes
};

// Inflates one raw deflate stream from `in` into `out`, leaving `in` at the first byte
// after the stream. Stops with false on damaged data, on input that ends early, or
// when the output would pass `limit`. The CRC-32 of the output comes with it.
bool inflateStream(
    Input& in, Output& out, Buffers& buffers, std::uint64_t limit, std::uint32_t& crc, std::uint64_t& produced)
{
    inflate_state& state = *buffers.inflater;
    isal_inflate_init(&state);
    state.crc_flag = ISAL_GZIP_NO_HDR;
    produced = 0;
    for (;;) {
        // With all input taken in, the inflater may still hold output back.
        const bool haveInput = in.fill();
        const std::size_t offered = haveInput ? in.len - in.pos : 0;
        state.next_in = haveInput ? in.buf + in.pos : nullptr;
        state.avail_in = static_cast<std::uint32_t>(offered);
        const std::size_t room = out.capacity();
        state.next_out = out.buffer();
        state.avail_out = static_cast<std::uint32_t>(room);
        const int ret = isal_inflate(&state);
        in.pos += offered - state.avail_in;
        if (ret != ISAL_DECOMP_OK)
            return false;
        const std::size_t have = room - state.avail_out;
        produced += have;
        if (produced > limit)
            return false;
        out.put(have);
        if (state.block_state == ISAL_BLOCK_FINISH)
            break;
        // Nothing taken and nothing given: the stream ends before its last block.
        if (have == 0 && offered == state.avail_in)
            return false;
    }
    // The inflater reads whole bytes ahead of the bits it decodes; what it read past the
    // end of the stream belongs to whatever follows.
    in.seek(in.position() - static_cast<std::uint64_t>(state.read_in_length / 8));
    crc = state.crc;
    return true;
}

// The members matching `mask`, each extracted under its file name alone; a member that
// cannot be extracted or written is skipped without a message. Returns the count written.
// A member meant for `streamed` goes there only when no other member would be written
// to the same file, which would otherwise end up holding the last one written.
int extractMatching(const std::vector<ArchiveMember>& members, std::string_view mask, const std::string& targetFolder,
    StreamedMember* streamed,
    const std::function<bool(std::size_t index, const std::string& outPath, StreamedMember* streamed)>& extractOne)
{
    std::vector<std::string> paths(members.size());
    std::size_t toStream = 0;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (!maskMatches(mask, members[i].name))
            continue;
        const std::string name = safeMemberFileName(members[i].name);
        if (name.empty())
            continue;
        paths[i] = joinPath(targetFolder, name);
        if (streamed && paths[i] == streamed->path)
            ++toStream;
    }
    if (toStream != 1)
        streamed = nullptr;
    int done = 0;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (paths[i].empty())
            continue;
        try {
            if (extractOne(i, paths[i], streamed && paths[i] == streamed->path ? streamed : nullptr))
                ++done;
        } catch (const std::exception&) {
        }
    }
    return done;
}

// The first member matching `mask` whose file name is that of `outPath`.
std::optional<std::size_t> firstFor(
    const std::vector<ArchiveMember>& members, std::string_view mask, const std::string& outPath)
{
    const std::string name = extractFileName(outPath);
    for (std::size_t i = 0; i < members.size(); ++i)
        if (maskMatches(mask, members[i].name) && safeMemberFileName(members[i].name) == name)
            return i;
    return std::nullopt;
}

} // namespace

std::uint32_t crc32Of(std::uint32_t crc, const unsigned char* data, std::size_t n)
{
    return crc32_gzip_refl(crc, data, n);
}

bool maskMatches(std::string_view mask, std::string_view memberName)
{
    while (true) {
        const auto semi = mask.find(';');
        const std::string_view pattern = trimBlanks(mask.substr(0, semi));
        if (!pattern.empty()) {
            const bool hasFolder = pattern.find_first_of("/\\") != std::string_view::npos;
            if (wildcardMatch(pattern, hasFolder ? memberName : fileNamePart(memberName)))
                return true;
        }
        if (semi == std::string_view::npos)
            return false;
        mask.remove_prefix(semi + 1);
    }
}

std::string safeMemberFileName(std::string_view memberName)
{
    if (memberName.empty() || isSeparator(memberName.front()))
        return {};
    if (memberName.size() >= 2 && memberName[1] == ':')
        return {};
    if (memberName.find("..") != std::string_view::npos || memberName.find('\0') != std::string_view::npos)
        return {};
    const std::string_view name = fileNamePart(memberName);
    if (name.empty() || name == ".")
        return {};
    return std::string(name);
}

// ---------------------------------------------------------------- ZIP

void ZipArchive::open(const std::string& path)
{
    members_.clear();
    file_.open(path, File::Mode::Read);
    size_ = file_.size();
    if (size_ < kEndRecordSize)
        invalidArchive("ZIP", path, "no end of central directory");

    // The end record sits in the last 22 bytes plus at most a 65535-byte comment.
    const std::uint64_t tailSize = std::min<std::uint64_t>(size_, kEndRecordSize + 0xFFFF);
    std::vector<unsigned char> tail(static_cast<std::size_t>(tailSize));
    file_.readAt(size_ - tailSize, tail.data(), tail.size());
    // Prefer a record whose comment ends exactly at the end of the file; comment text
    // may itself contain the signature.
    std::size_t at = std::string::npos;
    for (bool exact : {true, false}) {
        for (std::size_t i = tail.size() - kEndRecordSize + 1; at == std::string::npos && i-- > 0;) {
            if (le32(&tail[i]) != kEndRecordSig)
                continue;
            const std::size_t end = i + kEndRecordSize + le16(&tail[i + 20]);
            if (exact ? end == tail.size() : end <= tail.size())
                at = i;
        }
    }
    if (at == std::string::npos)
        invalidArchive("ZIP", path, "no end of central directory");

    const unsigned char* end = &tail[at];
    const std::uint64_t endPos = size_ - tailSize + at;
    const std::uint16_t disk = le16(end + 4);
    const std::uint16_t cdDisk = le16(end + 6);
    const std::uint16_t count = le16(end + 10);
    const std::uint32_t cdSize = le32(end + 12);
    const std::uint32_t cdOffset = le32(end + 16);
    if (disk != 0 || cdDisk != 0)
        invalidArchive("ZIP", path, "multi-volume archives are not supported");
    if (count == 0xFFFF || cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF)
        invalidArchive("ZIP", path, "ZIP64 archives are not supported");
    if (std::uint64_t{cdOffset} + cdSize > endPos || cdSize > kMaxCentralDirectory)
        invalidArchive("ZIP", path, "central directory out of bounds");

    std::vector<unsigned char> cd(cdSize);
    file_.readAt(cdOffset, cd.data(), cd.size());
    std::size_t pos = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (pos + kCentralHeaderSize > cd.size() || le32(&cd[pos]) != kCentralHeaderSig)
            invalidArchive("ZIP", path, "damaged central directory");
        const unsigned char* h = &cd[pos];
        const std::size_t nameLen = le16(h + 28);
        const std::size_t extraLen = le16(h + 30);
        const std::size_t commentLen = le16(h + 32);
        if (pos + kCentralHeaderSize + nameLen + extraLen + commentLen > cd.size())
            invalidArchive("ZIP", path, "damaged central directory");
        ArchiveMember m;
        m.flags = le16(h + 8);
        m.method = le16(h + 10);
        m.crc32 = le32(h + 16);
        m.compressedSize = le32(h + 20);
        m.size = le32(h + 24);
        m.localHeaderOffset = le32(h + 42);
        m.name.assign(reinterpret_cast<const char*>(h + kCentralHeaderSize), nameLen);
        members_.push_back(std::move(m));
        pos += kCentralHeaderSize + nameLen + extraLen + commentLen;
    }
    placeMembers();
    budget_ = outputLimit_;
}

void ZipArchive::placeMembers()
{
    placements_.assign(members_.size(), Placement{});
    // Byte ranges (local header to end of data) of the members accepted so far, by start.
    std::map<std::uint64_t, std::uint64_t> taken;
    for (std::size_t i = 0; i < members_.size(); ++i) {
        const ArchiveMember& m = members_[i];
        if (m.localHeaderOffset == 0xFFFFFFFF || m.localHeaderOffset + kLocalHeaderSize > size_)
            continue;
        unsigned char lh[kLocalHeaderSize];
        file_.readAt(m.localHeaderOffset, lh, sizeof lh);
        if (le32(lh) != kLocalHeaderSig)
            continue;
        // The central directory's sizes and CRC count: with a data descriptor (flag bit 3)
        // the local header holds zeros.
        const std::uint64_t dataStart = m.localHeaderOffset + kLocalHeaderSize + le16(lh + 26) + le16(lh + 28);
        const std::uint64_t end = dataStart + m.compressedSize;
        if (end > size_)
            continue;
        // Members sharing their bytes would let a tiny archive write its data many times over.
        const auto next = taken.lower_bound(m.localHeaderOffset);
        if (next != taken.end() && next->first < end)
            continue;
        if (next != taken.begin() && std::prev(next)->second > m.localHeaderOffset)
            continue;
        taken.emplace(m.localHeaderOffset, end);
        placements_[i] = {dataStart, true};
    }
}

int ZipArchive::extract(std::string_view mask, const std::string& targetFolder, StreamedMember* streamed)
{
    return extractMatching(members_, mask, targetFolder, streamed,
        [this](std::size_t i, const std::string& outPath, StreamedMember* member) {
            return extractMember(members_[i], placements_[i], outPath, member);
        });
}

bool ZipArchive::extractOne(std::string_view mask, const std::string& outPath, StreamedMember* streamed)
{
    const std::optional<std::size_t> i = firstFor(members_, mask, outPath);
    return i && extractMember(members_[*i], placements_[*i], outPath, streamed);
}

namespace {

// Whether a member is of a kind that may be unpacked at all.
bool unpackable(const ArchiveMember& m)
{
    if (m.flags & 0x0001) // encrypted
        return false;
    if (m.method != 0 && m.method != 8)
        return false;
    if (m.size == 0xFFFFFFFF || m.compressedSize == 0xFFFFFFFF)
        return false;
    return m.method == 8 || m.compressedSize == m.size;
}

// Unpacks a member whose data begin at `dataStart` into `out`; true when it gave its
// declared size with its CRC-32.
bool unpackMember(const File& file, const ArchiveMember& m, std::uint64_t dataStart, Output& out)
{
    Buffers buffers;
    Input in{file, dataStart, dataStart + m.compressedSize, buffers.in.get()};
    std::uint32_t crc = 0;
    std::uint64_t produced = 0;
    if (m.method == 0) {
        while (in.fill()) {
            const std::size_t n = std::min(in.len - in.pos, out.capacity());
            crc = crc32Of(crc, in.buf + in.pos, n);
            std::memcpy(out.buffer(), in.buf + in.pos, n);
            out.put(n);
            in.pos += n;
        }
        produced = out.handed();
    } else if (!inflateStream(in, out, buffers, m.size, crc, produced)) {
        return false;
    }
    return produced == m.size && crc == m.crc32;
}

} // namespace

bool ZipArchive::extractMember(
    const ArchiveMember& m, const Placement& at, const std::string& outPath, StreamedMember* streamed)
{
    if (!at.usable || !unpackable(m) || sameFile(outPath, file_.path()))
        return false;
    // Inflation stops at the declared size, so the declared size is all a member can
    // write; one that does not fit what is left of the cap is refused before any work.
    if (m.size > budget_)
        return false;
    budget_ -= m.size;
    Destination destination(outPath, streamed, m.size);
    if (!unpackMember(file_, m, at.dataStart, destination.output()))
        return false;
    destination.complete();
    return true;
}

bool ZipArchive::membersWhole(std::string_view mask) const
{
    // All of them together within the cap, as extract() would write them.
    std::uint64_t budget = outputLimit_;
    for (std::size_t i = 0; i < members_.size(); ++i) {
        const ArchiveMember& m = members_[i];
        if (!maskMatches(mask, m.name) || safeMemberFileName(m.name).empty())
            continue;
        if (!placements_[i].usable || !unpackable(m) || m.size > budget)
            return false;
        budget -= m.size;
        Discard out;
        if (!unpackMember(file_, m, placements_[i].dataStart, out))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------- gzip

namespace {

constexpr unsigned kFlagHcrc = 0x02;
constexpr unsigned kFlagExtra = 0x04;
constexpr unsigned kFlagName = 0x08;
constexpr unsigned kFlagComment = 0x10;
constexpr unsigned kFlagReserved = 0xE0;

// Reads one member header (RFC 1952); false when it is not a valid header.
bool readGzipHeader(Input& in)
{
    std::uint32_t crc = 0;
    auto next = [&](int& c) {
        c = in.get();
        if (c < 0)
            return false;
        const unsigned char b = static_cast<unsigned char>(c);
        crc = crc32Of(crc, &b, 1);
        return true;
    };
    int c = 0;
    unsigned char fixed[10];
    for (unsigned char& b : fixed) {
        if (!next(c))
            return false;
        b = static_cast<unsigned char>(c);
    }
    if (fixed[0] != 0x1f || fixed[1] != 0x8b || fixed[2] != 8)
        return false;
    const unsigned flags = fixed[3];
    if (flags & kFlagReserved)
        return false;
    if (flags & kFlagExtra) {
        int lo = 0, hi = 0;
        if (!next(lo) || !next(hi))
            return false;
        for (unsigned n = static_cast<unsigned>(lo | hi << 8); n > 0; --n)
            if (!next(c))
                return false;
    }
    for (unsigned flag : {kFlagName, kFlagComment}) {
        if (flags & flag) {
            do {
                if (!next(c))
                    return false;
            } while (c != 0);
        }
    }
    if (flags & kFlagHcrc) {
        const std::uint32_t expected = crc & 0xFFFF;
        const int lo = in.get();
        const int hi = in.get();
        if (lo < 0 || hi < 0 || static_cast<std::uint32_t>(lo | hi << 8) != expected)
            return false;
    }
    return true;
}

bool readLe32(Input& in, std::uint32_t& value)
{
    value = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int c = in.get();
        if (c < 0)
            return false;
        value |= std::uint32_t(c) << shift;
    }
    return true;
}

std::string withoutLastExtension(const std::string& name)
{
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

} // namespace

void GzipFile::open(const std::string& path)
{
    members_.clear();
    file_.open(path, File::Mode::Read);
    size_ = file_.size();
    // A header is short: a small buffer serves it.
    constexpr std::size_t kHeaderBuffer = 4096;
    unsigned char buf[kHeaderBuffer];
    Input in{file_, 0, size_, buf, kHeaderBuffer};
    if (!readGzipHeader(in))
        invalidArchive("gzip", path, "not a gzip file or damaged header");
    dataOffset_ = in.position();
    if (size_ < dataOffset_ + 8)
        invalidArchive("gzip", path, "truncated");

    ArchiveMember m;
    m.name = withoutLastExtension(extractFileName(path));
    m.method = 8;
    m.compressedSize = size_ - dataOffset_ - 8;
    unsigned char trailer[8];
    file_.readAt(size_ - 8, trailer, sizeof trailer);
    m.crc32 = le32(trailer);
    m.size = le32(trailer + 4);
    members_.push_back(std::move(m));
    budget_ = outputLimit_;
}

int GzipFile::extract(std::string_view mask, const std::string& targetFolder, StreamedMember* streamed)
{
    return extractMatching(members_, mask, targetFolder, streamed,
        [this](std::size_t, const std::string& outPath, StreamedMember* member) { return extractTo(outPath, member); });
}

bool GzipFile::extractOne(std::string_view mask, const std::string& outPath, StreamedMember* streamed)
{
    return firstFor(members_, mask, outPath) && extractTo(outPath, streamed);
}

namespace {

// True when the two bytes at the reading position are a gzip member's magic number.
bool atMemberStart(Input& in)
{
    if (in.atEnd())
        return false;
    const std::uint64_t at = in.position();
    if (at + 2 > in.end)
        return false;
    unsigned char magic[2];
    in.file.readAt(at, magic, sizeof magic);
    return magic[0] == 0x1f && magic[1] == 0x8b;
}

} // namespace

namespace {

// The members of a gzip file from `dataOffset` on into `out`, member after member, as
// "cat a.gz b.gz" gives: each checked against its own trailer, all of them together
// within `limit`.
bool unpackGzipMembers(const File& file, std::uint64_t dataOffset, std::uint64_t size, Output& out, std::uint64_t limit)
{
    Buffers buffers;
    Input in{file, dataOffset, size, buffers.in.get()};
    for (;;) {
        std::uint32_t crc = 0;
        std::uint64_t produced = 0;
        if (!inflateStream(in, out, buffers, limit - out.handed(), crc, produced))
            return false;
        std::uint32_t storedCrc = 0, storedSize = 0;
        if (!readLe32(in, storedCrc) || !readLe32(in, storedSize))
            return false;
        if (storedCrc != crc || storedSize != static_cast<std::uint32_t>(produced))
            return false;
        // Servers and tape tools pad with zero bytes.
        while (!in.atEnd() && in.buf[in.pos] == 0)
            ++in.pos;
        // Bytes that start no member are ignored, as gzip -d ignores trailing garbage.
        if (!atMemberStart(in))
            return true;
        if (!readGzipHeader(in))
            return false;
    }
}

} // namespace

bool GzipFile::extractTo(const std::string& outPath, StreamedMember* streamed)
{
    if (sameFile(outPath, file_.path()))
        return false;
    // The last member's declared size stands for all of them.
    Destination destination(outPath, streamed, members_.front().size);
    Output& out = destination.output();
    if (!unpackGzipMembers(file_, dataOffset_, size_, out, budget_))
        return false;
    destination.complete();
    budget_ -= out.handed();
    return true;
}

bool GzipFile::whole() const
{
    Discard out;
    return unpackGzipMembers(file_, dataOffset_, size_, out, outputLimit_);
}

} // namespace qm
