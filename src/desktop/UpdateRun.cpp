#include "desktop/UpdateRun.h"

#include <exception>

namespace qm {

void UpdateRun::run()
{
    notifier_.runStarted();
    // An unattended run always fetches the full catalogue, and two-line processing
    // needs the situation report as well.
    window_.tickFullCatalog();
    if (window_.twoLineSelected())
        window_.selectSituationReport();

    const std::optional<FolderLock::Hold> hold = takeFolder();
    if (!hold) {
        if (!window_.ending())
            end(RunOutcome::EndedEarly);
        return;
    }
    RunOutcome outcome = attempt(&UpdateWindow::download);
    if (window_.ending())
        return;
    // Files that did arrive are processed even after a later error of the download:
    // a stored file is never fetched again, so no later run would see them as new.
    if (window_.newDataDownloaded()) {
        outcome = worse(outcome, attempt(&UpdateWindow::process));
        if (window_.ending())
            return;
    }
    end(outcome);
}

void UpdateRun::end(RunOutcome outcome)
{
    notifier_.runEnded(outcome, window_.dataSetsWritten());
    window_.close(outcome == RunOutcome::Completed ? kUpdateCompleted : kUpdateEndedEarly);
}

void UpdateRun::reportError(const std::string& text)
{
    notifier_.runFailing(RunOutcome::EndedEarly, text);
    window_.reportError(text);
}

std::optional<FolderLock::Hold> UpdateRun::takeFolder()
{
    FolderLock* lock = window_.folderLock();
    if (!lock)
        return FolderLock::Hold();
    try {
        return lock->hold(window_.folderWait(), [this] { window_.status(kFolderWaitText); });
    } catch (const std::exception& e) {
        // A wait cut short by the end of the program is no news to anyone.
        if (!window_.ending()) {
            window_.status(e.what());
            reportError(e.what());
        }
        return std::nullopt;
    }
}

RunOutcome UpdateRun::attempt(RunOutcome (UpdateWindow::*step)())
{
    try {
        return (window_.*step)();
    } catch (const std::exception& e) {
        // Reported like any handler's error, but the program must still end: an
        // unattended run that stayed open would block every later one.
        if (!window_.ending())
            reportError(e.what());
        return RunOutcome::EndedEarly;
    }
}

} // namespace qm
