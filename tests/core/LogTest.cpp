#include "core/Log.h"
#include "platform/Errors.h"

#include "RecordingReporter.h"
#include "TempDir.h"

#include <ctime>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace qm;
using qm::test::readFile;
using qm::test::TempDir;

namespace {

std::chrono::system_clock::time_point localTime(int y, int mo, int d, int h, int mi, int s, int ms)
{
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    t.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&t)) + std::chrono::milliseconds(ms);
}

} // namespace

TEST(LogTimeStamp, Format)
{
    EXPECT_EQ(formatLogTimeStamp(localTime(2007, 10, 15, 14, 3, 27, 46)), "[2007-10-15 14:03:27.046] ");
    EXPECT_EQ(formatLogTimeStamp(localTime(2026, 1, 2, 0, 0, 0, 999)), "[2026-01-02 00:00:00.999] ");
}

TEST(LogFile, LinesCarryStampsAndCrLf)
{
    TempDir dir;
    test::writeFile(dir.file("q.log"), "an earlier run\r\n");
    const auto when = localTime(2007, 10, 15, 14, 3, 27, 46);
    LogFile log([when] { return when; });
    log.create(dir.file("q.log"));
    log.write("Ready");
    log.write("first\nsecond");
    log.write("");
    log.close();
    EXPECT_EQ(readFile(dir.file("q.log")),
        "[2007-10-15 14:03:27.046] Ready\r\n"
        "[2007-10-15 14:03:27.046] first\nsecond\r\n"
        "[2007-10-15 14:03:27.046] \r\n");
}

TEST(LogFile, CreateFailureIsAnIoError)
{
    TempDir dir;
    LogFile log;
    EXPECT_THROW(log.create(dir.file("no/such/folder/q.log")), IoError);
    EXPECT_FALSE(log.isOpen());
}

TEST(AppReporter, StatusAlwaysLogOnlyWhenDebugging)
{
    TempDir dir;
    test::ScopedCurrentDir cwd(dir.path());
    std::string status;
    AppReporter reporter([&](std::string_view s) { status = s; }, [] { return std::string("Skarvelin Quillmaren"); });
    reporter.updateStatusBar("Checking TLE data (2)");
    EXPECT_EQ(status, "Checking TLE data (2)");
    EXPECT_TRUE(listDirectory(dir.path()).empty());

    reporter.setDebugOn(true);
    reporter.logFile().create("q.log");
    reporter.updateStatusBar("Done");
    reporter.setStatusText("Ready");
    reporter.logFile().close();
    EXPECT_EQ(status, "Ready");
    const std::string text = readFile(dir.file("q.log"));
    EXPECT_NE(text.find("] Done\r\n"), std::string::npos);
    EXPECT_EQ(text.find("Ready"), std::string::npos);
    EXPECT_EQ(reporter.idleText("Ready"), "Ready");
}

TEST(PrepareDirectory, LogsEachStep)
{
    TempDir dir;
    test::RecordingReporter reporter(true);
    const std::string path = dir.file("My TLEs/");
    PrepareDirectory(reporter, path);
    PrepareDirectory(reporter, path);
    EXPECT_TRUE(directoryExists(path));
    EXPECT_EQ(reporter.logLines,
        (std::vector<std::string>{"Checking directory: " + path, "Directory does not exist: " + path,
            "Attempting to create directory: " + path, "Created directory: " + path, "Checking directory: " + path,
            "Directory exists: " + path}));
}

TEST(PrepareDirectory, FailureIsAFatalStopAndSilentWithoutDebug)
{
    TempDir dir;
    const std::string path = dir.file("missing/My TLEs/"); // only the last level is created
    test::RecordingReporter quiet(false);
    try {
        PrepareDirectory(quiet, path);
        FAIL() << "no stop";
    } catch (const FatalStop& stop) {
        EXPECT_EQ(stop.message, "Unable to create directory: " + path);
        EXPECT_FALSE(stop.shown);
    }
    EXPECT_TRUE(quiet.logLines.empty());

    test::RecordingReporter loud(true);
    EXPECT_THROW(PrepareDirectory(loud, path), FatalStop);
    EXPECT_EQ(loud.logLines.back(), "Unable to create directory: " + path);
}

TEST(DeleteFiles, MatchesThePatternInThatFolderOnly)
{
    TempDir dir;
    for (const char* name : {"catalog_2l_1.gz", "catalog_3l_x.txt", "catalog.gz", "ssr_1.gz", ".catalog_x.gz"})
        test::writeFile(dir.file(name), "x");
    ::mkdir(dir.file("sub").c_str(), 0755);
    test::writeFile(dir.file("sub/catalog_a.gz"), "x");
    Delete_Files(dir.path() + "catalog_*.gz");
    EXPECT_FALSE(test::exists(dir.file("catalog_2l_1.gz")));
    EXPECT_TRUE(test::exists(dir.file("catalog_3l_x.txt")));
    EXPECT_TRUE(test::exists(dir.file("catalog.gz")));
    EXPECT_TRUE(test::exists(dir.file("ssr_1.gz")));
    EXPECT_TRUE(test::exists(dir.file("sub/catalog_a.gz")));
    Delete_Files(dir.path() + "nothing_*.zip");
}
