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
        told.push_back(n.summary + ": " + n.body + (n.critical ? " !" : ""));
    }
    std::vector<std::string> told;
};

TEST(RunNotifier, TellsARunsFirstFailureAndTheFirstSuccessAfterFailures)
{
    using enum RunOutcome;
    const struct {
        const char* stored; // the state file before the run; nullptr: none
        std::vector<std::pair<RunOutcome, const char*>> failures; // as the steps report them
        RunOutcome outcome;
        std::vector<std::string> told;
        const char* after;
        bool on = true; // "Desktop Notifications"
    } rows[] = {
        // No file, or one a person or a disk garbled: a completed run is no news.
        {nullptr, {}, Completed, {}, nullptr},
        {"fail", {}, Completed, {}, "fail"},
        // Told at once, once per run, on one line; kept for the next run.
        {"completed\n", {{Halted, "File x not found.\nCorrupt."}, {EndedEarly, "later"}}, Halted,
            {"TLE update failed: File x not found. Corrupt. !"}, "failed\n"},
        {"failed\n", {}, Completed, {"TLE update succeeded again: 36 data sets written"}, "completed\n"},
        // Switched off: nothing told, the outcome still kept.
        {nullptr, {}, EndedEarly, {}, "failed\n", false},
    };
    for (const auto& row : rows) {
        const test::TempDir dir;
        const std::string state = dir.file(kLastRunFile);
        if (row.stored)
            test::writeFile(state, row.stored);
        Told desktop;
        test::RecordingReporter reporter;
        RunNotifier notifier(desktop, reporter, state);
        notifier.enabled = [&row] { return row.on; };
        notifier.runFailing(EndedEarly, "a run by hand");
        notifier.runStarted();
        for (const auto& [how, reason] : row.failures)
            notifier.runFailing(how, reason);
        notifier.runEnded(row.outcome, 36);
        notifier.runEnded(EndedEarly, 0, "after the run");
        EXPECT_EQ(desktop.told, row.told) << (row.stored ? row.stored : "no file");
        EXPECT_EQ(test::exists(state) ? test::readFile(state) : "(none)", row.after ? row.after : "(none)");
    }
}

} // namespace
} // namespace qm
