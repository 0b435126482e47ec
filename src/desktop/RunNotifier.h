#pragma once
// Desktop notifications of unattended runs (the tray's timer, "-update"): the runs
// report how they go, and the notifier decides whether the desktop hears of it. A run
// that fails is told once, as soon as its reason is known; after one or more failed
// runs, the first that completes is told too; runs started by hand are never told.
#include "core/Reporter.h"
#include "core/RunOutcome.h"

#include <functional>
#include <string>
#include <string_view>

namespace qm {

// One notification as the desktop's notification service shows it.
struct Notification {
    std::string summary;
    std::string body;
    // Urgency critical (a halt); otherwise normal.
    bool critical = false;
};

class NotificationService {
public:
    virtual ~NotificationService() = default;
    // Hands the notification on without waiting; without a service nothing happens.
    virtual void notify(const Notification& notification) = 0;
    // Set: notifications offer the default action "Open", which calls it (the tray
    // program, whose window it restores).
    std::function<void()> onOpen;
};

// A service that shows nothing: no session bus, or tests that do not look.
class NoNotifications : public NotificationService {
public:
    void notify(const Notification&) override { }
};

// In the run folder: "failed" while the last unattended run failed, so that the next
// program to complete one says so. Anything else there, or no file, counts as a
// completed run: a recovery notice for a failure nobody can vouch for would be noise.
inline constexpr const char* kLastRunFile = "lastrun.state";

inline constexpr const char* kFailedSummary = "TLE update failed";
inline constexpr const char* kRecoveredSummary = "TLE update succeeded again";

class RunNotifier {
public:
    RunNotifier(NotificationService& service, Reporter& reporter, std::string stateFile = kLastRunFile);

    // "Desktop Notifications" ticked; the notifier remembers outcomes either way.
    std::function<bool()> enabled = [] { return true; };

    // An unattended run begins; until it ends, its first failure is told.
    void runStarted();
    // The run going ends early (EndedEarly) or the program halts (Halted) for `reason`.
    // Outside an unattended run, and after the run's first failure, nothing happens.
    void runFailing(RunOutcome how, std::string_view reason);
    // The run going has ended, having written `dataSets` data sets; `reason` names an
    // early end that was not told yet.
    void runEnded(RunOutcome outcome, int dataSets, std::string_view reason = {});

private:
    void send(const Notification& notification);
    bool lastFailed() const;
    void remember(bool failed);

    NotificationService& service_;
    Reporter& reporter_;
    std::string stateFile_;
    bool running_ = false;
    bool told_ = false;
};

} // namespace qm
