#include "app/TfrmMain.h"

#include "app/DownloadWindowAdapter.h"
#include "app/MainProcessing.h"
#include "app/MainScheduler.h"
#include "app/RunButtons.h"
#include "app/UpdateWindowAdapter.h"
#include "core/SystemDescriptions.h"
#include "core/Version.h"
#include "datasets/OmmFields.h"
#include "desktop/Links.h"
#include "desktop/UpdateRun.h"
#include "platform/Halt.h"
#include "platform/Latin1.h"
#include "platform/ProgramStarter.h"
#include "platform/UserFolders.h"
#include "processing/DataSetRows.h"
#include "service/CriticalUpdate.h"
#include "service/CurrentData.h"
#include "service/DownloadRun.h"
#include "service/HttpFailure.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <algorithm>
#include <cstdint>

namespace qm {

namespace {

std::string trimmedBlanks(std::string s)
{
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    while (!s.empty() && s.front() == ' ')
        s.erase(s.begin());
    return s;
}

// Loading a value into a control acts like the user's change: the handler runs when,
// and only when, the value differs from the one the control holds.
void loadText(QLineEdit* edit, const std::string& text, const std::function<void()>& handler)
{
    const QString value = latin1(text);
    if (edit->text() == value)
        return;
    {
        const QSignalBlocker block(edit);
        edit->setText(value);
    }
    handler();
}

template <class Checkable> void loadCheck(Checkable* box, bool on, const std::function<void()>& handler)
{
    if (box->isChecked() == on)
        return;
    box->setChecked(on);
    handler();
}

void loadRadio(RadioGroup* group, int index, const std::function<void()>& handler)
{
    index = group->clampIndex(index);
    if (group->itemIndex() == index)
        return;
    group->setItemIndex(index);
    handler();
}

void loadChoice(MenuChoice* choice, int index, const std::function<void()>& handler)
{
    if (choice->itemIndex() == index)
        return;
    choice->setItemIndex(index);
    handler();
}

} // namespace

TfrmMain::TfrmMain(MainServices services, QWidget* parent)
    : QMainWindow(parent)
    , services_(std::move(services))
    , settingsPath_(settingsFileFor(services_.program->programFile()))
    , reporter_([this](std::string_view text) { setStatus(text); },
          [this] { return services_.tray ? services_.tray->hint() : std::string(); })
    , shortcut_(*services_.folders)
    , updateMode_(!services_.arguments.empty() && services_.arguments.front() == "-update")
    , notifier_(services_.notifications ? *services_.notifications : noNotifications_, reporter_)
    , processing_(std::make_unique<MainProcessing>(*this, services_))
    , scheduler_(std::make_unique<MainScheduler>(*this, services_))
{
    setWindowTitle(latin1(kMainCaption));
    buildControls();
    buildMenus();
    runButtons_ = std::make_unique<RunButtons>(*btnDownload, *btnProcess);
    // A scheduled attempt that fell inside a run comes once the run's handler is through.
    runButtons_->onAllEnded
        = [this] { QTimer::singleShot(0, this, [this] { guarded([this] { scheduler_->scheduler().runsEnded(); }); }); };
    wire();
    resize(windowSizeFor(kDesignWidth, kDesignHeight));
    TrayTimer.setInterval(5000);
    UpdateTimer.setInterval(5000);
    // A coarse timer may fire up to 5 % early; the update run is due 5 seconds after start-up.
    UpdateTimer.setTimerType(Qt::PreciseTimer);
    http_.TimeOut = 30000;
    http_.OnFailure = [this](std::string_view method) { NMHTTPFailure(method); };
}

QIcon TfrmMain::programIcon()
{
    return QIcon(publisherLogo());
}

TfrmMain::~TfrmMain()
{
    if (startupComplete_ && !destroyed_)
        guarded([this] { FormDestroy(); });
}

void TfrmMain::wire()
{
    auto on = [this](void (TfrmMain::*handler)()) {
        return [this, handler] { guarded([this, handler] { (this->*handler)(); }); };
    };

    connect(SaveSettings, &QAction::triggered, this, on(&TfrmMain::SaveSettingsClick));
    connect(OpenMyTLEs, &QAction::triggered, this, on(&TfrmMain::OpenMyTLEsClick));
    connect(mExit, &QAction::triggered, this, on(&TfrmMain::mExitClick));
    connect(Vantoreal, &QAction::triggered, this, on(&TfrmMain::VantorealClick));
    connect(Skarvelin, &QAction::triggered, this, on(&TfrmMain::SkarvelinClick));
    connect(mProxy, &QAction::triggered, this, on(&TfrmMain::mProxyClick));
    connect(OnlineHelp, &QAction::triggered, this, on(&TfrmMain::OnlineHelpClick));
    connect(About, &QAction::triggered, this, on(&TfrmMain::AboutClick));

    connect(btnDownload, &QPushButton::clicked, this, on(&TfrmMain::btnDownloadClick));
    connect(btnProcess, &QPushButton::clicked, this, on(&TfrmMain::btnProcessClick));
    connect(cbAutoDownload, &QCheckBox::clicked, this, on(&TfrmMain::cbAutoDownloadClick));
    connect(seDelay, &QSpinBox::valueChanged, this, on(&TfrmMain::seDelayChange));
    connect(leUsername, &QLineEdit::textChanged, this, on(&TfrmMain::leUsernameChange));
    connect(lePassword, &QLineEdit::textChanged, this, on(&TfrmMain::lePasswordChange));
    rgFormat->onClick = on(&TfrmMain::rgFormatClick);

    const auto formClick = on(&TfrmMain::FormClick);
    for (QCheckBox* box : {cbRetain, cbPalm, cbDebug, cbStopOnErrors})
        connect(box, &QCheckBox::clicked, this, formClick);
    connect(mNotifications, &QAction::triggered, this, formClick);
    for (RadioGroup* group : {rgComplete, rgSSR, rgAutoDownload, rgFileExtensions})
        group->onClick = formClick;
    clbCurrentCatalog->onClick = formClick;
    clbVantorealDataSets->onClick = formClick;
    mOmmDataSets->onClick = formClick;
    seDelay->onClick = formClick;

    lblFeedback->onOpen
        = [this](const std::string& target) { guarded([this, &target] { services_.launcher->open(target); }); };

    connect(&TrayTimer, &QTimer::timeout, this, on(&TfrmMain::TrayTimerTimer));
    connect(&RunTimer, &QTimer::timeout, this, on(&TfrmMain::RunTimerTimer));
    connect(&UpdateTimer, &QTimer::timeout, this, on(&TfrmMain::UpdateTimerTimer));

    if (services_.tray) {
        // The idle hint; the idle rule shows "Ready" or "Done" while the hint is this.
        // In update mode it stays empty, so the idle texts there are empty too.
        if (!updateMode_)
            services_.tray->setHint(std::string(kProgramTitle));
        services_.tray->onClose = [this] { guarded([this] { endAtOnce(); }); };
        services_.tray->onRestore = [this] { restoreWindow(); };
    }

    notifier_.enabled = [this] { return mNotifications->isChecked(); };
    reporter_.setFailureListener(
        [this](RunOutcome how, std::string_view reason) { notifier_.runFailing(how, reason); });
    // The tray program's notifications bring the window back; an update run has ended
    // by the time anyone clicks.
    if (services_.notifications && !updateMode_)
        services_.notifications->onOpen = [this] { restoreWindow(); };
    // In update mode the whole program is the unattended run: a stop during start-up
    // is told too.
    if (updateMode_)
        notifier_.runStarted();
}

bool TfrmMain::autoDownloadStored() const
{
    return SettingsFile(settingsPath()).readBool(Field::AutoDownload);
}

std::string TfrmMain::statusText() const
{
    return fromLatin1(statusLabel_->fullText());
}

void TfrmMain::setStatus(std::string_view text)
{
    statusLabel_->setFullText(latin1(text));
}

void TfrmMain::guarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const FatalStop& stop) {
        if (!haltRequested())
            haltProgram(stop);
    } catch (const std::exception& e) {
        // A stop decided inside a nested wait (a fatal one, or the end the user or a
        // signal asked for) ends that wait with an error of its own; the program is
        // ending, so that error is not news to the user.
        if (!ending())
            services_.prompts->error(e.what());
    }
}

void TfrmMain::haltProgram(const FatalStop& stop)
{
    // Before the box, which may wait for someone long after the program should have ended.
    notifier_.runFailing(RunOutcome::Halted, stop.message);
    if (!stop.shown)
        services_.prompts->error(stop.message);
    try {
        if (stop.logHalted)
            reporter_.log("PROGRAM HALTED");
    } catch (const std::exception&) {
        // The program is ending; a log that cannot take its last line changes nothing.
    }
    requestHalt(stop.exitStatus);
    QCoreApplication::exit(stop.exitStatus);
}

bool TfrmMain::ending() const
{
    return haltRequested() || endingAtOnce_;
}

void TfrmMain::endAtOnce()
{
    endingAtOnce_ = true;
    QCoreApplication::exit(statusAtOnce());
}

int TfrmMain::statusAtOnce() const
{
    // An update run cut off before it ended did not bring the data up to date, and its
    // timer must try again; one that has ended keeps the status it ended with.
    return updateMode_ && !updateRunEnded_ ? kUpdateEndedEarly : exitStatus_;
}

void TfrmMain::restoreWindow()
{
    showNormal();
    raise();
    activateWindow();
}

void TfrmMain::minimizeApplication()
{
    // Straight into the tray, never minimised first: a window the program minimises
    // carries an iconic start-up hint into its hiding place, and the window manager
    // honours it when the tray maps the window again, so the first click would bring it
    // back minimised and the tray rule would hide it at once.
    if (services_.tray && services_.tray->minimizeToTray() && services_.tray->available())
        hide();
    else
        showMinimized();
}

void TfrmMain::closeWithStatus(int exitStatus)
{
    exitStatus_ = exitStatus;
    updateRunEnded_ = true;
    mExitClick();
}

void TfrmMain::placeWindow(const SettingsFile& settings)
{
    // The stored size applies after the corner is clamped, so the clamp uses the design size.
    const PixelSize desktop = services_.desktop->virtualDesktop();
    const QSize design = outerDesignSize();
    const int left = std::min(settings.readInteger(Field::LeftCorner), desktop.width - design.width());
    const int top = std::min(settings.readInteger(Field::TopCorner), desktop.height - design.height());
    move(left, top);
    resize(windowSizeFor(settings.readInteger(Field::FormWidth), settings.readInteger(Field::FormHeight)));
}

void TfrmMain::openLog()
{
    try {
        reporter_.logFile().create(extractFileName(changeFileExt(services_.program->programFile(), ".log")));
    } catch (const IoError& e) {
        // The run goes on without a log.
        services_.prompts->error(e.what());
        return;
    }
    const PixelSize screen = services_.desktop->primaryScreen();
    reporter_.outputToLog(versionLabel());
    reporter_.outputToLog(OperatingSystemText);
    reporter_.outputToLog(ProcessorText);
    reporter_.outputToLog("Screen width = " + std::to_string(screen.width));
    reporter_.outputToLog("Screen height = " + std::to_string(screen.height));
}

void TfrmMain::FormCreate()
{
    setFont(QApplication::font());
    http_.LocalProgram = trimmedBlanks("Quillmaren v" + std::string(kVersionText));

    MyTLEsDir = GetShellFolder(*services_.folders, 4) + "My TLEs/";
    PrepareDirectory(reporter_, MyTLEsDir);
    // The run folder's work files (body.txt, header.txt, catalog.idx) are shared by every
    // home that runs there, so it is locked too, always before My TLEs.
    folderLock_ = std::make_unique<FolderLock>(std::vector<std::string>{currentDirectory(), MyTLEsDir});

    OperatingSystemText = GetWindowsVersionText(*services_.system);
    ProcessorText = GetProcessorText(*services_.system);

    SettingsFile settings(settingsPath());
    settings.deleteObsoleteStartupKeys();

    placeWindow(settings);
    // In 64 bits and clamped: a huge stored value must not wrap into a negative wait.
    http_.TimeOut = static_cast<int>(std::clamp<std::int64_t>(
        std::int64_t{settings.readInteger(Field::InternetTimeout)} * 1000, INT32_MIN, INT32_MAX));

    AccountUsername = settings.readText(Field::Username);
    AccountPassword = settings.readText(Field::Password);
    loadText(leUsername, AccountUsername, [this] { leUsernameChange(); });
    loadText(lePassword, AccountPassword, [this] { lePasswordChange(); });
    updateDownloadEnabled();

    loadCheck(cbRetain, settings.readBool(Field::RetainAccountInfo), [this] { FormClick(); });

    for (int item : vantorealKeyItems())
        clbVantorealDataSets->setChecked(item, settings.readBool(Field::VantorealItem, item));
    for (const DataSetRow& row : kDataSetRows)
        if (row.kind == DataSetRowKind::Header)
            clbVantorealDataSets->markHeader(row.row);

    loadRadio(rgFileExtensions, settings.readInteger(Field::FileExtension), [this] { FormClick(); });
    loadCheck(cbPalm, settings.readBool(Field::GeneratePalmFormat), [this] { FormClick(); });
    loadChoice(mOmmDataSets, static_cast<int>(ommFormatFromItem(settings.readInteger(Field::OmmFormat))),
        [this] { FormClick(); });
    loadCheck(mNotifications, settings.readBool(Field::Notifications), [this] { FormClick(); });

    MostCurrentCatalog = settings.readText(Field::MostCurrentCatalog);
    MostCurrentSatcat = settings.readText(Field::MostCurrentSatcat);

    loadRadio(rgFormat, settings.readInteger(Field::DataFormat), [this] { rgFormatClick(); });

    for (int item = 0; item < kCurrentCatalogItems; ++item)
        clbCurrentCatalog->setChecked(item, settings.readBool(Field::CurrentCatalogItem, item));

    loadRadio(rgComplete, settings.readInteger(Field::CompleteDataFiles), [this] { FormClick(); });
    loadRadio(rgSSR, settings.readInteger(Field::SpaceSituationReport), [this] { FormClick(); });

    reporter_.setDebugOn(settings.readBool(Field::DebugOn));
    loadCheck(cbDebug, DebugOn(), [this] { FormClick(); });
    if (DebugOn())
        openLog();

    loadCheck(cbStopOnErrors, settings.readBool(Field::StopOnErrors), [this] { FormClick(); });
    CheckCriticalUpdates = settings.readBool(Field::CheckCriticalUpdates);

    // Texts left by an ended run; while another program's run has the folder they are
    // its work in progress.
    if (const FolderLock::Hold hold = folderLock_->tryHold()) {
        Delete_Files(MyTLEsDir + "catalog_*.gz");
        Delete_Files(MyTLEsDir + "catalog_*.txt");
    }

    lblVersion->setText(latin1(versionLabel()));
    lblFeedback->setLink(feedbackMailTarget(), QString::fromLatin1(kFeedbackCredit));

    Redownloading = false;

    if (updateMode_) {
        reporter_.setUnattended(stderr);
        reporter_.log("Running via -update command-line option");
        UpdateTimer.start();
        startupComplete_ = true;
        return;
    }

    shortcut_.setTarget(services_.program->programFile(), extractFilePath(services_.program->programFile()));
    loadCheck(cbAutoDownload, settings.readBool(Field::AutoDownload), [this] { cbAutoDownloadClick(); });
    if (cbAutoDownload->isChecked())
        TrayTimer.start();
    else
        cbAutoDownloadClick();
    {
        const int delay = std::clamp(settings.readInteger(Field::InitialDelay), 1, 90);
        if (seDelay->value() != delay) {
            const QSignalBlocker block(seDelay);
            seDelay->setValue(delay);
            seDelayChange();
        }
    }
    loadRadio(rgAutoDownload, settings.readInteger(Field::AutoDownloadFrequency), [this] { FormClick(); });

    SettingsChanged = false;
    startupComplete_ = true;
}

void TfrmMain::updateDownloadEnabled()
{
    const bool account = !AccountUsername.empty() && !AccountPassword.empty();
    runButtons_->setDownloadEnabled(account);
    Skarvelin->setEnabled(account);
    // Without an account the grey button says what it waits for.
    btnDownload->setToolTip(account ? QStringLiteral("Download selected data sets from Skarvelin web site")
                                    : QStringLiteral("Enter your Skarvelin username and password to download"));
}

void TfrmMain::FormActivate()
{
    if (!proxyDialog_ || !proxyDialog_->credentialsMissing())
        return;
    // Nobody is there to fill in the form: the run goes on and the proxy may refuse it.
    if (updateMode_ || services_.headless)
        reporter_.log("Proxy username and password required but not set.");
    else
        mProxyClick();
}

void TfrmMain::mProxyClick()
{
    // Without a display a modal form would wait for ever.
    if (!proxyDialog_ || services_.headless)
        return;
    while (!proxyDialog_->showModal() && !haltRequested()) { }
}

void TfrmMain::AboutClick()
{
    if (showAbout_)
        showAbout_();
}

void TfrmMain::mExitClick()
{
    exitRequested_ = true;
    close();
    exitRequested_ = false;
}

void TfrmMain::FormClose()
{
    if (SettingsChanged && services_.prompts->confirm("Your settings have changed. Save them?"))
        SaveSettingsClick();
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    if (!exitRequested_ && !endingAtOnce_ && services_.tray && services_.tray->closeToTray()
        && services_.tray->available()) {
        event->ignore();
        hide();
        return;
    }
    if (!endingAtOnce_)
        guarded([this] { FormClose(); });
    // The window closes whatever happened while saving.
    event->accept();
    QCoreApplication::exit(haltRequested() ? haltExitStatus() : exitStatus_);
}

void TfrmMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Hidden once the minimise is through: showMinimized() shows the window after it
    // has changed the state.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && services_.tray
        && services_.tray->minimizeToTray() && services_.tray->available())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && startupComplete_ && !haltRequested())
        guarded([this] { FormActivate(); });
}

void TfrmMain::FormDestroy()
{
    if (destroyed_)
        return;
    destroyed_ = true;
    if (DebugOn())
        reporter_.logFile().close();
    if (!startupComplete_)
        return;
    SettingsFile settings(settingsPath());
    settings.writePath(kExitPath, [this](const SettingDef& def) { return valueOf(def); });
}

void TfrmMain::SaveSettingsClick()
{
    SettingsFile settings(settingsPath());
    settings.writePath(kSaveSettingsPath, [this](const SettingDef& def) { return valueOf(def); });
    SettingsChanged = false;
}

SettingValue TfrmMain::valueOf(const SettingDef& def) const
{
    auto number = [](int n) { return SettingValue{n, {}}; };
    auto text = [](std::string s) { return SettingValue{0, std::move(s)}; };
    switch (def.field) {
    case Field::LeftCorner:
        return number(x());
    case Field::TopCorner:
        return number(y());
    case Field::FormWidth:
        return number(storedSize().width());
    case Field::FormHeight:
        return number(storedSize().height());
    case Field::InternetTimeout:
        return number(http_.TimeOut / 1000);
    case Field::Username:
        return text(cbRetain->isChecked() ? AccountUsername : std::string());
    case Field::Password:
        return text(cbRetain->isChecked() ? AccountPassword : std::string());
    case Field::RetainAccountInfo:
        return number(cbRetain->isChecked());
    case Field::VantorealItem:
        return number(clbVantorealDataSets->checked(def.item));
    case Field::FileExtension:
        return number(rgFileExtensions->itemIndex());
    case Field::GeneratePalmFormat:
        return number(cbPalm->isChecked());
    case Field::OmmFormat:
        return number(mOmmDataSets->itemIndex());
    case Field::Notifications:
        return number(mNotifications->isChecked());
    case Field::MostCurrentCatalog:
        return text(MostCurrentCatalog);
    case Field::MostCurrentSatcat:
        return text(MostCurrentSatcat);
    case Field::DataFormat:
        return number(rgFormat->itemIndex());
    case Field::CurrentCatalogItem:
        return number(clbCurrentCatalog->checked(def.item));
    case Field::CompleteDataFiles:
        return number(rgComplete->itemIndex());
    case Field::SpaceSituationReport:
        return number(rgSSR->itemIndex());
    case Field::AutoDownload:
        return number(cbAutoDownload->isChecked());
    case Field::InitialDelay:
        return number(seDelay->value());
    case Field::AutoDownloadFrequency:
        return number(rgAutoDownload->itemIndex());
    case Field::DebugOn:
        return number(cbDebug->isChecked());
    case Field::StopOnErrors:
        return number(cbStopOnErrors->isChecked());
    case Field::CheckCriticalUpdates:
        return number(CheckCriticalUpdates);
    default:
        throw std::logic_error("the main window does not write this key");
    }
}

void TfrmMain::rgFormatClick()
{
    if (rgFormat->itemIndex() == 0)
        TwoLineFormat = true;
    else if (rgFormat->itemIndex() == 1)
        TwoLineFormat = false;
    CheckForCurrentData();
    SettingsChanged = true;
}

void TfrmMain::FormClick()
{
    SettingsChanged = true;
}

void TfrmMain::leUsernameChange()
{
    AccountUsername = fromLatin1(leUsername->text());
    updateDownloadEnabled();
    SettingsChanged = true;
}

void TfrmMain::lePasswordChange()
{
    AccountPassword = fromLatin1(lePassword->text());
    updateDownloadEnabled();
    SettingsChanged = true;
}

void TfrmMain::CheckForCurrentData()
{
    const CurrentDataOutcome outcome = qm::CheckForCurrentData(
        rgFormat->itemIndex(), MostCurrentCatalog, MostCurrentSatcat, cbAutoDownload->isChecked(), reporter_);
    if (outcome.processEnabled)
        runButtons_->setProcessEnabled(*outcome.processEnabled);
    if (outcome.status)
        reporter_.setStatusText(*outcome.status);
}

void TfrmMain::NMHTTPFailure(std::string_view)
{
    qm::NMHTTPFailure(http_, *services_.prompts, reporter_, HttpFailure);
}

bool TfrmMain::CheckForCriticalUpdate()
{
    return qm::CheckForCriticalUpdate(
        http_, reporter_, *services_.prompts, cbStopOnErrors->isChecked(), [this] { OnlineHelpClick(); },
        [this] { return ending(); });
}

void TfrmMain::btnDownloadClick()
{
    // No run starts inside another, whoever calls.
    if (runButtons_->running())
        return;
    downloadRun();
}

RunOutcome TfrmMain::downloadRun()
{
    const RunButtons::Run going(*runButtons_);
    DownloadWindowAdapter window(*this);
    return DownloadRun(window, http_, reporter_, *services_.prompts).run();
}

void TfrmMain::OpenMyTLEsClick()
{
    qm::OpenMyTLEs(reporter_, *services_.launcher, MyTLEsDir);
}

void TfrmMain::VantorealClick()
{
    qm::OpenVantoreal(reporter_, *services_.launcher);
}

void TfrmMain::SkarvelinClick()
{
    qm::OpenSkarvelin(reporter_, *services_.launcher, AccountUsername, AccountPassword);
}

void TfrmMain::OnlineHelpClick()
{
    qm::OpenOnlineHelp(reporter_, *services_.launcher);
}

void TfrmMain::btnProcessClick()
{
    if (runButtons_->running())
        return;
    processing_->run();
}

// Handlers whose runs belong to the scheduling subsystem; they are bound here so
// every control has its handler from the start.
void TfrmMain::cbAutoDownloadClick()
{
    scheduler_->scheduler().cbAutoDownloadClick();
}
void TfrmMain::seDelayChange()
{
    scheduler_->scheduler().seDelayChange();
}
void TfrmMain::TrayTimerTimer()
{
    scheduler_->scheduler().TrayTimerTimer();
}
void TfrmMain::RunTimerTimer()
{
    scheduler_->scheduler().RunTimerTimer();
}
void TfrmMain::UpdateTimerTimer()
{
    UpdateTimer.stop();
    UpdateWindowAdapter window(*this);
    UpdateRun(window, notifier_).run();
}

} // namespace qm
