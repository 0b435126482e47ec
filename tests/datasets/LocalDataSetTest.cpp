// The writers that need no fetch: comprehensive, user-defined and Palm output.
#include "DataSetWorld.h"
#include "SmallDisk.h"

#include "platform/Errors.h"
#include "platform/File.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qm;
using namespace qm::test;

namespace {

const std::vector<CatalogueObject> kObjects
    = {{25544, "ISS (ZARYA)"}, {5, "VANGUARD 1"}, {300, "OBJECT 300"}, {12, "OBJECT 12"}};
const std::vector<ReportEntry> kReport = {{300, "REPORT 300"}, {5, "REPORT FIVE"}, {1, "REPORT ONE"}};

bool anyLogStartsWith(const RecordingReporter& r, const std::string& prefix)
{
    for (const auto& l : r.logLines)
        if (l.starts_with(prefix))
            return true;
    return false;
}

} // namespace

TEST(ComprehensiveDataSet, ThreeLineIsAByteCopyOfTheCatalogue)
{
    DataSetWorld w(false, kObjects);
    w.writer.BuildComprehensiveDataSet();
    const std::string out = readFile(w.vantoreal("catalog.txt"));
    EXPECT_EQ(out, readFile(w.ctx.CatalogFile));
    EXPECT_EQ(out,
        dataSetRecord("ISS (ZARYA)", 25544) + dataSetRecord("VANGUARD 1", 5) + dataSetRecord("OBJECT 300", 300)
            + dataSetRecord("OBJECT 12", 12));
    EXPECT_EQ(w.reporter.status, "Generating catalog.txt");
    EXPECT_EQ(w.reporter.logLines,
        (std::vector<std::string>{"Generating catalog.txt", "Open [fo3] " + w.vantoreal("catalog.txt"),
            "Open [f3i] " + w.ctx.CatalogFile, "Close [f3i]", "Close [fo3]"}));
}

TEST(ComprehensiveDataSet, TwoLineTakesReportNamesOrUnknown)
{
    // 12 lies below the highest report number but was never reported (a zero record);
    // 301 is one above it, where the table has no record at all.
    std::vector<CatalogueObject> objects = kObjects;
    objects.push_back({301, ""});
    DataSetWorld w(true, objects, kReport);
    w.ctx.FileExtension = 1;
    writeFile(w.vantoreal("catalog.txt"), "older run");
    w.writer.BuildComprehensiveDataSet();
    EXPECT_EQ(readFile(w.vantoreal("catalog.tle")),
        dataSetRecord("UNKNOWN", 25544) + dataSetRecord("REPORT FIVE", 5) + dataSetRecord("REPORT 300", 300)
            + dataSetRecord("UNKNOWN", 12) + dataSetRecord("UNKNOWN", 301));
    EXPECT_EQ(readFile(w.vantoreal("catalog.txt")), "older run");
    EXPECT_TRUE(w.reporter.logged("Open [f2i] " + w.ctx.CatalogFile));
    EXPECT_TRUE(w.reporter.logged("Close [f2i]"));

    // The same names when the objects are picked one by one.
    writeFile(w.user("edge.query"), "  300\r\n  301\r\n");
    w.writer.BuildUserDataSet("edge");
    EXPECT_EQ(readFile(w.user("edge.tle")), dataSetRecord("REPORT 300", 300) + dataSetRecord("UNKNOWN", 301));
}

TEST(UserDataSets, EveryQueryFileOfTheFolderWithoutFetching)
{
    DataSetWorld w(false, kObjects);
    writeFile(w.user("geo.query"), "    5\r\n25544Station\r\n");
    writeFile(w.user("leo.query"), "  300\n");
    writeFile(w.user("notes.txt"), "    5\r\n");
    writeFile(w.user(".query"), "    5\r\n");
    ::mkdir(w.user("dir.query").c_str(), 0777);
    w.writer.BuildUserDataSets();

    EXPECT_EQ(readFile(w.user("geo.txt")), dataSetRecord("VANGUARD 1", 5) + dataSetRecord("Station", 25544));
    EXPECT_EQ(readFile(w.user("leo.txt")), dataSetRecord("OBJECT 300", 300));
    EXPECT_FALSE(exists(w.user("notes.txt.txt")));
    EXPECT_FALSE(exists(w.user(".txt")));
    EXPECT_FALSE(exists(w.user("dir.txt")));

    std::vector<std::string> statuses = w.reporter.statusHistory;
    std::sort(statuses.begin(), statuses.end());
    EXPECT_EQ(statuses,
        (std::vector<std::string>{
            "Generating geo.txt user-defined data set", "Generating leo.txt user-defined data set"}));
    EXPECT_FALSE(anyLogStartsWith(w.reporter, "Retrieving"));
    EXPECT_TRUE(w.reporter.logged("Open [dsi] " + w.user("geo.query")));
    EXPECT_TRUE(w.reporter.logged("Open [fo3] " + w.user("geo.txt")));
    EXPECT_TRUE(w.launcher.opened.empty());
}

TEST(LetterFormNumbers, AMixedCatalogueIsIndexedNamedAndWrittenAsItCame)
{
    // A0000 is below the highest reported number but never reported; Z9999 lies above it.
    const std::vector<CatalogueObject> objects = {{5, ""}, {100000, ""}, {270123, ""}, {99999, ""}, {339999, ""}};
    const std::vector<ReportEntry> report = {{270123, "REPORT T0123"}, {5, "REPORT FIVE"}, {1, "REPORT ONE"}};
    DataSetWorld w(true, objects, report);
    EXPECT_EQ(w.ctx.IndexEntries(), 340000);
    EXPECT_EQ(w.ctx.SsrHighest(), 270123);
    EXPECT_FALSE(exists(w.dir.file("catalog_test.err"))) << "no object is rejected for its number";

    w.writer.BuildComprehensiveDataSet();
    const std::string all = readFile(w.vantoreal("catalog.txt"));
    EXPECT_EQ(all,
        dataSetRecord("REPORT FIVE", 5) + dataSetRecord("UNKNOWN", 100000) + dataSetRecord("REPORT T0123", 270123)
            + dataSetRecord("UNKNOWN", 99999) + dataSetRecord("UNKNOWN", 339999));
    EXPECT_EQ(all.substr(2 * 168 + 26, 69), "1 T0123U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2923");

    // Either form names an object; what is not found is logged in the form it was given.
    writeFile(
        w.user("mixed.query"), "T0123\r\nA0000NAMED IN THE LIST\r\n    5\r\nZ9999\r\nB0000\r\na0000\r\n99999\r\n");
    w.writer.BuildUserDataSet("mixed");
    EXPECT_EQ(readFile(w.user("mixed.txt")),
        dataSetRecord("REPORT T0123", 270123) + dataSetRecord("NAMED IN THE LIST", 100000)
            + dataSetRecord("REPORT FIVE", 5) + dataSetRecord("UNKNOWN", 339999) + dataSetRecord("UNKNOWN", 99999));
    EXPECT_TRUE(w.reporter.logged("Catalog Number B0000 not found."));
    EXPECT_TRUE(w.reporter.logged("Catalog Number 0 not found.")) << "a lower-case letter is no number";
}

TEST(UserDataSets, LongListsKeepTheirOrderNamesAndMessages)
{
    // Far more lines than are looked up at once: numbers found and not found, twice
    // over, with and without a name of their own, in list order throughout.
    std::vector<CatalogueObject> objects;
    std::vector<ReportEntry> report; // highest number first, as the report lists them
    for (int n = 1; n <= 400; n += 3) {
        objects.push_back({n, ""});
        if (n % 2 == 1)
            report.insert(report.begin(), {n, "REPORT " + std::to_string(n)});
    }
    DataSetWorld w(true, objects, report);
    std::string list, expected;
    std::vector<std::string> notFound;
    for (int i = 0; i < 40000; ++i) {
        const int n = 1 + (i * 7919) % 450;
        char line[40];
        const bool named = i % 5 == 0;
        std::snprintf(line, sizeof line, named ? "%5dLINE %d\r\n" : "%5d\r\n", n, i);
        list += line;
        if (n > 400 || (n - 1) % 3 != 0)
            notFound.push_back("Catalog Number " + std::to_string(n) + " not found.");
        else
            expected += dataSetRecord(named ? "LINE " + std::to_string(i)
                    : n % 2 == 1            ? "REPORT " + std::to_string(n)
                                            : "UNKNOWN",
                n);
    }
    writeFile(w.user("long.query"), list);
    w.writer.BuildUserDataSet("long");
    EXPECT_TRUE(readFile(w.user("long.txt")) == expected);
    std::vector<std::string> logged;
    for (const std::string& l : w.reporter.logLines)
        if (l.starts_with("Catalog Number"))
            logged.push_back(l);
    EXPECT_TRUE(logged == notFound);
    EXPECT_EQ(w.reporter.logLines.back(), "Close [f2i]");
}

TEST(UserDataSets, EmptyLinesAndEmptyFilesBuildNoRecords)
{
    DataSetWorld w(false, kObjects);
    writeFile(w.user("gaps.query"), "\r\n    5\r\n\r\n\n  300\r\n\r\n");
    writeFile(w.user("none.query"), "");
    w.writer.BuildUserDataSet("gaps");
    w.writer.BuildUserDataSet("none");
    EXPECT_EQ(readFile(w.user("gaps.txt")), dataSetRecord("VANGUARD 1", 5) + dataSetRecord("OBJECT 300", 300));
    EXPECT_EQ(readFile(w.user("none.txt")), "");
    EXPECT_FALSE(anyLogStartsWith(w.reporter, "Catalog Number"));
}

TEST(UserDataSets, MissingQueryFileIsAnInputOutputError)
{
    DataSetWorld w(false, kObjects);
    EXPECT_THROW(w.writer.BuildUserDataSet("absent"), IoError);
    EXPECT_FALSE(exists(w.user("absent.txt")));
    EXPECT_TRUE(w.leftovers(w.user("")).empty());
}

TEST(PalmOutput, UserSetWithTleExtensionIsConvertedAndHandedOver)
{
    DataSetWorld w(false, kObjects);
    w.ctx.Palm = true;
    w.ctx.FileExtension = 1;
    writeFile(w.user("geo.query"), "    5\r\n");
    w.writer.BuildUserDataSet("geo");

    const std::string pdb = readFile(w.user("geo.pdb"));
    ASSERT_EQ(pdb.size(), 267u);
    EXPECT_EQ(pdb.substr(0, 32), "geo" + std::string(29, '\0'));
    // 1,200,000,000.5 s rounds to the even second.
    EXPECT_EQ(pdb.substr(36, 8), std::string("\x47\x86\x8c\x00\x47\x86\x8c\x00", 8));
    EXPECT_EQ(pdb.substr(102, 25), name24("VANGUARD 1") + "\n");
    EXPECT_EQ(pdb.substr(127, 70), tleLine1(5) + "\n");
    EXPECT_EQ(pdb.substr(197, 70), tleLine2(5) + "\n");
    EXPECT_TRUE(w.reporter.logged("Creating " + w.user("geo.pdb")));
    EXPECT_EQ(w.reporter.status, "Installing geo.pdb");
    ASSERT_EQ(w.launcher.opened.size(), 1u);
    EXPECT_EQ(w.launcher.opened[0], std::make_pair(std::string("geo.pdb"), w.user("")));
}

TEST(PalmOutput, EmptySetStillGivesAHeaderAndIsHandedOver)
{
    DataSetWorld w(false, kObjects);
    w.ctx.Palm = true;
    writeFile(w.user("empty.query"), "99999\r\n");
    w.writer.BuildUserDataSet("empty");
    EXPECT_EQ(readFile(w.user("empty.pdb")).size(), 78u);
    EXPECT_EQ(w.launcher.opened.size(), 1u);
}

TEST(PalmOutput, ThousandSetsFitAndOneMoreIsTruncatedWithAMessage)
{
    DataSetWorld w(false, kObjects);
    w.ctx.Palm = true;
    const std::string truncated = "File big.pdb exceeded Palm file size limit (1,000 TLEs); file truncated";
    std::string list;
    for (int i = 0; i < 1000; ++i)
        list += "    5\r\n";
    writeFile(w.user("big.query"), list);
    w.writer.BuildUserDataSet("big");
    EXPECT_EQ(readFile(w.user("big.pdb")).size(), 78u + 8u * 3000u + 165u * 1000u);
    EXPECT_FALSE(w.reporter.logged(truncated));

    writeFile(w.user("big.query"), list + "  300\r\n");
    w.writer.BuildUserDataSet("big");
    EXPECT_EQ(readFile(w.user("big.txt")).size(), 1001u * 168u);
    const std::string pdb = readFile(w.user("big.pdb"));
    EXPECT_EQ(pdb.size(), 78u + 8u * 3000u + 165u * 1000u);
    EXPECT_EQ(pdb.substr(76, 2), std::string("\x0b\xb8", 2));
    EXPECT_TRUE(w.reporter.logged(truncated));
    EXPECT_EQ(w.reporter.status, "Installing big.pdb");
}

// Writes beyond `bytes` fail as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

TEST(InterruptedWrite, FailedReadLeavesTheOlderDataSetAndNoPartialFile)
{
    DataSetWorld w(false, kObjects);
    writeFile(w.user("geo.query"), "   77\r\n    5\r\n  300\r\n   88\r\n");
    writeFile(w.user("geo.txt"), "previous data set");
    // The catalogue loses its last records after indexing: reading them fails mid-way.
    ASSERT_EQ(::truncate(w.ctx.CatalogFile.c_str(), 2 * 168 + 100), 0);

    try {
        w.writer.BuildUserDataSet("geo");
        FAIL() << "no error";
    } catch (const IoError& e) {
        EXPECT_EQ(std::string(e.what()), "Read beyond end of file " + w.ctx.CatalogFile);
    }
    EXPECT_EQ(readFile(w.user("geo.txt")), "previous data set");
    EXPECT_TRUE(w.leftovers(w.user("")).empty());
    // The lines before the failing one are done, the lines after it are not.
    EXPECT_TRUE(w.reporter.logged("Catalog Number 77 not found."));
    EXPECT_FALSE(w.reporter.logged("Catalog Number 88 not found."));
}

TEST(InterruptedWrite, FullDiskLeavesTheOlderCatalogueAndDatabase)
{
    DataSetWorld w(false, kObjects);
    w.ctx.Palm = true;
    writeFile(w.vantoreal("catalog.txt"), "previous catalogue");
    writeFile(w.user("geo.pdb"), "previous database");
    writeFile(w.user("geo.query"), "    5\r\n");
    {
        FileSizeLimit limit(200);
        EXPECT_THROW(w.writer.BuildComprehensiveDataSet(), IoError);
        // The 168-byte data set fits; its 267-byte database does not.
        EXPECT_THROW(w.writer.BuildUserDataSet("geo"), IoError);
    }
    EXPECT_EQ(readFile(w.vantoreal("catalog.txt")), "previous catalogue");
    EXPECT_EQ(readFile(w.user("geo.pdb")), "previous database");
    EXPECT_EQ(readFile(w.user("geo.txt")), dataSetRecord("VANGUARD 1", 5));
    EXPECT_TRUE(w.leftovers(w.vantoreal("")).empty());
    EXPECT_TRUE(w.leftovers(w.user("")).empty());
    EXPECT_TRUE(w.launcher.opened.empty());
}

TEST(InterruptedWrite, NextWriteClearsWhatACrashLeftBehind)
{
    DataSetWorld w(false, kObjects);
    w.ctx.Palm = true;
    writeFile(w.user("geo.query"), "    5\r\n");
    writeFile(w.user(".geo.txt.0badc0de.part"), "cut off");
    writeFile(w.user(".geo.pdb.12345678.part"), "cut off");
    writeFile(w.user(".geo.txt.notmine.part"), "someone else's");
    w.writer.BuildUserDataSet("geo");
    EXPECT_EQ(w.leftovers(w.user("")), std::vector<std::string>{".geo.txt.notmine.part"});
    EXPECT_EQ(readFile(w.user("geo.txt")), dataSetRecord("VANGUARD 1", 5));
}

TEST(InterruptedWrite, LinkedOutputsAreWrittenThroughTheLink)
{
    DataSetWorld w(false, kObjects);
    w.ctx.Palm = true;
    writeFile(w.user("geo.query"), "    5\r\n");
    ::mkdir(w.dir.file("elsewhere").c_str(), 0777);
    for (const char* file : {"geo.txt", "geo.pdb"}) {
        writeFile(w.dir.file("elsewhere/") + file, "older");
        ASSERT_EQ(::symlink((w.dir.file("elsewhere/") + file).c_str(), w.user(file).c_str()), 0);
    }
    w.writer.BuildUserDataSet("geo");
    EXPECT_EQ(readFile(w.dir.file("elsewhere/geo.txt")), dataSetRecord("VANGUARD 1", 5));
    EXPECT_EQ(readFile(w.dir.file("elsewhere/geo.pdb")).size(), 267u);
    struct stat st { };
    EXPECT_TRUE(::lstat(w.user("geo.txt").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    EXPECT_TRUE(::lstat(w.user("geo.pdb").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
}

TEST(InterruptedWrite, OnAFullDiskEveryWriterReportsAndKeepsTheOlderFiles)
{
    SmallDisk disk;
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    DataSetWorld w(false, kObjects);
    w.ctx.Palm = true;
    w.ctx.MyTLEsDir = disk.path();
    ::mkdir(disk.file("Vantoreal").c_str(), 0777);
    ::mkdir(disk.file("User").c_str(), 0777);
    writeFile(disk.file("Vantoreal/catalog.txt"), "previous catalogue");
    writeFile(disk.file("User/geo.txt"), "previous data set");
    writeFile(disk.file("User/geo.pdb"), "previous database");
    writeFile(disk.file("User/geo.query"), "    5\r\n  300\r\n");
    writeFile(disk.file("User/pdb.query"), "    5\r\n");
    writeFile(disk.file("User/pdb.txt"), dataSetRecord("VANGUARD 1", 5));
    writeFile(disk.file("User/pdb.pdb"), "previous database");
    disk.leaveFree(0);

    const auto errorOf = [](const auto& call) -> std::string {
        try {
            call();
        } catch (const IoError& e) {
            return e.what();
        }
        return "(no error)";
    };
    const std::string noSpace = ": No space left on device";
    EXPECT_EQ(errorOf([&] { w.writer.BuildComprehensiveDataSet(); }),
        "Unable to write to " + disk.file("Vantoreal/catalog.txt") + noSpace);
    EXPECT_EQ(errorOf([&] { w.writer.BuildUserDataSet("geo"); }),
        "Unable to write to " + disk.file("User/geo.txt") + noSpace);
    // The Palm database alone, from a data set already in place.
    EXPECT_EQ(errorOf([&] { w.writer.BuildPalmDatabase("pdb", disk.file("User/")); }),
        "Unable to write to " + disk.file("User/pdb.pdb") + noSpace);

    EXPECT_EQ(readFile(disk.file("Vantoreal/catalog.txt")), "previous catalogue");
    EXPECT_EQ(readFile(disk.file("User/geo.txt")), "previous data set");
    EXPECT_EQ(readFile(disk.file("User/geo.pdb")), "previous database");
    EXPECT_EQ(readFile(disk.file("User/pdb.pdb")), "previous database");
    EXPECT_TRUE(w.leftovers(disk.file("Vantoreal/")).empty());
    EXPECT_TRUE(w.leftovers(disk.file("User/")).empty());
    EXPECT_TRUE(w.launcher.opened.empty());
}
