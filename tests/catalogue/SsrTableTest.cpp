#include "catalogue/SsrTable.h"

#include "ArchiveMaker.h"
#include "RecordingReporter.h"
#include "TempDir.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

using namespace qm;
using namespace qm::test;

namespace {

std::string entry(const std::string& designator, const std::string& number, const std::string& name)
{
    std::string data = designator;
    data.resize(16, ' ');
    data += number + "  PAY  USA    1998-11-20";
    return data + "\r\n" + name + "\r\n";
}

const std::string kHead = "Some banner\r\nSatellite Situation Report Objects in Orbit\r\n"
                          "INTLDES     CAT#  ...\r\n"
    + entry("1900-999A", "00777", "NEVER AN ENTRY");

std::string record(const std::string& ssr, int n)
{
    return ssr.substr(static_cast<std::size_t>(40 * n), 40);
}

class SsrStage : public ::testing::Test {
protected:
    TempDir dir;
    TempDir cwdDir;
    ScopedCurrentDir cwd{cwdDir.path()};
    RecordingReporter reporter;
    SsrTable table;
    std::string ssrDat() const { return readFile(cwdDir.file("ssr.dat")); }
};

TEST_F(SsrStage, ExtractsTheReportAndTabulatesByNumber)
{
    const std::string text = kHead + entry("1998-067A", "25544", "ISS (ZARYA)") + entry("1998-067B", "  123", "SHORT")
        + entry("1957-001B", "00002", "SPUTNIK 1") + entry("2000-001A", "  123", "LATER WINS")
        + entry("1957-001A", "00001", "SL-1 R/B") + entry("2099-001A", "  300", "AFTER THE LAST");
    makeZip(dir.file("ssr_2024.zip"), {{"ssr_2024.txt", text}, {"readme.doc", "x"}});
    table.build(dir.file("ssr_2024.zip"), dir.path(), reporter);

    EXPECT_EQ(table.textFile(), dir.file("ssr_2024.txt"));
    EXPECT_EQ(readFile(table.textFile()), text);
    EXPECT_FALSE(exists(dir.file("readme.doc")));
    EXPECT_EQ(table.highest(), 25544);
    const std::string ssr = ssrDat();
    ASSERT_EQ(ssr.size(), 40u * 25545);
    EXPECT_EQ(record(ssr, 25544), "1998-067A  25544ISS (ZARYA)             ");
    EXPECT_EQ(record(ssr, 123), "2000-001A    123LATER WINS              ");
    EXPECT_EQ(record(ssr, 1), "1957-001A  00001SL-1 R/B                ");
    EXPECT_EQ(record(ssr, 777), std::string(40, '\0')) << "lines after the header are never an entry";
    EXPECT_EQ(record(ssr, 300), std::string(40, '\0')) << "entries after the one of number 1 are not read";
    char name[24];
    table.readName(2, name);
    EXPECT_EQ(std::string(name, 24), "SPUTNIK 1               ");

    EXPECT_EQ(reporter.statusHistory, (std::vector<std::string>{"Extracting SSR data", "Indexing SSR data"}));
    EXPECT_TRUE(reporter.logged("Open [fs] " + dir.file("ssr_2024.txt")));
    EXPECT_TRUE(reporter.logged("Open [fssr] ssr.dat"));
    EXPECT_EQ(reporter.logLines.back(), "Close [fs]");
    table.close(reporter);
    EXPECT_EQ(reporter.logLines.back(), "Close [fssr]");
}

TEST_F(SsrStage, LetterFormNumbersHaveTheirOwnRecords)
{
    writeFile(dir.file("ssr.txt"),
        kHead + entry("2024-123AB", "T0123", "OBJECT T0123") + entry("1998-067A", "25544", "ISS (ZARYA)")
            + entry("2024-124A", "t0124", "LOWER CASE") + entry("1957-001A", "00001", "SL-1 R/B"));
    table.buildFromText(dir.file("ssr.txt"), reporter);
    EXPECT_EQ(table.highest(), 270123);
    const std::string ssr = ssrDat();
    ASSERT_EQ(ssr.size(), 40u * 270124);
    EXPECT_EQ(record(ssr, 270123), "2024-123AB T0123OBJECT T0123            ");
    EXPECT_EQ(record(ssr, 25544), "1998-067A  25544ISS (ZARYA)             ");
    EXPECT_EQ(record(ssr, 0), "2024-124A  t0124LOWER CASE              ") << "a lower-case letter is no number";
    char name[24];
    table.readName(270123, name);
    EXPECT_EQ(std::string(name, 24), "OBJECT T0123            ");
}

TEST_F(SsrStage, MissingReportTextIsAFatalStop)
{
    makeZip(dir.file("ssr_2024.zip"), {{"ssr_2023.txt", "other"}});
    try {
        table.build(dir.file("ssr_2024.zip"), dir.path(), reporter);
        FAIL() << "no fatal stop";
    } catch (const FatalStop& stop) {
        EXPECT_EQ(stop.message, "File " + dir.file("ssr_2024.txt") + " not found.");
        EXPECT_TRUE(reporter.logged(stop.message));
    }
    writeFile(dir.file("bad.zip"), "not an archive at all, not even close to one");
    EXPECT_THROW(table.build(dir.file("bad.zip"), dir.path(), reporter), IoError);
}

TEST_F(SsrStage, ReportsThatEndEarlyStopAtTheEndOfText)
{
    writeFile(dir.file("noheader.txt"), entry("1998-067A", "25544", "ISS (ZARYA)"));
    table.buildFromText(dir.file("noheader.txt"), reporter);
    EXPECT_EQ(table.highest(), -1);
    EXPECT_EQ(ssrDat(), "");

    // No entry for number 1, a short data line, and a data line without its name line.
    writeFile(dir.file("short.txt"), kHead + entry("1998-067A", "00010", "TEN") + "1999-01A\n");
    table.buildFromText(dir.file("short.txt"), reporter);
    EXPECT_EQ(table.highest(), 10);
    EXPECT_EQ(record(ssrDat(), 10), "1998-067A  00010TEN                     ");
    EXPECT_EQ(record(ssrDat(), 0), std::string(40, '\0'));

    writeFile(dir.file("short2.txt"), kHead + "1998-067\n  00007\n" + entry("x", "-0005", "NEGATIVE"));
    table.buildFromText(dir.file("short2.txt"), reporter);
    EXPECT_EQ(table.highest(), 0) << "an unreadable number lands in record 0, a negative one nowhere";
    EXPECT_EQ(record(ssrDat(), 0), "1998-067" + std::string(10, ' ') + "00007" + std::string(17, ' '));
}

} // namespace
