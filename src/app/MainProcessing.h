#pragma once
// The main window's side of the processing run: its pointer, button, controls and
// program-wide values as the run sees them.
#include "platform/ProgramStarter.h"
#include "processing/ProcessingRun.h"
#include "processing/ProcessingWindow.h"

#include <functional>
#include <optional>
#include <string>

namespace qm {

class TfrmMain;
struct MainServices;

class MainProcessing : public ProcessingWindow {
public:
    MainProcessing(TfrmMain& form, const MainServices& services);
    ~MainProcessing() override;

    // One processing run ("Process Data").
    RunOutcome run();
    // The data sets the processing runs have written since the window was made.
    int dataSetsWritten() const { return dataSetsWritten_; }

    // The window's critical-update check; tests replace it to stay off the network.
    std::function<bool()> criticalUpdateCheck;

    void setBusyPointer(bool busy) override;
    void setProcessEnabled(bool enabled) override;
    bool autoDownload() const override;
    int formatItem() const override;
    bool twoLineFormat() const override;
    bool rowTicked(int row) const override;
    int extensionItem() const override;
    bool palm() const override;
    int ommItem() const override;
    bool updateMode() const override;
    ProgramValues values() override;
    bool checkForCriticalUpdate() override;
    RunOutcome download() override;
    RunOutcome processAgain() override;
    // Shows the epoch in the window; in update mode it also goes to standard output.
    void showNewestEpoch(const std::optional<TleEpoch>& epoch) override;
    FolderLock* folderLock() override;

    // Where update mode prints its epoch line; tests catch it.
    std::function<void(const std::string& line)> printLine;

private:
    TfrmMain& form_;
    const MainServices& services_;
    DetachedProgramStarter ownStarter_;
    bool busy_ = false;
    bool updateModeRedownloaded_ = false;
    int dataSetsWritten_ = 0;
};

} // namespace qm
