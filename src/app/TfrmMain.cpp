#include "app/TfrmMain.h"

#include "app/SystemDescriptions.h"
#include "app/Version.h"
#include "platform/Halt.h"
#include "service/CurrentData.h"
#include "service/HttpFailure.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdint>

namespace qm {

namespace {

QString latin1(std::string_view s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}
std::string fromLatin1(const QString& s)
{
    return s.toLatin1().toStdString();
}

const QStringList kCurrentCatalogCaptions = {
    QStringLiteral("Full Catalog"),
    QStringLiteral("Geosynchronous"),
    QStringLiteral("Navigation"),
    QStringLiteral("Weather"),
    QStringLiteral("Iridium"),
    QStringLiteral("Orbcomm"),
    QStringLiteral("Globalstar"),
    QStringLiteral("Intelsat"),
    QStringLiteral("Inmarsat"),
    QStringLiteral("Amateur"),
    QStringLiteral("Visible"),
    QStringLiteral("Special Interest"),
};

const QStringList kVantorealCaptions = {
    QStringLiteral("Special-Interest"),
    QStringLiteral("Last 30 Day's Launches"),
    QStringLiteral("International Space Station"),
    QStringLiteral("100 (or so) Brightest"),
    QStringLiteral("Weather & Earth Resources"),
    QStringLiteral("Weather"),
    QStringLiteral("NOAA"),
    QStringLiteral("GOES"),
    QStringLiteral("Earth Resources"),
    QStringLiteral("Disaster Monitoring"),
    QStringLiteral("TDRSS"),
    QStringLiteral("Search & Rescue (SARSAT)"),
    QStringLiteral("Communications"),
    QStringLiteral("Geostationary"),
    QStringLiteral("Intelsat"),
    QStringLiteral("Gorizont"),
    QStringLiteral("Raduga"),
    QStringLiteral("Molniya"),
    QStringLiteral("Iridium"),
    QStringLiteral("Orbcomm"),
    QStringLiteral("Globalstar"),
    QStringLiteral("Amateur Radio"),
    QStringLiteral("Experimental"),
    QStringLiteral("Other"),
    QStringLiteral("Navigation"),
    QStringLiteral("GPS Operational"),
    QStringLiteral("GLONASS Operational"),
    QStringLiteral("Galileo"),
    QStringLiteral("WAAS/EGNOS/MSAS"),
    QStringLiteral("NNSS"),
    QStringLiteral("Russian LEO"),
    QStringLiteral("Scientific"),
    QStringLiteral("Space & Earth Science"),
    QStringLiteral("Geodetic"),
    QStringLiteral("Engineering"),
    QStringLiteral("Education"),
    QStringLiteral("Miscellaneous"),
    QStringLiteral("Miscellaneous Military"),
    QStringLiteral("Radar Calibration"),
    QStringLiteral("CubeSats"),
    QStringLiteral("Other"),
    QStringLiteral("Comprehensive"),
    QStringLiteral("Complete Catalog"),
};

constexpr int kHeaderItems[] = {0, 4, 12, 24, 31, 36, 41};

const char* const kFeedbackAddress = "feedback@vantoreal.example";

std::string versionLabel()
{
    return "Version " + std::string(kVersionText) + std::string(kVersionDate);
}

std::string trimmedBlanks(std::string s)
{
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    while (!s.empty() && s.front() == ' ')
        s.erase(s.begin());
    return s;
}

// The publisher's logo: a globe crossed by an orbit.
QPixmap logo()
{
    QPixmap pixmap(65, 65);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(20, 60, 140));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(14, 14, 37, 37));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(230, 160, 20), 3));
    p.drawEllipse(QRectF(3, 24, 59, 17));
    p.setBrush(QColor(230, 160, 20));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(52, 25, 8, 8));
    return pixmap;
}

// The width at which a check box shows its whole caption (its own hint adds slack).
int checkBoxWidth(const QCheckBox* box)
{
    const QStyle* style = box->style();
    return style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box)
        + style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box)
        + box->fontMetrics().horizontalAdvance(box->text()) + 1;
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

void loadCheck(QCheckBox* box, bool on, const std::function<void()>& handler)
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

} // namespace

TfrmMain::TfrmMain(MainServices services, QWidget* parent)
    : QMainWindow(parent)
    , services_(std::move(services))
    , reporter_([this](std::string_view text) { setStatus(text); },
          [this] { return services_.tray ? services_.tray->hint() : std::string(); })
    , updateMode_(!services_.arguments.empty() && services_.arguments.front() == "-update")
{
    setWindowTitle(latin1(kMainCaption));
    buildControls();
    buildMenus();
    wire();
    resize(kDesignWidth, kDesignHeight);
    TrayTimer.setInterval(5000);
    UpdateTimer.setInterval(5000);
    http_.TimeOut = 30000;
    http_.OnFailure = [this](std::string_view method) { NMHTTPFailure(method); };
}

QIcon TfrmMain::programIcon()
{
    return QIcon(logo());
}

TfrmMain::~TfrmMain()
{
    if (startupComplete_ && !destroyed_)
        guarded([this] { FormDestroy(); });
}

void TfrmMain::buildControls()
{
    auto* client = new QWidget(this);
    setCentralWidget(client);

    gbSkarvelin = new QGroupBox(QStringLiteral("Skarvelin Data Sets"), client);
    gbSkarvelin->setGeometry(8, 0, 281, 225);
    rgFormat = new RadioGroup(
        QStringLiteral("Data Format"), {QStringLiteral("Two-Line"), QStringLiteral("Three-Line")}, 2, gbSkarvelin);
    gbCurrent = new QGroupBox(QStringLiteral("Current Catalog Files"), gbSkarvelin);
    clbCurrentCatalog = new CheckListBox(kCurrentCatalogCaptions, 2, gbCurrent);
    auto* currentLayout = new QVBoxLayout(gbCurrent);
    currentLayout->setContentsMargins(2, 0, 2, 2);
    currentLayout->addWidget(clbCurrentCatalog);
    clbCurrentCatalog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    clbCurrentCatalog->setFixedHeight(clbCurrentCatalog->rowsHeight(6));
    rgComplete = new RadioGroup(
        QStringLiteral("Complete Daily Data"), {QStringLiteral("Yes"), QStringLiteral("No")}, 2, gbSkarvelin);
    rgComplete->setItemIndex(1);
    rgSSR = new RadioGroup(
        QStringLiteral("Space Situation Report"), {QStringLiteral("Yes"), QStringLiteral("No")}, 2, gbSkarvelin);
    rgSSR->setItemIndex(0);
    {
        auto* v = new QVBoxLayout(gbSkarvelin);
        v->setContentsMargins(2, 0, 2, 2);
        v->setSpacing(0);
        v->addWidget(rgFormat);
        v->addWidget(gbCurrent);
        auto* row = new QHBoxLayout;
        row->setSpacing(2);
        // Shared out by the titles' widths, so both titles read in full.
        row->addWidget(rgComplete, rgComplete->minimumSizeHint().width());
        row->addWidget(rgSSR, rgSSR->minimumSizeHint().width());
        v->addLayout(row);
        v->addStretch();
    }

    gbUserInfo = new QGroupBox(QStringLiteral("Skarvelin User Information"), client);
    gbUserInfo->setGeometry(8, 232, 281, 81);
    leUsername = new QLineEdit(gbUserInfo);
    lePassword = new QLineEdit(gbUserInfo);
    lePassword->setEchoMode(QLineEdit::Password);
    lePassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    cbRetain = new QCheckBox(QStringLiteral("Retain username and password"), gbUserInfo);
    {
        auto* grid = new QGridLayout(gbUserInfo);
        grid->setContentsMargins(6, 2, 6, 2);
        grid->setVerticalSpacing(0);
        auto* lblUsername = new QLabel(QStringLiteral("Username"), gbUserInfo);
        auto* lblPassword = new QLabel(QStringLiteral("Password"), gbUserInfo);
        lblUsername->setBuddy(leUsername);
        lblPassword->setBuddy(lePassword);
        grid->addWidget(lblUsername, 0, 0);
        grid->addWidget(lblPassword, 0, 1);
        grid->addWidget(leUsername, 1, 0);
        grid->addWidget(lePassword, 1, 1);
        grid->addWidget(cbRetain, 2, 0, 1, 2);
    }

    gbProcessing = new QGroupBox(QStringLiteral("Processing"), client);
    gbProcessing->setGeometry(8, 320, 281, 129);
    cbAutoDownload = new QCheckBox(QStringLiteral("Auto Download"), gbProcessing);
    lblDelay = new QLabel(QStringLiteral("Initial delay"), gbProcessing);
    seDelay = new DelaySpinBox(gbProcessing);
    seDelay->setRange(1, 90);
    seDelay->setValue(5);
    lblMinutes = new QLabel(QStringLiteral("minutes"), gbProcessing);
    rgAutoDownload = new RadioGroup(QStringLiteral("Auto Download Frequency (per day)"),
        {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("4")}, 3, gbProcessing);
    rgAutoDownload->setItemIndex(1);
    btnDownload = new QPushButton(QStringLiteral("Download Data"), gbProcessing);
    btnDownload->setToolTip(QStringLiteral("Download selected data sets from Skarvelin web site"));
    btnProcess = new QPushButton(QStringLiteral("Process Data"), gbProcessing);
    btnProcess->setToolTip(QStringLiteral("Generate selected Vantoreal data sets"));
    {
        auto* v = new QVBoxLayout(gbProcessing);
        v->setContentsMargins(4, 0, 4, 2);
        v->setSpacing(0);
        v->addWidget(cbAutoDownload);
        auto* row = new QHBoxLayout;
        row->setSpacing(4);
        row->addWidget(lblDelay);
        row->addWidget(seDelay);
        row->addWidget(lblMinutes);
        row->addStretch();
        v->addLayout(row);
        v->addWidget(rgAutoDownload);
        auto* buttons = new QHBoxLayout;
        buttons->addWidget(btnDownload);
        buttons->addWidget(btnProcess);
        v->addLayout(buttons);
        v->addStretch();
    }

    gbVantoreal = new QGroupBox(QStringLiteral("Vantoreal Data Sets"), client);
    gbVantoreal->setGeometry(296, 0, 377, 449);
    clbVantorealDataSets = new CheckListBox(kVantorealCaptions, 2, gbVantoreal);
    imgVantoreal = new QLabel(gbVantoreal);
    imgVantoreal->setFixedSize(65, 65);
    imgVantoreal->setPixmap(logo());
    rgFileExtensions = new RadioGroup(
        QStringLiteral("Vantoreal File Extension"), {QStringLiteral(".txt"), QStringLiteral(".tle")}, 2, gbVantoreal);
    rgFileExtensions->setItemIndex(0);
    cbPalm = new QCheckBox(QStringLiteral("Generate Palm format"), gbVantoreal);
    cbDebug = new QCheckBox(QStringLiteral("Enable debug logging"), gbVantoreal);
    cbStopOnErrors = new QCheckBox(QStringLiteral("Stop on errors"), gbVantoreal);
    lblVersion = new QLabel(QStringLiteral("Version"), gbVantoreal);
    lblFeedback = new QLabel(gbVantoreal);
    lblFeedback->setToolTip(QStringLiteral("Send feedback to author"));
    lblFeedback->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    clbVantorealDataSets->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    clbVantorealDataSets->setFixedHeight(clbVantorealDataSets->rowsHeight(22));
    {
        // The logo, the extension group and the check boxes share one row of the
        // group's width: each gets what its caption needs, the check boxes the rest.
        rgFileExtensions->setFixedWidth(rgFileExtensions->minimumSizeHint().width());
        for (QCheckBox* box : {cbPalm, cbDebug, cbStopOnErrors})
            box->setMinimumWidth(checkBoxWidth(box));
        auto* v = new QVBoxLayout(gbVantoreal);
        v->setContentsMargins(0, 0, 0, 2);
        v->setSpacing(2);
        v->addWidget(clbVantorealDataSets);
        auto* grid = new QGridLayout;
        grid->setContentsMargins(0, 0, 0, 0);
        grid->setVerticalSpacing(0);
        grid->setHorizontalSpacing(2);
        grid->setColumnStretch(2, 1);
        grid->addWidget(imgVantoreal, 0, 0, 3, 1, Qt::AlignTop);
        grid->addWidget(rgFileExtensions, 0, 1, 3, 1, Qt::AlignTop);
        grid->addWidget(cbPalm, 0, 2);
        grid->addWidget(cbDebug, 1, 2);
        grid->addWidget(cbStopOnErrors, 2, 2);
        auto* credits = new QHBoxLayout;
        credits->addWidget(lblVersion);
        credits->addStretch();
        credits->addWidget(lblFeedback);
        grid->addLayout(credits, 3, 0, 1, 3);
        v->addLayout(grid);
        v->addStretch();
    }

    StatusBar = statusBar();
    statusLabel_ = new QLabel(StatusBar);
    StatusBar->addWidget(statusLabel_, 1);
    StatusBar->setSizeGripEnabled(false);
}

void TfrmMain::buildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    SaveSettings = file->addAction(QStringLiteral("&Save Settings"));
    OpenMyTLEs = file->addAction(QStringLiteral("&Open My TLEs"));
    mExit = file->addAction(QStringLiteral("E&xit"));
    QMenu* web = menuBar()->addMenu(QStringLiteral("&Web Sites"));
    Vantoreal = web->addAction(QStringLiteral("&Vantoreal"));
    Skarvelin = web->addAction(QStringLiteral("&Skarvelin"));
    QMenu* config = menuBar()->addMenu(QStringLiteral("&Configuration"));
    mProxy = config->addAction(QStringLiteral("&Proxy Server"));
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    OnlineHelp = help->addAction(QStringLiteral("&Online Help"));
    About = help->addAction(QStringLiteral("&About"));
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
    for (RadioGroup* group : {rgComplete, rgSSR, rgAutoDownload, rgFileExtensions})
        group->onClick = formClick;
    clbCurrentCatalog->onClick = formClick;
    clbVantorealDataSets->onClick = formClick;
    seDelay->onClick = formClick;

    connect(lblFeedback, &QLabel::linkActivated, this, [this](const QString& link) {
        guarded([this, link] {
            services_.launcher->open(link.toStdString());
            lblFeedback->setText(lblFeedback->text().replace(QStringLiteral("#0000ff"), QStringLiteral("#800080")));
        });
    });

    connect(&TrayTimer, &QTimer::timeout, this, on(&TfrmMain::TrayTimerTimer));
    connect(&RunTimer, &QTimer::timeout, this, on(&TfrmMain::RunTimerTimer));
    connect(&UpdateTimer, &QTimer::timeout, this, on(&TfrmMain::UpdateTimerTimer));

    if (services_.tray) {
        // The idle hint; the idle rule shows "Ready" or "Done" while the hint is this.
        // In update mode it stays empty, so the idle texts there are empty too.
        if (!updateMode_)
            services_.tray->setHint(std::string(kProgramTitle));
        services_.tray->onClose = [this] { guarded([this] { endAtOnce(); }); };
        services_.tray->onRestore = [this] {
            showNormal();
            raise();
            activateWindow();
        };
    }
}

std::string TfrmMain::settingsPath() const
{
    return changeFileExt(services_.program->programFile(), ".ini");
}

std::string TfrmMain::statusText() const
{
    return fromLatin1(statusLabel_->text());
}

void TfrmMain::setStatus(std::string_view text)
{
    statusLabel_->setText(latin1(text));
}

void TfrmMain::guarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const FatalStop& stop) {
        if (!haltRequested())
            haltProgram(stop);
    } catch (const std::exception& e) {
        // A stop decided inside a nested wait ends that wait with an error of its own;
        // the program is ending, so that error is not news to the user.
        if (!haltRequested())
            services_.prompts->error(e.what());
    }
}

void TfrmMain::haltProgram(const FatalStop& stop)
{
    if (!stop.shown)
        services_.prompts->error(stop.message);
    try {
        reporter_.log("PROGRAM HALTED");
    } catch (const std::exception&) {
        // The program is ending; a log that cannot take its last line changes nothing.
    }
    requestHalt();
    QCoreApplication::exit(kFatalExitStatus);
}

void TfrmMain::endAtOnce()
{
    endingAtOnce_ = true;
    QCoreApplication::exit(0);
}

void TfrmMain::placeWindow(const SettingsFile& settings)
{
    // The stored size applies after the corner is clamped, so the clamp uses the design size.
    const PixelSize desktop = services_.desktop->virtualDesktop();
    const int left = std::min(settings.readInteger(Field::LeftCorner), desktop.width - kDesignWidth);
    const int top = std::min(settings.readInteger(Field::TopCorner), desktop.height - kDesignHeight);
    move(left, top);
    resize(settings.readInteger(Field::FormWidth), settings.readInteger(Field::FormHeight));
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
    for (int item : kHeaderItems)
        clbVantorealDataSets->markHeader(item);

    loadRadio(rgFileExtensions, settings.readInteger(Field::FileExtension), [this] { FormClick(); });
    loadCheck(cbPalm, settings.readBool(Field::GeneratePalmFormat), [this] { FormClick(); });

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

    Delete_Files(MyTLEsDir + "catalog_*.gz");
    Delete_Files(MyTLEsDir + "catalog_*.txt");

    lblVersion->setText(latin1(versionLabel()));
    const QString subject = QString::fromLatin1(
        QUrl::toPercentEncoding(latin1("Quillmaren v" + std::string(kVersionText) + "User Feedback")));
    lblFeedback->setText(
        QStringLiteral("<a href=\"mailto:%1?subject=%2\" style=\"color:#0000ff\">Feedback to the author</a>")
            .arg(QString::fromLatin1(kFeedbackAddress), subject));

    Redownloading = false;

    if (updateMode_) {
        reporter_.log("Running via -update command-line option");
        UpdateTimer.start();
        startupComplete_ = true;
        return;
    }

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
    btnDownload->setEnabled(account);
    Skarvelin->setEnabled(account);
}

void TfrmMain::FormActivate()
{
    if (proxyDialog_ && proxyDialog_->credentialsMissing())
        mProxyClick();
}

void TfrmMain::mProxyClick()
{
    if (!proxyDialog_)
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
    close();
}

void TfrmMain::FormClose()
{
    if (SettingsChanged && services_.prompts->confirm("Your settings have changed. Save them?"))
        SaveSettingsClick();
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    if (!endingAtOnce_)
        guarded([this] { FormClose(); });
    // The window closes whatever happened while saving.
    event->accept();
    QCoreApplication::exit(haltRequested() ? kFatalExitStatus : 0);
}

void TfrmMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
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
        return number(width());
    case Field::FormHeight:
        return number(height());
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
        btnProcess->setEnabled(*outcome.processEnabled);
    if (outcome.status)
        reporter_.setStatusText(*outcome.status);
}

void TfrmMain::NMHTTPFailure(std::string_view)
{
    qm::NMHTTPFailure(http_, *services_.prompts, reporter_, HttpFailure);
}

// Handlers whose runs belong to the download, processing, link, scheduling and dialog
// subsystems; they are bound here so every control has its handler from the start.
void TfrmMain::btnDownloadClick() { }
void TfrmMain::btnProcessClick() { }
void TfrmMain::OpenMyTLEsClick() { }
void TfrmMain::VantorealClick() { }
void TfrmMain::SkarvelinClick() { }
void TfrmMain::OnlineHelpClick() { }
void TfrmMain::cbAutoDownloadClick() { }
void TfrmMain::seDelayChange() { }
void TfrmMain::TrayTimerTimer()
{
    TrayTimer.stop();
}
void TfrmMain::RunTimerTimer()
{
    RunTimer.stop();
}
void TfrmMain::UpdateTimerTimer()
{
    UpdateTimer.stop();
}

} // namespace qm
