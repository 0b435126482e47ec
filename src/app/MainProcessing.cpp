#include "app/MainProcessing.h"

#include "app/EpochLabel.h"
#include "app/RunButtons.h"
#include "app/TfrmMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <iostream>

namespace qm {

MainProcessing::MainProcessing(TfrmMain& form, const MainServices& services)
    : form_(form)
    , services_(services)
{
    criticalUpdateCheck = [&form] { return form.CheckForCriticalUpdate(); };
    printLine = [](const std::string& line) { std::cout << line << std::endl; };
}

MainProcessing::~MainProcessing()
{
    setBusyPointer(false);
}

RunOutcome MainProcessing::run()
{
    ProcessingServices services{form_.reporter(), *services_.prompts, form_.http(), form_.HttpFailure,
        *services_.launcher, services_.starter ? *services_.starter : ownStarter_,
        extractFilePath(services_.program->programFile())};
    const RunButtons::Run going(form_.runButtons());
    ProcessingRun run(*this, services);
    const RunOutcome outcome = run.run();
    dataSetsWritten_ += run.dataSetsWritten();
    return outcome;
}

void MainProcessing::setBusyPointer(bool busy)
{
    // Qt keeps a stack of override cursors; the run treats the pointer as a state.
    if (busy == busy_)
        return;
    busy_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void MainProcessing::setProcessEnabled(bool enabled)
{
    form_.runButtons().setProcessEnabled(enabled);
}

bool MainProcessing::autoDownload() const
{
    return form_.cbAutoDownload->isChecked();
}

int MainProcessing::formatItem() const
{
    return form_.rgFormat->itemIndex();
}

bool MainProcessing::twoLineFormat() const
{
    return form_.TwoLineFormat;
}

bool MainProcessing::rowTicked(int row) const
{
    return form_.clbVantorealDataSets->checked(row);
}

int MainProcessing::extensionItem() const
{
    return form_.rgFileExtensions->itemIndex();
}

bool MainProcessing::palm() const
{
    return form_.cbPalm->isChecked();
}

int MainProcessing::ommItem() const
{
    return form_.mOmmDataSets->itemIndex();
}

bool MainProcessing::updateMode() const
{
    return form_.updateMode();
}

ProgramValues MainProcessing::values()
{
    return {form_.MyTLEsDir, form_.MostCurrentCatalog, form_.MostCurrentSatcat, form_.NewDataDownloaded,
        form_.Redownloading, updateModeRedownloaded_};
}

bool MainProcessing::checkForCriticalUpdate()
{
    return criticalUpdateCheck();
}

RunOutcome MainProcessing::download()
{
    return form_.downloadRun();
}

FolderLock* MainProcessing::folderLock()
{
    return form_.folderLock();
}

RunOutcome MainProcessing::processAgain()
{
    return run();
}

void MainProcessing::showNewestEpoch(const std::optional<TleEpoch>& epoch)
{
    form_.lblEpoch->setEpoch(epoch);
    // A cron job or timer sees at once how fresh the data it got are.
    if (epoch && updateMode())
        printLine(form_.lblEpoch->line());
}

} // namespace qm
