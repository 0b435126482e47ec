#pragma once
// How every step reports: the status line and, while debug logging is on, the log.
#include "core/RunOutcome.h"

#include <string>
#include <string_view>

namespace qm {

inline constexpr std::string_view kProgramTitle = "Skarvelin Quillmaren";

class Reporter {
public:
    virtual ~Reporter() = default;
    // Debug logging is on for this run (read once at start-up).
    virtual bool debugOn() const = 0;
    // Appends one time-stamped line to the log. Only while debugOn().
    virtual void outputToLog(std::string_view msg) = 0;
    // Sets the status line; logs the same text while debugOn().
    virtual void updateStatusBar(std::string_view msg) = 0;
    // Sets the status line only (the direct, unlogged writes).
    virtual void setStatusText(std::string_view msg) = 0;
    // The tray icon's current hint, for the idle rule.
    virtual std::string trayHint() const = 0;
    // In update mode, where nobody sees the window, one line to standard error;
    // otherwise nothing. For what a run without a user must still make known: a
    // failure that ends the run early, so it counts as one (runFailing).
    virtual void unattendedNotice(std::string_view /*msg*/) { }
    // The run ends early (or the program halts) for `reason`, the one line the status
    // line, the log or standard error give. Said before any message box about it
    // opens, so that the desktop notification of an unattended run is out while the
    // box waits for someone.
    virtual void runFailing(RunOutcome /*how*/, std::string_view /*reason*/) { }

    // Logs only while debug logging is on.
    void log(std::string_view msg)
    {
        if (debugOn())
            outputToLog(msg);
    }
    // Idle rule: the tray hint when it differs from the program title, else `idle`.
    std::string idleText(std::string_view idle) const
    {
        std::string hint = trayHint();
        return hint != kProgramTitle ? hint : std::string(idle);
    }
};

} // namespace qm
