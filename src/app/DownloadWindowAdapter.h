#pragma once
// The main window as the download run sees it.
#include "service/DownloadRun.h"

namespace qm {

class TfrmMain;

class DownloadWindowAdapter : public DownloadWindow {
public:
    explicit DownloadWindowAdapter(TfrmMain& form)
        : form_(form)
    {
    }
    int formatIndex() const override;
    bool currentCatalogTicked(int item) const override;
    bool completeDailyData() const override;
    bool situationReport() const override;
    bool autoDownload() const override;
    void setBusyCursor(bool busy) override;
    void setDownloadEnabled(bool enabled) override;
    void CheckForCurrentData() override;
    bool CheckForCriticalUpdate() override;
    DownloadValues values() override;
    void transferProgress(std::int64_t received, std::int64_t total) override;
    void transferEnded() override;
    FolderLock* folderLock() override;
    bool ending() const override;

private:
    TfrmMain& form_;
};

} // namespace qm
