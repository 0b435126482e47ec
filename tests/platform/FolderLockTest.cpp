// The folder lock between processes: another program's hold keeps this one out until
// that program dies, a wait turns the event loop and gives up on time or when the
// program is told to end, and one program's runs share one hold that no program they
// start keeps. Only a regular file is taken, and one the user may only read will do.
#include "platform/FolderLock.h"
#include "platform/Halt.h"

#include "ErrorText.h"
#include "LockHolder.h"
#include "QtCoreApp.h"
#include "TempDir.h"
#include "Unprivileged.h"

#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <spawn.h>
#include <sys/stat.h>
#include <utility>

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

// The run folder and My TLEs are held together or not at all: a run that finds either
// taken keeps neither. A run started in My TLEs itself locks it once, not against itself.
TEST(FolderLock, SeveralFoldersAreHeldWholeOrNotAtAll)
{
    test::TempDir run;
    test::TempDir tles;
    EXPECT_TRUE(FolderLock({tles.path(), tles.path() + "./"}).tryHold());
    FolderLock lock({run.path(), tles.path()});
    for (const auto& [busy, free] : {std::pair(run.path(), tles.path()), std::pair(tles.path(), run.path())}) {
        test::LockHolder other(busy);
        ASSERT_TRUE(other.holds());
        EXPECT_FALSE(lock.tryHold()) << busy;
        EXPECT_TRUE(test::LockHolder(free).holds()) << "kept nothing";
    }
    const FolderLock::Hold hold = lock.hold();
    EXPECT_FALSE(test::LockHolder(run.path()).holds());
    EXPECT_FALSE(test::LockHolder(tles.path()).holds());
}

// A symbolic link (dangling or not) or anything but a regular file in the lock's place is
// refused, and nothing is made where a link points.
TEST(FolderLock, OnlyARegularFileIsTakenAndNothingIsMadeElsewhere)
{
    namespace fs = std::filesystem;
    test::TempDir dir;
    test::TempDir elsewhere;
    const std::string lockFile = dir.file(".quillmaren.lock");
    test::writeFile(elsewhere.file("existing"), "");
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { fs::create_symlink(elsewhere.file("made"), lockFile); }, "it is a symbolic link"},
        {[&] { fs::create_symlink(elsewhere.file("existing"), lockFile); }, "it is a symbolic link"},
        {[&] { fs::create_directory(lockFile); }, "it is not a regular file"},
        {[&] { ::mkfifo(lockFile.c_str(), 0600); }, "it is not a regular file"},
    };
    for (const auto& [make, reason] : cases) {
        make();
        FolderLock lock(dir.path());
        EXPECT_EQ(test::errorOf([&] { (void)lock.hold(); }), "IoError: Unable to lock " + lockFile + ": " + reason);
        EXPECT_FALSE(lock.tryHold());
        EXPECT_FALSE(test::exists(elsewhere.file("made")));
        fs::remove(lockFile);
    }
}

// flock needs only a descriptor: a lock file the user may not write (left by a run as
// root) still keeps two programs apart.
TEST(FolderLock, ALockFileTheUserMayOnlyReadStillLocks)
{
    test::TempDir dir;
    test::openUpForOthers(dir.path());
    test::writeFile(dir.file(".quillmaren.lock"), "");
    ::chmod(dir.file(".quillmaren.lock").c_str(), 0444);
    EXPECT_EQ(test::runUnprivileged([&]() -> std::string {
        FolderLock lock(dir.path());
        const FolderLock::Hold hold = lock.tryHold();
        const int other = ::open(dir.file(".quillmaren.lock").c_str(), O_RDONLY | O_CLOEXEC);
        const bool shut = other >= 0 && ::flock(other, LOCK_EX | LOCK_NB) != 0;
        ::close(other);
        return !hold ? "not held" : shut ? "" : "not locked";
    }),
        "");
}

} // namespace
} // namespace qm
