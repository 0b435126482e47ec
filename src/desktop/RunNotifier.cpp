#include "desktop/RunNotifier.h"

#include "platform/Errors.h"
#include "platform/File.h"

#include <utility>

namespace qm {

namespace {

constexpr std::string_view kFailedState = "failed\n";
constexpr std::string_view kCompletedState = "completed\n";

// A body is one line: a reason that spans several is joined with blanks. A reason may
// quote what a server sent; a notification needs no more than a few lines' worth.
std::string oneLine(std::string_view text)
{
    std::string line(text.substr(0, 1024));
    for (char& c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    return line;
}

std::string dataSetsText(int count)
{
    return std::to_string(count) + (count == 1 ? " data set written" : " data sets written");
}

} // namespace

RunNotifier::RunNotifier(NotificationService& service, Reporter& reporter, std::string stateFile)
    : service_(service)
    , reporter_(reporter)
    , stateFile_(std::move(stateFile))
{
}

void RunNotifier::runStarted()
{
    running_ = true;
    told_ = false;
}

void RunNotifier::runFailing(RunOutcome how, std::string_view reason)
{
    if (!running_ || told_ || how == RunOutcome::Completed)
        return;
    told_ = true;
    // Before the notification: a halt may end the program right after it.
    remember(true);
    send({kFailedSummary, oneLine(reason), how == RunOutcome::Halted});
}

void RunNotifier::runEnded(RunOutcome outcome, int dataSets, std::string_view reason)
{
    if (!running_)
        return;
    if (outcome != RunOutcome::Completed) {
        // Only a failure no step told: its own words, else what is known.
        runFailing(outcome, reason.empty() ? std::string_view("The update ended early") : reason);
    } else if (!told_ && lastFailed()) {
        remember(false);
        send({kRecoveredSummary, dataSetsText(dataSets)});
    }
    running_ = false;
}

void RunNotifier::send(const Notification& notification)
{
    if (!enabled())
        return;
    service_.notify(notification);
}

bool RunNotifier::lastFailed() const
{
    try {
        const File in(stateFile_, File::Mode::Read);
        char text[16];
        const std::size_t n = in.readSomeAt(0, text, sizeof text);
        return std::string_view(text, n) == kFailedState;
    } catch (const IoError&) {
        return false;
    }
}

void RunNotifier::remember(bool failed)
{
    try {
        ReplacingFile state(stateFile_);
        File out = state.createTemp();
        const std::string_view text = failed ? kFailedState : kCompletedState;
        out.writeAt(0, text.data(), text.size());
        out.close();
        state.commit();
    } catch (const IoError& e) {
        // A run folder that takes no file costs only the notice of the recovery.
        reporter_.log(std::string("Unable to keep the outcome of the run: ") + e.what());
    }
}

} // namespace qm
