// What the desktop hears of unattended runs, from the outcome the run before left in
// the run folder and the way this run goes.
#include "RecordingReporter.h"
#include "TempDir.h"

#include "desktop/RunNotifier.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

struct Told : NotificationService {
    void notify(const Notification& n) override
    {
        told.push_back(n.summary + ": " + n.body + (n.critical ? " (critical)" : ""));
    }
    std::vector<std::string> told;
};

TEST(RunNotifier, TellsARunsFirstFailureAndTheFirstSuccessAfterFailures)
{
    using enum RunOutcome;
    struct Row {
        const char* stored; // the state file before the run; nullptr: none
        std::vector<std::pair<RunOutcome, const char*>> failures; // as the steps report them
        RunOutcome outcome;
        std::vector<std::string> told;
        const char* after;
    };
    const Row rows[] = {
        // No file, or one a person or a disk garbled: a completed run is no news.
        {nullptr, {}, Completed, {}, nullptr},
        {"fail", {}, Completed, {}, "fail"},
        {"completed\n", {}, Completed, {}, "completed\n"},
        {"failed\n", {}, Completed, {"TLE update succeeded again: 36 data sets written"}, "completed\n"},
        // Told at once, once per run, on one line; an early end no step told, too.
        {"failed\n", {{EndedEarly, "Unable to reach\nVantoreal"}, {EndedEarly, "later"}}, EndedEarly,
            {"TLE update failed: Unable to reach Vantoreal"}, "failed\n"},
        {nullptr, {}, EndedEarly, {"TLE update failed: The update ended early"}, "failed\n"},
        {"completed\n", {{Halted, "Unable to unpack .gz file."}}, Halted,
            {"TLE update failed: Unable to unpack .gz file. (critical)"}, "failed\n"},
    };
    for (const Row& row : rows) {
        const test::TempDir dir;
        const std::string state = dir.file(kLastRunFile);
        if (row.stored)
            test::writeFile(state, row.stored);
        Told desktop;
        test::RecordingReporter reporter;
        RunNotifier notifier(desktop, reporter, state);
        notifier.runFailing(EndedEarly, "before the run: a run by hand");
        notifier.runStarted();
        for (const auto& [how, reason] : row.failures)
            notifier.runFailing(how, reason);
        notifier.runEnded(row.outcome, 36);
        notifier.runEnded(EndedEarly, 0, "after the run");
        EXPECT_EQ(desktop.told, row.told) << (row.stored ? row.stored : "no file");
        EXPECT_EQ(test::exists(state) ? test::readFile(state) : "(none)", row.after ? row.after : "(none)");
    }
}

TEST(RunNotifier, SwitchedOffItTellsNothingButRemembers)
{
    const test::TempDir dir;
    Told desktop;
    test::RecordingReporter reporter;
    RunNotifier notifier(desktop, reporter, dir.file(kLastRunFile));
    notifier.enabled = [] { return false; };
    notifier.runStarted();
    notifier.runEnded(RunOutcome::EndedEarly, 0, "Skarvelin login unsuccessful.");
    EXPECT_TRUE(desktop.told.empty());
    EXPECT_EQ(test::readFile(dir.file(kLastRunFile)), "failed\n");
}

} // namespace
} // namespace qm
