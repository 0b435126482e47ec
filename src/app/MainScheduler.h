#pragma once
// The main window's side of the scheduler: its timers, controls, runs and
// program-wide flags as the scheduler sees them.
#include "desktop/Scheduler.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"

class QTimer;

namespace qm {

class TfrmMain;
struct MainServices;

class MainScheduler : public SchedulerWindow {
public:
    MainScheduler(TfrmMain& form, const MainServices& services);

    Scheduler& scheduler() { return scheduler_; }

    SchedulerTimer& runTimer() override { return runTimer_; }
    SchedulerTimer& trayTimer() override { return trayTimer_; }
    bool autoDownload() const override;
    int delayMinutes() const override;
    int frequencyIndex() const override;
    int formatIndex() const override;
    int ssrIndex() const override;
    bool accountPresent() const override;
    bool processEnabled() const override;
    void setDownloadEnabled(bool enabled) override;
    void setProcessEnabled(bool enabled) override;
    void setDelayControlsEnabled(bool enabled) override;
    void setWindowEnabled(bool enabled) override;
    void restore() override;
    void minimize() override;
    void tickFullCatalog() override;
    void selectSsrYes() override;
    void raiseSettingsChanged() override;
    void CheckForCurrentData() override;
    RunOutcome download() override;
    RunOutcome process() override;
    int dataSetsWritten() const override;
    bool& NewDataDownloaded() override;
    bool runGoing() const override;
    FolderLock* folderLock() override;
    bool ending() const override;

private:
    class Timer : public SchedulerTimer {
    public:
        explicit Timer(QTimer& timer)
            : timer_(timer)
        {
        }
        void setInterval(int milliseconds) override;
        int interval() const override;
        void start() override;
        void stop() override;
        bool isActive() const override;

    private:
        QTimer& timer_;
    };

    TfrmMain& form_;
    Timer runTimer_;
    Timer trayTimer_;
    SystemClock systemClock_;
    // Where the hint and the switches go when the window was given no tray.
    PlainTrayIcon noTray_;
    Scheduler scheduler_;
};

} // namespace qm
