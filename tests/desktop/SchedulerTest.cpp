// The scheduler with a fake window, clock and tray: nothing waits for a real minute.
#include "RecordingReporter.h"
#include "ScriptedPrompts.h"
#include "TempDir.h"

#include "desktop/Scheduler.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::exists;

// Local time is UTC here, so the texts do not depend on the machine's time zone.
struct FakeClock : Clock {
    // 2007-10-15 14:03:00 UTC.
    static constexpr std::time_t kStart = 1192456980;
    TimePoint time = std::chrono::system_clock::from_time_t(kStart);
    TimePoint now() const override { return time; }
    std::tm local(TimePoint when) const override
    {
        const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
        std::tm out{};
        ::gmtime_r(&seconds, &out);
        return out;
    }
    // That day at 14:03:00 + `later`.
    void at(std::chrono::seconds later) { time = std::chrono::system_clock::from_time_t(kStart) + later; }
};

struct FakeTimer : SchedulerTimer {
    int ms = 0;
    bool active = false;
    int starts = 0;
    void setInterval(int milliseconds) override { ms = milliseconds; }
    int interval() const override { return ms; }
    void start() override
    {
        active = true;
        ++starts;
    }
    void stop() override { active = false; }
    bool isActive() const override { return active; }
};

struct FakeWindow : SchedulerWindow {
    FakeTimer run;
    FakeTimer tray;
    bool ticked = false;
    int delay = 5;
    int frequency = 1;
    int format = 0;
    int ssr = 0;
    bool account = true;
    bool downloadEnabled = true;
    bool processOn = true;
    bool delayControls = false;
    bool windowEnabled = true;
    bool fullCatalog = false;
    bool settingsChanged = false;
    bool newData = false;
    // What the current-data check finds.
    bool dataCurrent = true;
    std::vector<std::string> events;
    std::function<void()> onDownload;
    std::function<void()> onProcess;

    SchedulerTimer& runTimer() override { return run; }
    SchedulerTimer& trayTimer() override { return tray; }
    bool autoDownload() const override { return ticked; }
    int delayMinutes() const override { return delay; }
    int frequencyIndex() const override { return frequency; }
    int formatIndex() const override { return format; }
    int ssrIndex() const override { return ssr; }
    bool accountPresent() const override { return account; }
    bool processEnabled() const override { return processOn; }
    void setDownloadEnabled(bool enabled) override { downloadEnabled = enabled; }
    void setProcessEnabled(bool enabled) override { processOn = enabled; }
    void setDelayControlsEnabled(bool enabled) override { delayControls = enabled; }
    void setWindowEnabled(bool enabled) override
    {
        windowEnabled = enabled;
        events.push_back(enabled ? "enable window" : "disable window");
    }
    void restore() override { events.push_back("restore"); }
    void minimize() override { events.push_back("minimize"); }
    void tickFullCatalog() override { fullCatalog = true; }
    void selectSsrYes() override { ssr = 0; }
    void raiseSettingsChanged() override { settingsChanged = true; }
    void CheckForCurrentData() override
    {
        events.push_back("check current data");
        processOn = dataCurrent;
    }
    RunOutcome download() override
    {
        events.push_back("download");
        if (onDownload)
            onDownload();
        return RunOutcome::Completed;
    }
    RunOutcome process() override
    {
        events.push_back("process");
        if (onProcess)
            onProcess();
        return RunOutcome::Completed;
    }
    int dataSetsWritten() const override { return 0; }
    bool& NewDataDownloaded() override { return newData; }
    bool runGoing() const override { return false; }
    FolderLock* folderLock() override { return nullptr; }
    bool ending() const override { return false; }
};

struct StartupFolder : ShellFolders {
    std::string path;
    std::string folder(int index) const override { return index == 3 ? path : std::string(); }
};

class SchedulerTest : public ::testing::Test {
protected:
    SchedulerTest()
    {
        ::mkdir(dir.file("bin").c_str(), 0755);
        test::writeFile(dir.file("bin/quillmaren"), "program");
        folders.path = dir.file("autostart");
        shortcut.setTarget(dir.file("bin/quillmaren"), dir.file("bin/"));
        ::setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1);
    }

    // Ticks "Auto Download" with the entry already there, so nothing is asked.
    void tick()
    {
        if (!shortcut.exists())
            shortcut.create();
        window.ticked = true;
        scheduler.cbAutoDownloadClick();
    }
    static std::string attempt(const std::string& when) { return "Next TLE update attempt: " + when; }

    test::TempDir dir;
    FakeWindow window;
    FakeClock clock;
    PlainTrayIcon tray{true};
    test::RecordingReporter reporter{true};
    test::ScriptedPrompts prompts;
    StartupFolder folders;
    StartupShortcut shortcut{folders};
    struct : NotificationService {
        void notify(const Notification& n) override { told.push_back(n.body); }
        std::vector<std::string> told;
    } desktop;
    RunNotifier notifier{desktop, reporter, dir.file(kLastRunFile)};
    Scheduler scheduler{window, {tray, reporter, prompts, shortcut, clock, cTimeTexts(), notifier}};
};

TEST(NextAttemptText, YearMonthDayHourMinuteInTheLocalesWords)
{
    std::tm local{};
    local.tm_year = 107;
    local.tm_mon = 9;
    local.tm_mday = 5;
    local.tm_hour = 4;
    local.tm_min = 3;
    local.tm_sec = 59;
    EXPECT_EQ(nextAttemptText(local, cTimeTexts()), "Next TLE update attempt: 2007 Oct 05 04:03");
    EXPECT_EQ(localeTimeTexts("C").shortMonths, cTimeTexts().shortMonths);
    EXPECT_EQ(localeTimeTexts("no_such_LOCALE").timeSeparator, ":");

    // Finnish writes its own month words and a full stop between hours and minutes;
    // German months come as single-byte text ("Mär").
    const TimeTexts finnish = localeTimeTexts("fi_FI.UTF-8");
    const TimeTexts german = localeTimeTexts("de_DE.UTF-8");
    if (finnish.shortMonths == cTimeTexts().shortMonths || german.shortMonths == cTimeTexts().shortMonths)
        GTEST_SKIP() << "fi_FI.UTF-8 or de_DE.UTF-8 is not installed";
    EXPECT_EQ(nextAttemptText(local, finnish), "Next TLE update attempt: 2007 loka 05 04.03");
    EXPECT_EQ(nextAttemptText(local, german), "Next TLE update attempt: 2007 Okt 05 04:03");
    EXPECT_EQ(german.shortMonths[2], "M\xE4r");
}

TEST_F(SchedulerTest, TickingArmsTheInitialDelayAndAsksForTheEntryUntilItExists)
{
    // An entry that cannot be made is reported; the timer is armed all the same.
    shortcut.setTarget(dir.file("bin/gone"), dir.file("bin/"));
    window.ticked = true;
    prompts.answer(true);
    scheduler.cbAutoDownloadClick();
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[0].text, "Create shortcut in Startup folder?");
    EXPECT_EQ(prompts.shown[1].kind, "error");
    EXPECT_EQ(prompts.shown[1].text, "File " + dir.file("bin/gone") + " not found.");
    EXPECT_FALSE(shortcut.exists());
    EXPECT_FALSE(window.downloadEnabled);
    EXPECT_FALSE(window.processOn);
    EXPECT_TRUE(window.delayControls);
    EXPECT_TRUE(tray.minimizeToTray());
    EXPECT_TRUE(tray.closeToTray());
    EXPECT_TRUE(window.run.active);
    EXPECT_EQ(window.run.ms, 5 * 60000);
    EXPECT_EQ(tray.hint(), attempt("2007 Oct 15 14:08"));
    EXPECT_EQ(reporter.status, tray.hint());
    EXPECT_TRUE(reporter.logLines.empty()) << "the status line only";
    EXPECT_TRUE(window.settingsChanged);

    // Asked again while the entry is missing; once it exists, never.
    shortcut.setTarget(dir.file("bin/quillmaren"), dir.file("bin/"));
    prompts.answer(true);
    scheduler.cbAutoDownloadClick();
    EXPECT_EQ(prompts.shown.size(), 3u);
    EXPECT_TRUE(shortcut.exists());
    scheduler.cbAutoDownloadClick();
    EXPECT_EQ(prompts.shown.size(), 3u);

    window.ticked = false;
    window.settingsChanged = false;
    scheduler.cbAutoDownloadClick();
    EXPECT_EQ(prompts.shown.size(), 3u) << "deleted without a question";
    EXPECT_FALSE(shortcut.exists());
    EXPECT_TRUE(window.downloadEnabled);
    EXPECT_EQ(window.events, std::vector<std::string>{"check current data"});
    EXPECT_FALSE(window.delayControls);
    EXPECT_FALSE(tray.minimizeToTray());
    EXPECT_FALSE(tray.closeToTray());
    EXPECT_FALSE(window.run.active);
    EXPECT_EQ(tray.hint(), "Skarvelin Quillmaren");
    EXPECT_EQ(reporter.status, "Ready");
    EXPECT_TRUE(window.settingsChanged);

    // Without an account "Download Data" stays off; with "Process Data" off the status
    // line is the current-data check's.
    window.account = false;
    window.downloadEnabled = false;
    window.dataCurrent = false;
    reporter.status = "from the check";
    scheduler.cbAutoDownloadClick();
    EXPECT_FALSE(window.downloadEnabled);
    EXPECT_EQ(reporter.status, "from the check");
}

TEST_F(SchedulerTest, DelayChangeAndTrayTimerRestartTheCountdown)
{
    tick();
    clock.at(3min);
    window.delay = 6;
    scheduler.seDelayChange();
    EXPECT_TRUE(window.run.active);
    EXPECT_EQ(window.run.starts, 2);
    EXPECT_EQ(window.run.ms, 6 * 60000);
    EXPECT_EQ(tray.hint(), attempt("2007 Oct 15 14:12"));

    // Five seconds after start-up: once more from now, then into the tray.
    window.tray.start();
    clock.at(4min);
    scheduler.TrayTimerTimer();
    EXPECT_FALSE(window.tray.active);
    EXPECT_EQ(window.run.starts, 3);
    EXPECT_EQ(tray.hint(), attempt("2007 Oct 15 14:13"));
    EXPECT_EQ(window.events, std::vector<std::string>{"minimize"});

    // With automatic download off the change only counts as a change.
    window.ticked = false;
    scheduler.cbAutoDownloadClick();
    window.settingsChanged = false;
    window.delay = 10;
    scheduler.seDelayChange();
    EXPECT_FALSE(window.run.active);
    EXPECT_EQ(window.run.starts, 3);
    EXPECT_EQ(tray.hint(), "Skarvelin Quillmaren");
    EXPECT_TRUE(window.settingsChanged);
}

TEST_F(SchedulerTest, NextAttemptIsOnePeriodAfterTheRunEnds)
{
    const std::pair<int, const char*> expected[]
        = {{0, "2007 Oct 16 14:10"}, {1, "2007 Oct 16 02:10"}, {2, "2007 Oct 15 20:10"}};
    for (const auto& [frequency, when] : expected) {
        clock.at(0s);
        tick();
        window.frequency = frequency;
        window.onDownload = [this] {
            clock.at(7min + 30s); // ends 14:10:30
            // The run's last line, by the idle rule.
            reporter.hint = tray.hint();
            reporter.updateStatusBar(reporter.idleText("Done"));
        };
        reporter.logLines.clear();
        scheduler.RunTimerTimer();
        EXPECT_EQ(window.run.ms, periodOf(frequency));
        EXPECT_TRUE(window.run.active);
        EXPECT_EQ(tray.hint(), attempt(when)) << frequency;
        EXPECT_EQ(reporter.status, tray.hint());
        EXPECT_EQ(reporter.logLines, (std::vector<std::string>{"Done", attempt(when)})) << "the attempt planned";
    }
    EXPECT_EQ(periodOf(2), 6 * 3600 * 1000);
}

TEST_F(SchedulerTest, WithoutAFrequencyTheInitialDelayRepeats)
{
    window.delay = 7;
    window.frequency = -1;
    tick();
    scheduler.RunTimerTimer();
    EXPECT_EQ(window.run.ms, 7 * 60000);
    EXPECT_EQ(tray.hint(), attempt("2007 Oct 15 14:10"));
}

TEST_F(SchedulerTest, ScheduledRunForcesTheFullCatalogAndTheReportOnce)
{
    tick();
    window.ssr = 1;
    window.settingsChanged = false;
    window.events.clear();
    int downloads = 0;
    window.onDownload = [&] {
        ++downloads;
        EXPECT_TRUE(window.fullCatalog);
        EXPECT_EQ(window.ssr, 0);
        EXPECT_TRUE(window.settingsChanged) << "the report's selection changed";
        EXPECT_FALSE(window.run.active);
        EXPECT_FALSE(window.windowEnabled);
        // A timer event delivered during the network wait finds the run going.
        scheduler.RunTimerTimer();
    };
    scheduler.RunTimerTimer();
    EXPECT_EQ(downloads, 1);
    EXPECT_EQ(
        window.events, (std::vector<std::string>{"disable window", "restore", "download", "enable window", "minimize"}))
        << "no processing without new data";
    EXPECT_FALSE(window.downloadEnabled);
    EXPECT_FALSE(window.processOn);
    EXPECT_TRUE(window.run.active);

    // New data are processed, and the flag is cleared for the next run.
    window.onDownload = [this] { window.newData = true; };
    window.events.clear();
    scheduler.RunTimerTimer();
    EXPECT_EQ(window.events,
        (std::vector<std::string>{"disable window", "restore", "download", "process", "enable window", "minimize"}));
    EXPECT_FALSE(window.newData);

    // Three-line needs no report: its "No" stays and nothing counts as changed.
    window.format = 1;
    window.ssr = 1;
    window.settingsChanged = false;
    scheduler.RunTimerTimer();
    EXPECT_EQ(window.ssr, 1);
    EXPECT_FALSE(window.settingsChanged);
}

TEST_F(SchedulerTest, AnErrorLeavingTheRunsStillPlansTheNextAttempt)
{
    tick();
    window.events.clear();
    window.onDownload = [] { throw SocketError("Connection Timed Out"); };
    int boxes = 0;
    prompts.whileShown = [&](const auto&) {
        ++boxes;
        // The box comes last: the desktop told, the window usable, the next attempt planned.
        EXPECT_EQ(desktop.told, std::vector<std::string>{"Connection Timed Out"});
        EXPECT_TRUE(window.windowEnabled);
        EXPECT_TRUE(window.run.active);
        EXPECT_EQ(window.events.back(), "minimize");
        // Nobody clicks: the next run fails too, and only its log line tells.
        window.onDownload = [] { throw IoError("Unable to create x"); };
        scheduler.RunTimerTimer();
    };
    scheduler.RunTimerTimer();
    EXPECT_EQ(boxes, 1);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, "error");
    EXPECT_EQ(prompts.shown[0].text, "Connection Timed Out");
    EXPECT_EQ(reporter.logLines,
        (std::vector<std::string>{"Scheduled run ended with an error: Connection Timed Out",
            attempt("2007 Oct 16 02:03"), "Scheduled run ended with an error: Unable to create x",
            attempt("2007 Oct 16 02:03")}));
    EXPECT_EQ(tray.hint(), attempt("2007 Oct 16 02:03"));
    EXPECT_FALSE(window.downloadEnabled);

    // An error of the processing run: the same, and the flag is cleared.
    prompts.whileShown = nullptr;
    window.onDownload = [this] { window.newData = true; };
    window.onProcess = [] { throw IoError("Unable to open catalog.idx"); };
    scheduler.RunTimerTimer();
    EXPECT_EQ(prompts.shown.back().text, "Unable to open catalog.idx");
    EXPECT_FALSE(window.newData);
    EXPECT_TRUE(window.windowEnabled);
    EXPECT_TRUE(window.run.active);

    // A fatal stop is no error of a run: it ends the program.
    window.onDownload = [] { throw FatalStop{"Unable to create directory: /x/"}; };
    EXPECT_THROW(scheduler.RunTimerTimer(), FatalStop);
}

} // namespace
} // namespace qm
