// Program entry: the application, the main window and its start-up, the event loop,
// and the one shutdown every ending goes through.
#include "app/TfrmAbout.h"
#include "app/TfrmMain.h"
#include "app/TfrmProxy.h"
#include "core/Version.h"
#include "desktop/DBusNotifications.h"
#include "platform/Environment.h"
#include "platform/FolderLock.h"
#include "platform/Halt.h"
#include "platform/HeadlessPrompts.h"
#include "platform/QtDesktop.h"
#include "platform/QuietQt.h"
#include "platform/ShutdownSignals.h"
#include "platform/UserFolders.h"
#include "platform/XdgShellLauncher.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kUsage = R"(Usage: quillmaren [--run-folder=auto] [-update]
       quillmaren --help | --version

Downloads the catalogue of objects in Earth orbit from the Skarvelin catalogue
service, checks and repairs its element sets and writes the Vantoreal data sets.

  (no option)        open the window
  -update            one unattended run: download, process when new data arrived,
                     end; only as the first argument (--run-folder aside)
  --run-folder=auto  start in the run folder (see the manual page), as the menu
                     entry, the timer and the crontab line do; anywhere on the line
  --help             show this help
  --version          show the version

Environment:
  QUILLMAREN_SERVICE_HOST    catalogue service: host[:port], http://... or https://...
  QUILLMAREN_PUBLISHER_HOST  publisher's host, in the same forms
  QUILLMAREN_CA_FILE         further certificate authorities (PEM) for HTTPS
  QUILLMAREN_RUN_FOLDER      auto: as --run-folder=auto, when that is not given
  QUILLMAREN_LOCK_WAIT       seconds -update waits for another run on its folders (600)
  http_proxy, HTTP_PROXY     read by "Auto Check Proxy Settings"
  XDG_CONFIG_HOME            holds quillmaren/quillmaren.ini and the start-up entry
  XDG_STATE_HOME             holds the run folder when the program's is read-only
  QT_QPA_PLATFORM            offscreen: run without a display

Exit status:
  0  the program ended normally; after -update, the run completed
  1  a fatal stop (a folder that cannot be made or entered, a damaged catalogue);
     the window started without a display
  2  -update only: the download or the processing ended early with a reported error

See quillmaren(1).
)";

// "--help" and "--version" as the first argument are answered on standard output
// before anything else happens: no display, no settings, no file. Any other argument
// leaves the program as it always was. The exit status, when answered.
std::optional<int> answerInformationOption(const std::vector<std::string>& arguments)
{
    if (arguments.empty())
        return std::nullopt;
    const std::string_view option = arguments.front();
    std::string text;
    if (option == "--help") {
        text = kUsage;
    } else if (option == "--version") {
        std::string_view version = qm::kVersionText;
        while (version.ends_with(' '))
            version.remove_suffix(1);
        text = "quillmaren " + std::string(version) + "\n";
    } else {
        return std::nullopt;
    }
    // Output that cannot be written (a full disk, a closed pipe) is a failure.
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    return written && std::fflush(stdout) == 0 ? 0 : 1;
}

bool isSet(const char* variable)
{
    const char* value = std::getenv(variable);
    return value && *value;
}

} // namespace

int main(int argc, char* argv[])
{
    // Taken before Qt removes the options it knows (-style, -platform...), so that
    // "-update" counts only as the very first argument the program was given, the
    // run-folder option aside: "--run-folder=auto -update" and "-update
    // --run-folder=auto" are both update runs.
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const std::optional<std::string> runFolder = qm::takeRunFolderOption(arguments);
    if (const std::optional<int> answered = answerInformationOption(arguments))
        return *answered;

    const bool updateRun = !arguments.empty() && arguments.front() == "-update";

    // Without a display (cron, a systemd timer) the program runs off screen. An update
    // run needs no window at all: a display that cannot be reached (a stale DISPLAY in a
    // crontab) leaves it off screen too instead of ending it. Standard error then
    // carries only what the program itself has to say.
    const bool platformChosen = isSet("QT_QPA_PLATFORM");
    const bool noDisplay = !platformChosen && !isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY");
    if (noDisplay)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    else if (updateRun && !platformChosen)
        ::setenv("QT_QPA_PLATFORM", isSet("WAYLAND_DISPLAY") ? "wayland;xcb;offscreen" : "xcb;offscreen", 1);
    if (qm::offscreenPlatformChosen() || updateRun)
        qm::quietQtNotices();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Skarvelin Quillmaren"));
    // Ties the window to the installed menu entry, whose icon Wayland desktops then show.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(qm::kApplicationId));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(qm::TfrmMain::programIcon());

    const QString platform = QGuiApplication::platformName();
    const bool headless = platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
    std::unique_ptr<qm::Prompts> prompts;
    if (headless)
        prompts = std::make_unique<qm::HeadlessPrompts>();
    else
        prompts = std::make_unique<qm::QtPrompts>();
    std::unique_ptr<qm::TrayIcon> tray;
    if (headless)
        tray = std::make_unique<qm::PlainTrayIcon>();
    else
        tray = std::make_unique<qm::QtTrayIcon>();

    qm::XdgShellLauncher launcher;
    qm::DetachedProgramStarter starter;
    qm::ProcessProgramLocation program;
    qm::XdgShellFolders folders;
    qm::LinuxSystemSources system;
    qm::QtDesktopGeometry desktop;
    qm::ProcessEnvironment environment;

    // The menu entry, the timer and the crontab line ask for the run folder: a desktop
    // entry cannot name a folder that depends on the user. Run files and the log must
    // not land wherever the launcher happened to start, so a folder that cannot be
    // entered stops the program.
    std::chrono::milliseconds folderWait{};
    try {
        qm::enterRunFolderWhenAsked(environment, qm::extractFilePath(program.programFile()), runFolder);
        folderWait = qm::folderWaitFrom(environment);
    } catch (const qm::IoError& e) {
        prompts->error(e.what());
        return qm::kFatalExitStatus;
    }

    // Destroyed after the window: a notification the end of the program sends leaves first.
    qm::DBusNotifications notifications(qm::sessionBusAddress(environment));

    qm::MainServices services;
    services.prompts = prompts.get();
    services.launcher = &launcher;
    services.starter = &starter;
    services.program = &program;
    services.folders = &folders;
    services.system = &system;
    services.desktop = &desktop;
    services.tray = tray.get();
    services.headless = headless;
    services.arguments = std::move(arguments);
    services.folderWait = folderWait;
    services.notifications = &notifications;

    auto form = std::make_unique<qm::TfrmMain>(services);
    // A window that nobody can see would wait for ever; only the timer's runs need none.
    if (noDisplay && !form->updateMode()) {
        if (!form->autoDownloadStored()) {
            std::fputs("quillmaren: no display; use -update for a run without a window\n", stderr);
            return qm::kFatalExitStatus;
        }
        std::fputs("quillmaren: no display; Auto Download runs on its timer without a window\n", stderr);
    }
    tray->show();
    qm::ShutdownSignals signals([&form](int) {
        if (form)
            form->endAtOnce();
    });

    try {
        form->FormCreate();
    } catch (const qm::FatalStop& stop) {
        // A stop during start-up writes no settings: the window never completed start-up.
        form->haltProgram(stop);
        form.reset();
        return stop.exitStatus;
    } catch (const std::exception& e) {
        prompts->error(e.what());
    }

    // The dialogs follow the window, the proxy form last: its settings are read after
    // the window's start-up has removed the old proxy keys.
    auto* about = new qm::TfrmAbout(launcher, form->OperatingSystemText, form->ProcessorText, form.get());
    form->guarded([about] { about->FormCreate(); });
    form->setAboutBox([about] { about->showModal(); });
    auto* proxy = new qm::TfrmProxy(
        {prompts.get(), &form->reporter(), &form->http(), &environment, form->settingsPath()}, form.get());
    form->setProxyDialog(proxy);
    form->guarded([proxy] { proxy->FormCreate(); });

    // A signal may have come while start-up asked a question.
    int status = form->endingAtOnce() ? form->statusAtOnce() : 0;
    if (!form->ending()) {
        form->show();
        status = QApplication::exec();
    }
    if (qm::haltRequested())
        status = qm::haltExitStatus();
    form->guarded([&form] { form->FormDestroy(); });
    form.reset();
    return qm::haltRequested() ? qm::haltExitStatus() : status;
}
