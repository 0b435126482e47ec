#include "platform/File.h"

#include "platform/Errors.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/random.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace qm {

namespace {
FlushFunction flushFunction = ::fsync;

// Four random bytes from the system. Setting up a std::random_device costs tens of
// microseconds on some virtual machines (it probes the processor), more than the
// small files that use these names take to write.
std::uint32_t randomWord()
{
    std::uint32_t value = 0;
    if (::getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value))
        return value;
    return std::random_device{}();
}
} // namespace

FlushFunction replaceFlushFunction(FlushFunction flush)
{
    return std::exchange(flushFunction, flush);
}

void throwIoError(std::string_view action, const std::string& path, int err)
{
    std::string text(action);
    text += ' ';
    text += path;
    text += ": ";
    text += std::strerror(err);
    throw IoError(text);
}

void throwReadBeyondEnd(const std::string& path)
{
    throw IoError("Read beyond end of file " + path);
}

File::File(const std::string& path, Mode mode)
{
    open(path, mode);
}

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1))
    , path_(std::move(other.path_))
    , shown_(std::move(other.shown_))
    , flushedWhenComplete_(other.flushedWhenComplete_)
{
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        shown_ = std::move(other.shown_);
        flushedWhenComplete_ = other.flushedWhenComplete_;
    }
    return *this;
}

File::~File()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void File::open(const std::string& path, Mode mode)
{
    open(path, mode, std::string());
}

void File::open(const std::string& path, Mode mode, const std::string& shownPath)
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Read:
        flags |= O_RDONLY;
        break;
    case Mode::ReadWrite:
        flags |= O_RDWR;
        break;
    case Mode::Create:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throwIoError(
            mode == Mode::Create ? "Unable to create" : "Unable to open", shownPath.empty() ? path : shownPath, errno);
    fd_ = fd;
    path_ = path;
    shown_ = shownPath;
    flushedWhenComplete_ = false;
}

std::size_t File::readSomeAt(std::uint64_t offset, void* buffer, std::size_t n) const
{
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throwIoError("Unable to read", shown(), errno);
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void File::readAt(std::uint64_t offset, void* buffer, std::size_t n) const
{
    if (readSomeAt(offset, buffer, n) != n)
        throwReadBeyondEnd(shown());
}

void File::writeAt(std::uint64_t offset, const void* buffer, std::size_t n)
{
    const auto* in = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t put = ::pwrite(fd_, in + done, n - done, static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            throwIoError("Unable to write to", shown(), errno);
        }
        done += static_cast<std::size_t>(put);
    }
}

void File::copyAt(std::uint64_t offset, const File& from, std::uint64_t fromOffset, std::uint64_t n)
{
    while (n > 0) {
        loff_t in = static_cast<loff_t>(fromOffset);
        loff_t out = static_cast<loff_t>(offset);
        const ssize_t done = ::copy_file_range(from.fd_, &in, fd_, &out, static_cast<std::size_t>(n), 0);
        if (done < 0 && errno == EINTR)
            continue;
        // The system cannot copy here, or a side failed (which one is not told): the
        // rest goes by reads and writes, which meet any failure with its own text.
        if (done <= 0)
            break;
        fromOffset += static_cast<std::uint64_t>(done);
        offset += static_cast<std::uint64_t>(done);
        n -= static_cast<std::uint64_t>(done);
    }
    static constexpr std::size_t kStep = 64 * 1024;
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(n, kStep)));
    while (n > 0) {
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(n, kStep));
        from.readAt(fromOffset, buffer.data(), take);
        writeAt(offset, buffer.data(), take);
        fromOffset += take;
        offset += take;
        n -= take;
    }
}

std::uint64_t File::size() const
{
    struct stat st { };
    if (::fstat(fd_, &st) != 0)
        throwIoError("Unable to read", shown(), errno);
    return static_cast<std::uint64_t>(st.st_size);
}

void File::truncate(std::uint64_t length)
{
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0)
        throwIoError("Unable to write to", shown(), errno);
}

void File::sync()
{
    if (flushFunction(fd_) != 0)
        throwIoError("Unable to write to", shown(), errno);
}

void File::startWriteback(std::uint64_t offset, std::uint64_t length)
{
    ::sync_file_range(fd_, static_cast<off64_t>(offset), static_cast<off64_t>(length), SYNC_FILE_RANGE_WRITE);
}

void File::close()
{
    if (fd_ < 0)
        return;
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 && errno != EINTR)
        throwIoError("Unable to close", shown(), errno);
}

RecordFile::RecordFile(const std::string& path, File::Mode mode, std::size_t recordSize)
{
    open(path, mode, recordSize);
}

void RecordFile::open(const std::string& path, File::Mode mode, std::size_t recordSize)
{
    file_.open(path, mode);
    recordSize_ = recordSize;
}

void BufferedReader::open(const std::string& path)
{
    file_.open(path, File::Mode::Read);
    buffer_.resize(kBufferSize);
    data_ = buffer_.data();
    source_ = nullptr;
    pos_ = len_ = 0;
    offset_ = 0;
}

bool BufferedReader::fill()
{
    if (source_) {
        const std::string_view part = source_->next();
        data_ = part.data();
        len_ = part.size();
        offset_ += len_;
        pos_ = 0;
        return len_ > 0;
    }
    if (!file_.isOpen())
        return false;
    len_ = file_.readSomeAt(offset_, buffer_.data(), buffer_.size());
    offset_ += len_;
    pos_ = 0;
    return len_ > 0;
}

std::size_t BufferedReader::read(void* out, std::size_t n)
{
    auto* dst = static_cast<char*>(out);
    std::size_t done = 0;
    while (done < n) {
        if (pos_ == len_ && !fill())
            break;
        const std::size_t take = std::min(n - done, len_ - pos_);
        std::memcpy(dst + done, data_ + pos_, take);
        pos_ += take;
        done += take;
    }
    return done;
}

std::size_t BufferedReader::readLine(char* out, std::size_t width, bool* cut)
{
    std::size_t n = 0;
    bool dropped = false;
    for (;;) {
        const std::string_view chunk = available();
        if (chunk.empty())
            break;
        const auto* lf = static_cast<const char*>(std::memchr(chunk.data(), '\n', chunk.size()));
        const std::size_t length = lf ? static_cast<std::size_t>(lf - chunk.data()) : chunk.size();
        // The line's part in this buffer, piece by piece between CRs.
        std::string_view text = chunk.substr(0, length);
        while (!text.empty()) {
            const auto* cr = static_cast<const char*>(std::memchr(text.data(), '\r', text.size()));
            const std::size_t piece = cr ? static_cast<std::size_t>(cr - text.data()) : text.size();
            const std::size_t take = std::min(piece, width - n);
            std::memcpy(out + n, text.data(), take);
            n += take;
            dropped = dropped || take < piece;
            if (!cr)
                break;
            text.remove_prefix(piece + 1);
        }
        consume(lf ? length + 1 : length);
        if (lf)
            break;
    }
    if (cut)
        *cut = dropped;
    return n;
}

void BufferedReader::skipLine()
{
    for (;;) {
        const std::string_view chunk = available();
        if (chunk.empty())
            return;
        const auto* lf = static_cast<const char*>(std::memchr(chunk.data(), '\n', chunk.size()));
        if (lf) {
            consume(static_cast<std::size_t>(lf - chunk.data()) + 1);
            return;
        }
        consume(chunk.size());
    }
}

void BufferedWriter::create(const std::string& path)
{
    file_.open(path, File::Mode::Create);
    buffer_.clear();
    buffer_.reserve(kBufferSize);
    offset_ = 0;
    handedToDisk_ = 0;
}

void BufferedWriter::create(File file)
{
    file_ = std::move(file);
    buffer_.clear();
    buffer_.reserve(kBufferSize);
    offset_ = 0;
    handedToDisk_ = 0;
}

void BufferedWriter::write(const void* data, std::size_t n)
{
    const auto* src = static_cast<const char*>(data);
    if (buffer_.size() + n > kBufferSize) {
        flush();
        if (n >= kBufferSize) {
            writeOut(src, n);
            return;
        }
    }
    buffer_.append(src, n);
}

void BufferedWriter::flush()
{
    if (buffer_.empty())
        return;
    writeOut(buffer_.data(), buffer_.size());
    buffer_.clear();
}

void BufferedWriter::copy(const File& from, std::uint64_t fromOffset, std::uint64_t n)
{
    flush();
    // In steps, so that finished parts go to the disk while the rest is copied.
    while (n > 0) {
        const std::uint64_t take = std::min(n, kWritebackStep);
        file_.copyAt(offset_, from, fromOffset, take);
        fromOffset += take;
        n -= take;
        wrote(take);
    }
}

void BufferedWriter::writeOut(const char* data, std::size_t n)
{
    file_.writeAt(offset_, data, n);
    wrote(n);
}

void BufferedWriter::wrote(std::uint64_t n)
{
    offset_ += n;
    if (file_.flushedWhenComplete() && offset_ - handedToDisk_ >= kWritebackStep) {
        file_.startWriteback(handedToDisk_, offset_ - handedToDisk_);
        handedToDisk_ = offset_;
    }
}

void BufferedWriter::close()
{
    if (!file_.isOpen())
        return;
    flush();
    file_.close();
}

namespace {

// A temporary's name: "." + stem + "." + 8 hex digits + ".part".
constexpr std::string_view kPart = ".part";
constexpr std::size_t kTemporaryExtra = 1 + 1 + 8 + kPart.size();
// The longest file name the system takes (ext4, XFS, Btrfs and tmpfs alike).
constexpr std::size_t kNameMax = NAME_MAX;

// The start of `name` that its temporary's name carries: all of it when that fits the
// file system's limit, else as much as fits, not cut inside a UTF-8 character. Only
// the temporary is shortened; the final name is the caller's to choose.
std::string_view temporaryStem(std::string_view name)
{
    if (name.size() + kTemporaryExtra <= kNameMax)
        return name;
    std::size_t n = kNameMax - kTemporaryExtra;
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80)
        --n;
    return name.substr(0, n);
}

bool isHex(char ch)
{
    return std::isxdigit(static_cast<unsigned char>(ch)) != 0;
}

} // namespace

ReplacingFile::ReplacingFile(std::string finalPath, Kind kind)
    : finalPath_(std::move(finalPath))
    , kind_(kind)
{
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", randomWord());
    tempPath_ = extractFilePath(finalPath_) + "." + std::string(temporaryStem(extractFileName(finalPath_))) + "."
        + suffix + std::string(kPart);
}

ReplacingFile::~ReplacingFile()
{
    if (!committed_)
        ::unlink(tempPath_.c_str());
}

File ReplacingFile::createTemp() const
{
    File file;
    file.open(tempPath_, File::Mode::Create, finalPath_);
    if (kind_ == Kind::Output)
        file.setFlushedWhenComplete();
    return file;
}

namespace {

// The file a rename is about to replace, held open so that the rename does not free
// it: the last close of a large file drops its cached pages and frees its blocks,
// milliseconds the writer need not wait for. release() leaves that close to a helper
// thread while the run goes on.
class ReplacedFile {
public:
    explicit ReplacedFile(const std::string& path)
    {
        // Not through a link, nor blocking on a pipe that stands under the name.
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        struct stat st{};
        if (fd_ >= 0
            && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_size < kWorthReleasing)) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ReplacedFile(const ReplacedFile&) = delete;
    ReplacedFile& operator=(const ReplacedFile&) = delete;
    ~ReplacedFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    void release()
    {
        if (fd_ < 0)
            return;
        try {
            std::thread([fd = fd_] { ::close(fd); }).detach();
            fd_ = -1;
        } catch (const std::system_error&) {
            // No thread to spare: the destructor closes it here.
        }
    }

private:
    static constexpr off_t kWorthReleasing = 1 << 20;
    int fd_ = -1;
};

} // namespace

void ReplacingFile::commit()
{
    ReplacedFile replaced(finalPath_);
    const bool output = kind_ == Kind::Output;
    // Without the flush a power cut soon after the rename can leave the final name
    // on an empty or partial file.
    if (output) {
        File written;
        written.open(tempPath_, File::Mode::Read, finalPath_);
        written.sync();
        written.close();
    }
    if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0)
        throwIoError("Unable to write to", finalPath_, errno);
    committed_ = true;
    // The new file is in place whatever happens now; flushing the folder makes the
    // rename itself last. A folder that cannot be flushed changes nothing for the run.
    if (output) {
        const std::string folder = extractFilePath(finalPath_);
        const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            flushFunction(dir);
            ::close(dir);
        }
    }
    replaced.release();
}

namespace {

// The stem that `entry` is a temporary's name for (same shape as tempPath_: "." + stem
// + "." + 8 hex digits + ".part"); empty when it is none.
std::string_view temporaryFor(std::string_view entry)
{
    if (entry.size() < 1 + 1 + 1 + 8 + kPart.size() || entry.front() != '.' || !entry.ends_with(kPart))
        return {};
    const std::string_view suffix = entry.substr(entry.size() - kPart.size() - 8, 8);
    if (!std::all_of(suffix.begin(), suffix.end(), isHex) || entry[entry.size() - kPart.size() - 9] != '.')
        return {};
    return entry.substr(1, entry.size() - 1 - 9 - kPart.size());
}

// `stem` is what a temporary of a temporary of a file with the stem `outerStem`
// carries: a writer that writes its temporary through a ReplacingFile of its own (as a
// download does) leaves one when it is cut off. The outer temporary's digits are
// unknown; a shortened stem holds only some of them, or none.
bool isStemOfTemporaryOf(std::string_view stem, std::string_view outerStem)
{
    if (temporaryFor(stem) == outerStem)
        return true;
    const std::string prefix = "." + std::string(outerStem) + ".";
    std::string outer = prefix + "00000000" + std::string(kPart);
    for (std::size_t i = prefix.size(); i < stem.size() && i < prefix.size() + 8; ++i) {
        if (!isHex(stem[i]))
            return false;
        outer[i] = stem[i];
    }
    return outer.size() + kTemporaryExtra > kNameMax && temporaryStem(outer) == stem;
}

} // namespace

void ReplacingFile::removeLeftovers() const
{
    const std::string folder = extractFilePath(finalPath_);
    const std::string name = extractFileName(finalPath_);
    const std::string_view stem = temporaryStem(name);
    for (const std::string& entry : listDirectory(folder)) {
        const std::string_view of = temporaryFor(entry);
        if (!of.empty() && (of == stem || isStemOfTemporaryOf(of, stem)) && folder + entry != tempPath_)
            ::unlink((folder + entry).c_str());
    }
}

bool fileExists(const std::string& path)
{
    struct stat st { };
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool directoryExists(const std::string& path)
{
    struct stat st { };
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool removeFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

bool renameFile(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

void renameFileChecked(const std::string& from, const std::string& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        throwIoError("Unable to rename " + from + " to", to, errno);
}

WorkFileGuard::~WorkFileGuard()
{
    if (!kept_)
        ::unlink(path_.c_str());
}

std::vector<std::string> listDirectory(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

} // namespace qm
