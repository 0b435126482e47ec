#pragma once
// The one-shot run of "-update": one download with the full catalogue, the processing
// when it brought new data, then the end of the program with an exit status that tells
// cron or a systemd timer how it went.
#include "core/RunOutcome.h"
#include "desktop/RunNotifier.h"
#include "platform/FolderLock.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// Exit statuses of an update run; a fatal stop ends the program with kFatalExitStatus (1).
inline constexpr int kUpdateCompleted = 0;
inline constexpr int kUpdateEndedEarly = 2;

// What the update run needs from the main window; tests fake it.
class UpdateWindow {
public:
    virtual ~UpdateWindow() = default;
    // Ticks "Full Catalog" of "Current Catalog Files"; no handler runs.
    virtual void tickFullCatalog() = 0;
    // "Data Format" selects "Two-Line".
    virtual bool twoLineSelected() const = 0;
    // Selects "Yes" in "Space Situation Report"; a change counts as a settings change.
    virtual void selectSituationReport() = 0;
    virtual RunOutcome download() = 0;
    virtual RunOutcome process() = 0;
    virtual bool newDataDownloaded() const = 0;
    // The data sets the processing runs of this program have written so far.
    virtual int dataSetsWritten() const = 0;
    // The program's general error report.
    virtual void reportError(std::string_view text) = 0;
    // The status line, and the log while debug logging is on.
    virtual void status(std::string_view text) = 0;
    // The lock on the run folder and the My TLEs folder (none: the run takes none), and
    // how long to wait for another program's run to let go of it.
    virtual FolderLock* folderLock() = 0;
    virtual std::chrono::milliseconds folderWait() const = 0;
    // The program is already ending (a fatal stop, SIGTERM): nothing more may start.
    virtual bool ending() const = 0;
    // Clears SettingsChanged and closes the window, so the program ends with `exitStatus`
    // after writing the exit-time keys.
    virtual void close(int exitStatus) = 0;
};

class UpdateRun {
public:
    UpdateRun(UpdateWindow& window, RunNotifier& notifier)
        : window_(window)
        , notifier_(notifier)
    {
    }
    // The run. A fatal stop leaves it as FatalStop; any other error of the download or
    // the processing is reported and the program still ends, with kUpdateEndedEarly.
    // The run folder and My TLEs are held from the download to the end of the processing; while
    // another program's run has either, the run waits up to folderWait(), then ends the
    // program with kUpdateEndedEarly and kFolderBusyText.
    void run();

private:
    RunOutcome attempt(RunOutcome (UpdateWindow::*step)());
    // A hold on the folder (an empty one without a lock); nullopt when the run must
    // end instead.
    std::optional<FolderLock::Hold> takeFolder();
    void reportError(const std::string& text);
    void end(RunOutcome outcome);

    UpdateWindow& window_;
    RunNotifier& notifier_;
};

} // namespace qm
