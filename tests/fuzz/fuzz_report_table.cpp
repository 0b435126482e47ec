// The situation-report table on any text, against the table built here from the
// report rules: after the header line and three more, entries of a data line and a
// name line, each written at its catalogue number, up to the entry of number 1.
#include "catalogue/SsrTable.h"
#include "catalogue/Support.h"

#include "FuzzSupport.h"
#include "RecordingReporter.h"

#include <cstring>
#include <map>

using namespace qm;
using namespace qm::fuzz;

namespace {

std::string columns(const std::string& line, std::size_t first, std::size_t width)
{
    std::string f = line.size() >= first ? line.substr(first - 1, width) : std::string();
    f.resize(width, ' ');
    return f;
}

std::string modelTable(std::string_view text)
{
    const std::vector<std::string> lines = linesOf(text);
    std::size_t at = 0;
    while (at < lines.size() && lines[at] != SsrTable::kHeader)
        ++at;
    std::map<int, std::string> records;
    // The header and the three lines after it; without all of them, no entry.
    for (at += 4; at < lines.size(); at += 2) {
        if (at + 1 >= lines.size())
            break; // a data line without its name line
        const std::string record
            = columns(lines[at], 1, 11) + columns(lines[at], 17, 5) + columns(lines[at + 1], 1, 24);
        bool ok = false;
        int n = Catalog_Number(std::string_view(record).substr(11, 5), 1, ok);
        if (!ok)
            n = 0;
        if (n >= 0)
            records[n] = record;
        if (n == 1)
            break;
    }
    std::string table(records.empty() ? 0 : static_cast<std::size_t>(records.rbegin()->first + 1) * 40, '\0');
    for (const auto& [n, record] : records)
        std::memcpy(table.data() + static_cast<std::size_t>(n) * 40, record.data(), 40);
    return table;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string& dir = WorkDir::instance().fresh();
    writeBytes(dir + "ssr_fuzz.txt", text);
    const std::string cwd = std::filesystem::current_path().string();
    std::filesystem::current_path(dir);
    test::RecordingReporter reporter(false);
    SsrTable table;
    table.buildFromText(dir + "ssr_fuzz.txt", reporter);
    std::filesystem::current_path(cwd);

    const std::string expected = modelTable(text);
    FUZZ_CHECK(readBytes(dir + "ssr.dat") == expected);
    FUZZ_CHECK(table.highest() == static_cast<int>(expected.size() / 40) - 1);
    if (table.highest() >= 0) {
        char name[24];
        table.readName(table.highest(), name);
        FUZZ_CHECK(std::memcmp(name, expected.data() + expected.size() - 24, 24) == 0);
    }
    table.close(reporter);
    FUZZ_CHECK((namesIn(dir) == std::vector<std::string>{"ssr.dat", "ssr_fuzz.txt"}));
    return 0;
}
