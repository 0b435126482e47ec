// The download run against a scripted catalogue service on 127.0.0.1.
#include "ArchiveMaker.h"
#include "LoopbackServer.h"
#include "QtCoreApp.h"
#include "RecordingReporter.h"
#include "ScriptedPrompts.h"
#include "SmallDisk.h"
#include "TempDir.h"
#include "TlsLoopbackServer.h"

#include "platform/Errors.h"
#include "platform/File.h"
#include "service/DownloadRun.h"
#include "service/HttpFailure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <utility>

namespace qm {
namespace {

using test::LoopbackServer;
using test::readFile;
using Reply = LoopbackServer::Reply;

// One product as the service offers it.
struct Product {
    std::string name{};
    std::string body = "data";
    int getStatus = 200; // the HEAD always succeeds
    std::string naming{}; // the head's naming text; empty: "filename=" + name
    int cutAfter = -1; // body bytes sent before hanging up; -1: all
    bool silentGet = false;
    std::string rawGet{}; // when set, the whole reply to the GET
};

// A ZIP archive of one member, as the service packs a catalogue.
std::string zipOf(const std::string& text)
{
    return test::zipSharingOneStream(text, {"catalog.txt"});
}

// A legal name of `length` bytes: "l<length>_2l_2007_nnn...n.txt", in 2007/l<length>/.
std::string nameOfLength(std::size_t length)
{
    std::string name = "l" + std::to_string(length) + "_2l_2007_";
    return name + std::string(length - name.size() - 4, 'n') + ".txt";
}

// The catalogue service: login form, session cookie, HEAD and GET of numbered products.
struct Service {
    std::string loginReply = "HTTP/1.0 200 OK\r\nSet-Cookie: sid=s1; path=/\r\n\r\n<a href=\"home.pl\">Home</a>";
    std::map<int, Product> products;

    Reply answer(const std::string& request) const
    {
        const std::string target = LoopbackServer::requestTarget(request);
        if (target == "/perl/login.pl")
            return Reply::text(loginReply);
        const auto product = products.find(std::atoi(target.c_str() + target.find('=') + 1));
        if (product == products.end())
            return Reply::text("HTTP/1.0 404 Not Found\r\n\r\nno such product");
        const Product& p = product->second;
        const bool head = request.starts_with("HEAD");
        const std::string lines = "HTTP/1.0 " + std::to_string(head ? 200 : p.getStatus)
            + " X\r\nContent-Disposition: attachment; " + (p.naming.empty() ? "filename=" + p.name : p.naming)
            + "\r\nContent-Length: " + std::to_string(p.body.size()) + "\r\n\r\n";
        if (head)
            return Reply::text(lines);
        if (p.silentGet)
            return Reply::silent();
        if (!p.rawGet.empty())
            return Reply::text(p.rawGet);
        return Reply::text(lines + (p.cutAfter < 0 ? p.body : p.body.substr(0, static_cast<std::size_t>(p.cutAfter))));
    }
};

struct FakeWindow : DownloadWindow {
    int format = 0;
    std::array<bool, 12> ticks{};
    bool complete = false;
    bool ssr = false;
    bool autoDl = false;
    bool busy = false;
    bool enabled = true;
    int currentChecks = 0;
    std::function<bool()> critical = [] { return true; };

    std::string MyTLEsDir;
    std::string AccountUsername = "ann";
    std::string AccountPassword = "secret";
    std::string MostCurrentCatalog;
    std::string MostCurrentSatcat;
    bool NewDataDownloaded = true;
    bool Redownloading = false;
    bool CheckCriticalUpdates = false;

    int formatIndex() const override { return format; }
    bool currentCatalogTicked(int item) const override { return ticks.at(static_cast<std::size_t>(item)); }
    bool completeDailyData() const override { return complete; }
    bool situationReport() const override { return ssr; }
    bool autoDownload() const override { return autoDl; }
    void setBusyCursor(bool on) override { busy = on; }
    void setDownloadEnabled(bool on) override { enabled = on; }
    void CheckForCurrentData() override { ++currentChecks; }
    bool CheckForCriticalUpdate() override { return critical(); }
    void transferProgress(std::int64_t received, std::int64_t total) override
    {
        transfers.push_back(std::to_string(received) + " of " + std::to_string(total));
    }
    void transferEnded() override { transfers.push_back("end"); }
    std::vector<std::string> transfers;
    DownloadValues values() override
    {
        return {MyTLEsDir, AccountUsername, AccountPassword, MostCurrentCatalog, MostCurrentSatcat, NewDataDownloaded,
            Redownloading, CheckCriticalUpdates};
    }
};

class DownloadRunTest : public ::testing::Test {
protected:
    DownloadRunTest()
        : cwd(dir.path())
    {
        test::coreApplication();
        ::setenv("QUILLMAREN_SERVICE_HOST", server.hostPort().c_str(), 1);
        server.setHandler([this](const std::string& request) { return service.answer(request); });
        window.MyTLEsDir = dir.file("My TLEs/");
        std::filesystem::create_directory(window.MyTLEsDir);
        http.OnFailure = [this](std::string_view) { NMHTTPFailure(http, prompts, reporter, failed); };
    }

    RunOutcome run() { return DownloadRun(window, http, reporter, prompts).run(); }

    // "METHOD target" of every request after the first `from`.
    std::vector<std::string> requestLines(std::size_t from = 0) const
    {
        std::vector<std::string> lines;
        const auto all = server.requests();
        for (std::size_t i = from; i < all.size(); ++i)
            lines.push_back(all[i].substr(0, all[i].find(' ')) + " " + LoopbackServer::requestTarget(all[i]));
        return lines;
    }
    std::string stored(const std::string& relative) const { return window.MyTLEsDir + relative; }
    // Ticks every item of the two-line form, and the daily files (19 products) or the
    // report (13); their numbers in the order of the run.
    std::vector<int> selectAll(bool daily)
    {
        window.ticks.fill(true);
        window.complete = daily;
        window.ssr = !daily;
        std::vector<int> numbers;
        for (int item = 0; item < 12; ++item)
            numbers.push_back(downloadNumber(item, 0));
        for (int n = 101; daily && n <= 107; ++n)
            numbers.push_back(n);
        if (!daily)
            numbers.push_back(25);
        return numbers;
    }

    test::TempDir dir;
    test::ScopedCurrentDir cwd;
    // Before the server: its thread answers from here until the server is gone.
    Service service;
    LoopbackServer server;
    HttpExchange http;
    test::RecordingReporter reporter;
    test::ScriptedPrompts prompts;
    bool failed = false;
    FakeWindow window;
};

TEST_F(DownloadRunTest, TwoLineRunStoresListsAndRemembersTheNewestFilesThenFetchesNothingTwice)
{
    window.ticks[0] = window.ticks[4] = window.complete = window.ssr = true;
    service.products[1] = {.name = "catalog_2l_2007_10_15_am.zip", .body = zipOf("full catalogue")};
    service.products[9] = {.name = "iridium_2l_2007_10_15_am.txt"};
    for (int n = 101; n <= 107; ++n)
        service.products[n] = {.name = "alldata_2007_10_" + std::to_string(n - 90) + ".txt"};
    service.products[25] = {.name = "ssr_20071015.zip", .body = zipOf("report")};

    EXPECT_EQ(run(), RunOutcome::Completed);

    std::vector<std::string> expected{"POST /perl/login.pl"};
    std::string newData;
    for (int n : {1, 9, 101, 102, 103, 104, 105, 106, 107, 25}) {
        expected.push_back("HEAD /perl/dl.pl?ID=" + std::to_string(n));
        expected.push_back("GET /perl/dl.pl?ID=" + std::to_string(n));
        const std::string& name = service.products[n].name;
        newData += stored("2007/" + name.substr(0, name.find('_')) + "/" + name) + "\r\n";
    }
    EXPECT_EQ(requestLines(), expected);
    for (const auto& request : server.requests())
        EXPECT_EQ(request.starts_with("POST"), request.find("\r\nCookie: sid=s1\r\n") == std::string::npos);
    const std::string catalog = stored("2007/catalog/catalog_2l_2007_10_15_am.zip");
    const std::string report = stored("2007/ssr/ssr_20071015.zip");
    EXPECT_EQ(readFile(catalog), zipOf("full catalogue"));
    EXPECT_EQ(readFile(report), zipOf("report"));
    EXPECT_EQ(readFile("newdata.log"), newData);
    EXPECT_NE(readFile("header.txt").find("filename=ssr_20071015.zip"), std::string::npos);
    EXPECT_EQ(window.MostCurrentCatalog, catalog);
    EXPECT_EQ(window.MostCurrentSatcat, report);
    EXPECT_TRUE(window.NewDataDownloaded);
    EXPECT_EQ(window.currentChecks, 1);
    EXPECT_FALSE(window.busy);
    EXPECT_TRUE(window.enabled);
    EXPECT_EQ(reporter.status, "Done");
    EXPECT_EQ(std::vector<std::string>(reporter.logLines.begin(), reporter.logLines.begin() + 14),
        (std::vector<std::string>{"Bypassing check for critical updates", "Performing manual download",
            "Two-Line Data Format", "Current Catalog File 0 selected", "Current Catalog File 4 selected",
            "Complete Daily Data selected", "SSR selected", "Manual download", "Logging in to Skarvelin",
            "Skarvelin login successful", "Open [fnd] newdata.log", "Checking catalog_2l_2007_10_15_am.zip",
            "Checking directory: " + stored("2007/"), "Directory does not exist: " + stored("2007/")}));
    EXPECT_TRUE(reporter.logged("Downloading catalog_2l_2007_10_15_am.zip"));
    EXPECT_EQ(reporter.logLines.end()[-2], "Close [fnd]");

    // Until a processing run deals with them, the new files are marked as unprocessed.
    EXPECT_TRUE(fileExists(kUnprocessedFile));
    removeFile(kUnprocessedFile);

    // Everything is stored now: only the names are asked for, and the list starts empty.
    const std::size_t before = server.requests().size();
    window.MostCurrentCatalog.clear();
    run();
    EXPECT_EQ(requestLines(before).size(), 11u);
    for (const auto& line : requestLines(before + 1))
        EXPECT_TRUE(line.starts_with("HEAD ")) << line;
    EXPECT_EQ(readFile("newdata.log"), "");
    EXPECT_FALSE(window.NewDataDownloaded);
    EXPECT_EQ(window.MostCurrentCatalog, catalog);

    // A program killed before its processing ended left the mark: the files it stored
    // count as new, though nothing is fetched.
    test::writeFile(kUnprocessedFile, "");
    const std::size_t third = server.requests().size();
    run();
    EXPECT_EQ(requestLines(third).size(), 11u);
    EXPECT_EQ(readFile("newdata.log"), "");
    EXPECT_TRUE(window.NewDataDownloaded);
    EXPECT_TRUE(reporter.logged("Files of an earlier run not yet processed"));
}

TEST_F(DownloadRunTest, ThreeLineNumbersAndDebugLines)
{
    window.format = 1;
    window.ticks[0] = window.ticks[4] = window.ticks[11] = window.ssr = true;
    run();
    EXPECT_EQ(requestLines(),
        (std::vector<std::string>{"POST /perl/login.pl", "HEAD /perl/dl.pl?ID=2", "HEAD /perl/dl.pl?ID=10",
            "HEAD /perl/dl.pl?ID=24", "HEAD /perl/dl.pl?ID=25"}));
    EXPECT_TRUE(reporter.logged("Three-Line Data Format"));
    EXPECT_TRUE(reporter.logged("Current Catalog File 11 selected"));
    EXPECT_TRUE(reporter.logged("No file name for ID 2")) << "the 404 head names no file";
    // A reply to HEAD has no body to show: the warning names the product's address, once.
    ASSERT_EQ(prompts.shown.size(), 4u);
    EXPECT_EQ(prompts.shown[0].text, "GET command \"http://" + server.hostPort() + "/perl/dl.pl?ID=2\" failed.");
}

TEST(DownloadNames, FoldersFileNamesAndTheirRefusal)
{
    for (const auto& [name, kind, group] :
        std::vector<std::array<std::string, 3>>{{"catalog_3l_2007_10_15.txt.gz", "catalog", "2007"},
            {"spec_visible_2l_2007_1.txt", "spec_visible", "2007"}, {"alldata_2007_10_15.txt", "alldata", "2007"},
            {"iridium_2l_07.txt", "iridium", "07.t"}, {"catalog", "", ""}, {"spec_visible", "", ""},
            {"catalog_2l_", "catalog", ""}, {"catalog_2l_.", "", ""}, {"catalog_..", "", ""}, {"._2007", "", ""},
            {".._2l_2007", "", ""}, {"catalog_2l_.a", "catalog", ".a"}}) {
        EXPECT_EQ(placeOf(name).kind, kind) << name;
        EXPECT_EQ(placeOf(name).group, group) << name;
    }
    EXPECT_EQ(fileNameOfHead("HTTP/1.0 200 OK\r\nX: 1\r\n\r\n"), std::nullopt);
    EXPECT_EQ(fileNameOfHead("C: attachment; filename=\"a b.zip\"\r\nNext: 1\r\n"), "a b.zip");
    EXPECT_EQ(fileNameOfHead("C: filename=x.txt\nNext: 1\n"), "x.txt");
    for (const std::string& bad : std::vector<std::string>{"", "../x_2l_2007", "a/b_2007", "a\\b_2007", ".x_2007",
             "a..b_2007", std::string("a_2007\0.zip", 11), std::string("\0", 1), nameOfLength(256)})
        EXPECT_FALSE(acceptableFileName(bad)) << bad;
    EXPECT_TRUE(acceptableFileName("catalog_2l_2007.zip"));
    EXPECT_TRUE(acceptableFileName(nameOfLength(255)));
}

TEST_F(DownloadRunTest, ARefusedOrFailedNameEndsOnlyItsOwnProduct)
{
    struct Case {
        std::string naming; // the head's naming text
        std::string stored; // where it lands below My TLEs; empty: nowhere
        std::string line; // the status line that says why not
    };
    const std::string inTheWay = stored("2007/in/in_2l_2007.txt");
    const Case cases[] = {
        {"filename=\"geo_2l_2007_a.txt\"", "2007/geo/geo_2l_2007_a.txt", ""},
        {"filename=../../evil_2l_2007.txt", "", "Refused file name ../../evil_2l_2007.txt"},
        {"filename=.hidden_2l_2007.txt", "", "Refused file name .hidden_2l_2007.txt"},
        {"filename=", "", "Refused file name "},
        {"inline", "", "No file name for ID 9"},
        {"filename=nounderscore.txt", "", "Refused file name nounderscore.txt"},
        {std::string("filename=bad\0name_2l_2007.txt", 29), "", "Refused file name bad?name_2l_2007.txt"},
        {"filename=catalog_2l_.", "", "Refused file name catalog_2l_."},
        {"filename=" + nameOfLength(256), "", "Refused file name " + nameOfLength(256)},
        {"filename=in_2l_2007.txt", "",
            "Not stored: " + inTheWay + " (Unable to write to " + inTheWay + ": Is a directory)"},
        {"filename=" + nameOfLength(255), "2007/l255/" + nameOfLength(255), ""},
        {"filename=" + nameOfLength(241), "2007/l241/" + nameOfLength(241), ""},
        {"filename=" + nameOfLength(226), "2007/l226/" + nameOfLength(226), ""},
    };
    // A folder, not a file, holds the product's name.
    std::filesystem::create_directories(inTheWay + "/content");
    const std::vector<int> numbers = selectAll(false);
    ASSERT_EQ(std::size(cases), numbers.size());
    std::vector<std::string> warnings;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const int number = numbers[i];
        service.products[number] = {.body = "data " + std::to_string(i), .naming = cases[i].naming};
        if (cases[i].line.starts_with("Not stored: "))
            warnings.push_back("GET command \"" + inTheWay + "\" failed.");
        else if (!cases[i].line.empty())
            warnings.push_back("GET command \"http://" + server.hostPort() + "/perl/dl.pl?ID=" + std::to_string(number)
                + "\" failed.");
    }

    EXPECT_EQ(run(), RunOutcome::EndedEarly);

    std::string newData;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        if (!c.stored.empty()) {
            EXPECT_EQ(readFile(stored(c.stored)), "data " + std::to_string(i)) << c.stored;
            newData += stored(c.stored) + "\r\n";
        } else {
            EXPECT_TRUE(reporter.logged(c.line)) << c.line;
        }
    }
    std::vector<std::string> shown;
    for (const auto& prompt : prompts.shown)
        shown.push_back(prompt.text);
    EXPECT_EQ(shown, warnings) << "each missing product warned about once";
    EXPECT_EQ(readFile("newdata.log"), newData);
    std::vector<std::string> below;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(window.MyTLEsDir))
        below.push_back(entry.path().string().substr(window.MyTLEsDir.size()));
    std::sort(below.begin(), below.end());
    EXPECT_EQ(below,
        (std::vector<std::string>{"2007", "2007/geo", "2007/geo/geo_2l_2007_a.txt", "2007/in", "2007/in/in_2l_2007.txt",
            "2007/in/in_2l_2007.txt/content", "2007/l226", "2007/l226/" + nameOfLength(226), "2007/l241",
            "2007/l241/" + nameOfLength(241), "2007/l255", "2007/l255/" + nameOfLength(255)}))
        << "nothing outside its place, no temporary left";
    EXPECT_EQ(reporter.status, "Done");
}

TEST_F(DownloadRunTest, AnErrorPageOrACutTransferIsNeverStored)
{
    window.ticks[0] = window.ticks[1] = window.ticks[2] = true;
    window.MostCurrentCatalog = "older catalogue";
    service.products[1] = {.name = "catalog_2l_2007_x.zip", .body = zipOf("c"), .getStatus = 500};
    service.products[3] = {.name = "geo_2l_2007_x.txt", .body = std::string(100, 'g'), .cutAfter = 40};
    service.products[5] = {.name = "nav_2l_2007_x.txt"};

    EXPECT_EQ(run(), RunOutcome::EndedEarly) << "after the other products";

    const std::string catalog = stored("2007/catalog/catalog_2l_2007_x.zip");
    const std::string geo = stored("2007/geo/geo_2l_2007_x.txt");
    ASSERT_EQ(prompts.shown.size(), 2u) << "one warning for each missing product";
    EXPECT_EQ(prompts.shown[0].text, "GET command \"" + catalog + "\" failed.") << "the product, not its temporary";
    EXPECT_EQ(prompts.shown[1].text, "GET command \"" + geo + "\" failed.");
    EXPECT_TRUE(failed);
    EXPECT_EQ(listDirectory(stored("2007/catalog/")), std::vector<std::string>{}) << "no product, no temporary";
    EXPECT_EQ(listDirectory(stored("2007/geo/")), std::vector<std::string>{});
    EXPECT_TRUE(reporter.logged("Not stored: " + catalog + " (Status 500)"));
    EXPECT_TRUE(reporter.logged("Not stored: " + geo + " (Incomplete response)"));
    EXPECT_EQ(readFile("newdata.log"), stored("2007/nav/nav_2l_2007_x.txt") + "\r\n");
    EXPECT_FALSE(window.NewDataDownloaded);
    EXPECT_EQ(window.MostCurrentCatalog, "older catalogue") << "a product that is not there is not the newest";
    EXPECT_EQ(window.currentChecks, 1);

    // The next run fetches the missing products again.
    const std::size_t before = server.requests().size();
    service.products[1].getStatus = 200;
    service.products[3].cutAfter = -1;
    EXPECT_EQ(run(), RunOutcome::Completed);
    EXPECT_EQ(requestLines(before).size(), 1u + 5u);
    EXPECT_EQ(window.MostCurrentCatalog, catalog);
    EXPECT_TRUE(window.NewDataDownloaded);
}

// Whatever the service sends in place of a product must not be kept under its name:
// a stored file is never fetched again.
TEST_F(DownloadRunTest, OnlyAWholeReplyOfTheKindItsNameAnnouncesIsStored)
{
    std::string gzip;
    {
        const std::string path = dir.file("made.gz");
        test::makeGzip(path, "1 ISS\n");
        gzip = readFile(path);
    }
    const std::string zip = zipOf("1 ISS\n");
    const auto reply
        = [](const std::string& head, const std::string& body) { return "HTTP/1.0 " + head + "\r\n\r\n" + body; };
    // For bodies that pass their first bytes and fail further in: `bytes` put over `body` at `at`.
    const auto patched = [](std::string body, std::size_t at, const std::string& bytes) {
        return body.replace(at, bytes.size(), bytes);
    };
    const std::size_t endRecord = zip.size() - 22;
    const std::size_t central = zip.find("PK\x01\x02");
    const std::string zero4(4, '\0');
    // The record that ends the file, its comment holding another that does not.
    const std::string fakeEnd = "PK\x05\x06" + std::string(18, '\0') + "xx";
    const std::string commented = patched(zip, zip.size() - 2, "\x18") + fakeEnd;
    struct Case {
        std::string extension;
        Product product; // name set below
        std::string reason; // empty: stored
    };
    const Case cases[] = {
        {".txt", {.body = "1 ISS", .getStatus = 400}, "Status 400"},
        {".txt", {.body = "1 ISS", .getStatus = 404}, "Status 404"},
        {".txt", {.body = "1 ISS", .getStatus = 203}, "Status 203"},
        {".txt", {.rawGet = reply("100 Continue", "") + reply("200 OK", "1 ISS")}, "Status 100"},
        {".txt", {.rawGet = "1 ISS without a head"}, "No status line"},
        {".txt", {.rawGet = reply("200 OK\r\nTransfer-Encoding: chunked", "5\r\n1 ISS\r\n0\r\n\r\n")},
            "Unsupported transfer encoding"},
        {".txt", {.rawGet = reply("200 OK\r\nContent-Length: 5\r\nContent-Length: 5", "1 ISS")},
            "Malformed Content-Length"},
        {".txt", {.rawGet = reply("200 OK\r\nContent-Length: 5x", "1 ISS")}, "Malformed Content-Length"},
        {".txt", {.rawGet = reply("200 OK\r\nContent-Length: 3", "1 ISS")}, "Longer than its Content-Length"},
        {".txt", {.rawGet = reply("200 OK\r\nContent-Length : 5", "1 ISS")}, "Malformed response head"},
        {".zip", {.body = "<html>Please log in</html>"}, "Not a ZIP archive"},
        {".zip", {.body = zip.substr(0, zip.size() - 1)}, "Not a ZIP archive"},
        {".gz", {.body = "1 ISS"}, "Not a gzip file"}, {".txt", {.body = " \r\n\t<!DOCTYPE html>"}, "Not a text file"},
        {".txt", {.body = std::string("1 ISS\0", 6)}, "Not a text file"},
        {".zip", {.body = patched(zip, endRecord + 8, zero4)}, "Not a ZIP archive"}, // no entries
        {".zip", {.body = patched(zip, endRecord + 16, zero4)}, "Not a ZIP archive"}, // no central header there
        {".gz", {.body = patched(gzip, 2, "\x07")}, "Not a gzip file"}, // a method other than deflate
        {".txt", {.body = "\xEF\xBB\xBF<html>"}, "Not a text file"}, // behind a byte order mark
        {".zip", {.body = patched(zip, central + 16, zero4)}, "Damaged ZIP archive"}, // CRC
        {".zip", {.body = patched(zip, central + 8, "\x01")}, "Damaged ZIP archive"}, // encrypted
        {".gz", {.body = gzip.substr(0, gzip.size() - 3)}, "Damaged gzip file"},
        {".gz", {.body = patched(gzip, gzip.size() - 2, "\x01")}, "Damaged gzip file"}, // length
        {".gz", {.body = gzip}, ""}, {".zip", {.body = zip}, ""}, {".txt", {.body = "1 ISS\n"}, ""},
        {".ZIP", {.body = "1 ISS\n"}, ""}, // only ".zip" is unpacked as a ZIP archive
        {".txt", {.body = ""}, ""}, {".zip", {.body = commented}, ""},
        {".txt", {.body = std::string(64 * 1024, 'x') + "<b>"}, ""}, // "<" only in its second block
    };
    const std::vector<int> numbers = selectAll(true);
    std::vector<std::string> warnings;
    std::string newData;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        Product product = cases[i].product;
        product.name = "p" + std::to_string(i) + "_2l_2007" + cases[i].extension;
        const std::string path = stored("2007/p" + std::to_string(i) + "/" + product.name);
        if (cases[i].reason.empty())
            newData += path + "\r\n";
        else
            warnings.push_back("warning: GET command \"" + path + "\" failed.");
        const std::size_t selected = i % numbers.size();
        service.products[numbers[selected]] = product;
        // A run for as many products as it can select; the last only for the items of
        // the list it needs (the daily files go together).
        if (selected + 1 < numbers.size() && i + 1 < std::size(cases))
            continue;
        for (std::size_t item = 0; item < window.ticks.size(); ++item)
            window.ticks[item] = item <= selected;
        window.complete = selected >= window.ticks.size();
        EXPECT_EQ(run(), RunOutcome::EndedEarly);
        EXPECT_EQ(readFile("newdata.log"), std::exchange(newData, ""));
    }

    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const std::string folder = stored("2007/p" + std::to_string(i) + "/");
        const std::string path = folder + "p" + std::to_string(i) + "_2l_2007" + c.extension;
        SCOPED_TRACE(path);
        if (c.reason.empty()) {
            EXPECT_EQ(readFile(path), c.product.body);
            EXPECT_EQ(listDirectory(folder).size(), 1u);
        } else {
            EXPECT_EQ(listDirectory(folder), std::vector<std::string>{}) << "nothing stored, no temporary";
            EXPECT_TRUE(reporter.logged("Not stored: " + path + " (" + c.reason + ")"));
        }
    }
    std::vector<std::string> shown;
    for (const auto& prompt : prompts.shown)
        shown.push_back(prompt.kind + ": " + prompt.text);
    EXPECT_EQ(shown, warnings) << "each missing product warned about once, in order";
    EXPECT_EQ(reporter.status, "Done");
}

// A full disk fails the product that filled it, under the product's own name; the
// space its temporary took is given back for the next one.
TEST_F(DownloadRunTest, AProductTheDiskCannotHoldEndsOnlyItselfUnderItsOwnName)
{
    test::SmallDisk disk;
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    window.MyTLEsDir = disk.path();
    disk.leaveFree(256 << 10);
    window.ticks[0] = window.ticks[1] = true;
    service.products[1] = {.name = "big_2l_2007.txt", .body = std::string(1 << 20, 'b')};
    service.products[3] = {.name = "small_2l_2007.txt"};

    EXPECT_EQ(run(), RunOutcome::EndedEarly);

    const std::string big = disk.file("2007/big/big_2l_2007.txt");
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "GET command \"" + big + "\" failed.");
    EXPECT_TRUE(reporter.logged("Not stored: " + big + " (Unable to write to " + big + ": No space left on device)"));
    EXPECT_EQ(listDirectory(disk.file("2007/big/")), std::vector<std::string>{});
    EXPECT_EQ(readFile(disk.file("2007/small/small_2l_2007.txt")), "data");
}

TEST_F(DownloadRunTest, RedownloadingKeepsTheListOfNewFiles)
{
    test::writeFile("newdata.log", "earlier\r\n");
    window.Redownloading = window.ticks[0] = true;
    service.products[1] = {.name = "catalog_2l_2007_x.zip", .body = zipOf("")};
    run();
    EXPECT_EQ(readFile("newdata.log"), "earlier\r\n");
    EXPECT_TRUE(fileExists(stored("2007/catalog/catalog_2l_2007_x.zip")));
    EXPECT_TRUE(window.NewDataDownloaded);
}

TEST_F(DownloadRunTest, FailedLoginShowsItsMessageKeepsNoCookieAndGivesTheButtonBack)
{
    window.ticks[0] = true;
    service.loginReply = "HTTP/1.0 200 OK\r\nSet-Cookie: sid=rejected\r\n\r\nWrong password";
    EXPECT_EQ(run(), RunOutcome::EndedEarly);
    EXPECT_EQ(requestLines(), std::vector<std::string>{"POST /perl/login.pl"});
    EXPECT_EQ(reporter.status, "Skarvelin login not successful");
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, "error");
    EXPECT_EQ(prompts.shown[0].text, "Skarvelin login unsuccessful.");
    EXPECT_EQ(http.Cookie, "");
    EXPECT_FALSE(window.busy);
    EXPECT_TRUE(window.enabled);
    EXPECT_FALSE(fileExists("newdata.log"));

    // With auto download on, only the scheduler starts runs: the button stays off.
    window.autoDl = true;
    run();
    EXPECT_FALSE(window.enabled);
}

// A login the network breaks off ends the run without a box, but says why: on the status
// line, in the log and on standard error in update mode (rows without a handler: no log).
TEST_F(DownloadRunTest, ALoginThatFailsOnTheWaySaysWhy)
{
    window.ticks[0] = true;
    http.TimeOut = 300;
    ::setenv("QUILLMAREN_CA_FILE", test::TlsLoopbackServer::caFile().c_str(), 1);
    const test::TlsLoopbackServer expired({.certificate = "expired"});
    const std::string nobody = "127.0.0.1:" + std::to_string(LoopbackServer::unusedPort());
    const struct {
        std::string reason;
        std::string host; // empty: the server, which answers every login with `login`
        Reply login = {};
    } cases[] = {
        {"Certificate verification failed: certificate has expired", expired.url("")},
        {"Connection Failed: Connection refused", nobody},
        {"Null Remote Address: Name or service not known", "no such host"},
        {"Timed out waiting for response", "", Reply::silent()},
        {"104:Connection reset by peer", "", Reply().reset()},
        {"Too many redirects", "", Reply::text("HTTP/1.0 302 Found\r\nLocation: login.pl\r\n\r\n")},
        {"Response too large", "", Reply().send("HTTP/1.0 200 OK\r\nSet-Cookie: a\r\n").fill(2u << 20)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        const std::string text = "Unable to reach Skarvelin: " + c.reason;
        const bool served = c.host.empty();
        server.setHandler([&c](const std::string&) { return c.login; });
        ::setenv("QUILLMAREN_SERVICE_HOST", served ? server.hostPort().c_str() : c.host.c_str(), 1);
        reporter.setDebug(served);
        reporter.notices.clear();
        EXPECT_EQ(run(), RunOutcome::EndedEarly);
        EXPECT_TRUE(prompts.shown.empty());
        EXPECT_EQ(reporter.status, text);
        EXPECT_EQ(served ? reporter.logLines.back() : text, text) << "in the log with debug logging";
        EXPECT_EQ(reporter.notices, std::vector<std::string>{text});
        EXPECT_FALSE(window.busy);
        EXPECT_EQ(http.Cookie, "");
    }
    ::unsetenv("QUILLMAREN_CA_FILE");
}

TEST_F(DownloadRunTest, TheAccountIsFormEncodedInTheLoginBody)
{
    run();
    window.AccountUsername = "a b&c=d";
    window.AccountPassword = "p+%~\xE9-._";
    run();
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0].ends_with(
        "\r\nContent-Length: 68\r\n\r\nusername=ann&password=secret&_submitted=1&_sessionid=&_submit=Submit"));
    EXPECT_TRUE(requests[1].ends_with("\r\n\r\nusername=a%20b%26c%3Dd&password=p%2B%25~%E9-._"
                                      "&_submitted=1&_sessionid=&_submit=Submit"));
}

TEST_F(DownloadRunTest, TheCursorAndTheButtonComeBackOnEveryWayOut)
{
    window.ticks[0] = window.ticks[1] = true;
    service.products[1] = {.name = "catalog_2l_2007_x.txt"};
    service.products[3] = {.name = "geo_2l_2007_x.txt", .silentGet = true};

    // The publisher's host cannot be reached: no login.
    window.CheckCriticalUpdates = true;
    window.critical = [] { return false; };
    EXPECT_EQ(run(), RunOutcome::EndedEarly);
    EXPECT_EQ(server.requests().size(), 0u);
    EXPECT_FALSE(window.busy);
    EXPECT_TRUE(window.enabled);

    // A required update ends the program from inside the check.
    window.critical = []() -> bool { throw FatalStop{"Critical update required", true, 0, false}; };
    EXPECT_THROW(run(), FatalStop);
    EXPECT_FALSE(window.busy);
    EXPECT_TRUE(window.enabled);

    // A transfer that times out leaves the run with its error, after the list is closed.
    window.CheckCriticalUpdates = false;
    http.TimeOut = 300;
    try {
        run();
        ADD_FAILURE() << "no error";
    } catch (const SocketError& e) {
        EXPECT_STREQ(e.what(), "Timed out waiting for response");
    }
    EXPECT_FALSE(window.busy);
    EXPECT_TRUE(window.enabled);
    // Progress of the two GETs only, and each one's end, the failed one's too.
    ASSERT_GE(window.transfers.size(), 3u);
    EXPECT_EQ(window.transfers.back(), "end");
    EXPECT_EQ(std::count(window.transfers.begin(), window.transfers.end(), "end"), 2);
    EXPECT_EQ(window.transfers[window.transfers.size() - 3], "4 of 4");
    for (const std::string& event : window.transfers)
        EXPECT_TRUE(event == "end" || event.ends_with(" of 4")) << event;
    EXPECT_EQ(readFile("newdata.log"), stored("2007/catalog/catalog_2l_2007_x.txt") + "\r\n");
    EXPECT_EQ(listDirectory(stored("2007/geo/")), std::vector<std::string>{});
}

} // namespace
} // namespace qm
