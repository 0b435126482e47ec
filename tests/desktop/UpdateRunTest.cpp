// The update run of "-update" against a fake window: what it selects, which runs it
// starts, what the desktop is told, and the exit status it ends the program with.
#include "RecordingReporter.h"
#include "TempDir.h"

#include "desktop/UpdateRun.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace qm {
namespace {

// Its notifications join its calls, so their order against the error boxes shows.
class FakeWindow : public UpdateWindow, public NotificationService {
public:
    void notify(const Notification& n) override { calls.push_back("notify: " + n.body); }
    void tickFullCatalog() override { calls.push_back("tick full catalog"); }
    bool twoLineSelected() const override { return twoLine; }
    void selectSituationReport() override { calls.push_back("select report"); }
    RunOutcome download() override
    {
        calls.push_back("download");
        return onDownload();
    }
    RunOutcome process() override
    {
        calls.push_back("process");
        return onProcess();
    }
    bool newDataDownloaded() const override { return newData; }
    int dataSetsWritten() const override { return 0; }
    void reportError(std::string_view text) override { calls.push_back("error: " + std::string(text)); }
    bool ending() const override { return endingNow; }
    void close(int exitStatus) override { calls.push_back("close " + std::to_string(exitStatus)); }
    void status(std::string_view text) override { calls.push_back("status: " + std::string(text)); }
    FolderLock* folderLock() override { return nullptr; }
    std::chrono::milliseconds folderWait() const override { return {}; }

    bool twoLine = true;
    bool newData = true;
    bool endingNow = false;
    // The run, told to a notifier whose state file is in a run folder of its own.
    void run() { UpdateRun(*this, notifier).run(); }
    const test::TempDir runFolder;
    const std::string state = runFolder.file(kLastRunFile);
    test::RecordingReporter reporter;
    RunNotifier notifier{*this, reporter, state};
    std::function<RunOutcome()> onDownload = [] { return RunOutcome::Completed; };
    std::function<RunOutcome()> onProcess = [] { return RunOutcome::Completed; };
    std::vector<std::string> calls;
};

using Calls = std::vector<std::string>;

TEST(UpdateRun, TheDesktopHearsOfAFailureAndOfTheFirstSuccessAfterFailures)
{
    const struct {
        const char* stored; // in the state file; nullptr: no file
        bool fails;
        bool notifying; // "Desktop Notifications"
        Calls told;
        const char* after;
    } rows[] = {
        // No file, or one garbled: a completed run is no news.
        {nullptr, false, true, {}, "(none)"},
        {"fail", false, true, {}, "fail"},
        {"failed\n", false, true, {"notify: 0 data sets written"}, "completed\n"},
        // A reason on one line; switched off, nothing is told, but the outcome is kept.
        {"completed\n", true, true, {"notify: Unable to reach Vantoreal"}, "failed\n"},
        {nullptr, true, false, {}, "failed\n"},
    };
    for (const auto& row : rows) {
        FakeWindow window;
        window.notifier.enabled = [&row] { return row.notifying; };
        if (row.fails)
            window.onDownload = []() -> RunOutcome { throw SocketError("Unable to reach\nVantoreal"); };
        if (row.stored)
            test::writeFile(window.state, row.stored);
        // Before the unattended run: a failure of a run by hand is no news.
        window.notifier.runFailing(RunOutcome::EndedEarly, "by hand");
        window.run();
        EXPECT_EQ(test::exists(window.state) ? test::readFile(window.state) : "(none)", row.after);
        Calls told;
        std::copy_if(window.calls.begin(), window.calls.end(), std::back_inserter(told),
            [](const std::string& call) { return call.starts_with("notify: "); });
        EXPECT_EQ(told, row.told) << (row.stored ? row.stored : "no file");
    }
}

TEST(UpdateRun, DownloadsProcessesNewDataAndEndsWithZero)
{
    FakeWindow window;
    window.run();
    EXPECT_EQ(window.calls, (Calls{"tick full catalog", "select report", "download", "process", "close 0"}));

    // Three-line form needs no report; nothing new, nothing to process: still a success.
    FakeWindow threeLine;
    threeLine.twoLine = false;
    threeLine.newData = false;
    threeLine.run();
    EXPECT_EQ(threeLine.calls, (Calls{"tick full catalog", "download", "close 0"}));
}

TEST(UpdateRun, ARunThatEndedEarlyEndsTheProgramWithTwo)
{
    // A refused login or an unreachable host: nothing new, no processing.
    FakeWindow refused;
    refused.newData = false;
    refused.onDownload = [] { return RunOutcome::EndedEarly; };
    refused.run();
    EXPECT_EQ(refused.calls.back(), "close 2");
    EXPECT_EQ(refused.calls.end()[-2], "notify: The update ended early") << "no step told why";
    EXPECT_EQ(std::count(refused.calls.begin(), refused.calls.end(), "process"), 0);

    // An error out of the download is reported; what did arrive is still processed.
    FakeWindow failed;
    failed.onDownload = []() -> RunOutcome { throw SocketError("Timed out waiting for response"); };
    failed.run();
    EXPECT_EQ(failed.calls,
        (Calls{"tick full catalog", "select report", "download", "notify: Timed out waiting for response",
            "error: Timed out waiting for response", "process", "close 2"}));

    // The processing run's own early end and its errors count the same way.
    FakeWindow unreachable;
    unreachable.onProcess = [] { return RunOutcome::EndedEarly; };
    unreachable.run();
    EXPECT_EQ(unreachable.calls.back(), "close 2");

    FakeWindow unwritable;
    unwritable.onProcess = []() -> RunOutcome { throw IoError("Unable to write to catalog.idx"); };
    unwritable.run();
    EXPECT_EQ(unwritable.calls.end()[-2], "error: Unable to write to catalog.idx");
    EXPECT_EQ(unwritable.calls.back(), "close 2");
}

TEST(UpdateRun, AnEndingProgramStartsNothingMoreAndIsNotClosedAgain)
{
    // A fatal stop leaves the run for the handler's edge, which ends the program.
    FakeWindow halted;
    halted.onProcess = []() -> RunOutcome { throw FatalStop{"Unable to unpack .gz file."}; };
    EXPECT_THROW(halted.run(), FatalStop);
    EXPECT_EQ(halted.calls.back(), "process");

    // SIGTERM during the download: its broken transfer is no news, and nothing follows.
    FakeWindow signalled;
    signalled.onDownload = [&signalled]() -> RunOutcome {
        signalled.endingNow = true;
        throw SocketError("Timed out waiting for response");
    };
    signalled.run();
    EXPECT_EQ(signalled.calls, (Calls{"tick full catalog", "select report", "download"}));
}

} // namespace
} // namespace qm
