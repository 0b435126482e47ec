// "quillmaren -update", the real program without a display, against the bundled local
// catalogue service: every file it leaves is compared with what the published rules
// give for the service's source texts, worked out in ExpectedOutputs.cpp.
#include "ExpectedOutputs.h"
#include "NotificationDesktop.h"
#include "SquidProxy.h"
#include "UpdateHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <sstream>
#include <set>

namespace qm::e2e {
namespace {

using test::LocalService;
using test::readFile;

// The publisher's categories in the order of the data-set list, with their rows.
const std::vector<std::pair<int, std::string>> kCategories = {{1, "tle-new"}, {2, "stations"}, {3, "visual"},
    {5, "weather"}, {6, "noaa"}, {7, "goes"}, {8, "resource"}, {9, "dmc"}, {10, "tdrss"}, {11, "sarsat"}, {13, "geo"},
    {14, "intelsat"}, {15, "gorizont"}, {16, "raduga"}, {17, "molniya"}, {18, "iridium"}, {19, "orbcomm"},
    {20, "globalst"}, {21, "amateur"}, {22, "x-comm"}, {23, "other-comm"}, {25, "gps-ops"}, {26, "glo-ops"},
    {27, "galileo"}, {28, "sbas"}, {29, "nnss"}, {30, "musson"}, {32, "science"}, {33, "geodetic"}, {34, "engineer"},
    {35, "education"}, {37, "military"}, {38, "radar"}, {39, "cubesat"}, {40, "other"}};

// What the service's source texts must become.
struct Expected {
    Expected(const LocalService& service, bool twoLine)
        : source(service.dataDir() + "source/")
        , catalogue(checkCatalogue(readFile(source + (twoLine ? "catalog_2l.txt" : "catalog_3l.txt")), twoLine))
        , table(twoLine ? reportTable(readFile(source + "ssr_bench.txt")) : std::string())
        , queries(service.dataDir() + "publisher/Skarvelin/query/")
    {
    }
    std::string category(const std::string& name, std::vector<long>* absent = nullptr) const
    {
        return dataSet(readFile(queries + name + ".txt"), catalogue, table, absent);
    }

    std::string source;
    CheckedCatalogue catalogue;
    std::string table;
    std::string queries;
};

// Whole files compared; a difference is shown as its offset and the lines around it,
// not as two dumps of a catalogue.
::testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected)
{
    if (actual == expected)
        return ::testing::AssertionSuccess();
    const auto diff = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    const std::size_t at = static_cast<std::size_t>(diff.first - actual.begin());
    const std::size_t from = at < 100 ? 0 : at - 100;
    return ::testing::AssertionFailure() << actual.size() << " bytes, expected " << expected.size()
                                         << "; first difference at byte " << at << "\n  actual: ..."
                                         << actual.substr(from, 200) << "\nexpected: ..." << expected.substr(from, 200);
}

// True when `expected` stand in `lines` in this order, other lines between them allowed.
::testing::AssertionResult inOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected)
{
    std::size_t at = 0;
    for (const auto& line : lines)
        if (at < expected.size() && line == expected[at])
            ++at;
    if (at == expected.size())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "missing or out of order: \"" << expected[at] << "\"";
}

// The log's lines that are among `wanted`, in log order.
std::vector<std::string> only(const std::vector<std::string>& lines, const std::vector<std::string>& wanted)
{
    const std::set<std::string> set(wanted.begin(), wanted.end());
    std::vector<std::string> kept;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept), [&set](const auto& l) { return set.count(l); });
    return kept;
}

// The calendar date (UTC) of the newest epoch among the kept element sets, read here
// from columns 19-32 of line 1: a two-digit year (57-99 the 1900s) and the day of the year.
std::string newestEpochDate(const std::vector<std::string>& kept)
{
    int bestYear = 0;
    double bestDay = 0;
    for (const auto& pair : kept) {
        const int twoDigits = std::stoi(pair.substr(18, 2));
        const int year = twoDigits < 57 ? 2000 + twoDigits : 1900 + twoDigits;
        const double day = std::stod(pair.substr(20, 12));
        if (year > bestYear || (year == bestYear && day > bestDay)) {
            bestYear = year;
            bestDay = day;
        }
    }
    std::tm date{};
    date.tm_year = bestYear - 1900;
    date.tm_mday = static_cast<int>(bestDay); // day 32 of January is 1 February, and so on
    const std::time_t when = timegm(&date);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", gmtime_r(&when, &date));
    return text;
}

std::vector<std::string> startingWith(const std::vector<std::string>& lines, std::initializer_list<const char*> heads)
{
    std::vector<std::string> kept;
    for (const auto& line : lines)
        if (std::any_of(heads.begin(), heads.end(), [&line](const char* head) { return line.starts_with(head); }))
            kept.push_back(line);
    return kept;
}

TEST(WholeUpdateRun, TwoLineRunBuildsEveryOutputAndASecondRunFindsNothingNew)
{
    const LocalService service = LocalService::fixture("local_service");
    const Expected expected(service, true);
    ASSERT_FALSE(expected.catalogue.rejected.empty()) << "the service's catalogue carries rejects";
    UpdateHome home(service);
    home.writeSettings({});
    // Numbers the catalogue holds, one it rejected, names of every length, a number
    // that is not a number, the same number twice, and a list ended by 0x1A.
    const std::string good = expected.catalogue.good[7].substr(2, 5);
    const std::string other = expected.catalogue.good[1234].substr(2, 5);
    const std::string rejected = expected.catalogue.rejected[0].substr(2, 5);
    home.addUserQuery("mine", good + "\r\n" + other + "A NAME LONGER THAN TWENTY-FOUR\r\n" + rejected + "\r\n");
    home.addUserQuery("edge", other + "\n" + "123  \r\n" + good + "SHORT\r\n" + good + "\x1A" + other + "\r\n");

    const test::ProgramOutcome run = home.runUpdate();

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    // A run that processed prints how fresh its data are, and nothing else.
    const std::string epoch = "Epoch " + newestEpochDate(expected.catalogue.good) + ", ";
    EXPECT_TRUE(run.out.starts_with(epoch) && run.out.ends_with(" days old\n")) << run.out << " wanted " << epoch;

    // Every file below My TLEs, and nothing else: the unpacked texts and temporaries are gone.
    const std::string myTles = home.myTles();
    const std::string catalogZip = "2024/catalog/catalog_2l_20241231.zip";
    const std::string reportZip = "2024/ssr/ssr_20241231.zip";
    std::vector<std::string> files{catalogZip, reportZip, "Changes.txt", "User/edge.query", "User/edge.txt", "User/mine.query",
        "User/mine.txt", "Vantoreal/catalog.txt", "catalog_2l_20241231.err"};
    for (const auto& [row, name] : kCategories)
        files.push_back("Vantoreal/" + name + ".txt");
    std::sort(files.begin(), files.end());
    EXPECT_EQ(UpdateHome::filesBelow(myTles), files);

    EXPECT_TRUE(sameBytes(readFile(myTles + catalogZip), readFile(service.productPath(1))));
    EXPECT_TRUE(sameBytes(readFile(myTles + reportZip), readFile(service.productPath(25))));
    EXPECT_TRUE(sameBytes(readFile(myTles + "catalog_2l_20241231.err"), expected.catalogue.rejectedFile()));
    std::map<std::string, std::vector<long>> absent;
    for (const auto& [row, name] : kCategories)
        EXPECT_TRUE(sameBytes(readFile(myTles + "Vantoreal/" + name + ".txt"), expected.category(name, &absent[name])))
            << name;
    EXPECT_TRUE(
        sameBytes(readFile(myTles + "Vantoreal/catalog.txt"), comprehensive(expected.catalogue, expected.table)));
    for (const char* user : {"mine", "edge"})
        EXPECT_TRUE(sameBytes(readFile(myTles + "User/" + user + ".txt"),
            dataSet(readFile(myTles + "User/" + user + ".query"), expected.catalogue, expected.table, &absent[user])))
            << user;
    EXPECT_EQ(absent["mine"], std::vector<long>{std::stol(rejected)});
    EXPECT_EQ(absent["edge"], std::vector<long>{0});

    EXPECT_TRUE(sameBytes(readFile(home.work("catalog.idx")), expected.catalogue.index()));
    EXPECT_TRUE(sameBytes(readFile(home.work("ssr.dat")), expected.table));
    EXPECT_TRUE(
        sameBytes(readFile(home.work("newdata.log")), myTles + catalogZip + "\r\n" + myTles + reportZip + "\r\n"));
    EXPECT_TRUE(sameBytes(readFile(home.work("body.txt")), readFile(expected.queries + "other.txt")))
        << "the last list fetched";

    // Only the exit-time keys were written: the run's own choices were not saved.
    const std::string settings = home.settingsText();
    EXPECT_NE(settings.find("Catalog=" + myTles + catalogZip + "\n"), std::string::npos);
    EXPECT_NE(settings.find("SATCAT=" + myTles + reportZip + "\n"), std::string::npos);
    EXPECT_NE(settings.find("Full Catalog=0\n"), std::string::npos);
    EXPECT_NE(settings.find("Space Situation Report=1\n"), std::string::npos);

    // The log: the status line's stages, every file opened and closed, and the run's order.
    const std::vector<std::string> log = home.logMessages();
    const std::string catalogText = myTles + "catalog_2l_20241231.txt";
    const std::string publisher = "http://" + service.hostPort() + "/Skarvelin/query/";
    std::vector<std::string> stages{"Checking Vantoreal for critical update", "Logging in to Skarvelin",
        "Skarvelin login successful", "Checking catalog_2l_20241231.zip", "Downloading catalog_2l_20241231.zip",
        "Checking ssr_20241231.zip", "Downloading ssr_20241231.zip", "", "Checking Vantoreal for critical update",
        "Extracting catalog data (ZIP): " + myTles + catalogZip, "Checking TLE data (2)", "Indexing TLE file (2)",
        "Extracting SSR data", "Indexing SSR data"};
    std::vector<std::string> fileLines{"Open [fnd] newdata.log", "Close [fnd]", "Open [fi] " + catalogText,
        "Open [fo] " + catalogText + ".tmp", "Close [fo]", "Close [fi]", "Open [f2i] " + catalogText,
        "Open [indexfile] catalog.idx", "Close [f2i]", "Open [fs] " + myTles + "ssr_20241231.txt",
        "Open [fssr] ssr.dat", "Close [fs]"};
    std::vector<std::string> order{"Version 1.5.8 (2007 Oct 15)", "Running via -update command-line option",
        "Performing manual download", "Two-Line Data Format", "Current Catalog File 0 selected",
        "Complete Daily Data not selected", "SSR selected", "Manual download", "Close [fnd]", "Two-Line Data Format"};
    for (const auto& [row, name] : kCategories)
        order.push_back("Vantoreal Data Set " + std::to_string(row) + " selected");
    order.insert(order.end(),
        {"Vantoreal Data Set 42 selected", "File extension .txt selected", "Indexing SSR data",
            "Building Vantoreal data sets"});
    // One data set: its status line, for a fetched list the fetch, then its files.
    auto dataSetLines = [&](const std::string& status, const std::string& url, const std::string& list,
                            const std::string& output, const std::vector<long>& missing) {
        stages.push_back(status);
        order.push_back(status);
        if (!url.empty())
            order.insert(order.end(), {"Retrieving " + url, "SUCCEEDED"});
        std::vector<std::string> block{"Open [dsi] " + list, "Open [f2i] " + catalogText, "Open [fo3] " + output};
        for (long n : missing)
            block.push_back("Catalog Number " + std::to_string(n) + " not found.");
        block.insert(block.end(), {"Close [dsi]", "Close [fo3]", "Close [f2i]"});
        fileLines.insert(fileLines.end(), block.begin(), block.end());
        order.insert(order.end(), block.begin(), block.end());
    };
    for (const auto& [row, name] : kCategories)
        dataSetLines("Generating " + name + ".txt", publisher + name + ".txt", "body.txt",
            myTles + "Vantoreal/" + name + ".txt", absent[name]);
    stages.push_back("Generating catalog.txt");
    const std::vector<std::string> comprehensiveLines{
        "Open [fo3] " + myTles + "Vantoreal/catalog.txt", "Open [f2i] " + catalogText, "Close [f2i]", "Close [fo3]"};
    fileLines.insert(fileLines.end(), comprehensiveLines.begin(), comprehensiveLines.end());
    order.insert(order.end(), {"Building comprehensive data sets", "Generating catalog.txt"});
    order.insert(order.end(), comprehensiveLines.begin(), comprehensiveLines.end());
    order.push_back("Building user-defined data sets");
    // User sets come in the order the folder lists them.
    std::vector<std::string> users;
    for (const auto& line : log)
        if (line.ends_with(".txt user-defined data set"))
            users.push_back(line.substr(11, line.size() - 11 - 26));
    ASSERT_TRUE(
        users == std::vector<std::string>({"mine", "edge"}) || users == std::vector<std::string>({"edge", "mine"}));
    for (const auto& user : users)
        dataSetLines("Generating " + user + ".txt user-defined data set", "", myTles + "User/" + user + ".query",
            myTles + "User/" + user + ".txt", absent[user]);
    fileLines.insert(fileLines.end(), {"Close [indexfile]", "Close [fssr]"});
    order.insert(order.end(), {"Close [indexfile]", "Close [fssr]"});
    stages.push_back("");

    EXPECT_EQ(only(log, stages), stages);
    EXPECT_EQ(startingWith(log, {"Open [", "Close [", "Catalog Number "}), fileLines);
    EXPECT_TRUE(inOrder(log, order));
    EXPECT_EQ(log.back(), "") << "Done, in update mode the empty tray hint";
    EXPECT_EQ(std::count(log.begin(), log.end(), "PROGRAM HALTED"), 0);

    // Nothing new the second time: no processing, an empty list of new files, and the
    // data sets as they were.
    const std::string comprehensiveBefore = readFile(myTles + "Vantoreal/catalog.txt");
    const test::ProgramOutcome again = home.runUpdate();
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.err, "");
    EXPECT_EQ(again.out, "") << "nothing processed, nothing to tell";
    EXPECT_TRUE(sameBytes(readFile(home.work("newdata.log")), ""));
    const std::vector<std::string> secondLog = home.logMessages();
    EXPECT_TRUE(inOrder(secondLog, {"Checking catalog_2l_20241231.zip", "Checking ssr_20241231.zip", "Close [fnd]"}));
    EXPECT_TRUE(startingWith(secondLog, {"Downloading ", "Extracting ", "Generating "}).empty());
    EXPECT_TRUE(sameBytes(readFile(myTles + "Vantoreal/catalog.txt"), comprehensiveBefore));
}

TEST(WholeUpdateRun, ThreeLineGzipCatalogueIsProcessedButNotWhenItsNameAnnouncesAnotherKind)
{
    // Only ".zip" names a ZIP archive, so a gzip file named ".ZIP" would have to be text:
    // it is not stored, nothing is processed, and the run ends with 2.
    const LocalService misnamed(std::vector<std::string>{"--name", "2=catalog_3l_20241231.txt.ZIP"});
    UpdateHome home(misnamed);
    home.writeSettings({.twoLine = false, .extension = 1});
    const std::string myTles = home.myTles();
    const std::string refusedPath = myTles + "2024/catalog/catalog_3l_20241231.txt.ZIP";

    const test::ProgramOutcome refused = home.runUpdate();

    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "quillmaren: warning: GET command \"" + refusedPath + "\" failed. [OK]\n");
    EXPECT_EQ(UpdateHome::filesBelow(myTles), std::vector<std::string>{});
    const std::vector<std::string> refusedLog = home.logMessages();
    EXPECT_TRUE(inOrder(refusedLog, {"Downloading catalog_3l_20241231.txt.ZIP",
                                        "Not stored: " + refusedPath + " (Not a text file)", "Close [fnd]"}));
    EXPECT_TRUE(startingWith(refusedLog, {"Extracting "}).empty());

    // The same product under its own name.
    const LocalService service = LocalService::fixture("local_service");
    const Expected expected(service, false);
    home.useService(service);

    const test::ProgramOutcome run = home.runUpdate();

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::string catalogGz = "2024/catalog/catalog_3l_20241231.txt.gz";
    std::vector<std::string> files{catalogGz, "Changes.txt", "Vantoreal/catalog.tle", "catalog_3l_20241231.err"};
    for (const auto& [row, name] : kCategories)
        files.push_back("Vantoreal/" + name + ".tle");
    std::sort(files.begin(), files.end());
    EXPECT_EQ(UpdateHome::filesBelow(myTles), files);

    EXPECT_TRUE(sameBytes(readFile(myTles + catalogGz), readFile(service.productPath(2))));
    EXPECT_TRUE(sameBytes(readFile(myTles + "catalog_3l_20241231.err"), expected.catalogue.rejectedFile()));
    for (const auto& [row, name] : kCategories)
        EXPECT_TRUE(sameBytes(readFile(myTles + "Vantoreal/" + name + ".tle"), expected.category(name))) << name;
    EXPECT_TRUE(sameBytes(readFile(myTles + "Vantoreal/catalog.tle"), comprehensive(expected.catalogue, {})));
    EXPECT_TRUE(sameBytes(readFile(home.work("catalog.idx")), expected.catalogue.index()));
    EXPECT_FALSE(test::exists(home.work("ssr.dat"))) << "three-line runs need no report";
    EXPECT_TRUE(sameBytes(readFile(home.work("newdata.log")), myTles + catalogGz + "\r\n"));

    const std::vector<std::string> log = home.logMessages();
    const std::string catalogText = myTles + "catalog_3l_20241231.txt";
    EXPECT_TRUE(inOrder(log,
        {"Three-Line Data Format", "SSR not selected", "Checking catalog_3l_20241231.txt.gz", "Three-Line Data Format",
            "File extension .tle selected", "Extracting catalog data (GZIP): " + myTles + catalogGz,
            "Successfully unpacked .gz file.", "Checking TLE data (3)", "Open [fi] " + catalogText,
            "Indexing TLE file (3)", "Open [f3i] " + catalogText, "Building Vantoreal data sets",
            "Generating tle-new.tle", "Retrieving http://" + service.hostPort() + "/Skarvelin/query/tle-new.txt",
            "Generating catalog.tle", "Close [indexfile]", ""}));
    EXPECT_TRUE(startingWith(log, {"Extracting SSR", "Indexing SSR", "Close [fssr]", "Open [fssr]"}).empty());
}

// An element set's epoch in hundred-millionths of a day since 2000 (years 57-99 before
// it), and the values the report of changes compares, read here from the columns.
struct Elements {
    long long epoch;
    long long inclination; // 1e-4 degree
    long long eccentricity; // 1e-7
    double meanMotion;
    double halfRate; // columns 34-43 of line 1
};

Elements elementsOf(const std::string& pair)
{
    const int yy = std::stoi(pair.substr(18, 2));
    const int year = yy < 57 ? 2000 + yy : 1900 + yy;
    long long days = std::stoi(pair.substr(20, 3)) - 1;
    for (int y = std::min(year, 2000); y < std::max(year, 2000); ++y)
        days += (year < 2000 ? -1 : 1) * ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0 ? 366 : 365);
    const std::string line2 = pair.substr(71, 69);
    return {days * 100000000 + std::stoll(pair.substr(24, 8)), std::llround(std::stod(line2.substr(8, 8)) * 1e4),
        std::stoll(line2.substr(26, 7)), std::stod(line2.substr(52, 11)), std::stod(pair.substr(33, 10))};
}

// The counts of the report of changes for `after` against `before`, by the rules the
// README gives: new, gone, jumped, stale.
std::vector<long> expectedChanges(const CheckedCatalogue& before, const CheckedCatalogue& after)
{
    long long newest = 0;
    for (const auto& pair : after.good)
        newest = std::max(newest, elementsOf(pair).epoch);
    std::vector<long> counts(4, 0);
    for (const auto& [n, r] : after.byNumber) {
        const Elements now = elementsOf(after.good[r]);
        counts[3] += newest - now.epoch >= 700000000;
        const auto old = before.lookUp(n);
        if (!old) {
            ++counts[0];
            continue;
        }
        const Elements was = elementsOf(*old);
        const double predicted = 2 * was.halfRate * double(now.epoch - was.epoch) / 1e8;
        counts[2] += std::llabs(now.inclination - was.inclination) >= 500
            || std::llabs(now.eccentricity - was.eccentricity) >= 10000
            || std::abs(now.meanMotion - was.meanMotion - predicted) >= 0.01;
    }
    for (const auto& [n, r] : before.byNumber)
        counts[1] += !after.lookUp(n);
    return counts;
}

TEST(WholeUpdateRun, ASecondRunReportsWhatChangedSinceTheFirst)
{
    const LocalService first = LocalService::fixture("local_service");
    const LocalService second(std::vector<std::string>{"--variant", "1", "--date", "20250101"});
    const Expected before(first, true);
    const Expected after(second, true);
    UpdateHome home(first);
    home.writeSettings({.everyRow = false});
    const std::string report = home.myTles() + "Changes.txt";
    // The head's counts in the order new, gone, jumped, stale; and the lines of each kind.
    auto counted = [&report](std::map<std::string, long>& lines) {
        std::vector<long> head;
        std::istringstream text(readFile(report));
        for (std::string line; std::getline(text, line);) {
            for (const char* kind : {"New ", "Gone ", "Jumped ", "Stale "})
                if (line.starts_with(kind))
                    head.push_back(std::stol(line.substr(std::string(kind).size())));
            if (line.size() > 36 && line[5] == ' ' && line[11] == ' ')
                ++lines[line.substr(0, 5)];
        }
        return head;
    };

    ASSERT_EQ(home.runUpdate().status, 0);
    std::map<std::string, long> firstLines;
    const std::vector<long> firstCounts = counted(firstLines);
    const std::vector<long> none = expectedChanges(after.catalogue, before.catalogue);
    EXPECT_EQ(firstCounts, (std::vector<long>{0, 0, 0, none[3]})) << "nothing to compare with: stale objects only";
    EXPECT_EQ(firstLines, (std::map<std::string, long>{{"STALE", none[3]}}));

    home.useService(second);
    ASSERT_EQ(home.runUpdate().status, 0);
    const std::vector<long> expected = expectedChanges(before.catalogue, after.catalogue);
    ASSERT_GT(expected[0] * expected[1] * expected[2] * expected[3], 0) << "every kind is there to report";
    std::map<std::string, long> lines;
    EXPECT_EQ(counted(lines), expected);
    EXPECT_EQ(lines, (std::map<std::string, long>{
                         {"NEW  ", expected[0]}, {"GONE ", expected[1]}, {"JUMP ", expected[2]}, {"STALE", expected[3]}}));
    const std::string summary = "Changes: " + std::to_string(expected[0]) + " new, " + std::to_string(expected[1])
        + " gone, " + std::to_string(expected[2]) + " jumped, " + std::to_string(expected[3]) + " stale (Changes.txt)";
    EXPECT_TRUE(inOrder(home.logMessages(), {"Close [indexfile]", summary, ""}));
    // Two-line names are the situation report's, for gone objects too.
    std::istringstream text(readFile(report));
    for (std::string line; std::getline(text, line);) {
        if (line.size() < 36 || line[5] != ' ' || line[11] != ' ')
            continue;
        const long n = std::stol(line.substr(6, 5));
        std::string name = "UNKNOWN                 ";
        if (std::size_t(n + 1) * 40 <= after.table.size()
            && after.table.compare(std::size_t(n) * 40 + 16, 24, std::string(24, '\0')) != 0)
            name = after.table.substr(std::size_t(n) * 40 + 16, 24);
        EXPECT_EQ(line.substr(12, 24), name) << line;
    }
}

TEST(WholeUpdateRun, LetterFormNumbersAreKeptIndexedNamedAndWritten)
{
    const LocalService service(std::vector<std::string>{"--alpha5"});
    const Expected expected(service, true);
    // The test means something only when letter-form objects were kept and some asked for.
    const auto letterForm = [](const std::string& pair) { return std::isupper(static_cast<unsigned char>(pair[2])); };
    ASSERT_GT(std::count_if(expected.catalogue.good.begin(), expected.catalogue.good.end(), letterForm), 100);
    UpdateHome home(service);
    home.writeSettings({});

    const test::ProgramOutcome run = home.runUpdate();

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::string myTles = home.myTles();
    EXPECT_TRUE(sameBytes(readFile(myTles + "catalog_2l_20241231.err"), expected.catalogue.rejectedFile()));
    for (const auto& [row, name] : kCategories)
        EXPECT_TRUE(sameBytes(readFile(myTles + "Vantoreal/" + name + ".txt"), expected.category(name))) << name;
    const std::string all = readFile(myTles + "Vantoreal/catalog.txt");
    EXPECT_TRUE(sameBytes(all, comprehensive(expected.catalogue, expected.table)));
    EXPECT_TRUE(sameBytes(readFile(home.work("catalog.idx")), expected.catalogue.index()));
    EXPECT_GT(readFile(home.work("catalog.idx")).size(), 4u * 100000) << "the index reaches past 99999";
    EXPECT_TRUE(sameBytes(readFile(home.work("ssr.dat")), expected.table));
}

TEST(WholeUpdateRun, NoRowTickedStillChecksIndexesAndCleansUp)
{
    const LocalService service = LocalService::fixture("local_service");
    const Expected expected(service, true);
    UpdateHome home(service);
    home.writeSettings({.everyRow = false});

    const test::ProgramOutcome run = home.runUpdate();

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(UpdateHome::filesBelow(home.myTles()),
        (std::vector<std::string>{"2024/catalog/catalog_2l_20241231.zip", "2024/ssr/ssr_20241231.zip", "Changes.txt",
            "catalog_2l_20241231.err"}));
    EXPECT_TRUE(sameBytes(readFile(home.work("catalog.idx")), expected.catalogue.index()));
    EXPECT_TRUE(sameBytes(readFile(home.work("ssr.dat")), expected.table));
    const std::vector<std::string> log = home.logMessages();
    EXPECT_TRUE(inOrder(log,
        {"Indexing SSR data", "Building Vantoreal data sets", "Building comprehensive data sets",
            "Building user-defined data sets", "Close [indexfile]", "Close [fssr]", ""}));
    EXPECT_TRUE(startingWith(log, {"Vantoreal Data Set ", "Generating ", "Retrieving "}).empty());
}

// A catalogue that cannot serve is never kept: refused before it is stored (exit 2), or
// deleted on the halt (exit 1); the next run fetches it again and processes it.
struct UnusableCatalogue {
    const char* name;
    std::vector<std::string> switches;
    bool twoLine;
    int status;
    std::string line; // how a line of the first run's log ends
};

void PrintTo(const UnusableCatalogue& c, std::ostream* os)
{
    *os << c.name;
}

const UnusableCatalogue kUnusable[] = {
    {"DamagedZip", {"--damage-id", "1"}, true, 2, "(Damaged ZIP archive)"},
    {"DamagedGzip", {"--damage-id", "2"}, false, 2, "(Damaged gzip file)"},
    {"CutGzip", {"--cut-id", "2"}, false, 2, "(Incomplete response)"},
    {"BlankLines", {"--blank-id", "1"}, true, 1, "Catalog (2) file is empty. Input file was corrupt."},
    {"TextMissingAfterTheRedownload", {"--name", "1=catalog_2l_20241231b.zip"}, true, 1,
        "Update mode answers No: the catalogue was already re-downloaded once"},
    // Answered with 500: the report arrives, but there is nothing to process.
    {"NotServed", {"--fail-id", "1"}, true, 2, "No catalogue to process: the full catalogue has not been downloaded"},
};

class FetchedAgain : public ::testing::TestWithParam<UnusableCatalogue> { };

TEST_P(FetchedAgain, AfterARunThatCouldNotUseTheCatalogue)
{
    const UnusableCatalogue& c = GetParam();
    const LocalService faulty(c.switches);
    UpdateHome home(faulty);
    home.writeSettings({.twoLine = c.twoLine, .everyRow = false});
    const std::string myTles = home.myTles();

    const test::ProgramOutcome first = home.runUpdate();

    EXPECT_EQ(first.status, c.status) << first.err;
    const std::vector<std::string> firstLog = home.logMessages();
    EXPECT_TRUE(std::any_of(firstLog.begin(), firstLog.end(), [&c](const auto& l) { return l.ends_with(c.line); }));
    EXPECT_TRUE(startingWith(UpdateHome::filesBelow(myTles), {"2024/catalog/"}).empty());
    EXPECT_NE(home.settingsText().find("\nCatalog=\n"), std::string::npos) << "no newest catalogue";
    EXPECT_FALSE(test::exists(home.work("catalog.idx")));

    const LocalService service = LocalService::fixture("local_service");
    const Expected expected(service, c.twoLine);
    home.useService(service);
    const test::ProgramOutcome second = home.runUpdate();

    EXPECT_EQ(second.status, 0) << second.err;
    const int id = c.twoLine ? 1 : 2;
    EXPECT_TRUE(
        sameBytes(readFile(myTles + "2024/catalog/" + service.productName(id)), readFile(service.productPath(id))));
    EXPECT_TRUE(sameBytes(readFile(home.work("catalog.idx")), expected.catalogue.index()));
    EXPECT_FALSE(test::exists(home.work("newdata.pending")));
}

INSTANTIATE_TEST_SUITE_P(WholeUpdateRun, FetchedAgain, ::testing::ValuesIn(kUnusable),
    [](const ::testing::TestParamInfo<UnusableCatalogue>& param) { return std::string(param.param.name); });

// A login the service refuses ends the run with its box; one that the network or the
// service breaks off says why, on standard error. Either ends with 2, nothing stored.
TEST(WholeUpdateRun, ALoginThatFailsEndsTheProgramWithTwoAndSaysWhy)
{
    const LocalService healthy = LocalService::fixture("local_service");
    const struct {
        std::vector<std::string> switches; // of a service of its own; none: the healthy one
        std::string line; // in the log, after "Logging in to Skarvelin"
        std::string err = {}; // empty: "quillmaren: " and the line
        std::string password = LocalService::kPassword;
    } cases[] = {
        {{}, "Skarvelin login not successful", "quillmaren: error: Skarvelin login unsuccessful. [OK]\n", "wrong"},
        {{"--tls", "--tls-certificate", "expired"},
            "Unable to reach Skarvelin: Certificate verification failed: certificate has expired"},
        {{"--login-fault", "reset"}, "Unable to reach Skarvelin: 104:Connection reset by peer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::optional<LocalService> own;
        if (!c.switches.empty())
            own.emplace(c.switches);
        UpdateHome home(own ? *own : healthy);
        home.writeSettings({.password = c.password, .checkCriticalUpdates = false});

        const test::ProgramOutcome run = home.runUpdate();

        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, c.err.empty() ? "quillmaren: " + c.line + "\n" : c.err);
        EXPECT_TRUE(UpdateHome::filesBelow(home.myTles()).empty());
        const std::vector<std::string> log = home.logMessages();
        EXPECT_TRUE(inOrder(log, {"Logging in to Skarvelin", c.line}));
        EXPECT_TRUE(startingWith(log, {"Open [", "Extracting "}).empty());
    }
}

// Runs one after another in one home, told to dunst on a session bus of their own.
TEST(WholeUpdateRun, TheDesktopHearsOfAFailureTheRecoveryThenNothingAndNothingWithoutABus)
{
    QM_NEED_INSTALLED(test::NotificationDesktop::unavailable());
    const test::NotificationDesktop desktop;
    const LocalService healthy = LocalService::fixture("local_service");
    UpdateHome home(healthy);
    home.writeSettings({});
    const std::string failed = "Skarvelin Quillmaren | TLE update failed | ";
    const std::vector<std::string> cut{"--cut-id", "1"};
    const struct {
        std::vector<std::string> service; // switches of a service of its own; none: the healthy one
        bool bus;
        int status;
        std::string told;
    } rows[] = {
        // The catalogue is cut off: one notice, naming it, though the processing fails too.
        {cut, true, 2,
            failed + "Not stored: " + home.myTles() + "2024/catalog/" + healthy.productName(1)
                + " (Incomplete response) | normal\n"},
        // The same under cron, without a session bus: the same end, nothing told.
        {cut, false, 2, ""},
        // 35 categories and the whole catalogue, every one ticked.
        {{}, true, 0, "Skarvelin Quillmaren | TLE update succeeded again | 36 data sets written | normal\n"},
        {{}, true, 0, ""},
        // A new catalogue of which no element set passes the check halts the program.
        {{"--blank-id", "1", "--date", "20250101"}, true, 1,
            failed + "Catalog (2) file is empty. Input file was corrupt. | critical\n"},
    };
    std::string told;
    std::vector<std::string> outputs;
    for (const auto& row : rows) {
        std::optional<LocalService> own;
        if (!row.service.empty())
            own.emplace(row.service);
        home.useService(own ? *own : healthy);
        std::vector<std::string> environment;
        if (row.bus)
            environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + desktop.busAddress());
        const test::ProgramOutcome run = test::waitForProgram(home.startUpdateIn("work", environment), home.work(""));

        EXPECT_EQ(run.status, row.status) << run.err;
        // Read once the program has ended: what it sent did leave before it.
        told += row.told;
        EXPECT_EQ(desktop.received(), told);
        outputs.push_back(run.err + run.out);
    }
    EXPECT_EQ(outputs[1], outputs[0]) << "without a bus the run says and ends what it did with one";
}

// Through Debian's squid, which wants Basic credentials and keeps its connections open:
// plain http goes to it as whole URLs, https through CONNECT tunnels. The outputs are
// those of a run without a proxy, squid names the proxy's user on every request, and
// the proxy's password reaches neither the service nor the debug log.
class ThroughSquid : public ::testing::Test {
protected:
    void SetUp() override { QM_NEED_INSTALLED(test::SquidProxy::unavailable()); }

    void runAndCheck(bool tls, bool twoLine)
    {
        std::vector<std::string> switches{"--head-log", heads.file("heads.txt")};
        if (tls)
            switches.push_back("--tls");
        const LocalService service(switches);
        const Expected expected(service, twoLine);
        test::SquidProxy squid;
        UpdateHome home(service);
        home.writeSettings({.twoLine = twoLine,
            .proxyPort = squid.port(),
            .proxyUser = test::SquidProxy::kUser,
            .proxyPassword = test::SquidProxy::kPassword});

        const test::ProgramOutcome run = home.runUpdate();
        squid.stop();

        EXPECT_EQ(run.status, 0) << squid.cacheLog();
        EXPECT_EQ(run.err, "");
        const std::string myTles = home.myTles();
        const std::string catalogue
            = twoLine ? "2024/catalog/catalog_2l_20241231.zip" : "2024/catalog/catalog_3l_20241231.txt.gz";
        const std::string rejects = twoLine ? "catalog_2l_20241231.err" : "catalog_3l_20241231.err";
        std::vector<std::string> files{catalogue, rejects, "Changes.txt", "Vantoreal/catalog.txt"};
        if (twoLine)
            files.push_back("2024/ssr/ssr_20241231.zip");
        for (const auto& [row, name] : kCategories)
            files.push_back("Vantoreal/" + name + ".txt");
        std::sort(files.begin(), files.end());
        EXPECT_EQ(UpdateHome::filesBelow(myTles), files);
        EXPECT_TRUE(sameBytes(readFile(myTles + catalogue), readFile(service.productPath(twoLine ? 1 : 2))));
        EXPECT_TRUE(sameBytes(readFile(myTles + rejects), expected.catalogue.rejectedFile()));
        for (const auto& [row, name] : kCategories)
            EXPECT_TRUE(sameBytes(readFile(myTles + "Vantoreal/" + name + ".txt"), expected.category(name))) << name;
        EXPECT_TRUE(
            sameBytes(readFile(myTles + "Vantoreal/catalog.txt"), comprehensive(expected.catalogue, expected.table)));
        EXPECT_TRUE(sameBytes(readFile(home.work("catalog.idx")), expected.catalogue.index()));
        if (twoLine) {
            EXPECT_TRUE(sameBytes(readFile(home.work("ssr.dat")), expected.table));
        }

        // Every request the service got came through squid under the proxy's user: one
        // access line each, a whole URL for http, a tunnel to the service for https.
        const std::string received = readFile(heads.file("heads.txt"));
        std::size_t requests = 0;
        for (std::size_t at = received.find("\r\n\r\n"); at != std::string::npos;
             at = received.find("\r\n\r\n", at + 4))
            ++requests;
        const std::vector<std::string> access = squid.accessLog();
        EXPECT_GT(requests, kCategories.size());
        EXPECT_EQ(access.size(), requests);
        const std::string user = test::SquidProxy::kUser;
        for (const std::string& line : access)
            EXPECT_TRUE(tls ? line == user + " CONNECT " + service.hostPort() + " 200"
                            : line.starts_with(user + " ") && line.find(" " + service.base() + "/") != std::string::npos
                        && line.ends_with(" 200"))
                << line;
        std::string lower = received;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        EXPECT_EQ(lower.find("authorization"), std::string::npos) << "no credentials of any kind reach the service";
        EXPECT_EQ(received.find(test::SquidProxy::kPassword), std::string::npos);
        EXPECT_EQ(readFile(home.work("quillmaren.log")).find(test::SquidProxy::kPassword), std::string::npos);
    }

    test::TempDir heads;
};

TEST_F(ThroughSquid, PlainHttpTwoLineRunBuildsWhatADirectRunBuilds)
{
    runAndCheck(false, true);
}

TEST_F(ThroughSquid, HttpsThreeLineRunBuildsWhatADirectRunBuilds)
{
    runAndCheck(true, false);
}

} // namespace
} // namespace qm::e2e
