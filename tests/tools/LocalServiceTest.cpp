// The bundled local catalogue service, spoken to through the program's own exchange.
#include "LocalService.h"
#include "QtCoreApp.h"
#include "RecordingReporter.h"
#include "TempDir.h"

#include "catalogue/Archive.h"
#include "catalogue/TLESupport.h"
#include "platform/Errors.h"
#include "service/HttpExchange.h"


#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>

namespace qm {
namespace {

using test::LocalService;
using test::readFile;
using test::TempDir;

[[maybe_unused]] ::testing::Environment* const qtEnvironment
    = ::testing::AddGlobalTestEnvironment(new test::QtCoreEnvironment);

std::string loginBody(const std::string& user, const std::string& password)
{
    return "username=" + user + "&password=" + password + "&_submitted=1&_sessionid=&_submit=Submit";
}

std::string download(int id)
{
    return "/perl/dl.pl?ID=" + std::to_string(id);
}

// Logs in the way the download run does; keeps the session cookie when the reply has "home.pl".
bool logIn(HttpExchange& http, const LocalService& service, const std::string& body)
{
    http.InputFileMode = false;
    http.Cookie.clear();
    http.Post(service.url("/perl/login.pl"), body);
    if (http.Body.find("home.pl") == std::string::npos)
        return false;
    http.Cookie = http.responseCookie();
    return true;
}

std::string servedName(HttpExchange& http, const LocalService& service, int id)
{
    http.InputFileMode = false;
    http.Head(service.url(download(id)));
    const auto at = http.Header.find("filename=");
    return at == std::string::npos ? std::string() : http.Header.substr(at + 9, http.Header.find('\r', at) - at - 9);
}

std::string withoutLastExtension(const std::string& name)
{
    return name.substr(0, name.rfind('.'));
}

TEST(LocalService, FixtureServesTheAccountProductsAndPublisherFilesToTheExchange)
{
    const LocalService service = LocalService::fixture("local_service");
    TempDir dir;
    HttpExchange http;
    int failures = 0;
    http.OnFailure = [&](std::string_view) { ++failures; };

    http.Get(service.url("/Skarvelin/criticalupdate.txt"));
    EXPECT_EQ(http.Body, "1.5.8 ");

    ASSERT_TRUE(logIn(http, service, loginBody(LocalService::kUser, LocalService::kPassword)));
    EXPECT_TRUE(http.Cookie.starts_with("session_id=")) << http.Cookie;

    // Every product is named so that kind and group come out of the name: format marker,
    // then the date, whose first four characters are the group.
    for (int id = 1; id <= 24; ++id) {
        const std::string name = servedName(http, service, id);
        EXPECT_EQ(name, service.productName(id));
        const std::string form = id % 2 ? "_2l_" : "_3l_";
        const std::string tail = form + "20241231" + (id % 2 ? ".zip" : ".txt.gz");
        EXPECT_TRUE(name.ends_with(tail)) << id << ": " << name;
        EXPECT_EQ(name.find('_', id >= 23 ? 5 : 0), name.size() - tail.size()) << id << ": " << name;
    }
    EXPECT_TRUE(servedName(http, service, 1).starts_with("catalog_2l_"));
    EXPECT_TRUE(servedName(http, service, 2).starts_with("catalog_3l_"));
    EXPECT_TRUE(servedName(http, service, 23).starts_with("spec_"));
    EXPECT_EQ(servedName(http, service, 25), "ssr_20241231.zip");
    for (int id = 101; id <= 107; ++id)
        EXPECT_EQ(servedName(http, service, id), "alldata_20241231_" + std::to_string(id - 100) + ".zip");

    // The transfers as the download run makes them, unpacked as the processing run does.
    for (int id : {1, 2, 25}) {
        const std::string name = service.productName(id);
        http.Head(service.url(download(id)));
        EXPECT_EQ(http.contentLength(), static_cast<std::int64_t>(std::filesystem::file_size(service.productPath(id))));
        http.InputFileMode = true;
        http.Header = dir.file("header.txt");
        http.Body = dir.file(name);
        http.Get(service.url(download(id)));
        EXPECT_EQ(http.statusCode(), 200);
        EXPECT_EQ(readFile(dir.file(name)), readFile(service.productPath(id))) << name;
        http.InputFileMode = false;
    }
    ZipArchive catalogue;
    catalogue.open(dir.file(service.productName(1)));
    EXPECT_EQ(catalogue.extract("catalog*.*", dir.path()), 1);
    EXPECT_EQ(readFile(dir.file(withoutLastExtension(service.productName(1)) + ".txt")),
        readFile(service.dataDir() + "source/catalog_2l.txt"));
    GzipFile threeLine;
    threeLine.open(dir.file(service.productName(2)));
    EXPECT_EQ(threeLine.extract("*.txt", dir.path()), 1);
    EXPECT_EQ(readFile(dir.file(withoutLastExtension(service.productName(2)))),
        readFile(service.dataDir() + "source/catalog_3l.txt"));
    ZipArchive report;
    report.open(dir.file("ssr_20241231.zip"));
    EXPECT_EQ(report.extract("ssr*.*", dir.path()), 1);
    EXPECT_EQ(readFile(dir.file("ssr_20241231.txt")), readFile(service.dataDir() + "source/ssr_bench.txt"));
    EXPECT_EQ(failures, 0);

    http.Cookie.clear();
    http.Get(service.url(download(1)));
    EXPECT_EQ(http.statusCode(), 403);
    EXPECT_EQ(http.Body.find("PK"), std::string::npos);
    EXPECT_EQ(failures, 1);
}

TEST(LocalService, FixtureServesAQueryListForEveryCategory)
{
    const LocalService service = LocalService::fixture("local_service");
    std::set<int> catalogue;
    std::istringstream lines(readFile(service.dataDir() + "source/catalog_2l.txt"));
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("1 "))
            catalogue.insert(std::stoi(line.substr(2, 5)));

    HttpExchange http;
    int present = 0, absent = 0, named = 0;
    for (const char* name : {"tle-new", "stations", "visual", "weather", "noaa", "goes", "resource", "dmc", "tdrss",
             "sarsat", "geo", "intelsat", "gorizont", "raduga", "molniya", "iridium", "orbcomm", "globalst", "amateur",
             "x-comm", "other-comm", "gps-ops", "glo-ops", "galileo", "sbas", "nnss", "musson", "science", "geodetic",
             "engineer", "education", "military", "radar", "cubesat", "other"}) {
        http.Get(service.url(std::string("/Skarvelin/query/") + name + ".txt"));
        ASSERT_EQ(http.statusCode(), 200) << name;
        ASSERT_TRUE(http.Body.ends_with("\r\n")) << name;
        std::istringstream list(http.Body);
        for (std::string line; std::getline(list, line);) {
            ASSERT_TRUE(line.ends_with('\r')) << name;
            line.pop_back();
            ASSERT_GE(line.size(), 5u) << name;
            const int number = std::stoi(line.substr(0, 5));
            (catalogue.count(number) ? present : absent) += 1;
            named += line.size() > 5;
        }
    }
    EXPECT_GT(present, 35);
    EXPECT_GT(absent, 0);
    EXPECT_GT(named, 0);
}

TEST(LocalService, LoginTakesTheAccountPlainOrFormEncodedAndRefusesAnyOther)
{
    const LocalService service({"--user", "sky watcher", "--password", "a&b=c+d%\xC3\xA4"});
    HttpExchange http;
    EXPECT_TRUE(logIn(http, service, loginBody("sky watcher", "a&b=c+d%\xE4")));
    EXPECT_TRUE(logIn(http, service, loginBody("sky%20watcher", "a%26b%3Dc%2Bd%25%E4")));
    EXPECT_TRUE(logIn(http, service, loginBody("sky+watcher", "a%26b%3Dc%2Bd%25%C3%A4")));
    EXPECT_FALSE(logIn(http, service, loginBody("sky watcher", "a&b=c+d%")));
    EXPECT_TRUE(http.responseCookie().empty());
    EXPECT_FALSE(logIn(http, service, loginBody(LocalService::kUser, LocalService::kPassword)));

    http.Get(service.url(download(1)));
    EXPECT_EQ(http.statusCode(), 403) << "a refused login opens no session";
}

TEST(LocalService, TestSwitchesChangeOnlyWhatTheyName)
{
    TempDir dir;
    const LocalService service({"--login-redirect", "--fail-id", "3", "--cut-id", "5", "--damage-once", "7",
        "--slow-id", "19", "--slow-rate", "200000", "--name", "9=\"x y.zip\"", "--no-name-id", "11",
        "--required-version", "1.6.0", "--log", dir.file("requests.log")});
    HttpExchange http;
    http.OnFailure = [](std::string_view) {};

    ASSERT_TRUE(logIn(http, service, loginBody(LocalService::kUser, LocalService::kPassword)));
    EXPECT_EQ(http.statusCode(), 200) << "the redirect was followed";
    EXPECT_EQ(servedName(http, service, 1), service.productName(1));

    EXPECT_EQ(servedName(http, service, 3), service.productName(3)) << "the HEAD of a failing number still names it";
    http.Get(service.url(download(3)));
    EXPECT_EQ(http.statusCode(), 500);

    const auto size = [&](int id) { return readFile(service.productPath(id)).size(); };
    // The exchange refuses a body cut short of its announced length.
    try {
        http.Get(service.url(download(5)));
        ADD_FAILURE() << "a cut body passed for a whole one";
    } catch (const SocketError& e) {
        EXPECT_STREQ(e.what(), "Incomplete response");
    }
    EXPECT_EQ(http.contentLength(), static_cast<std::int64_t>(size(5)));

    http.Get(service.url(download(7)));
    EXPECT_EQ(http.Body.size(), size(7));
    EXPECT_NE(http.Body, readFile(service.productPath(7)));
    http.Get(service.url(download(7)));
    EXPECT_EQ(http.Body, readFile(service.productPath(7))) << "damaged only once";

    http.Get(service.url(download(19)));
    EXPECT_EQ(http.Body, readFile(service.productPath(19))) << "a slow body arrives whole";

    EXPECT_EQ(servedName(http, service, 9), "\"x y.zip\"");
    EXPECT_EQ(servedName(http, service, 11), "");
    EXPECT_EQ(servedName(http, service, 13), service.productName(13));

    http.Cookie.clear();
    http.Get(service.url("/Skarvelin/criticalupdate.txt"));
    EXPECT_EQ(http.Body, "1.6.0");

    const std::string log = readFile(dir.file("requests.log"));
    EXPECT_TRUE(log.starts_with("POST /perl/login.pl cookie=- body=" + loginBody("observer", "quillmaren") + "\n"
        + "GET /perl/home.pl cookie=session_id="))
        << log;
    EXPECT_NE(log.find("\nGET /perl/dl.pl?ID=3 cookie=session_id="), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with("\nGET /Skarvelin/criticalupdate.txt cookie=-\n")) << log;
}

TEST(LocalService, LetterFormNumbersReachTheCatalogueTheReportAndTheLists)
{
    TempDir root, work;
    const LocalService service({"--alpha5"}, 300, root.path());
    const auto numberTexts = [](const std::string& text, std::size_t column, const std::string& lineStart) {
        std::set<std::string> found;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            if (line.starts_with(lineStart) && line.size() >= column + 5)
                found.insert(line.substr(column, 5));
        return found;
    };
    const std::string source = service.dataDir() + "source/";
    const std::set<std::string> catalogue = numberTexts(readFile(source + "catalog_2l.txt"), 2, "1 ");
    std::set<std::string> letters;
    std::copy_if(catalogue.begin(), catalogue.end(), std::inserter(letters, letters.end()),
        [](const std::string& number) { return number[0] >= 'A' && number[0] <= 'Z'; });
    EXPECT_GT(letters.size(), 100u);
    EXPECT_LT(letters.size(), catalogue.size()) << "both forms";
    std::set<std::string> reported = numberTexts(readFile(source + "ssr_bench.txt"), 16, "");
    EXPECT_TRUE(std::includes(reported.begin(), reported.end(), letters.begin(), letters.end()));

    // The lists name objects of the catalogue in its own form.
    std::size_t listed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(service.dataDir() + "publisher/Skarvelin/query"))
        for (const std::string& number : numberTexts(readFile(entry.path().string()), 0, ""))
            listed += letters.count(number);
    EXPECT_GT(listed, 35u);

    // The check lets every letter of the generator through (no I, no O, four digits):
    // it rejects only the few defects put in on purpose.
    const std::string checked = work.file("catalog.txt");
    std::filesystem::copy_file(source + "catalog_2l.txt", checked);
    test::RecordingReporter reporter(false);
    CheckCatalog(checked, true, reporter);
    EXPECT_GT(numberTexts(readFile(checked), 2, "1 ").size(), catalogue.size() - 5);
}

TEST(LocalService, SameSizeGivesTheSameBytes)
{
    TempDir first, second;
    const LocalService a({}, 300, first.path());
    const LocalService b({}, 300, second.path());
    ASSERT_NE(a.dataDir(), b.dataDir());
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(a.dataDir())) {
        if (!entry.is_regular_file())
            continue;
        const std::string relative = std::filesystem::relative(entry.path(), a.dataDir()).string();
        EXPECT_EQ(readFile(entry.path().string()), readFile(b.dataDir() + relative)) << relative;
        ++files;
    }
    EXPECT_EQ(files, 1 + 32 + 35 + 2 + 3) << "products.txt, the products, the lists, two pages, three sources";
}

} // namespace
} // namespace qm
