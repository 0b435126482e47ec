// The folder lock between processes: another program's hold keeps this one out until
// that program dies, a wait turns the event loop and gives up on time or when the
// program is told to end, and one program's runs share one hold that no program they
// start keeps.
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
    EXPECT_FALSE(lock.tryHold());

    // A wait that runs out, with the event loop turning; one that the program's end cuts short.
    int waits = 0;
    bool eventSeen = false;
    QTimer::singleShot(50ms, [&eventSeen] { eventSeen = true; });
    auto start = Clock::now();
    EXPECT_THROW((void)lock.hold(400ms, [&waits] { ++waits; }), FolderBusy);
    EXPECT_GE(Clock::now() - start, 400ms);
    EXPECT_EQ(waits, 1);
    EXPECT_TRUE(eventSeen);
    QTimer::singleShot(100ms, [] { requestHalt(0); });
    start = Clock::now();
    EXPECT_THROW((void)lock.hold(60s, nullptr), FolderBusy);
    EXPECT_LT(Clock::now() - start, 5s);
    clearHalt();

    other.stop();
    EXPECT_TRUE(lock.hold()) << "a killed holder leaves no lock behind";
}

TEST(FolderLock, OneProgramsRunsShareOneHoldThatNoProgramTheyStartKeeps)
{
    test::TempDir dir;
    FolderLock lock(dir.path());
    std::optional<FolderLock::Hold> outer = lock.hold();
    // A run inside a run takes the same hold without waiting for itself.
    (void)lock.hold(0ms, nullptr);
    EXPECT_FALSE(test::LockHolder(dir.path()).holds()) << "the outer hold still keeps it";

    // A program started during the run ("post.sh") outlives it without the lock.
    pid_t child = -1;
    char sleep[] = "sleep";
    char seconds[] = "60";
    char* argv[] = {sleep, seconds, nullptr};
    ASSERT_EQ(::posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
    outer.reset();
    EXPECT_TRUE(test::LockHolder(dir.path()).holds());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

} // namespace
} // namespace qm
