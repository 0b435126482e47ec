// The processing run against a fake window: archives built with libarchive, the
// publisher on a loopback server, prompts scripted, every status and log line recorded.
#include "ArchiveMaker.h"
#include "DataSetWorld.h"
#include "Publisher.h"
#include "QtCoreApp.h"
#include "SmallDisk.h"

#include "platform/Errors.h"
#include "platform/File.h"
#include "platform/ProgramStarter.h"
#include "processing/ProcessingRun.h"
#include "service/DownloadRun.h"
#include "service/HttpExchange.h"
#include "service/HttpFailure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <sys/stat.h>

using namespace qm;
using namespace qm::test;

namespace {

class FakeWindow : public ProcessingWindow {
public:
    void setBusyPointer(bool busy) override { events.push_back(busy ? "busy" : "normal"); }
    void setProcessEnabled(bool enabled) override { events.push_back(enabled ? "enabled" : "disabled"); }
    bool autoDownload() const override { return autoDownloadTicked; }
    int formatItem() const override { return twoLine ? 0 : 1; }
    bool twoLineFormat() const override { return twoLine; }
    bool rowTicked(int row) const override { return ticked.count(row) > 0; }
    int extensionItem() const override { return extension; }
    bool palm() const override { return false; }
    int ommItem() const override { return 0; }
    bool updateMode() const override { return update; }
    ProgramValues values() override
    {
        return {
            MyTLEsDir, MostCurrentCatalog, MostCurrentSatcat, NewDataDownloaded, Redownloading, UpdateModeRedownloaded};
    }
    bool checkForCriticalUpdate() override { return criticalUpdateOk; }
    RunOutcome download() override
    {
        ++downloads;
        redownloadingWhileDownloading = Redownloading;
        if (onDownload)
            onDownload();
        return downloadOutcome;
    }
    RunOutcome processAgain() override { return onProcessAgain(); }
    void showNewestEpoch(const std::optional<TleEpoch>& epoch) override { epochs.push_back(epoch); }

    std::vector<std::string> events;
    bool autoDownloadTicked = false;
    bool twoLine = true;
    std::set<int> ticked;
    int extension = 0;
    bool update = false;
    std::string MyTLEsDir;
    std::string MostCurrentCatalog;
    std::string MostCurrentSatcat;
    bool NewDataDownloaded = true;
    bool Redownloading = false;
    bool UpdateModeRedownloaded = false;
    bool criticalUpdateOk = true;
    int downloads = 0;
    bool redownloadingWhileDownloading = false;
    std::function<void()> onDownload;
    RunOutcome downloadOutcome = RunOutcome::Completed;
    std::function<RunOutcome()> onProcessAgain;
    std::vector<std::optional<TleEpoch>> epochs;
};

class RecordingStarter : public ProgramStarter {
public:
    struct Start {
        std::string program;
        std::vector<std::string> arguments;
        std::string workingDir;
    };
    bool start(
        const std::string& program, const std::vector<std::string>& arguments, const std::string& workingDir) override
    {
        started.push_back({program, arguments, workingDir});
        return true;
    }
    std::vector<Start> started;
};

const std::vector<CatalogueObject> kObjects = {{25544, "ISS (ZARYA)"}, {5, "VANGUARD 1"}, {300, "OBJECT 300"}};
const std::vector<ReportEntry> kReport = {{300, "REPORT 300"}, {25544, "ISS REPORT"}, {5, "REPORT FIVE"}};

std::string catalogueText(bool twoLine)
{
    std::string text;
    for (const auto& o : kObjects) {
        if (!twoLine)
            text += o.name + "\n";
        text += tleLine1(o.number) + "\n" + tleLine2(o.number) + "\n";
    }
    return text;
}

std::string reportText()
{
    std::string text = std::string("Preamble\r\n") + SsrTable::kHeader + "\r\nskip 1\r\nskip 2\r\nskip 3\r\n";
    for (const auto& e : kReport) {
        char data[40];
        std::snprintf(data, sizeof data, "1998-067A       %5d  rest", e.number);
        text += std::string(data) + "\r\n" + e.name + "\r\n";
    }
    return text;
}

std::string threeLineRecords()
{
    return dataSetRecord("ISS (ZARYA)", 25544) + dataSetRecord("VANGUARD 1", 5) + dataSetRecord("OBJECT 300", 300);
}

// True when `expected` occur in `lines` in this order (other lines may stand between).
bool inOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected)
{
    std::size_t at = 0;
    for (const auto& line : lines)
        if (at < expected.size() && line == expected[at])
            ++at;
    return at == expected.size();
}

std::optional<FatalStop> stopOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const FatalStop& stop) {
        return stop;
    }
    return std::nullopt;
}

class ProcessingRunTest : public ::testing::Test {
public:
    ProcessingRunTest()
    {
        test::coreApplication();
        ::mkdir(myTles.c_str(), 0777);
        ::mkdir(downloads.c_str(), 0777);
        ::mkdir(programFolder.c_str(), 0777);
        exchange.TimeOut = 5000;
        exchange.OnFailure = [this](std::string_view) { NMHTTPFailure(exchange, prompts, reporter, httpFailure); };
        window.MyTLEsDir = myTles;
        window.onProcessAgain = [this] { return run(); };
    }

    RunOutcome run()
    {
        ProcessingServices services{reporter, prompts, exchange, httpFailure, launcher, starter, programFolder};
        return ProcessingRun(window, services).run();
    }

    // A catalogue archive in the download folder, made the current one.
    std::string zipCatalogue(const std::string& name, const std::string& member, bool twoLine)
    {
        const std::string path = downloads + name;
        makeZip(path, {{member, catalogueText(twoLine)}});
        window.MostCurrentCatalog = path;
        window.twoLine = twoLine;
        return path;
    }
    void zipReport(const std::string& name)
    {
        window.MostCurrentSatcat = downloads + name;
        makeZip(window.MostCurrentSatcat, {{changeFileExtension(name), reportText()}});
    }
    static std::string changeFileExtension(const std::string& name) { return name.substr(0, name.rfind('.')) + ".txt"; }

    std::string vantoreal(const std::string& file) const { return myTles + "Vantoreal/" + file; }
    std::string user(const std::string& file) const { return myTles + "User/" + file; }

    TempDir dir;
    ScopedCurrentDir cwd{dir.path()};
    const std::string myTles = dir.path() + "My TLEs/";
    const std::string downloads = dir.path() + "downloads/";
    const std::string programFolder = dir.path() + "bin/";
    RecordingReporter reporter;
    ScriptedPrompts prompts;
    HttpExchange exchange;
    bool httpFailure = false;
    RecordingLauncher launcher;
    RecordingStarter starter;
    Publisher publisher;
    FakeWindow window;
};

const std::vector<std::string> kNormalRun = {"busy", "disabled", "normal", "enabled"};

// How a run ended: "completed", "ended early", "halted: " or "error: " with the text.
std::string endingOf(ProcessingRunTest& t)
{
    try {
        return t.run() == RunOutcome::Completed ? "completed" : "ended early";
    } catch (const FatalStop& stop) {
        return "halted: " + stop.message;
    } catch (const std::exception& e) {
        return "error: " + std::string(e.what());
    }
}

} // namespace

TEST_F(ProcessingRunTest, TwoLineRunGoesThroughEveryStageInOrder)
{
    const std::string archive = zipCatalogue("catalog_2l_2024_001.zip", "catalog_2l_2024_001.txt", true);
    zipReport("ssr_2024_001.zip");
    window.ticked = {2, 42};
    ::mkdir((myTles + "User").c_str(), 0777);
    writeFile(user("geo.query"), "    5\r\n");
    publisher.reply(200, "25544\r\n");

    EXPECT_EQ(run(), RunOutcome::Completed);

    EXPECT_EQ(reporter.statusHistory,
        (std::vector<std::string>{"Extracting catalog data (ZIP): " + archive, "Checking TLE data (2)",
            "Indexing TLE file (2)", "Extracting SSR data", "Indexing SSR data", "Generating stations.txt",
            "Generating catalog.txt", "Generating geo.txt user-defined data set", "Done"}));
    ASSERT_GE(reporter.logLines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(reporter.logLines.begin(), reporter.logLines.begin() + 4),
        (std::vector<std::string>{"Two-Line Data Format", "Vantoreal Data Set 2 selected",
            "Vantoreal Data Set 42 selected", "File extension .txt selected"}));
    EXPECT_TRUE(inOrder(reporter.logLines,
        {"Extracting catalog data (ZIP): " + archive, "Indexing SSR data", "Building Vantoreal data sets",
            "Generating stations.txt", "Building comprehensive data sets", "Generating catalog.txt",
            "Building user-defined data sets", "Generating geo.txt user-defined data set", "Close [indexfile]",
            "Close [fssr]", "Done"}));
    EXPECT_EQ(reporter.logLines.back(), "Done");
    EXPECT_FALSE(reporter.logged("No data set is ticked"));
    EXPECT_TRUE(publisher.lastRequest().starts_with("GET /Skarvelin/query/stations.txt HTTP/1.0\r\n"));

    EXPECT_EQ(readFile(vantoreal("stations.txt")), dataSetRecord("ISS REPORT", 25544));
    EXPECT_EQ(readFile(vantoreal("catalog.txt")),
        dataSetRecord("ISS REPORT", 25544) + dataSetRecord("REPORT FIVE", 5) + dataSetRecord("REPORT 300", 300));
    EXPECT_EQ(readFile(user("geo.txt")), dataSetRecord("REPORT FIVE", 5));

    // The unpacked texts are gone; the tables and the downloads stay.
    EXPECT_FALSE(exists(myTles + "catalog_2l_2024_001.txt"));
    EXPECT_FALSE(exists(myTles + "ssr_2024_001.txt"));
    EXPECT_TRUE(exists(dir.file("catalog.idx")));
    EXPECT_TRUE(exists(dir.file("ssr.dat")));
    EXPECT_TRUE(exists(archive));
    EXPECT_TRUE(exists(window.MostCurrentSatcat));

    EXPECT_EQ(window.events, kNormalRun);
    EXPECT_FALSE(window.NewDataDownloaded);
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(ProcessingRunTest, ThreeLineGzipRunWithNothingTickedStillChecksAndIndexes)
{
    const std::string archive = downloads + "catalog_3l_2024_001.txt.gz";
    makeGzip(archive, catalogueText(false));
    window.MostCurrentCatalog = archive;
    window.twoLine = false;
    window.extension = 1;

    run();

    EXPECT_EQ(reporter.statusHistory,
        (std::vector<std::string>{
            "Extracting catalog data (GZIP): " + archive, "Checking TLE data (3)", "Indexing TLE file (3)", "Done"}));
    EXPECT_EQ(std::vector<std::string>(reporter.logLines.begin(), reporter.logLines.begin() + 2),
        (std::vector<std::string>{"Three-Line Data Format", "File extension .tle selected"}));
    EXPECT_TRUE(inOrder(reporter.logLines,
        {"Extracting catalog data (GZIP): " + archive, "Successfully unpacked .gz file.", "Checking TLE data (3)",
            "Open [f3i] " + myTles + "catalog_3l_2024_001.txt", "Close [indexfile]", "No data set is ticked", "Done"}));
    EXPECT_FALSE(reporter.logged("Close [fssr]"));
    EXPECT_FALSE(exists(myTles + "catalog_3l_2024_001.txt"));
    EXPECT_FALSE(exists(dir.file("ssr.dat")));
    EXPECT_TRUE(directoryExists(myTles + "Vantoreal/"));
    EXPECT_TRUE(listDirectory(myTles + "Vantoreal/").empty());
    EXPECT_TRUE(exists(dir.file("catalog.idx")));
    EXPECT_EQ(window.events, kNormalRun);
    EXPECT_EQ(window.epochs, (std::vector<std::optional<TleEpoch>>{TleEpoch{2008, 264, 51782528}}));
}

TEST_F(ProcessingRunTest, CompleteCatalogAloneFetchesNothingAndLogsNothingWithoutDebug)
{
    zipCatalogue("catalog_3l_2024_001.zip", "catalog_3l_2024_001.txt", false);
    window.ticked = {41, 42}; // a header row builds nothing, even if reported ticked
    reporter.setDebug(false);

    run();

    EXPECT_EQ(readFile(vantoreal("catalog.txt")), threeLineRecords());
    EXPECT_EQ(publisher.lastRequest(), "");
    EXPECT_TRUE(reporter.logLines.empty());
    EXPECT_EQ(reporter.status, "Done");
}

TEST_F(ProcessingRunTest, BothOtherRowsBuildTheirOwnSets)
{
    zipCatalogue("catalog_3l_2024_001.zip", "catalog_3l_2024_001.txt", false);
    window.ticked = {23, 40};
    publisher.reply(200, "    5\r\n");
    publisher.reply(200, "  300\r\n");

    run();

    EXPECT_EQ(readFile(vantoreal("other-comm.txt")), dataSetRecord("VANGUARD 1", 5));
    EXPECT_EQ(readFile(vantoreal("other.txt")), dataSetRecord("OBJECT 300", 300));
    EXPECT_TRUE(inOrder(reporter.statusHistory, {"Generating other-comm.txt", "Generating other.txt", "Done"}));
}

TEST_F(ProcessingRunTest, UpperCaseZipIsReadAsGzipAndEndsTheProgram)
{
    const std::string archive = zipCatalogue("catalog_2l_2024_001.ZIP", "catalog_2l_2024_001.txt", true);
    zipReport("ssr_2024_001.zip");

    const auto stop = stopOf([this] { run(); });

    ASSERT_TRUE(stop);
    EXPECT_EQ(stop->message, "Unable to unpack .gz file.");
    EXPECT_FALSE(stop->shown);
    EXPECT_EQ(reporter.statusHistory, (std::vector<std::string>{"Extracting catalog data (GZIP): " + archive}));
    EXPECT_TRUE(reporter.logged("Unable to unpack .gz file."));
    EXPECT_FALSE(reporter.logged("Successfully unpacked .gz file."));
    EXPECT_FALSE(exists(dir.file("catalog.idx")));
}

TEST_F(ProcessingRunTest, OnlyTheTextsTheRunReadsAreUnpacked)
{
    // The first member named like the text is read; the rest stays in the archives,
    // a member named like the rejects file included.
    window.MostCurrentCatalog = downloads + "catalog_2l_2024_001.zip";
    const std::string rejected = tleLine1(7) + "\n" + tleLine2(8) + "\n";
    makeZip(window.MostCurrentCatalog,
        {{"new/catalog_2l_2024_001.txt", catalogueText(true) + rejected}, {"catalog_2l_2024_001.txt", "older"},
            {"catalog_2l_2024_001.err", "not the rejects"}, {"catalog_notes.txt", "notes"}});
    window.MostCurrentSatcat = downloads + "ssr_2024_001.zip";
    makeZip(window.MostCurrentSatcat, {{"ssr_2024_001.txt", reportText()}, {"ssr_notes.txt", "notes"}});
    window.ticked = {42};

    EXPECT_EQ(run(), RunOutcome::Completed);

    EXPECT_EQ(readFile(vantoreal("catalog.txt")),
        dataSetRecord("ISS REPORT", 25544) + dataSetRecord("REPORT FIVE", 5) + dataSetRecord("REPORT 300", 300));
    EXPECT_EQ(readFile(myTles + "catalog_2l_2024_001.err").size(), kTwoLineRecordSize);
    std::vector<std::string> left = listDirectory(myTles);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"Changes.txt", "User", "Vantoreal", "catalog_2l_2024_001.err"}));
}

TEST_F(ProcessingRunTest, AFullDiskWhileTheReportIsUnpackedIsReportedAndNoTextStays)
{
    SmallDisk disk;
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    window.MyTLEsDir = disk.path();
    zipCatalogue("catalog_2l_2024_001.zip", "catalog_2l_2024_001.txt", true);
    window.MostCurrentSatcat = downloads + "ssr_2024_001.zip";
    makeZip(window.MostCurrentSatcat, {{"ssr_2024_001.txt", reportText() + std::string(2 << 20, ' ')}});
    disk.leaveFree(512 * 1024);
    writeFile(kUnprocessedFile, "");

    EXPECT_EQ(
        endingOf(*this), "error: Unable to write to " + disk.file("ssr_2024_001.txt") + ": No space left on device");

    for (const std::string& name : listDirectory(disk.path()))
        EXPECT_TRUE(name.starts_with(".filler")) << name;
    EXPECT_TRUE(exists(kUnprocessedFile)) << "the next run processes the same files";
    EXPECT_TRUE(exists(window.MostCurrentSatcat));
}

TEST_F(ProcessingRunTest, MissingTextYesDeletesDownloadsAndRunsAfresh)
{
    const std::string damaged = downloads + "catalog_3l_2024_001.zip";
    makeZip(damaged, {{"readme.txt", "not a catalogue"}});
    window.MostCurrentCatalog = damaged;
    window.twoLine = false;
    window.ticked = {42};
    prompts.answer(true);
    window.onDownload = [this] {
        EXPECT_FALSE(exists(window.MostCurrentCatalog));
        zipCatalogue("catalog_3l_2024_002.zip", "catalog_3l_2024_002.txt", false);
    };

    EXPECT_EQ(run(), RunOutcome::Completed);

    const std::string missing = myTles + "catalog_3l_2024_001.txt";
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, "errorYesNo");
    EXPECT_EQ(prompts.shown[0].text,
        "File " + missing + " not found. Input file is probably corrupt. Delete and re-download?");
    EXPECT_TRUE(reporter.logged("File " + missing + " not found. Input file is probably corrupt."));
    EXPECT_EQ(window.downloads, 1);
    EXPECT_TRUE(window.redownloadingWhileDownloading);
    EXPECT_FALSE(window.Redownloading);
    EXPECT_FALSE(exists(damaged));
    EXPECT_EQ(readFile(vantoreal("catalog.txt")), threeLineRecords());
    // The new run restored the window; the first one ended at once without a second "Done".
    EXPECT_EQ(window.events, (std::vector<std::string>{"busy", "disabled", "busy", "disabled", "normal", "enabled"}));
    EXPECT_EQ(std::count(reporter.statusHistory.begin(), reporter.statusHistory.end(), "Done"), 1);
}

TEST_F(ProcessingRunTest, MissingTextNoEndsTheProgramWithEverythingInPlace)
{
    const std::string damaged = downloads + "catalog_3l_2024_001.zip";
    makeZip(damaged, {{"readme.txt", "not a catalogue"}});
    window.MostCurrentCatalog = damaged;
    window.twoLine = false;
    prompts.answer(false);
    // A text that a killed run left under the name is not taken for the missing one.
    writeFile(myTles + "catalog_3l_2024_001.txt", catalogueText(false));

    const auto stop = stopOf([this] { run(); });

    ASSERT_TRUE(stop);
    EXPECT_TRUE(stop->shown); // the question was the box
    EXPECT_FALSE(exists(myTles + "catalog_3l_2024_001.txt"));
    EXPECT_EQ(window.downloads, 0);
    EXPECT_TRUE(exists(damaged));
    EXPECT_FALSE(exists(dir.file("catalog.idx")));
}

TEST_F(ProcessingRunTest, UpdateModeRedownloadsOnceInAProgramRunThenStops)
{
    window.update = true;
    window.twoLine = false;
    const std::string damaged = downloads + "catalog_3l_2024_001.zip";
    makeZip(damaged, {{"readme.txt", "not a catalogue"}});
    window.MostCurrentCatalog = damaged;
    window.onDownload = [this] { zipCatalogue("catalog_3l_2024_002.zip", "catalog_3l_2024_002.txt", false); };

    EXPECT_EQ(run(), RunOutcome::Completed);
    EXPECT_EQ(window.downloads, 1);
    EXPECT_TRUE(reporter.logged("Update mode answers Yes: delete and re-download"));
    EXPECT_EQ(reporter.status, "Done");

    // A later scheduled run of the same program meets a damaged file again.
    makeZip(damaged, {{"readme.txt", "not a catalogue"}});
    window.MostCurrentCatalog = damaged;
    const auto stop = stopOf([this] { run(); });

    ASSERT_TRUE(stop);
    EXPECT_EQ(stop->message, "File " + myTles + "catalog_3l_2024_001.txt not found. Input file is probably corrupt.");
    EXPECT_FALSE(stop->shown);
    EXPECT_TRUE(reporter.logged("Update mode answers No: the catalogue was already re-downloaded once"));
    EXPECT_EQ(window.downloads, 1);
    // Kept, the file would stop every later run: the next download fetches it again.
    EXPECT_FALSE(exists(damaged));
    EXPECT_EQ(window.MostCurrentCatalog, "");
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(ProcessingRunTest, PostProcessingOpensTheVbsAndStartsAnExecutableSh)
{
    zipCatalogue("catalog_3l_2024_001.zip", "catalog_3l_2024_001.txt", false);
    writeFile(dir.file("post.vbs"), "' script\r\n");
    writeFile(dir.file("post.sh"), "#!/bin/sh\n");
    ::chmod(dir.file("post.sh").c_str(), 0755);

    run();

    EXPECT_EQ(reporter.statusHistory.end()[-2], "Running post processing");
    ASSERT_EQ(launcher.opened.size(), 1u);
    EXPECT_EQ(launcher.opened[0], std::make_pair(dir.file("post.vbs"), programFolder));
    ASSERT_EQ(starter.started.size(), 1u);
    EXPECT_EQ(starter.started[0].program, dir.file("post.sh"));
    EXPECT_EQ(starter.started[0].arguments, std::vector<std::string>{myTles});
    EXPECT_EQ(starter.started[0].workingDir, programFolder);

    // A post.sh that may not be executed is left alone, and alone it shows no line.
    ::unlink(dir.file("post.vbs").c_str());
    ::chmod(dir.file("post.sh").c_str(), 0644);
    reporter.statusHistory.clear();
    zipCatalogue("catalog_3l_2024_001.zip", "catalog_3l_2024_001.txt", false);
    run();
    EXPECT_EQ(std::count(reporter.statusHistory.begin(), reporter.statusHistory.end(), "Running post processing"), 0);
    EXPECT_EQ(starter.started.size(), 1u);
}

TEST_F(ProcessingRunTest, PointerAndButtonComeBackAfterErrorsButNotUnderAutoDownload)
{
    window.MostCurrentCatalog = downloads + "catalog_3l_2024_001.zip"; // never downloaded
    window.twoLine = false;
    EXPECT_THROW(run(), IoError);
    EXPECT_EQ(window.events, kNormalRun);

    window.events.clear();
    window.autoDownloadTicked = true;
    EXPECT_THROW(run(), IoError);
    EXPECT_EQ(window.events, (std::vector<std::string>{"busy", "disabled", "normal"}));

    // A completed run under automatic download ends on the next-attempt notice.
    window.events.clear();
    reporter.hint = "Next TLE update attempt: 2024 Jan 02 06:00";
    zipCatalogue("catalog_3l_2024_001.zip", "catalog_3l_2024_001.txt", false);
    run();
    EXPECT_EQ(window.events, (std::vector<std::string>{"busy", "disabled", "normal"}));
    EXPECT_EQ(reporter.status, "Next TLE update attempt: 2024 Jan 02 06:00");
}

TEST_F(ProcessingRunTest, RefusedCriticalUpdateCheckEndsBeforeAnything)
{
    zipCatalogue("catalog_3l_2024_001.zip", "catalog_3l_2024_001.txt", false);
    window.criticalUpdateOk = false;
    window.ticked = {42};

    EXPECT_EQ(run(), RunOutcome::EndedEarly);

    EXPECT_TRUE(reporter.statusHistory.empty());
    EXPECT_TRUE(reporter.logLines.empty());
    EXPECT_FALSE(exists(myTles + "catalog_3l_2024_001.txt"));
    EXPECT_EQ(window.events, kNormalRun);
    EXPECT_TRUE(window.NewDataDownloaded);
}

namespace {

// What a run leaves of the downloaded archives: both; neither the file nor the value
// of one the run cannot use; not the catalogue file that a re-download replaces.
enum class Left { Both, NoCatalogue, NoReport, NoCatalogueFile };

struct WayOut {
    const char* name;
    void (*arrange)(ProcessingRunTest& t); // after the setting up of a two-line run
    const char* ending; // how the ending starts
    bool pendingKept; // the files are left for the next run to process
    Left left = Left::Both;
};

void PrintTo(const WayOut& way, std::ostream* os)
{
    *os << way.name;
}

void twoLineRun(ProcessingRunTest& t)
{
    t.zipCatalogue("catalog_2l_2024_001.zip", "catalog_2l_2024_001.txt", true);
    t.zipReport("ssr_2024_001.zip");
    t.window.ticked = {2};
    t.publisher.reply(200, "25544\r\n");
    t.window.onProcessAgain = [] { return RunOutcome::Completed; };
}

// The missing-text question answered Yes, and a re-download that `ends` so.
void redownload(ProcessingRunTest& t, std::function<void()> ends)
{
    makeZip(t.window.MostCurrentCatalog, {{"readme.txt", "not a catalogue"}});
    t.prompts.answer(true);
    t.window.downloadOutcome = RunOutcome::EndedEarly;
    t.window.onDownload = std::move(ends);
    t.window.onProcessAgain = []() -> RunOutcome { throw std::logic_error("a run on a file that is not there"); };
}

void notAZip(const std::string& path)
{
    writeFile(path, "<html>Service unavailable</html>");
}

const std::string kNoCatalogue = "error: No catalogue to process: the full catalogue has not been downloaded";

const WayOut kWaysOut[] = {
    {"Completes", [](ProcessingRunTest&) {}, "completed", false},
    {"CompletesWithAListThePublisherRefuses",
        [](ProcessingRunTest& t) {
            t.window.ticked = {2, 3};
            t.publisher.reply(404, "Not Found");
        },
        "completed", false},
    {"CriticalUpdateCheckSaysNo", [](ProcessingRunTest& t) { t.window.criticalUpdateOk = false; }, "ended early", true},
    {"NoCatalogueDownloaded", [](ProcessingRunTest& t) { t.window.MostCurrentCatalog.clear(); }, kNoCatalogue.c_str(),
        true},
    {"NoReportDownloaded", [](ProcessingRunTest& t) { t.window.MostCurrentSatcat.clear(); },
        "error: No situation report to process: the situation report has not been downloaded", true, Left::NoReport},
    {"ListCutByTheNetwork",
        [](ProcessingRunTest& t) {
            t.window.ticked = {2, 3};
            t.publisher.raw("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n25544\r\n");
        },
        "error: Incomplete response", true},
    {"DataSetCannotBeWritten",
        [](ProcessingRunTest& t) {
            t.window.ticked = {42};
            ::mkdir((t.myTles + "Vantoreal").c_str(), 0777);
            ::mkdir(t.vantoreal("catalog.txt").c_str(), 0777);
            writeFile(t.vantoreal("catalog.txt/in the way"), "");
        },
        "error: ", true},
    {"RedownloadEndsEarly", [](ProcessingRunTest& t) { redownload(t, [] {}); }, "ended early", true,
        Left::NoCatalogueFile},
    {"RedownloadRaises", [](ProcessingRunTest& t) { redownload(t, [] { throw SocketError("Connection Failed"); }); },
        "error: Connection Failed", true, Left::NoCatalogueFile},
    {"CatalogueIsNoZip", [](ProcessingRunTest& t) { notAZip(t.window.MostCurrentCatalog); }, "error: Invalid ZIP file ",
        false, Left::NoCatalogue},
    {"GzipCannotBeUnpacked",
        [](ProcessingRunTest& t) {
            t.window.MostCurrentCatalog = t.downloads + "catalog_2l_2024_001.txt.gz";
            notAZip(t.window.MostCurrentCatalog);
        },
        "halted: Unable to unpack .gz file.", false, Left::NoCatalogue},
    {"EveryObjectRejected",
        [](ProcessingRunTest& t) {
            makeZip(t.window.MostCurrentCatalog, {{"catalog_2l_2024_001.txt", std::string(69, 'x') + "\n"}});
        },
        "halted: Catalog (2) file is empty. Input file was corrupt.", false, Left::NoCatalogue},
    {"ThreeBlankLines",
        [](ProcessingRunTest& t) {
            makeZip(t.window.MostCurrentCatalog, {{"catalog_2l_2024_001.txt", "\r\n\r\n\r\n"}});
        },
        "halted: Catalog (2) file is empty. Input file was corrupt.", false, Left::NoCatalogue},
    {"TextMissingAndNotFetchedAgain",
        [](ProcessingRunTest& t) {
            t.prompts.answer(false);
            makeZip(t.window.MostCurrentCatalog, {{"readme.txt", "not a catalogue"}});
        },
        "halted: File ", false},
    {"CatalogueExpandsBeyondItsLimit",
        [](ProcessingRunTest& t) {
            makeZip(t.window.MostCurrentCatalog, {{"catalog_2l_2024_001.txt", std::string(300000, '\n')}});
        },
        "error: Catalogue expands beyond its limit", false, Left::NoCatalogue},
    {"ReportIsNoZip", [](ProcessingRunTest& t) { notAZip(t.window.MostCurrentSatcat); }, "error: Invalid ZIP file ",
        false, Left::NoReport},
    {"ReportTextMissing",
        [](ProcessingRunTest& t) {
            makeZip(t.window.MostCurrentSatcat, {{"notes.txt", "no report"}});
            writeFile(t.myTles + "ssr_2024_001.txt", "left by a killed run");
        },
        "halted: File ", false, Left::NoReport},
};

class WaysOut : public ProcessingRunTest, public ::testing::WithParamInterface<WayOut> { };

} // namespace

// Only a completed run, or one that halted on a downloaded file, has dealt with the new
// data; an archive that gives no usable text is deleted and forgotten, so that the
// next download fetches it again. No unpacked text stays, however the run ends.
TEST_P(WaysOut, PendingMarkArchivesAndWorkTexts)
{
    const WayOut& way = GetParam();
    writeFile(kUnprocessedFile, "");
    twoLineRun(*this);
    way.arrange(*this);
    const std::string catalogue = window.MostCurrentCatalog;
    const std::string report = window.MostCurrentSatcat;
    const bool catalogueThere = exists(catalogue);

    const std::string ending = endingOf(*this);

    EXPECT_TRUE(ending.starts_with(way.ending)) << ending;
    EXPECT_EQ(reporter.logged(kNoCatalogue.substr(7)), ending == kNoCatalogue);
    EXPECT_EQ(exists(kUnprocessedFile), way.pendingKept);
    EXPECT_FALSE(window.Redownloading);
    EXPECT_EQ(window.MostCurrentCatalog, way.left == Left::NoCatalogue ? "" : catalogue);
    EXPECT_EQ(window.MostCurrentSatcat, way.left == Left::NoReport ? "" : report);
    EXPECT_EQ(exists(catalogue), catalogueThere && way.left != Left::NoCatalogue && way.left != Left::NoCatalogueFile);
    EXPECT_EQ(exists(report), way.left != Left::NoReport);
    if (!ending.starts_with("halted")) {
        EXPECT_EQ(window.events.back(), "enabled") << "pointer and button restored";
    }
    // The report of changes and its state come only with a run that completes.
    const bool completed = way.ending == std::string("completed");
    EXPECT_EQ(exists(myTles + CatalogueChanges::kReportFile), completed);
    EXPECT_EQ(exists(CatalogueChanges::kStateFile), completed);
    for (const std::string& name : listDirectory(myTles))
        EXPECT_FALSE((name.ends_with(".txt") && name != CatalogueChanges::kReportFile) || name.ends_with(".tmp")) << name;
}

INSTANTIATE_TEST_SUITE_P(ProcessingRun, WaysOut, ::testing::ValuesIn(kWaysOut),
    [](const ::testing::TestParamInfo<WayOut>& param) { return std::string(param.param.name); });
