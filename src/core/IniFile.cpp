#include "core/IniFile.h"

#include "platform/Errors.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <unistd.h>
#include <vector>

namespace qm {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// A line without the CR of its CR LF end; lines keep their own ends, so that a
// rewrite changes no line but the one written.
std::string_view body(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

} // namespace

// The file as lines without their LF (a CR before it stays with the line); `crlf`
// tells which end the file's first line uses, the one new lines get.
struct IniFile::Contents {
    std::vector<std::string> lines;
    bool crlf = false;
    bool exists = false;
    // The file is there but could not be read whole; writing it back would lose keys.
    bool unreadable = false;
};

namespace {

using Lines = IniFile::Contents;

Lines load(const std::string& path)
{
    Lines result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.unreadable = errno != ENOENT && errno != ENOTDIR;
        return result;
    }
    result.exists = true;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            result.unreadable = true;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (result.lines.empty() && line.ends_with('\r'))
            result.crlf = true;
        result.lines.push_back(std::move(line));
        start = end + 1;
    }
    return result;
}

// "[name]" gives name; any other line nullopt.
std::optional<std::string_view> sectionName(std::string_view line)
{
    line = trim(body(line));
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    const auto close = line.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return trim(line.substr(1, close - 1));
}

bool isKeyLine(std::string_view line, std::string_view key)
{
    line = body(line);
    const auto eq = line.find('=');
    return eq != std::string_view::npos && sameName(trim(line.substr(0, eq)), key);
}

// Index of the section's header line, or -1.
long findSection(const Lines& f, std::string_view section)
{
    for (std::size_t i = 0; i < f.lines.size(); ++i)
        if (auto name = sectionName(f.lines[i]); name && sameName(*name, section))
            return static_cast<long>(i);
    return -1;
}

// One past the section's last line (the next header or the end).
std::size_t sectionEnd(const Lines& f, std::size_t header)
{
    std::size_t i = header + 1;
    while (i < f.lines.size() && !sectionName(f.lines[i]))
        ++i;
    return i;
}

long findKey(const Lines& f, long header, std::string_view key)
{
    if (header < 0)
        return -1;
    const std::size_t end = sectionEnd(f, static_cast<std::size_t>(header));
    for (std::size_t i = static_cast<std::size_t>(header) + 1; i < end; ++i)
        if (isKeyLine(f.lines[i], key))
            return static_cast<long>(i);
    return -1;
}

void writeAll(int fd, const std::string& text, const std::string& path)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw IoError("Unable to write to " + path);
        done += static_cast<std::size_t>(n);
    }
}

// Rewrites the file in place, for a folder that takes no new files.
void storeInPlace(const std::string& target, const std::string& text, const std::string& path)
{
    int fd;
    do {
        fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw IoError("Unable to write to " + path);
    try {
        writeAll(fd, text, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0)
        throw IoError("Unable to write to " + path);
}

// Replaces the file in one step: written beside it under a temporary name, readable
// by the owner only (it may hold passwords), then renamed over it, so a full disk or
// a crash never leaves a half-written settings file. A symbolic link is followed, so
// the link stays in place.
void store(const std::string& path, const Lines& f)
{
    if (f.unreadable)
        throw IoError("Unable to write to " + path);
    std::string text;
    for (const auto& line : f.lines) {
        text += line;
        text += '\n';
    }
    std::string target = path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    std::random_device rd;
    const std::string temp = target + ".tmp" + std::to_string(rd() % 1000000);
    int fd;
    do {
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (f.exists && (errno == EACCES || errno == EROFS || errno == EPERM))
            return storeInPlace(target, text, path);
        throw IoError("Unable to write to " + path);
    }
    try {
        writeAll(fd, text, path);
    } catch (...) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
    if (::close(fd) != 0 || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        throw IoError("Unable to write to " + path);
    }
}

} // namespace

std::optional<int> parseIniInteger(std::string_view s)
{
    std::string text(s);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text = "$" + text.substr(2);
    std::string_view v = text;
    bool negative = false;
    if (!v.empty() && (v.front() == '+' || v.front() == '-')) {
        negative = v.front() == '-';
        v.remove_prefix(1);
    }
    if (v.empty())
        return std::nullopt;
    if (v.front() == '$') {
        v.remove_prefix(1);
        std::uint32_t value = 0;
        const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value, 16);
        if (v.empty() || ec != std::errc() || end != v.data() + v.size())
            return std::nullopt;
        // Hexadecimal spans the full 32 bits, as the value's bit pattern.
        const auto bits = static_cast<std::int32_t>(value);
        return negative ? static_cast<int>(0u - static_cast<std::uint32_t>(bits)) : bits;
    }
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value, 10);
    if (ec != std::errc() || end != v.data() + v.size())
        return std::nullopt;
    if (negative)
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<int>(value);
}

IniFile::IniFile(std::string path)
    : path_(std::move(path))
{
}

IniFile::~IniFile() = default;
IniFile::IniFile(IniFile&&) noexcept = default;
IniFile& IniFile::operator=(IniFile&&) noexcept = default;

IniFile::Contents& IniFile::contents() const
{
    if (!contents_)
        contents_ = std::make_unique<Contents>(load(path_));
    return *contents_;
}

std::optional<std::string> IniFile::read(std::string_view section, std::string_view key) const
{
    const Lines& f = contents();
    const long at = findKey(f, findSection(f, section), key);
    if (at < 0)
        return std::nullopt;
    const std::string_view line = body(f.lines[static_cast<std::size_t>(at)]);
    std::string_view value = trim(line.substr(line.find('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value.substr(0, kMaxValueLength));
}

std::string IniFile::readString(std::string_view section, std::string_view key, std::string_view fallback) const
{
    auto value = read(section, key);
    return value ? *value : std::string(fallback);
}

int IniFile::readInteger(std::string_view section, std::string_view key, int fallback) const
{
    auto value = read(section, key);
    if (!value)
        return fallback;
    return parseIniInteger(*value).value_or(fallback);
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool fallback) const
{
    return readInteger(section, key, fallback ? 1 : 0) != 0;
}

bool IniFile::sectionExists(std::string_view section) const
{
    return findSection(contents(), section) >= 0;
}

void IniFile::writeString(std::string_view section, std::string_view key, std::string_view value)
{
    // A line break inside a value would start a new key or section in the file.
    value = value.substr(0, value.find_first_of("\r\n"));
    std::string line = std::string(key) + "=" + std::string(value);
    Lines f = contents();
    const std::string newEnd = f.crlf ? "\r" : "";
    long header = findSection(f, section);
    if (header < 0) {
        f.lines.push_back("[" + std::string(section) + "]" + newEnd);
        f.lines.push_back(std::move(line) + newEnd);
    } else if (const long at = findKey(f, header, key); at >= 0) {
        std::string& old = f.lines[static_cast<std::size_t>(at)];
        old = std::move(line) + (old.ends_with('\r') ? "\r" : "");
    } else {
        // After the section's last non-empty line, so blank separators stay below it.
        std::size_t pos = sectionEnd(f, static_cast<std::size_t>(header));
        while (pos > static_cast<std::size_t>(header) + 1 && trim(body(f.lines[pos - 1])).empty())
            --pos;
        f.lines.insert(f.lines.begin() + static_cast<long>(pos), std::move(line) + newEnd);
    }
    store(path_, f);
    f.exists = true;
    *contents_ = std::move(f);
}

void IniFile::writeInteger(std::string_view section, std::string_view key, int value)
{
    writeString(section, key, std::to_string(value));
}

void IniFile::writeBool(std::string_view section, std::string_view key, bool value)
{
    writeString(section, key, value ? "1" : "0");
}

void IniFile::deleteKey(std::string_view section, std::string_view key)
{
    Lines f = contents();
    const long at = findKey(f, findSection(f, section), key);
    if (at < 0)
        return;
    f.lines.erase(f.lines.begin() + at);
    store(path_, f);
    *contents_ = std::move(f);
}

} // namespace qm
