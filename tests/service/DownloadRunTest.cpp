// The download run against a scripted catalogue service on 127.0.0.1.
#include "LoopbackServer.h"
#include "QtCoreApp.h"
#include "RecordingReporter.h"
#include "ScriptedPrompts.h"
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
};

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
    service.products[1] = {.name = "catalog_2l_2007_10_15_am.zip", .body = "full catalogue"};
    service.products[9] = {.name = "iridium_2l_2007_10_15_am.txt"};
    for (int n = 101; n <= 107; ++n)
        service.products[n] = {.name = "alldata_2007_10_" + std::to_string(n - 90) + ".txt"};
    service.products[25] = {.name = "ssr_20071015.zip", .body = "report"};

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
    EXPECT_EQ(readFile(catalog), "full catalogue");
    EXPECT_EQ(readFile(report), "report");
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
}

TEST(DownloadNames, FoldersFileNamesAndTheirRefusal)
{
    for (const auto& [name, kind, group] :
        std::vector<std::array<std::string, 3>>{{"catalog_3l_2007_10_15.txt.gz", "catalog", "2007"},
            {"spec_visible_2l_2007_1.txt", "spec_visible", "2007"}, {"alldata_2007_10_15.txt", "alldata", "2007"},
            {"iridium_2l_07.txt", "iridium", "07.t"}, {"catalog", "", ""}, {"spec_visible", "", ""},
            {"catalog_2l_", "catalog", ""}}) {
        EXPECT_EQ(placeOf(name).kind, kind) << name;
        EXPECT_EQ(placeOf(name).group, group) << name;
    }
    EXPECT_EQ(fileNameOfHead("HTTP/1.0 200 OK\r\nX: 1\r\n\r\n"), std::nullopt);
    EXPECT_EQ(fileNameOfHead("C: attachment; filename=\"a b.zip\"\r\nNext: 1\r\n"), "a b.zip");
    EXPECT_EQ(fileNameOfHead("C: filename=x.txt\nNext: 1\n"), "x.txt");
    for (const char* bad : {"", "../x_2l_2007", "a/b_2007", "a\\b_2007", ".x_2007", "a..b_2007"})
        EXPECT_FALSE(acceptableFileName(bad)) << bad;
    EXPECT_TRUE(acceptableFileName("catalog_2l_2007.zip"));
}

TEST_F(DownloadRunTest, RefusedNamesAreSkippedAndTheRunGoesOn)
{
    for (std::size_t item = 0; item < 6; ++item)
        window.ticks[item] = true;
    service.products[1] = {.body = "quoted", .naming = "filename=\"geo_2l_2007_a.txt\""};
    service.products[3] = {.name = "../../evil_2l_2007.txt"};
    service.products[5] = {.name = ".hidden_2l_2007.txt"};
    service.products[7] = {.naming = "filename="};
    service.products[9] = {.naming = "inline"};
    service.products[11] = {.name = "nounderscore.txt"};

    run();

    EXPECT_EQ(readFile(stored("2007/geo/geo_2l_2007_a.txt")), "quoted");
    for (const char* line : {"Refused file name ../../evil_2l_2007.txt", "Refused file name .hidden_2l_2007.txt",
             "Refused file name ", "No file name for ID 9", "Refused file name nounderscore.txt"})
        EXPECT_TRUE(reporter.logged(line)) << line;
    EXPECT_EQ(requestLines().size(), 1u + 6u + 1u) << "one GET only";
    EXPECT_EQ(readFile("newdata.log"), stored("2007/geo/geo_2l_2007_a.txt") + "\r\n");
    EXPECT_EQ(listDirectory(window.MyTLEsDir), std::vector<std::string>{"2007"});
    EXPECT_EQ(reporter.status, "Done");
}

TEST_F(DownloadRunTest, AnErrorPageOrACutTransferIsNeverStored)
{
    window.ticks[0] = window.ticks[1] = window.ticks[2] = true;
    window.MostCurrentCatalog = "older catalogue";
    service.products[1] = {.name = "catalog_2l_2007_x.zip", .getStatus = 500};
    service.products[3] = {.name = "geo_2l_2007_x.txt", .body = std::string(100, 'g'), .cutAfter = 40};
    service.products[5] = {.name = "nav_2l_2007_x.txt"};

    run();

    const std::string catalog = stored("2007/catalog/catalog_2l_2007_x.zip");
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "GET command \"" + catalog + "\" failed.") << "the product, not its temporary";
    EXPECT_TRUE(failed);
    EXPECT_EQ(listDirectory(stored("2007/catalog/")), std::vector<std::string>{}) << "no product, no temporary";
    EXPECT_EQ(listDirectory(stored("2007/geo/")), std::vector<std::string>{});
    EXPECT_TRUE(reporter.logged("Not stored: " + catalog));
    EXPECT_TRUE(reporter.logged("Not stored: " + stored("2007/geo/geo_2l_2007_x.txt")));
    EXPECT_EQ(readFile("newdata.log"), stored("2007/nav/nav_2l_2007_x.txt") + "\r\n");
    EXPECT_FALSE(window.NewDataDownloaded);
    EXPECT_EQ(window.MostCurrentCatalog, "older catalogue") << "a product that is not there is not the newest";

    // The next run fetches the missing products again.
    const std::size_t before = server.requests().size();
    service.products[1].getStatus = 200;
    run();
    EXPECT_EQ(requestLines(before).size(), 1u + 5u);
    EXPECT_EQ(window.MostCurrentCatalog, catalog);
    EXPECT_TRUE(window.NewDataDownloaded);
}

TEST_F(DownloadRunTest, RedownloadingKeepsTheListOfNewFiles)
{
    test::writeFile("newdata.log", "earlier\r\n");
    window.Redownloading = window.ticks[0] = true;
    service.products[1] = {.name = "catalog_2l_2007_x.zip"};
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

    // A service that cannot be reached ends the run without a message.
    ::setenv("QUILLMAREN_SERVICE_HOST", ("127.0.0.1:" + std::to_string(LoopbackServer::unusedPort())).c_str(), 1);
    EXPECT_EQ(run(), RunOutcome::EndedEarly);
    EXPECT_EQ(prompts.shown.size(), 2u);
    EXPECT_FALSE(window.busy);
}

TEST_F(DownloadRunTest, ACertificateRefusedAtLoginIsNamedEvenWithoutDebugLogging)
{
    ::setenv("QUILLMAREN_CA_FILE", test::TlsLoopbackServer::caFile().c_str(), 1);
    const test::TlsLoopbackServer expired({.certificate = "expired"});
    ::setenv("QUILLMAREN_SERVICE_HOST", expired.url("").c_str(), 1);
    reporter.setDebug(false);
    EXPECT_EQ(run(), RunOutcome::EndedEarly);
    ::unsetenv("QUILLMAREN_CA_FILE");
    const std::string text = "Unable to reach Skarvelin: Certificate verification failed: certificate has expired";
    EXPECT_EQ(reporter.status, text);
    EXPECT_EQ(reporter.notices, std::vector<std::string>{text}) << "to standard error in update mode";
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(http.Cookie, "");
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
    service.products[1] = {.name = "catalog_2l_2007_x.zip"};
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
    EXPECT_EQ(readFile("newdata.log"), stored("2007/catalog/catalog_2l_2007_x.zip") + "\r\n");
    EXPECT_EQ(listDirectory(stored("2007/geo/")), std::vector<std::string>{});
}

} // namespace
} // namespace qm
