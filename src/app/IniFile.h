#pragma once
// The settings file's own INI reader and writer. Every call opens the file, does its
// work and releases it; nothing is cached. Reads: names compare case-insensitively,
// values lose surrounding blanks and one pair of quotes, at most 2047 characters.
// Writes go to the file at once, key by key; a failure raises
// IoError("Unable to write to " + path).
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// The integer reading of an INI value: optional sign, decimal digits, or hexadecimal
// after "$" or after "0x"/"0X" (when more follows). Anything else is nullopt.
std::optional<int> parseIniInteger(std::string_view text);

class IniFile {
public:
    static constexpr std::size_t kMaxValueLength = 2047;

    explicit IniFile(std::string path)
        : path_(std::move(path))
    {
    }
    const std::string& path() const { return path_; }

    // The value as read, or nullopt when the key (or the file) is missing.
    std::optional<std::string> read(std::string_view section, std::string_view key) const;
    std::string readString(std::string_view section, std::string_view key, std::string_view fallback) const;
    int readInteger(std::string_view section, std::string_view key, int fallback) const;
    bool readBool(std::string_view section, std::string_view key, bool fallback) const;
    bool sectionExists(std::string_view section) const;

    void writeString(std::string_view section, std::string_view key, std::string_view value);
    void writeInteger(std::string_view section, std::string_view key, int value);
    void writeBool(std::string_view section, std::string_view key, bool value);
    // Removing a key that is not there writes nothing.
    void deleteKey(std::string_view section, std::string_view key);

private:
    std::string path_;
};

} // namespace qm
