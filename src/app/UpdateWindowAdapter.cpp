#include "app/UpdateWindowAdapter.h"

#include "app/MainProcessing.h"
#include "app/TfrmMain.h"

#include <string>

namespace qm {

namespace {
// "Full Catalog" in "Current Catalog Files"; "Yes" in "Space Situation Report".
constexpr int kFullCatalog = 0;
constexpr int kYes = 0;
} // namespace

void UpdateWindowAdapter::tickFullCatalog()
{
    form_.clbCurrentCatalog->setChecked(kFullCatalog, true);
}

bool UpdateWindowAdapter::twoLineSelected() const
{
    return form_.rgFormat->itemIndex() == 0;
}

void UpdateWindowAdapter::selectSituationReport()
{
    if (form_.rgSSR->itemIndex() == kYes)
        return;
    form_.rgSSR->setItemIndex(kYes);
    form_.FormClick();
}

RunOutcome UpdateWindowAdapter::download()
{
    return form_.downloadRun();
}

RunOutcome UpdateWindowAdapter::process()
{
    return form_.processing().run();
}

bool UpdateWindowAdapter::newDataDownloaded() const
{
    return form_.NewDataDownloaded;
}

int UpdateWindowAdapter::dataSetsWritten() const
{
    return form_.processing().dataSetsWritten();
}

void UpdateWindowAdapter::reportError(std::string_view text)
{
    form_.prompts().error(std::string(text));
}

void UpdateWindowAdapter::status(std::string_view text)
{
    form_.UpdateStatusBar(text);
}

FolderLock* UpdateWindowAdapter::folderLock()
{
    return form_.folderLock();
}

std::chrono::milliseconds UpdateWindowAdapter::folderWait() const
{
    return form_.folderWait();
}

bool UpdateWindowAdapter::ending() const
{
    return form_.ending();
}

void UpdateWindowAdapter::close(int exitStatus)
{
    form_.SettingsChanged = false;
    form_.closeWithStatus(exitStatus);
}

} // namespace qm
