#pragma once
// Shared pieces of the fuzz targets: a work folder per process, and property checks
// that stop the run with a message (assert() is compiled out in optimised builds).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace qm::fuzz {

// The text's lines: split at LF, every CR dropped; a last line without LF counts.
inline std::vector<std::string> linesOf(std::string_view text)
{
    std::vector<std::string> lines;
    std::string line;
    bool open = false;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
            open = false;
        } else {
            open = true;
            if (c != '\r')
                line.push_back(c);
        }
    }
    if (open)
        lines.push_back(line);
    return lines;
}

[[noreturn]] inline void fail(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "property failed: %s (%s:%d)\n", what, file, line);
    std::abort();
}

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::qm::fuzz::fail(#condition, __FILE__, __LINE__);                                                          \
    } while (0)

// A folder of this process's own, in memory when the system offers it; emptied by
// fresh() before each input and removed at exit.
class WorkDir {
public:
    static WorkDir& instance()
    {
        static WorkDir dir;
        return dir;
    }
    // The folder, emptied; ends in "/".
    const std::string& fresh()
    {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(path_, ec))
            std::filesystem::remove_all(entry.path(), ec);
        return path_;
    }
    const std::string& path() const { return path_; }

private:
    WorkDir()
    {
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string templ = std::string(base) + "/qmfuzz-XXXXXX";
        if (!::mkdtemp(templ.data()))
            std::abort();
        path_ = templ + "/";
    }
    ~WorkDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string path_;
};

inline void writeBytes(const std::string& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        std::abort();
}

inline std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Names in a folder (not recursive), sorted.
inline std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline bool anyEndsWith(const std::vector<std::string>& names, std::string_view suffix)
{
    for (const auto& name : names)
        if (name.ends_with(suffix))
            return true;
    return false;
}

// Takes bytes from the front of the input, for choices that shape a run.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size)
        : rest_(reinterpret_cast<const char*>(data), size)
    {
    }
    unsigned byte()
    {
        if (rest_.empty())
            return 0;
        const auto b = static_cast<unsigned char>(rest_.front());
        rest_.remove_prefix(1);
        return b;
    }
    std::string_view rest() const { return rest_; }
    // Up to the next separator byte (0xFF), which is consumed.
    std::string_view part()
    {
        const auto at = rest_.find('\xff');
        const std::string_view piece = rest_.substr(0, at);
        rest_.remove_prefix(at == std::string_view::npos ? rest_.size() : at + 1);
        return piece;
    }

private:
    std::string_view rest_;
};

} // namespace qm::fuzz
