// The report of what changed between two checked catalogues, on small hand-made
// three-line catalogues: one row per object, before and after, and the lines it must give.
#include "DataSetWorld.h"

#include "datasets/CatalogueChanges.h"
#include "platform/File.h"

#include <gtest/gtest.h>

#include <optional>

using namespace qm;
using namespace qm::test;

namespace {

// The fields a row changes; the rest is the template of DataSetWorld.
struct Fields {
    std::string name = {};
    std::string epoch = "24366.00000000"; // 2024-12-31 00:00:00, the newest of both catalogues
    std::string inclination = " 51.6416";
    std::string eccentricity = "0006703";
    std::string meanMotion = "15.72125391";
    std::string halfRate = " .00000000";
    std::string designator = "98067A  ";
};

struct Row {
    int number;
    std::optional<Fields> before;
    std::optional<Fields> after;
    std::vector<std::string> lines; // of the report of `after` against `before`
};

std::string put(std::string line, int column, const std::string& text)
{
    line.replace(std::size_t(column - 1), text.size(), text);
    line[68] = TLE_Checksum(line.data());
    return line;
}

std::string object(int n, const Fields& f)
{
    std::string l1 = put(put(put(tleLine1(n), 10, f.designator), 19, f.epoch), 34, f.halfRate);
    std::string l2 = put(put(put(tleLine2(n), 9, f.inclination), 27, f.eccentricity), 53, f.meanMotion);
    return f.name + "\n" + l1 + "\n" + l2 + "\n";
}

Fields with(std::string name, Fields f = {})
{
    f.name = std::move(name);
    return f;
}

// Kind, number and name in their columns, then the rest.
std::string line(const std::string& kind, const std::string& number, const std::string& name, const std::string& rest)
{
    return (kind + "     ").substr(0, 6) + number + " " + name24(name) + " " + rest + "\n";
}

const std::string kNewest = "2024-12-31 00:00:00";

const std::vector<Row> kRows = {
    {5, with("UNCHANGED"), with("UNCHANGED"), {}},
    {11, with("GONE OBJECT"), {}, {line("GONE", "00011", "GONE OBJECT", kNewest)}},
    {12, {}, with("NEW OBJECT", {.designator = "24001B  "}),
        {line("NEW", "00012", "NEW OBJECT", kNewest + "  24001B")}},
    {13, with("INCLINATION BELOW"), with("INCLINATION BELOW", {.inclination = " 51.6915"}), {}},
    {14, with("INCLINATION AT"), with("INCLINATION AT", {.inclination = " 51.6916"}),
        {line("JUMP", "00014", "INCLINATION AT", "inclination 51.6416 -> 51.6916")}},
    {15, with("ECCENTRICITY BELOW"), with("ECCENTRICITY BELOW", {.eccentricity = "0016702"}), {}},
    {16, with("ECCENTRICITY AT"), with("ECCENTRICITY AT", {.eccentricity = "0016703"}),
        {line("JUMP", "00016", "ECCENTRICITY AT", "eccentricity 0.0006703 -> 0.0016703")}},
    {17, with("MEAN MOTION BELOW"), with("MEAN MOTION BELOW", {.meanMotion = "15.73125390"}), {}},
    {18, with("MEAN MOTION AT"), with("MEAN MOTION AT", {.meanMotion = "15.73125391"}),
        {line("JUMP", "00018", "MEAN MOTION AT", "mean motion 15.72125391 -> 15.73125391")}},
    // 2.5 days at half a derivative of 0.001 predict 0.005 rev/day more.
    {19, with("PREDICTED BELOW", {.epoch = "24363.50000000", .halfRate = " .00100000"}),
        with("PREDICTED BELOW", {.meanMotion = "15.73625390"}), {}},
    {20, with("PREDICTED AT", {.epoch = "24363.50000000", .halfRate = " .00100000"}),
        with("PREDICTED AT", {.meanMotion = "15.73625391"}),
        {line("JUMP", "00020", "PREDICTED AT", "mean motion 15.72125391 -> 15.73625391")}},
    {21, with("ALMOST STALE", {.epoch = "24359.00000001"}), with("ALMOST STALE", {.epoch = "24359.00000001"}), {}},
    {22, with("STALE", {.epoch = "24359.00000000"}), with("STALE", {.epoch = "24359.00000000"}),
        {line("STALE", "00022", "STALE", "2024-12-24 00:00:00       7.0 days")}},
    {30, with("OLD NAME"), with("NEW NAME"), {}},
    {100000, {}, with("LETTER NEW"), {line("NEW", "A0000", "LETTER NEW", kNewest + "  98067A")}},
    {270123, with("LETTER JUMP", {.epoch = "24350.00000000"}),
        with("LETTER JUMP", {.epoch = "24350.50000000", .inclination = " 53.0000"}),
        {line("JUMP", "T0123", "LETTER JUMP", "inclination 51.6416 -> 53.0000"),
            line("STALE", "T0123", "LETTER JUMP", "2024-12-15 12:00:00      15.5 days")}},
    {339999, with("LETTER GONE"), {}, {line("GONE", "Z9999", "LETTER GONE", kNewest)}},
};

std::string head(const std::string& previous, int objects, int added, int gone, int jumped, int stale)
{
    char text[512];
    std::snprintf(text, sizeof text,
        "Catalogue changes since the last completed processing run\nPrevious catalogue  %s\n"
        "Current catalogue   %s  %6d objects\nNew     %6d\nGone    %6d\nJumped  %6d\nStale   %6d\n\n",
        previous.c_str(), kNewest.c_str(), objects, added, gone, jumped, stale);
    return text;
}

// One processing run's comparison of the catalogue the world holds; the log lines it adds.
std::vector<std::string> compare(DataSetWorld& world)
{
    world.reporter.logLines.clear();
    CatalogueChanges changes;
    changes.compare(world.ctx);
    changes.commit(world.reporter);
    return world.reporter.logLines;
}

} // namespace

TEST(CatalogueChanges, EachKindAtItsThresholdAndNothingElse)
{
    std::string before, after;
    // Catalogue order is not number order: the index gives it.
    for (auto row = kRows.rbegin(); row != kRows.rend(); ++row) {
        if (row->before)
            before += object(row->number, *row->before);
        if (row->after)
            after = object(row->number, *row->after) + after;
    }
    DataSetWorld world(false, before);
    const std::string report = world.dir.file("Changes.txt");

    // The first run has nothing to compare with: the head and the stale objects only.
    const std::string none = "none (nothing to compare with)";
    EXPECT_EQ(compare(world),
        (std::vector<std::string>{"Changes: no state of an earlier processing run; only stale objects are reported",
            "Changes: 0 new, 0 gone, 0 jumped, 2 stale (Changes.txt)"}));
    EXPECT_EQ(readFile(report),
        head(none, 15, 0, 0, 0, 2) + line("STALE", "00022", "STALE", "2024-12-24 00:00:00       7.0 days")
            + line("STALE", "T0123", "LETTER JUMP", "2024-12-15 00:00:00      16.0 days"));

    world.useCatalogue(false, after, {});
    EXPECT_EQ(compare(world), std::vector<std::string>{"Changes: 2 new, 2 gone, 5 jumped, 2 stale (Changes.txt)"});
    std::string expected = head(kNewest + "      15 objects", 15, 2, 2, 5, 2);
    for (const Row& row : kRows)
        for (const std::string& l : row.lines)
            expected += l;
    EXPECT_EQ(readFile(report), expected);
    EXPECT_TRUE(world.leftovers(world.dir.path()).empty());

    // A damaged, short or missing state is one log line, and a comparison with nothing.
    const std::string state = world.dir.file(CatalogueChanges::kStateFile);
    std::string bytes = readFile(state);
    bytes[bytes.find("NEW NAME")] = 'M';
    const std::vector<std::pair<std::string, std::string>> damages = {
        {bytes, "changes.dat ignored: checksum or count does not match"},
        {bytes.substr(0, 27), "changes.dat ignored: too short"}, {"", "no state of an earlier processing run"}};
    for (const auto& [content, reason] : damages) {
        if (content.empty())
            removeFile(state);
        else
            writeFile(state, content);
        EXPECT_EQ(compare(world),
            (std::vector<std::string>{"Changes: " + reason + "; only stale objects are reported",
                "Changes: 0 new, 0 gone, 0 jumped, 2 stale (Changes.txt)"}));
        EXPECT_TRUE(readFile(report).starts_with(head(none, 15, 0, 0, 0, 2))) << reason;
    }
}

// A catalogue large enough to be compared in two parts at once, in both forms: the
// table's rows of numbers below 40 again and again, 40 numbers apart. The report must
// read as the rows' lines in number order, and the state it leaves must read back.
TEST(CatalogueChanges, LargeCataloguesReadAsTheRowsInNumberOrder)
{
    constexpr int kBlocks = 1500;
    for (const bool twoLine : {false, true}) {
        std::string before, after, expected;
        std::vector<ReportEntry> names;
        int previous = 0, objects = 0, stale = 0;
        for (int k = 0; k < kBlocks; ++k)
            for (const Row& row : kRows) {
                if (row.number >= 40)
                    continue;
                const int n = k * 40 + row.number;
                const auto text = [&](const Fields& f) {
                    std::string o = object(n, f);
                    return twoLine ? o.substr(o.find('\n') + 1) : o;
                };
                before += row.before ? text(*row.before) : "";
                after += row.after ? text(*row.after) : "";
                previous += row.before.has_value();
                objects += row.after.has_value();
                names.push_back({n, (row.after ? row.after : row.before)->name});
                for (std::string l : row.lines) {
                    stale += l.starts_with("STALE");
                    expected += l.replace(6, 5, catalogText(n));
                }
            }
        DataSetWorld world(twoLine, std::vector<CatalogueObject>{{1, "ONE"}}, names);
        world.useCatalogue(twoLine, before, names);
        compare(world);
        world.useCatalogue(twoLine, after, names);
        char previousText[32];
        std::snprintf(previousText, sizeof previousText, "%6d objects", previous);
        const std::string counts = std::to_string(kBlocks) + " new, " + std::to_string(kBlocks) + " gone, "
            + std::to_string(4 * kBlocks) + " jumped, " + std::to_string(stale) + " stale (Changes.txt)";
        EXPECT_EQ(compare(world), std::vector<std::string>{"Changes: " + counts});
        // Tens of thousands of lines: told apart, not printed.
        EXPECT_TRUE(readFile(world.dir.file("Changes.txt"))
            == head(kNewest + "  " + previousText, objects, kBlocks, kBlocks, 4 * kBlocks, stale) + expected)
            << "two-line " << twoLine;
        // Against itself: nothing but the stale ones.
        EXPECT_EQ(compare(world),
            std::vector<std::string>{
                "Changes: 0 new, 0 gone, 0 jumped, " + std::to_string(stale) + " stale (Changes.txt)"});
    }
}
