#pragma once
// Checked file I/O. Every failure raises IoError with the path and the system's reason.
// Fixed-size record files are read and written by position; sequential text goes
// through the buffered reader and writer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm {

[[noreturn]] void throwIoError(std::string_view action, const std::string& path, int err);
// A file that ends before the bytes its reader needs.
[[noreturn]] void throwReadBeyondEnd(const std::string& path);

class File {
public:
    enum class Mode {
        Read,          // existing file, read only
        ReadWrite,     // existing file, read and write
        Create,        // created or emptied, read and write
    };

    File() = default;
    File(const std::string& path, Mode mode);
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File(); // closes without reporting; call close() to have a failure reported

    void open(const std::string& path, Mode mode);
    // As open(), but the error texts name `shownPath`: a temporary file that stands
    // for its final path is reported under the name the user knows.
    void open(const std::string& path, Mode mode, const std::string& shownPath);
    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    // Exactly n bytes at offset; a short read is an error.
    void readAt(std::uint64_t offset, void* buffer, std::size_t n) const;
    // Up to n bytes at offset; returns the count, 0 at the end of the file.
    std::size_t readSomeAt(std::uint64_t offset, void* buffer, std::size_t n) const;
    void writeAt(std::uint64_t offset, const void* buffer, std::size_t n);
    // Copies n bytes of `from` at `fromOffset` to `offset` of this file, inside the
    // system where it can (no trip through the program's memory), else by reads and
    // writes. Failures raise IoError as readAt() and writeAt() do.
    void copyAt(std::uint64_t offset, const File& from, std::uint64_t fromOffset, std::uint64_t n);
    std::uint64_t size() const;
    void truncate(std::uint64_t length);
    void sync();
    void close();
    // A file that will be flushed to disk when complete (ReplacingFile::createTemp):
    // its writer hands finished parts to the disk early, so the final flush has less
    // left to wait for.
    bool flushedWhenComplete() const { return flushedWhenComplete_; }
    void setFlushedWhenComplete() { flushedWhenComplete_ = true; }
    // Starts writing a range to disk without waiting; failures show at the flush.
    void startWriteback(std::uint64_t offset, std::uint64_t length);

private:
    const std::string& shown() const { return shown_.empty() ? path_ : shown_; }
    int fd_ = -1;
    std::string path_;
    std::string shown_;
    bool flushedWhenComplete_ = false;
};

// A file of fixed-size records, addressed by record number counted from 0.
class RecordFile {
public:
    RecordFile() = default;
    RecordFile(const std::string& path, File::Mode mode, std::size_t recordSize);
    void open(const std::string& path, File::Mode mode, std::size_t recordSize);
    bool isOpen() const { return file_.isOpen(); }
    const std::string& path() const { return file_.path(); }
    std::size_t recordSize() const { return recordSize_; }
    // Whole records only; a trailing part-record is not a record.
    std::uint64_t count() const { return file_.size() / recordSize_; }
    void read(std::uint64_t index, void* record) const { file_.readAt(index * recordSize_, record, recordSize_); }
    void write(std::uint64_t index, const void* record) { file_.writeAt(index * recordSize_, record, recordSize_); }
    void close() { file_.close(); }
    File& file() { return file_; }
    const File& file() const { return file_; }

private:
    File file_;
    std::size_t recordSize_ = 1;
};

// Sequential buffered reading, byte by byte or in blocks, of a file or of bytes that
// arrive in parts from a Source.
class BufferedReader {
public:
    static constexpr std::size_t kBufferSize = 64 * 1024;
    // Bytes that are not in a file (yet): an unpacker's output, for example.
    class Source {
    public:
        virtual ~Source() = default;
        // The next part, read in place; it stays valid until the next call. Empty at
        // the end. May raise the error that ends the bytes early.
        virtual std::string_view next() = 0;
        // About how many bytes will come in all.
        virtual std::uint64_t expectedSize() const = 0;
    };
    BufferedReader() = default;
    explicit BufferedReader(const std::string& path) { open(path); }
    // Reads `source`'s parts; path() is then empty.
    explicit BufferedReader(Source& source)
        : source_(&source)
    {
    }
    void open(const std::string& path);
    bool isOpen() const { return source_ != nullptr || file_.isOpen(); }
    const std::string& path() const { return file_.path(); }
    // Next byte, or -1 at the end of the file.
    int get()
    {
        if (pos_ == len_ && !fill())
            return -1;
        return static_cast<unsigned char>(data_[pos_++]);
    }
    // Next byte without consuming it, or -1 at the end.
    int peek()
    {
        if (pos_ == len_ && !fill())
            return -1;
        return static_cast<unsigned char>(data_[pos_]);
    }
    bool atEnd() { return peek() < 0; }
    // The bytes buffered from the reading position on, refilled when none are left;
    // empty at the end of the file. A parser scans them in place and consume()s what
    // it has taken.
    std::string_view available()
    {
        if (pos_ == len_ && !fill())
            return {};
        return {data_ + pos_, len_ - pos_};
    }
    void consume(std::size_t n) { pos_ += n; }
    // Reads the next line into `out`: a line ends at LF, every CR is dropped, and at
    // most `width` characters are kept, the rest of the line skipped (`cut`, when
    // given, tells whether any were). Returns the count kept. At the end of the file
    // there is nothing to read: 0.
    std::size_t readLine(char* out, std::size_t width, bool* cut = nullptr);
    void skipLine();
    // Up to n bytes; returns the count, 0 at the end.
    std::size_t read(void* out, std::size_t n);
    // Exactly n bytes; a file that ends first is an error.
    void readExact(void* out, std::size_t n)
    {
        if (read(out, n) != n)
            throwReadBeyondEnd(file_.path());
    }
    // The file's size, or what the source expects.
    std::uint64_t size() const { return source_ ? source_->expectedSize() : file_.size(); }
    void close() { file_.close(); }

private:
    bool fill();
    File file_;
    Source* source_ = nullptr;
    std::string buffer_;
    const char* data_ = nullptr; // the buffer, or the source's current part
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    std::uint64_t offset_ = 0;
};

// Sequential buffered writing; close() flushes and reports any failure.
class BufferedWriter {
public:
    static constexpr std::size_t kBufferSize = 64 * 1024;
    BufferedWriter() = default;
    explicit BufferedWriter(const std::string& path) { create(path); }
    ~BufferedWriter() = default; // unflushed data of an abandoned writer are dropped
    void create(const std::string& path);
    // Writes into a file already created (ReplacingFile::createTemp).
    void create(File file);
    bool isOpen() const { return file_.isOpen(); }
    const std::string& path() const { return file_.path(); }
    void write(const void* data, std::size_t n);
    void write(std::string_view s) { write(s.data(), s.size()); }
    // Appends n bytes of `from` at `fromOffset` (File::copyAt).
    void copy(const File& from, std::uint64_t fromOffset, std::uint64_t n);
    void put(char c)
    {
        if (buffer_.size() == kBufferSize)
            flush();
        buffer_.push_back(c);
    }
    void flush();
    std::uint64_t written() const { return offset_ + buffer_.size(); }
    void close();

private:
    // A file flushed when complete is handed to the disk in steps of this many bytes.
    static constexpr std::uint64_t kWritebackStep = 1 << 20;
    void writeOut(const char* data, std::size_t n);
    void wrote(std::uint64_t n);
    File file_;
    std::string buffer_;
    std::uint64_t offset_ = 0;
    std::uint64_t handedToDisk_ = 0;
};

// Writes a file under a temporary name in the same folder and puts it in place
// only when complete, so a failure or a crash leaves the previous file intact.
class ReplacingFile {
public:
    enum class Kind {
        Output, // kept for the user: flushed to disk before it replaces the old one
        WorkFile, // made anew by every run before anything reads it: never flushed
    };
    explicit ReplacingFile(std::string finalPath, Kind kind = Kind::Output);
    ~ReplacingFile(); // removes the temporary file unless committed
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;
    const std::string& tempPath() const { return tempPath_; }
    const std::string& finalPath() const { return finalPath_; }
    // The temporary file, created anew; its error texts name the final path.
    File createTemp() const;
    // Renames the (closed) temporary file over the final path. An output is flushed to
    // disk first and its folder after, so that after a power cut the final path holds
    // either the old file or the whole new one.
    void commit();
    // Deletes the temporary files of this final path that an earlier write, cut off
    // by a crash, left in the folder. Reports nothing.
    void removeLeftovers() const;

private:
    std::string finalPath_;
    std::string tempPath_;
    Kind kind_;
    bool committed_ = false;
};

// Every flush to disk goes through one function (::fsync unless replaced), so that
// tests can watch the order of flushes and renames, or make a flush fail as a dying
// disk does. Returns the function it replaces.
using FlushFunction = int (*)(int fd);
FlushFunction replaceFlushFunction(FlushFunction flush);

// File-system helpers that report nothing (the callers' rules say so).
bool fileExists(const std::string& path);
bool directoryExists(const std::string& path);
bool removeFile(const std::string& path);
bool renameFile(const std::string& from, const std::string& to);
// Renames `from` over `to`; a failure raises IoError with the system's reason.
void renameFileChecked(const std::string& from, const std::string& to);

// A work file that a stage creates under a fixed name: removed when the stage fails
// (the object goes out of scope without keep()), so no half-written file stays.
class WorkFileGuard {
public:
    explicit WorkFileGuard(std::string path)
        : path_(std::move(path))
    {
    }
    ~WorkFileGuard();
    WorkFileGuard(const WorkFileGuard&) = delete;
    WorkFileGuard& operator=(const WorkFileGuard&) = delete;
    void keep() { kept_ = true; }

private:
    std::string path_;
    bool kept_ = false;
};
// Entries of a folder, in the order the system lists them.
std::vector<std::string> listDirectory(const std::string& folder);

} // namespace qm
