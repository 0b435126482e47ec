#pragma once
// The main window: the program-wide state, the start-up sequence and the controls'
// handlers. Each handler is short and runs inside a guard, so no exception crosses
// the event loop.
#include "app/Controls.h"
#include "app/PublisherLogo.h"
#include "core/Log.h"
#include "core/RunOutcome.h"
#include "core/Settings.h"
#include "desktop/RunNotifier.h"
#include "desktop/StartupShortcut.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/Errors.h"
#include "platform/FolderLock.h"
#include "platform/ProgramLocation.h"
#include "platform/ProgramStarter.h"
#include "platform/Prompts.h"
#include "platform/ShellFolders.h"
#include "platform/ShellLauncher.h"
#include "platform/SystemSources.h"
#include "service/HttpExchange.h"

#include <QIcon>
#include <QMainWindow>
#include <QPixmap>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qm {

class EpochLabel;
class MainProcessing;
class MainScheduler;
class RunButtons;
class TransferProgressBar;

// Everything the window asks the desktop for; tests hand in doubles.
struct MainServices {
    Prompts* prompts = nullptr;
    ShellLauncher* launcher = nullptr;
    const ProgramLocation* program = nullptr;
    const ShellFolders* folders = nullptr;
    const SystemSources* system = nullptr;
    const DesktopGeometry* desktop = nullptr;
    TrayIcon* tray = nullptr;
    // No display: nobody can answer a dialog, so none is shown modally.
    bool headless = false;
    // Starts "post.sh"; a detached starter of its own when not given.
    ProgramStarter* starter = nullptr;
    // The command-line arguments after the program's name.
    std::vector<std::string> arguments;
    // Local time for the scheduler's plans; the system's clock when not given.
    const Clock* clock = nullptr;
    // How long "-update" waits for another program's run to leave My TLEs.
    std::chrono::milliseconds folderWait = kFolderWait;
    // The desktop's notification service; none: nothing is shown.
    NotificationService* notifications = nullptr;
};

// The proxy form as the main window uses it.
class ProxyDialog {
public:
    virtual ~ProxyDialog() = default;
    // "Use Authentication" ticked while the user ID or the password is empty.
    virtual bool credentialsMissing() const = 0;
    // Shows the form modally; false when it closed with the answer No.
    virtual bool showModal() = 0;
};

class TfrmMain : public QMainWindow {
public:
    static constexpr int kDesignWidth = 688;
    static constexpr int kDesignHeight = 528;

    explicit TfrmMain(MainServices services, QWidget* parent = nullptr);
    // The program's icon (window, task bar, tray): the publisher's logo.
    static QIcon programIcon();
    ~TfrmMain() override;

    // Program-wide state.
    std::string MyTLEsDir;
    std::string AccountUsername;
    std::string AccountPassword;
    bool TwoLineFormat = false;
    bool SettingsChanged = false;
    bool CheckCriticalUpdates = false;
    std::string MostCurrentCatalog;
    std::string MostCurrentSatcat;
    bool NewDataDownloaded = false;
    bool Redownloading = false;
    // Set by NMHTTPFailure; cleared and read by the query-list fetch.
    bool HttpFailure = false;
    std::string OperatingSystemText;
    std::string ProcessorText;
    bool DebugOn() const { return reporter_.debugOn(); }
    bool updateMode() const { return updateMode_; }
    bool startupComplete() const { return startupComplete_; }
    bool endingAtOnce() const { return endingAtOnce_; }
    // The program is ending (a fatal stop, SIGTERM, the tray's "Exit"): an error that a
    // run ended with meanwhile is no news to anyone.
    bool ending() const;

    Reporter& reporter() { return reporter_; }
    void UpdateStatusBar(std::string_view msg) { reporter_.updateStatusBar(msg); }
    // Only while DebugOn().
    void OutputToLog(std::string_view msg) { reporter_.outputToLog(msg); }
    HttpExchange& http() { return http_; }
    StartupShortcut& shortcut() { return shortcut_; }
    // Tells the desktop how unattended runs go.
    RunNotifier& notifier() { return notifier_; }
    Prompts& prompts() { return *services_.prompts; }
    // Chosen once, when the window is made: a portable copy beside the program, else
    // the user's configuration folder.
    const std::string& settingsPath() const { return settingsPath_; }
    // "Auto Download" as the settings file holds it, before start-up has read it.
    bool autoDownloadStored() const;
    std::string statusText() const;

    // Hooks for the dialogs, which are created after the window.
    void setProxyDialog(ProxyDialog* dialog) { proxyDialog_ = dialog; }
    void setAboutBox(std::function<void()> show) { showAbout_ = std::move(show); }
    // The window's side of the processing run.
    MainProcessing& processing() { return *processing_; }
    // "Download Data" and "Process Data" as the runs leave them.
    RunButtons& runButtons() { return *runButtons_; }
    // The lock the runs take on My TLEs; none before start-up has found the folder.
    FolderLock* folderLock() { return folderLock_.get(); }
    std::chrono::milliseconds folderWait() const { return services_.folderWait; }

    // Handlers.
    void FormCreate();
    void FormActivate();
    void FormClose();
    void FormDestroy();
    void mExitClick();
    void rgFormatClick();
    void FormClick();
    void leUsernameChange();
    void lePasswordChange();
    void AboutClick();
    void mProxyClick();
    void SaveSettingsClick();
    void CheckForCurrentData();
    // False when the publisher's host cannot be reached; ends the program when an
    // update is required.
    bool CheckForCriticalUpdate();
    void btnDownloadClick();
    // The download run behind "Download Data"; how it ended.
    RunOutcome downloadRun();
    void btnProcessClick();
    void OpenMyTLEsClick();
    void VantorealClick();
    void SkarvelinClick();
    void OnlineHelpClick();
    void cbAutoDownloadClick();
    void seDelayChange();
    void TrayTimerTimer();
    void RunTimerTimer();
    void UpdateTimerTimer();
    // The HTTP exchange's handler for a response status of 400 or more.
    void NMHTTPFailure(std::string_view method);

    // Runs a handler: the general error report for std::exception, the fatal stop
    // for FatalStop.
    void guarded(const std::function<void()>& handler);
    // Shows the stop's box (unless already shown), logs "PROGRAM HALTED" (unless the
    // stop says not), records the halt and its exit status and leaves the event loops.
    void haltProgram(const FatalStop& stop);
    // Ends the program without the settings prompt (the tray's "&Close", SIGTERM, SIGINT).
    void endAtOnce();
    // The exit status of a program ended at once.
    int statusAtOnce() const;
    // Out of the tray or the task bar: shown, in front, not minimised.
    void restoreWindow();
    // The program's own minimise: into the tray while it takes the window, else as usual.
    void minimizeApplication();
    // Closes the window like "Exit"; the program then ends with `exitStatus`.
    void closeWithStatus(int exitStatus);

    // Controls.
    QGroupBox* gbSkarvelin;
    RadioGroup* rgFormat;
    QGroupBox* gbCurrent;
    CheckListBox* clbCurrentCatalog;
    RadioGroup* rgComplete;
    RadioGroup* rgSSR;
    QGroupBox* gbUserInfo;
    QLineEdit* leUsername;
    QLineEdit* lePassword;
    QCheckBox* cbRetain;
    QGroupBox* gbProcessing;
    QCheckBox* cbAutoDownload;
    QLabel* lblDelay;
    DelaySpinBox* seDelay;
    QLabel* lblMinutes;
    RadioGroup* rgAutoDownload;
    QPushButton* btnDownload;
    QPushButton* btnProcess;
    QGroupBox* gbVantoreal;
    CheckListBox* clbVantorealDataSets;
    QLabel* imgVantoreal;
    RadioGroup* rgFileExtensions;
    QCheckBox* cbPalm;
    QCheckBox* cbDebug;
    QCheckBox* cbStopOnErrors;
    QLabel* lblVersion;
    LinkLabel* lblFeedback;
    QStatusBar* StatusBar;
    // At the status bar's right: a file transfer's progress, and the newest epoch of
    // the last processed catalogue.
    TransferProgressBar* pbTransfer;
    EpochLabel* lblEpoch;
    QAction* SaveSettings;
    QAction* OpenMyTLEs;
    QAction* mExit;
    QAction* Vantoreal;
    QAction* Skarvelin;
    QAction* mProxy;
    MenuChoice* mOmmDataSets;
    QAction* mNotifications;
    QAction* OnlineHelp;
    QAction* About;
    QTimer TrayTimer;
    QTimer RunTimer;
    QTimer UpdateTimer;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // TfrmMainDesign.cpp: the form as designed.
    void buildControls();
    void buildMenus();
    // The window's size without frame for a stored outer size, and back; the outer
    // design size scaled to the desktop's font, for placing the window.
    QSize windowSizeFor(int storedWidth, int storedHeight) const;
    QSize storedSize() const;
    QSize outerDesignSize() const;
    QSize designClientSize() const;
    QSize frameAllowance() const;
    int menuHeight() const;
    void wire();
    void placeWindow(const SettingsFile& settings);
    void openLog();
    void updateDownloadEnabled();
    SettingValue valueOf(const SettingDef& def) const;
    void setStatus(std::string_view text);

    MainServices services_;
    const std::string settingsPath_;
    AppReporter reporter_;
    HttpExchange http_;
    StartupShortcut shortcut_;
    ElidedLabel* statusLabel_ = nullptr;
    ProxyDialog* proxyDialog_ = nullptr;
    std::function<void()> showAbout_;
    // "-update" counts only as the exact first argument.
    const bool updateMode_;
    bool startupComplete_ = false;
    bool destroyed_ = false;
    bool endingAtOnce_ = false;
    // "Exit" closes the program even while the close box sends the window to the tray.
    bool exitRequested_ = false;
    // The program's exit status once the window has closed (the update run's verdict).
    int exitStatus_ = 0;
    bool updateRunEnded_ = false; // the update run has set the exit status
    NoNotifications noNotifications_;
    RunNotifier notifier_;
    std::unique_ptr<MainProcessing> processing_;
    std::unique_ptr<MainScheduler> scheduler_;
    std::unique_ptr<RunButtons> runButtons_;
    std::unique_ptr<FolderLock> folderLock_;
};

} // namespace qm
