// The folder lock between real processes: another program's hold keeps this one out
// until that program ends or dies, a wait keeps the event loop turning and gives up on
// time or when the program is told to end, and one program's runs share one hold.
#include "platform/Environment.h"
#include "platform/FolderLock.h"
#include "platform/Halt.h"

#include "LockHolder.h"
#include "QtCoreApp.h"
#include "TempDir.h"

#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <spawn.h>
#include <sys/wait.h>

namespace qm {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class FolderLockTest : public ::testing::Test {
protected:
    FolderLockTest() { test::coreApplication(); }
    ~FolderLockTest() override { clearHalt(); }

    test::TempDir dir;
    const std::string folder = dir.path();
};

TEST_F(FolderLockTest, AnotherProgramsHoldKeepsThisOneOutUntilThatProgramEndsOrDies)
{
    struct Case {
        const char* how;
        int holderSeconds;
        bool killed;
    };
    for (const Case& c : {Case{"killed", 120, true}, Case{"ends", 2, false}}) {
        SCOPED_TRACE(c.how);
        FolderLock lock(folder);
        test::LockHolder other(folder, dir.path(), c.holderSeconds);
        ASSERT_TRUE(other.holds());
        EXPECT_TRUE(test::exists(folder + ".quillmaren.lock"));

        try {
            (void)lock.hold();
            ADD_FAILURE() << "held while another program has the lock";
        } catch (const FolderBusy& e) {
            EXPECT_STREQ(e.what(), "Another run is using this folder");
        }
        EXPECT_FALSE(lock.tryHold());

        // A wait that runs out: the event loop turned meanwhile.
        int waits = 0;
        bool eventSeen = false;
        QTimer::singleShot(50ms, [&eventSeen] { eventSeen = true; });
        const auto start = Clock::now();
        EXPECT_THROW((void)lock.hold(400ms, [&waits] { ++waits; }), FolderBusy);
        EXPECT_GE(Clock::now() - start, 400ms);
        EXPECT_EQ(waits, 1);
        EXPECT_TRUE(eventSeen);
        EXPECT_FALSE(lock.held());

        // Killed, the kernel lets go at once; ending by itself, a waiting run goes on.
        if (c.killed)
            other.stop(SIGKILL);
        const FolderLock::Hold hold = lock.hold(30s, [&waits] { ++waits; });
        EXPECT_TRUE(hold);
        EXPECT_TRUE(lock.held());
        EXPECT_EQ(waits, c.killed ? 1 : 2);
        EXPECT_FALSE(test::LockHolder(folder, dir.path()).holds());
    }
}

TEST_F(FolderLockTest, OneProgramsRunsShareOneHoldThatNoChildProgramKeeps)
{
    FolderLock lock(folder);
    std::optional<FolderLock::Hold> outer = lock.hold();
    {
        // A run started by a run: the same hold, not a wait for itself.
        const FolderLock::Hold inner = lock.hold(0ms, nullptr);
        EXPECT_FALSE(test::LockHolder(folder, dir.path()).holds());
    }
    EXPECT_TRUE(lock.held());
    EXPECT_FALSE(test::LockHolder(folder, dir.path()).holds()) << "the outer hold still keeps it";

    // A program started during the run ("post.sh") outlives it without the lock.
    pid_t child = -1;
    char sleep[] = "sleep";
    char seconds[] = "60";
    char* argv[] = {sleep, seconds, nullptr};
    ASSERT_EQ(::posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
    outer.reset();
    EXPECT_FALSE(lock.held());
    EXPECT_TRUE(test::LockHolder(folder, dir.path()).holds());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

TEST_F(FolderLockTest, AWaitEndsAtOnceWhenTheProgramIsToldToEnd)
{
    FolderLock lock(folder);
    test::LockHolder other(folder, dir.path());
    QTimer::singleShot(100ms, [] { requestHalt(0); });
    const auto start = Clock::now();
    EXPECT_THROW((void)lock.hold(60s, nullptr), FolderBusy);
    EXPECT_LT(Clock::now() - start, 5s);
}

TEST(FolderWait, ComesFromTheEnvironmentInWholeSeconds)
{
    struct Variables : Environment {
        std::optional<std::string> value;
        std::optional<std::string> variable(const std::string& name) const override
        {
            return name == "QUILLMAREN_LOCK_WAIT" ? value : std::nullopt;
        }
    } environment;
    const std::map<std::optional<std::string>, std::chrono::milliseconds> good{
        {std::nullopt, 10min}, {"", 10min}, {"0", 0s}, {"45", 45s}, {"86400", 24h}};
    for (const auto& [value, wait] : good) {
        environment.value = value;
        EXPECT_EQ(folderWaitFrom(environment), wait) << value.value_or("(unset)");
    }
    for (const char* bad : {"86401", "-1", "1.5", "10m", " 5", "999999"}) {
        environment.value = bad;
        try {
            (void)folderWaitFrom(environment);
            ADD_FAILURE() << bad;
        } catch (const IoError& e) {
            EXPECT_EQ(e.what(),
                "QUILLMAREN_LOCK_WAIT must be a number of seconds from 0 to 86400, not \"" + std::string(bad) + "\".");
        }
    }
}

} // namespace
} // namespace qm
