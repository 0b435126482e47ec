#include "core/SystemDescriptions.h"

namespace qm {

namespace {

// Blanks and control characters go at both ends.
std::string trimmed(std::string_view s)
{
    auto weak = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!s.empty() && weak(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && weak(s.back()))
        s.remove_suffix(1);
    return std::string(s);
}

// Calls `f(line)` for each line of `text`; stops when f returns false.
template <class F> void eachLine(std::string_view text, F f)
{
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        if (!f(line) || end == std::string_view::npos)
            return;
        text.remove_prefix(end + 1);
    }
}

} // namespace

std::string osReleasePrettyName(std::string_view osRelease)
{
    std::string result;
    eachLine(osRelease, [&](std::string_view line) {
        constexpr std::string_view key = "PRETTY_NAME=";
        if (line.substr(0, key.size()) != key)
            return true;
        std::string_view value = line.substr(key.size());
        while (!value.empty() && (value.back() == '\r' || value.back() == ' '))
            value.remove_suffix(1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        // Shell quoting: a backslash makes the next character literal.
        result.clear();
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size())
                ++i;
            result += value[i];
        }
        return false;
    });
    return result;
}

CpuInfo parseCpuinfo(std::string_view cpuinfo)
{
    CpuInfo info;
    bool seenField = false;
    eachLine(cpuinfo, [&](std::string_view line) {
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            // A blank line ends the first processor's block.
            return !(seenField && trimmed(line).empty());
        }
        seenField = true;
        const std::string name = trimmed(line.substr(0, colon));
        const std::string value = trimmed(line.substr(colon + 1));
        if (name == "model name")
            info.modelName = value;
        else if (name == "cpu family")
            info.family = value;
        else if (name == "model")
            info.model = value;
        else if (name == "stepping")
            info.stepping = value;
        else if (name == "vendor_id")
            info.vendor = value;
        return true;
    });
    return info;
}

std::string GetWindowsVersionText(const SystemSources& sources)
{
    const auto osRelease = sources.osRelease();
    const auto release = sources.kernelRelease();
    const auto version = sources.kernelVersion();
    if (!osRelease && !release && !version)
        return "Windows OS Unknown";
    const std::string product = trimmed(osReleasePrettyName(osRelease.value_or("")));
    const std::string serviceLevel; // Linux has none; its piece stays empty, its separator stays.
    return product + ", " + serviceLevel + ", Version " + trimmed(release.value_or("")) + ", Build "
        + trimmed(version.value_or(""));
}

std::string GetProcessorText(const SystemSources& sources)
{
    const auto text = sources.cpuinfo();
    if (!text)
        return "Hardware Unknown";
    const CpuInfo cpu = parseCpuinfo(*text);
    const std::string identifier = trimmed(sources.machine().value_or("")) + " Family " + cpu.family + " Model "
        + cpu.model + " Stepping " + cpu.stepping;
    return cpu.modelName + ", " + trimmed(identifier) + ", " + cpu.vendor;
}

std::string withoutEmptyItems(std::string_view description)
{
    constexpr std::string_view separator = ", ";
    std::string result;
    for (;;) {
        const auto end = description.find(separator);
        const std::string_view item = description.substr(0, end);
        if (!trimmed(item).empty()) {
            if (!result.empty())
                result += separator;
            result += item;
        }
        if (end == std::string_view::npos)
            return result;
        description.remove_prefix(end + separator.size());
    }
}

} // namespace qm
