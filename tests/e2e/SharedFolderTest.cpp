// Two programs of one user on one My TLEs: "quillmaren -update" runs from two run
// folders take turns, and an update run that finds another program holding the folder
// waits for it, goes on when that program dies, gives up after its wait with exit
// status 2, and ends at once on SIGTERM.
#include "LockHolder.h"
#include "UpdateHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

namespace qm::e2e {
namespace {

using test::LocalService;
using Clock = std::chrono::steady_clock;

const std::string kWaiting = "Waiting for another run in this folder";

struct LogLine {
    long ms; // of the day
    std::string message;
};

std::vector<LogLine> logOf(const std::string& path)
{
    static const std::regex stamped(R"(\[\d{4}-\d\d-\d\d (\d\d):(\d\d):(\d\d)\.(\d{3})\] (.*)\r)");
    std::vector<LogLine> lines;
    std::istringstream text(test::exists(path) ? test::readFile(path) : std::string());
    std::string line;
    std::smatch m;
    while (std::getline(text, line))
        if (std::regex_match(line, m, stamped))
            lines.push_back({((std::stol(m[1]) * 60 + std::stol(m[2])) * 60 + std::stol(m[3])) * 1000 + std::stol(m[4]),
                m[5].str()});
    return lines;
}

// The first line of the log with this message, once there is one (a minute at most).
std::optional<LogLine> awaitLine(const std::string& path, const std::string& message)
{
    for (const auto giveUp = Clock::now() + std::chrono::minutes(1); Clock::now() < giveUp;) {
        for (const LogLine& line : logOf(path))
            if (line.message == message)
                return line;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
}

bool has(const std::vector<LogLine>& log, const std::string& message)
{
    return std::any_of(log.begin(), log.end(), [&message](const LogLine& line) { return line.message == message; });
}

TEST(SharedFolder, TwoUpdateRunsFromTwoRunFoldersTakeTurns)
{
    // The catalogue arrives slowly, so the first run still holds the folder when the
    // second one wants it.
    const LocalService service({"--slow-id", "1", "--slow-rate", "30000"});
    UpdateHome home(service);
    home.writeSettings({.everyRow = false});

    const pid_t first = home.startUpdateIn("work", {});
    const pid_t second = home.startUpdateIn("work2", {});
    const test::ProgramOutcome runs[] = {test::waitForProgram(first, home.work("")),
        test::waitForProgram(second, home.folder("work2/"))};
    for (const test::ProgramOutcome& run : runs) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
    }
    const std::vector<LogLine> logs[] = {logOf(home.work("quillmaren.log")), logOf(home.folder("work2/quillmaren.log"))};
    ASSERT_NE(has(logs[0], kWaiting), has(logs[1], kWaiting)) << "exactly one of them waited";
    const std::vector<LogLine>& waited = has(logs[0], kWaiting) ? logs[0] : logs[1];
    const std::vector<LogLine>& went = has(logs[0], kWaiting) ? logs[1] : logs[0];

    // The one that went first fetched and processed; everything the other did after its
    // wait came after the last line of the first.
    EXPECT_TRUE(has(went, "Downloading " + service.productName(1)));
    EXPECT_TRUE(has(went, "Close [indexfile]"));
    const auto waitLine = std::find_if(waited.begin(), waited.end(), [](const LogLine& l) { return l.message == kWaiting; });
    ASSERT_NE(waitLine + 1, waited.end());
    EXPECT_GE(waitLine[1].ms, went.back().ms) << waitLine[1].message << " during " << went.back().message;
    EXPECT_TRUE(has(waited, "Logging in to Skarvelin"));
    EXPECT_FALSE(has(waited, "Downloading " + service.productName(1))) << "the first one stored it";
    EXPECT_TRUE(test::exists(home.myTles() + ".quillmaren.lock"));
}

TEST(SharedFolder, AnUpdateRunWaitsForAnotherProgramAndGivesUpWithTwo)
{
    const LocalService service = LocalService::fixture("local_service");
    enum class Then { Nothing, KillHolder, TerminateRun };
    struct Case {
        const char* what;
        const char* waitSeconds;
        Then then;
        int status;
        std::string err;
        bool wentOn;
    };
    const Case cases[] = {
        {"the wait runs out", "1", Then::Nothing, 2, "quillmaren: error: Another run is using this folder [OK]\n",
            false},
        {"the holder is killed", "120", Then::KillHolder, 0, "", true},
        {"SIGTERM during the wait", "120", Then::TerminateRun, 0, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateHome home(service);
        home.writeSettings({.everyRow = false});
        test::LockHolder other(home.myTles());
        ASSERT_TRUE(other.holds());

        const pid_t run = home.startUpdateIn("work", {"QUILLMAREN_LOCK_WAIT=" + std::string(c.waitSeconds)});
        ASSERT_TRUE(awaitLine(home.work("quillmaren.log"), kWaiting));
        const auto then = Clock::now();
        if (c.then == Then::KillHolder)
            other.stop(SIGKILL);
        if (c.then == Then::TerminateRun)
            ::kill(run, SIGTERM);
        const test::ProgramOutcome outcome = test::waitForProgram(run, home.work(""));

        EXPECT_EQ(outcome.signal, 0);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_LT(Clock::now() - then, std::chrono::seconds(c.wentOn ? 60 : 10));
        const std::vector<LogLine> log = logOf(home.work("quillmaren.log"));
        EXPECT_EQ(has(log, "Logging in to Skarvelin"), c.wentOn);
        EXPECT_EQ(has(log, "Another run is using this folder"), c.status == 2);
    }
}

} // namespace
} // namespace qm::e2e
