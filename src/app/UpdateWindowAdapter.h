#pragma once
// The main window as the update run of "-update" sees it.
#include "desktop/UpdateRun.h"

namespace qm {

class TfrmMain;

class UpdateWindowAdapter : public UpdateWindow {
public:
    explicit UpdateWindowAdapter(TfrmMain& form)
        : form_(form)
    {
    }
    void tickFullCatalog() override;
    bool twoLineSelected() const override;
    void selectSituationReport() override;
    RunOutcome download() override;
    RunOutcome process() override;
    bool newDataDownloaded() const override;
    int dataSetsWritten() const override;
    void reportError(std::string_view text) override;
    void status(std::string_view text) override;
    FolderLock* folderLock() override;
    std::chrono::milliseconds folderWait() const override;
    bool ending() const override;
    void close(int exitStatus) override;

private:
    TfrmMain& form_;
};

} // namespace qm
