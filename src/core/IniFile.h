#pragma once
// The settings file's own INI reader and writer. One object serves one settings path
// (start-up, Save Settings, exit, the proxy form): it reads the file once, at its first
// use, and nothing outlives it. Reads: names compare case-insensitively, values lose
// surrounding blanks and one pair of quotes, at most 2047 characters. Writes go to the
// file at once, key by key; a failure raises IoError("Unable to write to " + path).
#include <memory>
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

    explicit IniFile(std::string path);
    ~IniFile();
    IniFile(IniFile&&) noexcept;
    IniFile& operator=(IniFile&&) noexcept;
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

    // The file's lines as read at the first use, kept in step with every write.
    struct Contents;

private:
    Contents& contents() const;
    std::string path_;
    mutable std::unique_ptr<Contents> contents_;
};

} // namespace qm
