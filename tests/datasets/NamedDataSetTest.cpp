// Named data sets: the query list fetched from a loopback publisher.
#include "DataSetWorld.h"
#include "Publisher.h"
#include "QtCoreApp.h"

#include <gtest/gtest.h>


#include <string>
#include <vector>

using namespace qm;
using namespace qm::test;

namespace {

const std::vector<CatalogueObject> kObjects
    = {{25544, "ISS (ZARYA)"}, {5, "VANGUARD 1"}, {300, "OBJECT 300"}, {12, "OBJECT 12"}};
const std::vector<ReportEntry> kReport = {{300, "REPORT 300"}, {5, "REPORT FIVE"}, {1, "REPORT ONE"}};

// Query names in columns 6-29, numbers with leading blanks, a number followed by
// blanks (read as 0), the same number twice, numbers not in the catalogue, a
// negative number, an empty line and a name running past column 29.
const std::string kList = "25544ISS FROM THE LIST\r\n"
                          "    5\r\n"
                          "300  \r\n"
                          "  300A NAME THAT RUNS PAST COLUMN 29\r\n"
                          "\r\n"
                          "   12\n"
                          "99999\r\n"
                          "  -12\r\n"
                          "25544\r\n";

class NamedDataSet : public ::testing::Test {
protected:
    void SetUp() override { test::coreApplication(); }
};

} // namespace

TEST_F(NamedDataSet, ThreeLineRecordsFollowTheListWithEveryLogLine)
{
    DataSetWorld w(false, kObjects);
    Publisher publisher;
    publisher.reply(200, kList);
    w.exchange.Cookie = "session=from-login";
    w.writer.BuildDataSet("stations");

    EXPECT_EQ(readFile(w.vantoreal("stations.txt")),
        dataSetRecord("ISS FROM THE LIST", 25544) + dataSetRecord("VANGUARD 1", 5)
            + dataSetRecord("A NAME THAT RUNS PAST CO", 300) + dataSetRecord("OBJECT 12", 12)
            + dataSetRecord("ISS (ZARYA)", 25544));
    const std::string url = "http://" + publisher.host() + "/Skarvelin/query/stations.txt";
    EXPECT_EQ(w.reporter.logLines,
        (std::vector<std::string>{"Generating stations.txt", "Retrieving " + url, "SUCCEEDED", "Open [dsi] body.txt",
            "Open [f3i] " + w.ctx.CatalogFile, "Open [fo3] " + w.vantoreal("stations.txt"),
            "Catalog Number 0 not found.", "Catalog Number 99999 not found.", "Catalog Number -12 not found.",
            "Close [dsi]", "Close [fo3]", "Close [f3i]"}));
    EXPECT_EQ(w.reporter.status, "Generating stations.txt");

    // The publisher gets no cookie; the list lands beside the program in the current folder.
    const std::string request = publisher.lastRequest();
    EXPECT_TRUE(request.starts_with("GET /Skarvelin/query/stations.txt HTTP/1.0\r\n")) << request;
    EXPECT_EQ(request.find("Cookie"), std::string::npos) << request;
    EXPECT_EQ(w.exchange.Cookie, "");
    EXPECT_EQ(readFile(w.dir.file("body.txt")), kList);
    EXPECT_TRUE(exists(w.dir.file("header.txt")));
    EXPECT_TRUE(w.launcher.opened.empty());
}

TEST_F(NamedDataSet, TwoLineNamesComeFromTheListOrTheReport)
{
    DataSetWorld w(true, kObjects, kReport);
    Publisher publisher;
    publisher.reply(200, "25544ISS FROM THE LIST\r\n    5\r\n   12\r\n25544\r\n  300");
    w.writer.BuildDataSet("visual");
    // 12 was never reported and 25544 lies above the report's highest number.
    EXPECT_EQ(readFile(w.vantoreal("visual.txt")),
        dataSetRecord("ISS FROM THE LIST", 25544) + dataSetRecord("REPORT FIVE", 5) + dataSetRecord("UNKNOWN", 12)
            + dataSetRecord("UNKNOWN", 25544) + dataSetRecord("REPORT 300", 300));
    EXPECT_TRUE(w.reporter.logged("Open [f2i] " + w.ctx.CatalogFile));
    EXPECT_TRUE(w.reporter.logged("Close [f2i]"));
}

TEST_F(NamedDataSet, WithoutDebugLoggingOnlyTheStatusLineShows)
{
    DataSetWorld w(false, kObjects);
    w.reporter.setDebug(false);
    w.ctx.FileExtension = 1;
    w.ctx.Palm = true;
    Publisher publisher;
    publisher.reply(200, kList);
    w.writer.BuildDataSet("gps-ops");

    EXPECT_TRUE(w.reporter.logLines.empty());
    EXPECT_EQ(w.reporter.statusHistory, (std::vector<std::string>{"Generating gps-ops.tle", "Installing gps-ops.pdb"}));
    // The list is fetched as ".txt" whatever the extension.
    EXPECT_TRUE(publisher.lastRequest().starts_with("GET /Skarvelin/query/gps-ops.txt HTTP/1.0\r\n"));
    EXPECT_EQ(readFile(w.vantoreal("gps-ops.tle")).size(), 5u * 168u);
    EXPECT_FALSE(exists(w.vantoreal("gps-ops.txt")));
    EXPECT_EQ(readFile(w.vantoreal("gps-ops.pdb")).size(), 78u + 8u * 15u + 165u * 5u);
    ASSERT_EQ(w.launcher.opened.size(), 1u);
    EXPECT_EQ(w.launcher.opened[0], std::make_pair(std::string("gps-ops.pdb"), w.vantoreal("")));
}

TEST_F(NamedDataSet, RefusedFetchLeavesTheOlderFileAndBuildsNothing)
{
    DataSetWorld w(false, kObjects);
    w.ctx.Palm = true;
    writeFile(w.vantoreal("weather.txt"), "last run's data set");
    Publisher publisher;
    publisher.reply(200, "    5\r\n");
    publisher.reply(404, "Not Found");
    w.httpFailure = true; // left over from an earlier failure: must not count for this fetch
    w.writer.BuildDataSet("noaa");
    EXPECT_EQ(readFile(w.vantoreal("noaa.txt")), dataSetRecord("VANGUARD 1", 5));

    w.writer.BuildDataSet("weather");
    EXPECT_EQ(readFile(w.vantoreal("weather.txt")), "last run's data set");
    EXPECT_FALSE(exists(w.vantoreal("weather.pdb")));
    EXPECT_EQ(w.reporter.logLines.back(), "FAILED");
    EXPECT_FALSE(w.reporter.logged("Open [fo3] " + w.vantoreal("weather.txt")));
    ASSERT_EQ(w.prompts.shown.size(), 1u);
    EXPECT_EQ(w.prompts.shown[0].text, "GET command \"body.txt\" failed.");
    EXPECT_EQ(w.launcher.opened.size(), 1u); // noaa.pdb only
}

TEST_F(NamedDataSet, AReplyThatIsNoListFailsAsAnErrorStatusDoes)
{
    const std::string ok = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";
    const struct {
        const char* what;
        std::string reply;
        bool used;
    } cases[] = {
        {"an error page sent as a success", ok + "\xEF\xBB\xBF <!DOCTYPE html>\r\n<html>Try later</html>\r\n", false},
        {"no status line", "25544\r\n    5\r\n", false},
        {"a chunked body", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7\r\n    5\r\n\r\n0\r\n\r\n", false},
        {"a NUL byte", ok + "    5\r\n" + std::string(3, '\0'), false},
        {"a markup line inside", ok + "    5\r\n \t<b>12</b>\r\n", false},
        {"no content", "HTTP/1.0 204 No Content\r\n\r\n", false},
        {"markup after the end of the list", ok + "    5\r\n\x1a<html>", true},
    };
    for (const auto& c : cases) {
        DataSetWorld w(false, kObjects);
        w.ctx.Palm = true;
        writeFile(w.vantoreal("weather.txt"), "last run's data set");
        Publisher publisher;
        publisher.raw(c.reply);
        publisher.reply(200, "   12\r\n");
        w.writer.BuildDataSet("weather");
        w.writer.BuildDataSet("noaa"); // the next data set is built all the same

        EXPECT_EQ(readFile(w.vantoreal("weather.txt")), c.used ? dataSetRecord("VANGUARD 1", 5) : "last run's data set")
            << c.what;
        EXPECT_EQ(exists(w.vantoreal("weather.pdb")), c.used) << c.what;
        EXPECT_EQ(w.reporter.logged("FAILED"), !c.used) << c.what;
        EXPECT_EQ(w.prompts.shown.size(), c.used ? 0u : 1u) << c.what;
        EXPECT_EQ(readFile(w.vantoreal("noaa.txt")), dataSetRecord("OBJECT 12", 12)) << c.what;
    }
}
