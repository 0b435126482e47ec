// The settings file on any text: writing a key reads back as the reading rule gives
// it, and leaves every other key of the table reading as before.
#include "core/IniFile.h"
#include "core/Settings.h"

#include "FuzzSupport.h"

#include <optional>

using namespace qm;
using namespace qm::fuzz;

namespace {

// What reading gives for a written value: cut at a line break, blanks around it and
// one pair of matching quotes gone, at most the longest value.
std::string asRead(std::string_view value)
{
    value = value.substr(0, value.find_first_of("\r\n"));
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value.substr(0, IniFile::kMaxValueLength));
}

std::vector<std::optional<std::string>> readAll(const std::string& path)
{
    IniFile ini(path);
    std::vector<std::optional<std::string>> values;
    for (const SettingDef& def : settingsTable())
        values.push_back(ini.read(def.section, def.key));
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const std::string text(in.part());
    const std::string& dir = WorkDir::instance().fresh();
    const std::string path = dir + "quillmaren.ini";
    writeBytes(path, text);

    const auto table = settingsTable();
    std::vector<std::optional<std::string>> values = readAll(path);
    // A few keys, each given the next piece of the input as its value.
    for (int round = 0; round < 3; ++round) {
        const std::size_t which = in.byte() % table.size();
        const std::string value(in.part());
        {
            IniFile ini(path);
            ini.writeString(table[which].section, table[which].key, value);
            FUZZ_CHECK(ini.read(table[which].section, table[which].key) == asRead(value));
        }
        const std::vector<std::optional<std::string>> after = readAll(path);
        for (std::size_t i = 0; i < table.size(); ++i) {
            if (i == which)
                FUZZ_CHECK(after[i] == asRead(value));
            else
                FUZZ_CHECK(after[i] == values[i]);
        }
        values = after;
    }
    FUZZ_CHECK((namesIn(dir) == std::vector<std::string>{"quillmaren.ini"}));
    return 0;
}
