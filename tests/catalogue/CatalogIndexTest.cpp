#include "catalogue/CatalogIndex.h"

#include "RecordingReporter.h"
#include "TempDir.h"
#include "TleSamples.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

using namespace qm;
using namespace qm::test;

namespace {

std::string objectWithNumber(const std::string& number, bool twoLine)
{
    const std::string pair = pairOf(put(kIssLine1, 3, number), put(kIssLine2, 3, number));
    return twoLine ? pair : name24("OBJECT " + number) + pair;
}

std::int32_t slot(const std::string& idx, int n)
{
    const auto* p = reinterpret_cast<const unsigned char*>(idx.data() + 4 * n);
    return static_cast<std::int32_t>(p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24);
}

class IndexStage : public ::testing::TestWithParam<bool> {
protected:
    TempDir dir;
    ScopedCurrentDir cwd{dir.path()};
    RecordingReporter reporter;
    std::string catalog = dir.file("catalog.txt");
    CatalogIndex index;
};

TEST_P(IndexStage, OneSlotPerNumberHoldingTheOneBasedRecord)
{
    const bool two = GetParam();
    writeFile(catalog, objectWithNumber("00005", two) + objectWithNumber("  300", two));
    index.build(catalog, two, reporter);
    ASSERT_EQ(index.entries(), 301);
    const std::string idx = readFile(dir.file("catalog.idx"));
    ASSERT_EQ(idx.size(), 1204u);
    for (int n = 0; n < 301; ++n)
        EXPECT_EQ(slot(idx, n), n == 5 ? 1 : n == 300 ? 2 : 0) << n;
    EXPECT_EQ(index.lookup(5), 1);
    EXPECT_EQ(index.lookup(300), 2);
    EXPECT_EQ(index.lookup(6), 0);
    EXPECT_EQ(index.lookup(301), 0);
    EXPECT_EQ(index.lookup(-1), 0);

    const std::string tag = two ? "f2i" : "f3i";
    const std::vector<std::string> expected = {two ? "Indexing TLE file (2)" : "Indexing TLE file (3)",
        "Open [" + tag + "] " + catalog, "Open [indexfile] catalog.idx", "Close [" + tag + "]"};
    EXPECT_EQ(reporter.logLines, expected);
    index.close(reporter);
    EXPECT_EQ(reporter.logLines.back(), "Close [indexfile]");
}

TEST_P(IndexStage, LaterDuplicateWinsAndBadNumbersLandOrVanish)
{
    const bool two = GetParam();
    std::string text;
    for (int r = 1; r <= 8; ++r)
        text += objectWithNumber(r == 3 || r == 7 ? "00042" : r == 5 ? "-0012" : r == 6 ? "12 3 " : "00010", two);
    writeFile(catalog, text);
    index.build(catalog, two, reporter);
    EXPECT_EQ(index.lookup(42), 7);
    EXPECT_EQ(index.lookup(10), 8);
    EXPECT_EQ(index.lookup(0), 6) << "an unreadable number counts as 0";
    EXPECT_EQ(index.entries(), 43) << "a negative number gets no slot";
}

TEST_P(IndexStage, LetterFormNumbersGrowTheIndexToTheHighest)
{
    const bool two = GetParam();
    writeFile(catalog,
        objectWithNumber("A0000", two) + objectWithNumber("00005", two) + objectWithNumber("Z9999", two)
            + objectWithNumber("J0001", two) + objectWithNumber("i0001", two));
    index.build(catalog, two, reporter);
    ASSERT_EQ(index.entries(), 340000);
    const std::string idx = readFile(dir.file("catalog.idx"));
    ASSERT_EQ(idx.size(), 1360000u);
    int used = 0;
    for (int n = 0; n < 340000; ++n)
        used += slot(idx, n) != 0;
    EXPECT_EQ(used, 5);
    EXPECT_EQ(slot(idx, 100000), 1);
    EXPECT_EQ(slot(idx, 5), 2);
    EXPECT_EQ(slot(idx, 339999), 3);
    EXPECT_EQ(slot(idx, 180001), 4);
    EXPECT_EQ(slot(idx, 0), 5) << "a lower-case letter is no number";
    EXPECT_EQ(index.lookup(339999), 3);
    EXPECT_EQ(index.lookup(340000), 0);
}

TEST_P(IndexStage, EmptyCatalogueIsAFatalStopWithoutANewIndex)
{
    const bool two = GetParam();
    writeFile(dir.file("catalog.idx"), "old!");
    writeFile(catalog, std::string(two ? 141 : 167, ' ')); // a part-record is no record
    try {
        index.build(catalog, two, reporter);
        FAIL() << "no fatal stop";
    } catch (const FatalStop& stop) {
        const std::string text
            = std::string("Catalog (") + (two ? "2" : "3") + ") file is empty. Input file was corrupt.";
        EXPECT_EQ(stop.message, text);
        EXPECT_TRUE(reporter.logged(text));
        EXPECT_EQ(reporter.logLines.back(), two ? "Close [f2i]" : "Close [f3i]");
    }
    EXPECT_EQ(readFile(dir.file("catalog.idx")), "old!");
    EXPECT_FALSE(index.isOpen());
}

TEST_P(IndexStage, GathersTheNewestEpochOnItsWay)
{
    const bool two = GetParam();
    std::string text;
    int number = 0;
    for (const char* epoch : {"98365.90000000", "02012.25000000", "02011.99999999"}) {
        const std::string l1 = put(put(kIssLine1, 3, "0000" + std::to_string(++number)), 19, epoch);
        const std::string pair = pairOf(l1, put(kIssLine2, 3, "0000" + std::to_string(number)));
        text += two ? pair : name24("OBJECT") + pair;
    }
    writeFile(catalog, text);
    index.build(catalog, two, reporter);
    EXPECT_EQ(index.newestEpoch(), (TleEpoch{2002, 12, 25000000}));
}

INSTANTIATE_TEST_SUITE_P(BothForms, IndexStage, ::testing::Bool());

} // namespace
