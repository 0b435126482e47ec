// The folder lock between processes: another program's hold keeps this one out until
// that program dies, a wait turns the event loop and gives up on time or when the
// program is told to end, and one program's runs share one hold that no program they
// start keeps.
#include "platform/Environment.h"
#include "platform/FolderLock.h"
#include "platform/Halt.h"

#include "LockHolder.h"
#include "QtCoreApp.h"
#include "TempDir.h"

#include <QTimer>
#include <gtest/gtest.h>
#include <optional>
#include <spawn.h>

namespace qm {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(FolderLock, AnotherProgramsHoldKeepsThisOneOutUntilThatProgramDies)
{
    test::coreApplication();
    test::TempDir dir;
    FolderLock lock(dir.path());
    test::LockHolder other(dir.path());
    ASSERT_TRUE(other.holds());
    EXPECT_THROW((void)lock.hold(), FolderBusy);
    EXPECT_FALSE(lock.tryHold());

    // A wait that runs out, with the event loop turning.
    int waits = 0;
    bool eventSeen = false;
    QTimer::singleShot(50ms, [&eventSeen] { eventSeen = true; });
    const auto start = Clock::now();
    try {
        (void)lock.hold(400ms, [&waits] { ++waits; });
        ADD_FAILURE() << "held while another program has the lock";
    } catch (const FolderBusy& e) {
        EXPECT_STREQ(e.what(), "Another run is using this folder");
    }
    EXPECT_GE(Clock::now() - start, 400ms);
    EXPECT_EQ(waits, 1);
    EXPECT_TRUE(eventSeen);

    // A wait that the program's end cuts short.
    QTimer::singleShot(100ms, [] { requestHalt(0); });
    EXPECT_THROW((void)lock.hold(60s, nullptr), FolderBusy);
    EXPECT_LT(Clock::now() - start, 5s);
    clearHalt();

    // The killed holder leaves no lock behind.
    other.stop(SIGKILL);
    EXPECT_TRUE(lock.hold());
}

TEST(FolderLock, OneProgramsRunsShareOneHoldThatNoProgramTheyStartKeeps)
{
    test::TempDir dir;
    FolderLock lock(dir.path());
    std::optional<FolderLock::Hold> outer = lock.hold();
    // A run started inside a run: the same hold, not a wait for itself.
    (void)lock.hold(0ms, nullptr);
    EXPECT_TRUE(lock.held());
    EXPECT_FALSE(test::LockHolder(dir.path()).holds()) << "the outer hold still keeps it";

    // A program started during the run ("post.sh") outlives it without the lock.
    pid_t child = -1;
    char sleep[] = "sleep";
    char seconds[] = "60";
    char* argv[] = {sleep, seconds, nullptr};
    ASSERT_EQ(::posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
    outer.reset();
    EXPECT_FALSE(lock.held());
    EXPECT_TRUE(test::LockHolder(dir.path()).holds());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

TEST(FolderLock, TheUpdateWaitComesFromTheEnvironmentInWholeSeconds)
{
    struct Variables : Environment {
        std::optional<std::string> value;
        std::optional<std::string> variable(const std::string&) const override { return value; }
    } environment;
    for (const auto& [value, wait] : {std::pair<std::optional<std::string>, std::chrono::milliseconds>{{}, 10min},
             {"", 10min}, {"0", 0s}, {"86400", 24h}}) {
        environment.value = value;
        EXPECT_EQ(folderWaitFrom(environment), wait) << value.value_or("(unset)");
    }
    for (const char* bad : {"86401", "-1", "1.5", " 5", "999999"}) {
        environment.value = bad;
        EXPECT_THROW((void)folderWaitFrom(environment), IoError) << bad;
    }
}

} // namespace
} // namespace qm
