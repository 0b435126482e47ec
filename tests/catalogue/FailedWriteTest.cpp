// Writes that fail part-way (a full disk, a rename the system refuses): every stage
// reports the input/output error, leaves no work file and never replaces a good file
// with a half-written one.
#include "catalogue/Archive.h"
#include "catalogue/CatalogIndex.h"
#include "catalogue/SsrTable.h"
#include "catalogue/TLESupport.h"

#include "ArchiveMaker.h"
#include "RecordingReporter.h"
#include "SmallDisk.h"
#include "TempDir.h"
#include "TleSamples.h"
#include "Unprivileged.h"
#include "platform/Errors.h"
#include "platform/File.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace qm;
using namespace qm::test;

namespace {

// The error text of a call that must fail with an input/output error.
template <typename Call> std::string ioErrorOf(Call call)
{
    try {
        call();
    } catch (const IoError& e) {
        return e.what();
    }
    return "(no error)";
}

// Names in a folder other than the filler that takes up the disk.
std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const std::string& name : listDirectory(folder))
        if (!name.starts_with(".filler"))
            names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

constexpr const char* kNoSpace = "No space left on device";

std::string objectWithNumber(int n)
{
    char number[8];
    std::snprintf(number, sizeof number, "%05d", n);
    return withChecksum(put(kIssLine1, 3, number)) + "\n" + withChecksum(put(kIssLine2, 3, number)) + "\n";
}

class FullDisk : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!disk.mounted())
            GTEST_SKIP() << disk.reason();
    }
    SmallDisk disk;
    RecordingReporter reporter;
};

TEST_F(FullDisk, CheckStageLinePassKeepsTheTextAndLeavesNoWorkFile)
{
    const std::string catalog = disk.file("catalog_full.txt");
    std::string text;
    for (int i = 0; i < 1000; ++i)
        text += objectWithNumber(i);
    writeFile(catalog, text);
    disk.leaveFree(text.size() / 2);

    const std::string error = ioErrorOf([&] { CheckCatalog(catalog, true, reporter); });
    EXPECT_EQ(error, "Unable to write to " + catalog + ".tmp: " + kNoSpace);
    EXPECT_TRUE(readFile(catalog) == text);
    EXPECT_EQ(namesIn(disk.path()), std::vector<std::string>{"catalog_full.txt"});
}

TEST_F(FullDisk, CheckStageErrorFileThatDoesNotFitKeepsTheText)
{
    // Lines of half a TLE line double in size as rejected records: the error file
    // does not fit.
    const std::string catalog = disk.file("catalog_full.txt");
    std::string text;
    for (int i = 0; i < 1000; ++i)
        text += "1 " + std::string(32, 'a') + "\n2 " + std::string(32, 'b') + "\n";
    writeFile(catalog, text);
    disk.leaveFree(100 * 1000);

    const std::string error = ioErrorOf([&] { CheckCatalog(catalog, true, reporter); });
    EXPECT_EQ(error, "Unable to write to " + disk.file("catalog_full.err") + ": " + kNoSpace);
    EXPECT_TRUE(readFile(catalog) == text);
    EXPECT_EQ(namesIn(disk.path()), std::vector<std::string>{"catalog_full.txt"});
}

TEST_F(FullDisk, IndexAndReportTableKeepTheLastRunsFiles)
{
    TempDir work;
    ScopedCurrentDir cwd(disk.path());
    writeFile(disk.file("catalog.idx"), "last run's index");
    writeFile(disk.file("ssr.dat"), "last run's table");

    // Numbers spread over the whole range touch every page of the index.
    std::string catalogue;
    for (int n = 0; n < 100000; n += 97)
        catalogue += pairOf(withChecksum(put(kIssLine1, 3, std::to_string(10000 + n % 90000))),
            withChecksum(put(kIssLine2, 3, std::to_string(10000 + n % 90000))));
    writeFile(work.file("catalog.txt"), catalogue);
    std::string report = std::string(SsrTable::kHeader) + "\n1\n2\n3\n";
    for (int n = 20000; n > 1; n -= 3)
        report += "1998-067A       " + std::to_string(10000 + n) + "\nNAME\n";
    writeFile(work.file("ssr.txt"), report);
    disk.leaveFree(64 * 1024);

    CatalogIndex index;
    EXPECT_EQ(ioErrorOf([&] { index.build(work.file("catalog.txt"), true, reporter); }),
        std::string("Unable to write to catalog.idx: ") + kNoSpace);
    EXPECT_FALSE(index.isOpen());
    SsrTable table;
    EXPECT_EQ(ioErrorOf([&] { table.buildFromText(work.file("ssr.txt"), reporter); }),
        std::string("Unable to write to ssr.dat: ") + kNoSpace);
    EXPECT_FALSE(table.isOpen());

    // (Compared as a whole: a half-written table would be too long to print.)
    EXPECT_TRUE(readFile(disk.file("catalog.idx")) == "last run's index");
    EXPECT_TRUE(readFile(disk.file("ssr.dat")) == "last run's table");
    EXPECT_EQ(namesIn(disk.path()), (std::vector<std::string>{"catalog.idx", "ssr.dat"}));
}

TEST_F(FullDisk, ArchiveMemberThatDoesNotFitIsSkippedOrReportedWithoutATrace)
{
    TempDir work;
    const std::string big(600 * 1024, 'c');
    makeZip(work.file("catalog.zip"), {{"catalog_a.txt", big}, {"catalog_b.txt", "small"}});
    makeGzip(work.file("catalog_c.txt.gz"), big);
    writeFile(disk.file("catalog_a.txt"), "an older text");
    disk.leaveFree(256 * 1024);

    ZipArchive zip;
    zip.open(work.file("catalog.zip"));
    EXPECT_EQ(zip.extract("catalog*.*", disk.path()), 1);
    GzipFile gz;
    gz.open(work.file("catalog_c.txt.gz"));
    EXPECT_EQ(gz.extract("*.txt", disk.path()), 0);

    EXPECT_EQ(readFile(disk.file("catalog_a.txt")), "an older text");
    EXPECT_EQ(readFile(disk.file("catalog_b.txt")), "small");
    EXPECT_EQ(namesIn(disk.path()), (std::vector<std::string>{"catalog_a.txt", "catalog_b.txt"}));

    // The one text a run reads: its write error is the run's to report.
    const std::string expected = "Unable to write to " + disk.file("catalog_a.txt") + ": " + kNoSpace;
    EXPECT_EQ(ioErrorOf([&] { zip.extractOne("catalog*.*", disk.file("catalog_a.txt")); }), expected);
    EXPECT_EQ(ioErrorOf([&] { gz.extractOne("*.txt", disk.file("catalog_c.txt")); }),
        "Unable to write to " + disk.file("catalog_c.txt") + ": " + kNoSpace);
    EXPECT_EQ(readFile(disk.file("catalog_a.txt")), "an older text");
    EXPECT_EQ(namesIn(disk.path()), (std::vector<std::string>{"catalog_a.txt", "catalog_b.txt"}));
}

// A rename the system refuses: in a sticky folder only a file's owner may replace it.
TEST(FailedRename, CheckStageReportsItAndKeepsTheText)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a refused rename is provoked through another user's file, which needs root";
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);
    const std::string catalog = dir.file("catalog_2024.txt");
    const std::string text = objectWithNumber(25544);
    writeFile(catalog, text);
    ASSERT_EQ(::chmod(catalog.c_str(), 0644), 0);

    const std::string failure = runUnprivileged([&]() -> std::string {
        RecordingReporter reporter;
        const std::string error = ioErrorOf([&] { CheckCatalog(catalog, true, reporter); });
        const std::string expected = "Unable to rename " + catalog + ".tmp to " + catalog + ": Operation not permitted";
        if (error != expected)
            return "error: " + error;
        if (listDirectory(dir.path()).size() != 1)
            return "a work file was left";
        return {};
    });
    EXPECT_EQ(failure, "");
    EXPECT_EQ(readFile(catalog), text);
}

} // namespace
