#include "app/DownloadWindowAdapter.h"

#include "app/RunButtons.h"
#include "app/TfrmMain.h"
#include "app/TransferProgressBar.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>

namespace qm {

namespace {
// "Yes" is the first item of both questions.
constexpr int kYes = 0;
} // namespace

int DownloadWindowAdapter::formatIndex() const
{
    return form_.rgFormat->itemIndex();
}

bool DownloadWindowAdapter::currentCatalogTicked(int item) const
{
    return form_.clbCurrentCatalog->checked(item);
}

bool DownloadWindowAdapter::completeDailyData() const
{
    return form_.rgComplete->itemIndex() == kYes;
}

bool DownloadWindowAdapter::situationReport() const
{
    return form_.rgSSR->itemIndex() == kYes;
}

bool DownloadWindowAdapter::autoDownload() const
{
    return form_.cbAutoDownload->isChecked();
}

void DownloadWindowAdapter::setBusyCursor(bool busy)
{
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void DownloadWindowAdapter::setDownloadEnabled(bool enabled)
{
    form_.runButtons().setDownloadEnabled(enabled);
}

void DownloadWindowAdapter::CheckForCurrentData()
{
    form_.CheckForCurrentData();
}

bool DownloadWindowAdapter::CheckForCriticalUpdate()
{
    return form_.CheckForCriticalUpdate();
}

DownloadValues DownloadWindowAdapter::values()
{
    return {form_.MyTLEsDir, form_.AccountUsername, form_.AccountPassword, form_.MostCurrentCatalog,
        form_.MostCurrentSatcat, form_.NewDataDownloaded, form_.Redownloading, form_.CheckCriticalUpdates};
}

void DownloadWindowAdapter::transferProgress(std::int64_t received, std::int64_t total)
{
    form_.pbTransfer->progress(received, total);
}

void DownloadWindowAdapter::transferEnded()
{
    form_.pbTransfer->finish();
}

FolderLock* DownloadWindowAdapter::folderLock()
{
    return form_.folderLock();
}

bool DownloadWindowAdapter::ending() const
{
    return form_.ending();
}

} // namespace qm
