// Two programs of one user on one My TLEs: "quillmaren -update" runs from two run
// folders take turns, and an update run that finds another program holding the folder
// (My TLEs, or the run folder, whose work files two homes may share) waits for it, goes
// on when that program dies, gives up after its wait with exit status 2, and ends at
// once on SIGTERM, with status 2 as well.
#include "LockHolder.h"
#include "UpdateHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <sstream>
#include <thread>

namespace qm::e2e {
namespace {

using Clock = std::chrono::steady_clock;
const std::string kWaiting = "Waiting for another run in this folder";

// A debug log's messages with their times, in milliseconds of the day.
using Log = std::vector<std::pair<long, std::string>>;
Log logOf(const std::string& path)
{
    static const std::regex stamped(R"(\[\d{4}-\d\d-\d\d (\d\d):(\d\d):(\d\d)\.(\d{3})\] (.*)\r)");
    Log lines;
    std::istringstream text(test::exists(path) ? test::readFile(path) : std::string());
    std::smatch m;
    for (std::string line; std::getline(text, line);)
        if (std::regex_match(line, m, stamped))
            lines.emplace_back(
                ((std::stol(m[1]) * 60 + std::stol(m[2])) * 60 + std::stol(m[3])) * 1000 + std::stol(m[4]), m[5].str());
    return lines;
}

Log::const_iterator find(const Log& log, const std::string& message)
{
    return std::find_if(log.begin(), log.end(), [&message](const auto& line) { return line.second == message; });
}
bool has(const Log& log, const std::string& message)
{
    return find(log, message) != log.end();
}

TEST(SharedFolder, TwoUpdateRunsFromTwoRunFoldersTakeTurns)
{
    // The catalogue arrives slowly: the first run still has the folder when the second
    // one comes for it.
    const test::LocalService service({"--slow-id", "1", "--slow-rate", "30000"});
    UpdateHome home(service);
    home.writeSettings({.everyRow = false});
    const pid_t first = home.startUpdateIn("work", {});
    const pid_t second = home.startUpdateIn("work2", {});
    for (const auto& run :
        {test::waitForProgram(first, home.work("")), test::waitForProgram(second, home.folder("work2/"))}) {
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
    }
    const Log logs[] = {logOf(home.work("quillmaren.log")), logOf(home.folder("work2/quillmaren.log"))};
    ASSERT_NE(has(logs[0], kWaiting), has(logs[1], kWaiting)) << "exactly one of them waited";
    const Log& waited = logs[has(logs[0], kWaiting) ? 0 : 1];
    const Log& went = logs[has(logs[0], kWaiting) ? 1 : 0];

    // The first fetched and processed; all the other did after its wait came later.
    EXPECT_TRUE(has(went, "Downloading " + service.productName(1)));
    EXPECT_TRUE(has(went, "Close [indexfile]"));
    const auto after = find(waited, kWaiting) + 1;
    ASSERT_NE(after, waited.end());
    EXPECT_GE(after->first, went.back().first) << after->second << " during " << went.back().second;
    EXPECT_TRUE(has(waited, "Logging in to Skarvelin"));
    EXPECT_TRUE(test::exists(home.myTles() + ".quillmaren.lock"));
}

TEST(SharedFolder, AnUpdateRunWaitsForAnotherProgramAndGivesUpWithTwo)
{
    const auto service = test::LocalService::fixture("local_service");
    enum class Then { Nothing, KillHolder, TerminateRun };
    const struct {
        const char* waitSeconds;
        Then then;
        int status;
        std::string err;
        bool inRunFolder = false; // the other program holds the run folder, not My TLEs
    } cases[] = {
        {"1", Then::Nothing, 2, "quillmaren: error: Another run is using this folder [OK]\n"},
        {"120", Then::KillHolder, 0, ""},
        // Cut off, the run did not bring the data up to date: its timer tries again.
        {"120", Then::TerminateRun, 2, ""},
        {"1", Then::Nothing, 2, "quillmaren: error: Another run is using this folder [OK]\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.then) + 10 * c.inRunFolder);
        UpdateHome home(service);
        home.writeSettings({.everyRow = false});
        test::LockHolder other(c.inRunFolder ? home.work("") : home.myTles());
        const pid_t run = home.startUpdateIn("work", {"QUILLMAREN_LOCK_WAIT=" + std::string(c.waitSeconds)});
        const auto giveUp = Clock::now() + std::chrono::minutes(1);
        while (!has(logOf(home.work("quillmaren.log")), kWaiting) && Clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const auto then = Clock::now();
        if (c.then == Then::KillHolder)
            other.stop();
        if (c.then == Then::TerminateRun)
            ::kill(run, SIGTERM);
        const test::ProgramOutcome outcome = test::waitForProgram(run, home.work(""));

        EXPECT_EQ(outcome.signal, 0);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, c.err);
        const bool wentOn = c.then == Then::KillHolder;
        EXPECT_LT(Clock::now() - then, std::chrono::seconds(wentOn ? 60 : 10));
        const Log log = logOf(home.work("quillmaren.log"));
        EXPECT_TRUE(has(log, kWaiting));
        EXPECT_EQ(has(log, "Logging in to Skarvelin"), wentOn);
        EXPECT_EQ(has(log, "Another run is using this folder"), c.status == 2 && c.then == Then::Nothing);
    }
}

} // namespace
} // namespace qm::e2e
