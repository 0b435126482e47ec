#pragma once
// "Download Data" and "Process Data" while runs go: both are disabled from the start of
// the first run to the end of the last, so no click starts a run inside another (a run
// waits for the network in the event loop, where clicks arrive). What the runs and the
// other handlers set meanwhile is kept, and shown when the last run has ended.
#include <functional>

class QPushButton;

namespace qm {

class RunButtons {
public:
    // Starts from the buttons' present states.
    RunButtons(QPushButton& download, QPushButton& process);

    void setDownloadEnabled(bool enabled);
    void setProcessEnabled(bool enabled);
    // What "Process Data" shows once no run is going.
    bool processEnabled() const { return processWanted_; }
    bool running() const { return runs_ > 0; }

    // Marks one run for its lifetime.
    class Run {
    public:
        explicit Run(RunButtons& buttons);
        ~Run();
        Run(const Run&) = delete;
        Run& operator=(const Run&) = delete;

    private:
        RunButtons& buttons_;
    };

    // Called when the last run has ended; must not throw.
    std::function<void()> onAllEnded;

private:
    void show();

    QPushButton& download_;
    QPushButton& process_;
    bool downloadWanted_;
    bool processWanted_;
    int runs_ = 0;
};

} // namespace qm
