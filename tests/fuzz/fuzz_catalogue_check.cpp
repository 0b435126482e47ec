// The check stage in both forms, and the index built on its output. The line pass is
// modelled here from the text rules; the record pass must keep exactly the records
// that pass validation after repair, move the others to the error file and leave no
// work file; a text whose records outgrow four times its size (within a floor and a
// ceiling made small here, so that fuzzed texts reach both) must stop the stage and
// leave nothing of it; every index slot must point at the last record of its number.
#include "catalogue/CatalogIndex.h"
#include "catalogue/Support.h"
#include "catalogue/TLESupport.h"
#include "platform/Errors.h"

#include "FuzzSupport.h"
#include "RecordingReporter.h"

#include <algorithm>
#include <map>

using namespace qm;
using namespace qm::fuzz;

namespace {

std::string field(const std::vector<std::string>& lines, std::size_t i, std::size_t width)
{
    std::string f = i < lines.size() ? lines[i].substr(0, width) : std::string();
    f.resize(width, ' ');
    return f + "\r\n";
}

// The fixed records the line pass must write.
std::vector<std::string> linePassModel(std::string_view text, bool twoLine)
{
    std::vector<std::string> lines = linesOf(text);
    if (!lines.empty() && lines[0].starts_with('#'))
        lines.erase(lines.begin(), lines.begin() + std::min<std::size_t>(2, lines.size()));
    const std::size_t per = twoLine ? 2 : 3;
    std::vector<std::string> records;
    for (std::size_t first = 0; first == 0 || first < lines.size(); first += per) {
        std::string r;
        std::size_t i = first;
        if (!twoLine)
            r += field(lines, i++, kNameLength);
        r += field(lines, i++, kLineLength);
        r += field(lines, i, kLineLength);
        records.push_back(r);
    }
    return records;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const bool twoLine = (in.byte() & 1) == 0;
    const std::string_view text = in.rest();
    const std::string& dir = WorkDir::instance().fresh();
    const std::string catalog = dir + "catalog_fuzz.txt";
    writeBytes(catalog, text);

    test::RecordingReporter reporter(false);
    const std::size_t recordSize = twoLine ? kTwoLineRecordSize : kThreeLineRecordSize;
    const std::size_t pairOffset = twoLine ? 0 : kThreeLinePairOffset;
    const std::vector<std::string> records = linePassModel(text, twoLine);
    // Records beyond the cap (the first always allowed) stop the stage and leave the
    // text as it was.
    const GrowthCap cap{.floor = 2048, .ceiling = 64 * 1024};
    const bool tooLarge = records.size() > 1
        && records.size() * recordSize > std::clamp<std::uint64_t>(4 * text.size(), cap.floor, cap.ceiling);
    try {
        CheckCatalog(catalog, twoLine, reporter, cap);
    } catch (const CatalogueTooLarge&) {
        FUZZ_CHECK(tooLarge);
        FUZZ_CHECK(readBytes(catalog) == text);
        FUZZ_CHECK(namesIn(dir) == std::vector<std::string>{"catalog_fuzz.txt"});
        return 0;
    }
    FUZZ_CHECK(!tooLarge);

    std::string good, bad;
    for (std::string record : records) {
        Repair_TLE(record.data() + pairOffset);
        (Valid_TLE(record.data() + pairOffset) ? good : bad) += record;
    }
    FUZZ_CHECK(readBytes(catalog) == good);
    const std::vector<std::string> names = namesIn(dir);
    if (bad.empty())
        FUZZ_CHECK(names == std::vector<std::string>{"catalog_fuzz.txt"});
    else
        FUZZ_CHECK((names == std::vector<std::string>{"catalog_fuzz.err", "catalog_fuzz.txt"}));
    if (!bad.empty())
        FUZZ_CHECK(readBytes(dir + "catalog_fuzz.err") == bad);

    // The index, in the folder as the run's current directory.
    const std::string cwd = std::filesystem::current_path().string();
    std::filesystem::current_path(dir);
    CatalogIndex index;
    try {
        index.build(catalog, twoLine, reporter);
    } catch (const FatalStop& stop) {
        FUZZ_CHECK(good.empty());
        FUZZ_CHECK(stop.message.ends_with(" file is empty. Input file was corrupt."));
        FUZZ_CHECK(!std::filesystem::exists(dir + "catalog.idx"));
        std::filesystem::current_path(cwd);
        return 0;
    }
    std::filesystem::current_path(cwd);
    FUZZ_CHECK(!good.empty());
    std::map<int, std::int32_t> last; // catalogue number -> last 1-based record
    for (std::size_t r = 0; r * recordSize < good.size(); ++r) {
        bool ok = false;
        const int n = Integer_Value(std::string_view(good).substr(r * recordSize + pairOffset, kLineLength), 3, 5, ok);
        if (n >= 0)
            last[n] = static_cast<std::int32_t>(r + 1);
    }
    const int entries = last.empty() ? 0 : last.rbegin()->first + 1;
    FUZZ_CHECK(index.entries() == entries);
    std::string slots(static_cast<std::size_t>(entries) * 4, '\0');
    for (const auto& [n, r] : last) {
        FUZZ_CHECK(index.lookup(n) == r);
        for (int b = 0; b < 4; ++b)
            slots[static_cast<std::size_t>(n) * 4 + static_cast<std::size_t>(b)] = static_cast<char>(r >> (8 * b));
    }
    FUZZ_CHECK(readBytes(dir + "catalog.idx") == slots);
    FUZZ_CHECK(index.lookup(entries) == 0 && index.lookup(-1) == 0);
    index.close(reporter);
    FUZZ_CHECK(!anyEndsWith(namesIn(dir), ".part"));
    return 0;
}
