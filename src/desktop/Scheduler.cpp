#include "desktop/Scheduler.h"

#include "platform/Errors.h"
#include "platform/Halt.h"

#include <cstdio>
#include <optional>
#include <utility>

namespace qm {

namespace {

// Sets a flag for the length of a scope, also when the scope is left by an error.
class FlagScope {
public:
    explicit FlagScope(bool& flag)
        : flag_(flag)
    {
        flag_ = true;
    }
    ~FlagScope() { flag_ = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
};

constexpr int kMinute = 60000;

} // namespace

std::string nextAttemptText(const std::tm& local, const TimeTexts& texts)
{
    auto digits = [](const char* format, int value) {
        char text[16];
        std::snprintf(text, sizeof text, format, value);
        return std::string(text);
    };
    const std::size_t month = local.tm_mon < 0 || local.tm_mon > 11 ? 0 : static_cast<std::size_t>(local.tm_mon);
    return "Next TLE update attempt: " + digits("%04d", local.tm_year + 1900) + " " + texts.shortMonths[month] + " "
        + digits("%02d", local.tm_mday) + " " + digits("%02d", local.tm_hour) + texts.timeSeparator
        + digits("%02d", local.tm_min);
}

int periodOf(int frequencyIndex)
{
    switch (frequencyIndex) {
    case 0:
        return 86400000;
    case 1:
        return 43200000;
    case 2:
        return 21600000;
    default:
        return 0;
    }
}

Scheduler::Scheduler(SchedulerWindow& window, SchedulerServices services)
    : window_(window)
    , services_(std::move(services))
{
}

std::string Scheduler::nextAttemptIn(int milliseconds) const
{
    // The moment the timer will fire, shown in local time: across a change to or from
    // summer time this stays the real moment of the attempt.
    const Clock::TimePoint when = services_.clock.now() + std::chrono::milliseconds(milliseconds);
    return nextAttemptText(services_.clock.local(when), services_.texts);
}

void Scheduler::announceNextAttempt(bool logged)
{
    const std::string hint = nextAttemptIn(window_.runTimer().interval());
    services_.tray.setHint(hint);
    if (logged)
        services_.reporter.updateStatusBar(hint);
    else
        services_.reporter.setStatusText(hint);
}

void Scheduler::armTimer()
{
    window_.runTimer().setInterval(window_.delayMinutes() * kMinute);
    announceNextAttempt();
    window_.runTimer().start();
}

void Scheduler::cbAutoDownloadClick()
{
    if (window_.autoDownload())
        ticked();
    else
        unticked();
}

void Scheduler::ticked()
{
    window_.setDownloadEnabled(false);
    window_.setProcessEnabled(false);
    window_.setDelayControlsEnabled(true);
    services_.tray.setMinimizeToTray(true);
    services_.tray.setCloseToTray(true);
    if (!services_.shortcut.exists() && services_.prompts.confirm("Create shortcut in Startup folder?")) {
        // Without the entry the schedule still runs while the program does; say why
        // there is none and carry on.
        try {
            services_.shortcut.create();
        } catch (const IoError& e) {
            services_.prompts.error(e.what());
        }
    }
    armTimer();
    window_.raiseSettingsChanged();
}

void Scheduler::unticked()
{
    if (window_.accountPresent())
        window_.setDownloadEnabled(true);
    window_.CheckForCurrentData();
    window_.setDelayControlsEnabled(false);
    services_.tray.setMinimizeToTray(false);
    services_.tray.setCloseToTray(false);
    if (services_.shortcut.exists())
        services_.shortcut.remove();
    window_.runTimer().stop();
    services_.tray.setHint(std::string(kProgramTitle));
    if (window_.processEnabled())
        services_.reporter.setStatusText("Ready");
    window_.raiseSettingsChanged();
}

void Scheduler::seDelayChange()
{
    window_.runTimer().stop();
    if (window_.autoDownload())
        armTimer();
    window_.raiseSettingsChanged();
}

void Scheduler::TrayTimerTimer()
{
    window_.trayTimer().stop();
    armTimer();
    window_.minimize();
}

void Scheduler::RunTimerTimer()
{
    // Runs never overlap: the timer stops first thing, and a call that still comes
    // while a run waits on the network (the event loop turns inside the wait) is let go.
    if (running_)
        return;
    if (window_.runGoing()) {
        tickWaiting_ = true;
        return;
    }
    tickWaiting_ = false;
    services_.notifier.runStarted();
    const int dataSetsBefore = window_.dataSetsWritten();
    RunsResult result;
    {
        const FlagScope running(running_);
        window_.runTimer().stop();
        // The attempt planned is the one now running, and the next is planned when it
        // ends: meanwhile the idle rule gives the runs' own texts, so the log never
        // names the time that has just come as the next attempt.
        services_.tray.setHint(std::string(kProgramTitle));
        window_.setWindowEnabled(false);
        window_.restore();
        window_.tickFullCatalog();
        // Two-line processing needs the situation report.
        if (window_.formatIndex() == 0 && window_.ssrIndex() != 0) {
            window_.selectSsrYes();
            window_.raiseSettingsChanged();
        }
        result = runs();
        // Before any box, so that the desktop tells of a failure while the box waits;
        // a run cut off by the end of the program is no news.
        if (!window_.ending())
            services_.notifier.runEnded(
                result.outcome, window_.dataSetsWritten() - dataSetsBefore, result.failure.value_or(std::string()));
        window_.NewDataDownloaded() = false;
        if (const int period = periodOf(window_.frequencyIndex()))
            window_.runTimer().setInterval(period);
        announceNextAttempt(true);
        window_.setWindowEnabled(true);
        window_.setDownloadEnabled(false);
        window_.setProcessEnabled(false);
        window_.runTimer().start();
        window_.minimize();
    }
    // Shown only now, with the next attempt planned and the window back in the tray, so
    // a box that nobody clicks holds up nothing; while one such box is open, the
    // errors of later runs go to the log only instead of piling up boxes.
    if (result.failure && !reportingFailure_ && !window_.ending()) {
        const FlagScope reporting(reportingFailure_);
        services_.prompts.error(*result.failure);
    }
}

void Scheduler::runsEnded()
{
    // Unticked meanwhile: no attempt is due any more.
    if (std::exchange(tickWaiting_, false) && window_.autoDownload())
        RunTimerTimer();
}

Scheduler::RunsResult Scheduler::runs()
{
    try {
        // From the download to the end of the processing; while another program's
        // run has the folder, this attempt gives up and the next one is planned.
        const FolderLock::Hold hold = holdFolder(window_.folderLock());
        RunOutcome outcome = window_.download();
        if (window_.NewDataDownloaded())
            outcome = worse(outcome, window_.process());
        return {outcome, std::nullopt};
    } catch (const std::exception& e) {
        // A stop decided inside a network wait ends that wait with an error of its
        // own; the program is ending, so the run is not planned again.
        if (haltRequested())
            throw;
        services_.reporter.log("Scheduled run ended with an error: " + std::string(e.what()));
        return {RunOutcome::EndedEarly, e.what()};
    }
}

} // namespace qm
