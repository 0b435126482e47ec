#pragma once
// The automatic-download scheduler: arming the attempt timer, ticking and unticking
// "Auto Download", the delay change, the move into the tray after start-up and the
// scheduled run itself. It reaches the window through SchedulerWindow and the time
// through a Clock, so tests drive it without widgets and without waiting.
#include "core/Reporter.h"
#include "desktop/RunNotifier.h"
#include "desktop/StartupShortcut.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/FolderLock.h"
#include "platform/Prompts.h"

#include <optional>
#include <string>

namespace qm {

class SchedulerTimer {
public:
    virtual ~SchedulerTimer() = default;
    virtual void setInterval(int milliseconds) = 0;
    virtual int interval() const = 0;
    // A running timer restarts its countdown from now.
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// What the scheduler needs from the main window; tests fake it.
class SchedulerWindow {
public:
    virtual ~SchedulerWindow() = default;

    virtual SchedulerTimer& runTimer() = 0;
    virtual SchedulerTimer& trayTimer() = 0;

    // "Auto Download" ticked.
    virtual bool autoDownload() const = 0;
    // "Initial delay" in minutes.
    virtual int delayMinutes() const = 0;
    // "Auto Download Frequency (per day)": 0 once, 1 twice, 2 four times, -1 none.
    virtual int frequencyIndex() const = 0;
    // "Data Format": 0 two-line, 1 three-line, -1 none.
    virtual int formatIndex() const = 0;
    // "Space Situation Report": 0 "Yes", 1 "No", -1 none.
    virtual int ssrIndex() const = 0;
    // Account name and password both typed.
    virtual bool accountPresent() const = 0;

    virtual bool processEnabled() const = 0;
    virtual void setDownloadEnabled(bool enabled) = 0;
    virtual void setProcessEnabled(bool enabled) = 0;
    // "Initial delay", its spin box, "minutes" and the frequency group.
    virtual void setDelayControlsEnabled(bool enabled) = 0;
    // The whole window: no user input reaches it while disabled.
    virtual void setWindowEnabled(bool enabled) = 0;
    // Shows the window and its task-bar entry, in front, not minimised.
    virtual void restore() = 0;
    // The minimise command; with minimise-to-tray on it hides the window in the tray.
    virtual void minimize() = 0;

    // Ticks "Full Catalog" without running any handler.
    virtual void tickFullCatalog() = 0;
    // Selects "Yes" of "Space Situation Report" without running any handler.
    virtual void selectSsrYes() = 0;
    virtual void raiseSettingsChanged() = 0;
    virtual void CheckForCurrentData() = 0;

    // The download run ("Download Data") and the processing run ("Process Data"), and
    // how they ended.
    virtual RunOutcome download() = 0;
    virtual RunOutcome process() = 0;
    // The data sets the processing runs of this program have written so far.
    virtual int dataSetsWritten() const = 0;
    // The program-wide flag the download run sets when a catalogue or report arrived.
    virtual bool& NewDataDownloaded() = 0;
    // A download or processing run is going.
    virtual bool runGoing() const = 0;
    // The lock on the run folder and the My TLEs folder; none: the runs take none.
    virtual FolderLock* folderLock() = 0;
    // The program is ending (a fatal stop, SIGTERM, the tray's "Exit"): an error that a
    // run ended with meanwhile is no news to anyone.
    virtual bool ending() const = 0;
};

struct SchedulerServices {
    TrayIcon& tray;
    Reporter& reporter;
    Prompts& prompts;
    StartupShortcut& shortcut;
    const Clock& clock;
    TimeTexts texts;
    // Hears how each scheduled run went.
    RunNotifier& notifier;
};

// "Next TLE update attempt: " + "yyyy mmm dd hh:nn" of a local time.
std::string nextAttemptText(const std::tm& local, const TimeTexts& texts);

// The attempt period of a frequency index, in milliseconds; 0 for no selection.
int periodOf(int frequencyIndex);

class Scheduler {
public:
    Scheduler(SchedulerWindow& window, SchedulerServices services);

    // The click on "Auto Download" (and start-up's call), ticked or unticked.
    void cbAutoDownloadClick();
    // A new "Initial delay" value.
    void seDelayChange();
    // Five seconds after a start-up with "Auto Download" on: re-arm, go to the tray.
    void TrayTimerTimer();
    // The scheduled run. A tick that comes while another run is going waits for it:
    // the window calls runsEnded() when the run is over.
    void RunTimerTimer();
    // The window's runs have ended: a tick that came meanwhile runs now.
    void runsEnded();

    // The next-attempt text for now + `milliseconds`.
    std::string nextAttemptIn(int milliseconds) const;

private:
    void ticked();
    void unticked();
    void armTimer();
    // Hint and status line announce now + the run timer's interval; `logged`: the log
    // too (the end of a scheduled run, whose log tells when the next one comes).
    void announceNextAttempt(bool logged = false);
    struct RunsResult {
        RunOutcome outcome = RunOutcome::Completed;
        // The text of an error the runs left unhandled, logged.
        std::optional<std::string> failure;
    };
    // Download and, when new data came, processing.
    RunsResult runs();

    SchedulerWindow& window_;
    SchedulerServices services_;
    bool running_ = false;
    bool reportingFailure_ = false;
    bool tickWaiting_ = false;
};

} // namespace qm
