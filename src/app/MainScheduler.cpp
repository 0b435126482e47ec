#include "app/MainScheduler.h"

#include "app/MainProcessing.h"
#include "app/RunButtons.h"
#include "app/TfrmMain.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

namespace qm {

namespace {
constexpr int kYes = 0;
} // namespace

void MainScheduler::Timer::setInterval(int milliseconds)
{
    timer_.setInterval(milliseconds);
}
int MainScheduler::Timer::interval() const
{
    return timer_.interval();
}
void MainScheduler::Timer::start()
{
    timer_.start();
}
void MainScheduler::Timer::stop()
{
    timer_.stop();
}
bool MainScheduler::Timer::isActive() const
{
    return timer_.isActive();
}

MainScheduler::MainScheduler(TfrmMain& form, const MainServices& services)
    : form_(form)
    , runTimer_(form.RunTimer)
    , trayTimer_(form.TrayTimer)
    , scheduler_(*this,
          {services.tray ? *services.tray : noTray_, form.reporter(), *services.prompts, form.shortcut(),
              services.clock ? *services.clock : systemClock_, localeTimeTexts(), form.notifier()})
{
}

bool MainScheduler::autoDownload() const
{
    return form_.cbAutoDownload->isChecked();
}

int MainScheduler::delayMinutes() const
{
    return form_.seDelay->value();
}

int MainScheduler::frequencyIndex() const
{
    return form_.rgAutoDownload->itemIndex();
}

int MainScheduler::formatIndex() const
{
    return form_.rgFormat->itemIndex();
}

int MainScheduler::ssrIndex() const
{
    return form_.rgSSR->itemIndex();
}

bool MainScheduler::accountPresent() const
{
    return !form_.AccountUsername.empty() && !form_.AccountPassword.empty();
}

bool MainScheduler::processEnabled() const
{
    return form_.runButtons().processEnabled();
}

void MainScheduler::setDownloadEnabled(bool enabled)
{
    form_.runButtons().setDownloadEnabled(enabled);
}

void MainScheduler::setProcessEnabled(bool enabled)
{
    form_.runButtons().setProcessEnabled(enabled);
}

void MainScheduler::setDelayControlsEnabled(bool enabled)
{
    form_.lblDelay->setEnabled(enabled);
    form_.seDelay->setEnabled(enabled);
    form_.lblMinutes->setEnabled(enabled);
    form_.rgAutoDownload->setEnabled(enabled);
}

void MainScheduler::setWindowEnabled(bool enabled)
{
    form_.setEnabled(enabled);
}

void MainScheduler::restore()
{
    form_.restoreWindow();
}

void MainScheduler::minimize()
{
    form_.minimizeApplication();
}

void MainScheduler::tickFullCatalog()
{
    form_.clbCurrentCatalog->setChecked(0, true);
}

void MainScheduler::selectSsrYes()
{
    form_.rgSSR->setItemIndex(kYes);
}

void MainScheduler::raiseSettingsChanged()
{
    form_.SettingsChanged = true;
}

void MainScheduler::CheckForCurrentData()
{
    form_.CheckForCurrentData();
}

RunOutcome MainScheduler::download()
{
    return form_.downloadRun();
}

RunOutcome MainScheduler::process()
{
    return form_.processing().run();
}

int MainScheduler::dataSetsWritten() const
{
    return form_.processing().dataSetsWritten();
}

bool& MainScheduler::NewDataDownloaded()
{
    return form_.NewDataDownloaded;
}

bool MainScheduler::runGoing() const
{
    return form_.runButtons().running();
}

FolderLock* MainScheduler::folderLock()
{
    return form_.folderLock();
}

bool MainScheduler::ending() const
{
    return form_.ending();
}

} // namespace qm
