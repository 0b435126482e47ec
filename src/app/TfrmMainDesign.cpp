// The main window's design: its controls, captions, items and rectangles, and its
// menus. The behaviour lives in TfrmMain.cpp.
#include "app/DesignScale.h"
#include "app/EpochLabel.h"
#include "app/TfrmMain.h"
#include "app/TransferProgressBar.h"

#include "processing/DataSetRows.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>

namespace qm {

namespace {

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

// The captions of the publisher's data sets, from the run's table of rows.
QStringList vantorealCaptions()
{
    QStringList captions;
    for (const DataSetRow& row : kDataSetRows)
        captions << QString::fromLatin1(row.caption.data(), static_cast<qsizetype>(row.caption.size()));
    return captions;
}

// The width at which a check box shows its whole caption (its own hint adds slack).
int checkBoxWidth(const QCheckBox* box)
{
    const QStyle* style = box->style();
    return style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box)
        + style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box)
        + box->fontMetrics().horizontalAdvance(box->text()) + 1;
}

// The design's client area (the status line's bottom right corner) and the room the
// design's outer size gives to the frame and the menu bar around it.
constexpr QSize kDesignClient(680, 474);
constexpr QSize kDesignOuter(TfrmMain::kDesignWidth, TfrmMain::kDesignHeight);
// The design keeps 7 pixels between neighbours: the two columns of groups, the groups
// one above the other, and the two buttons.
constexpr int kDesignGap = 7;

} // namespace

void TfrmMain::buildControls()
{
    auto* client = new QWidget(this);
    setCentralWidget(client);
    // The one place the design's rectangles meet the desktop's font.
    const DesignScale scale(font());

    gbSkarvelin = new QGroupBox(QStringLiteral("Skarvelin Data Sets"), client);
    gbSkarvelin->setGeometry(scale.rect(8, 0, 281, 225));
    rgFormat = new RadioGroup(
        QStringLiteral("Data Format"), {QStringLiteral("Two-Line"), QStringLiteral("Three-Line")}, 2, gbSkarvelin);
    gbCurrent = new QGroupBox(QStringLiteral("Current Catalog Files"), gbSkarvelin);
    clbCurrentCatalog = new CheckListBox(kCurrentCatalogCaptions, 2, gbCurrent);
    // Screen readers name a control after the group it sits in unless it has a name of
    // its own: the lists, the nested group and the delay box get theirs.
    gbCurrent->setAccessibleName(gbCurrent->title());
    clbCurrentCatalog->setAccessibleName(gbCurrent->title());
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
    gbUserInfo->setGeometry(scale.rect(8, 232, 281, 81));
    leUsername = new QLineEdit(gbUserInfo);
    lePassword = new QLineEdit(gbUserInfo);
    // Shown while empty: a first start says what "Download Data" waits for.
    leUsername->setPlaceholderText(QStringLiteral("Your Skarvelin account name"));
    lePassword->setPlaceholderText(QStringLiteral("Its password"));
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
    gbProcessing->setGeometry(scale.rect(8, 320, 281, 129));
    cbAutoDownload = new QCheckBox(QStringLiteral("Auto Download"), gbProcessing);
    lblDelay = new QLabel(QStringLiteral("Initial delay"), gbProcessing);
    seDelay = new DelaySpinBox(gbProcessing);
    seDelay->setRange(1, 90);
    seDelay->setValue(5);
    lblMinutes = new QLabel(QStringLiteral("minutes"), gbProcessing);
    lblDelay->setBuddy(seDelay);
    seDelay->setAccessibleName(QStringLiteral("Initial delay in minutes"));
    rgAutoDownload = new RadioGroup(QStringLiteral("Auto Download Frequency (per day)"),
        {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("4")}, 3, gbProcessing);
    rgAutoDownload->setItemIndex(1);
    btnDownload = new QPushButton(QStringLiteral("Download Data"), gbProcessing);
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
        buttons->setSpacing(scale.x(kDesignGap));
        buttons->addWidget(btnDownload);
        buttons->addWidget(btnProcess);
        v->addLayout(buttons);
        v->addStretch();
    }

    gbVantoreal = new QGroupBox(QStringLiteral("Vantoreal Data Sets"), client);
    gbVantoreal->setGeometry(scale.rect(296, 0, 377, 449));
    clbVantorealDataSets = new CheckListBox(vantorealCaptions(), 2, gbVantoreal);
    clbVantorealDataSets->setAccessibleName(gbVantoreal->title());
    imgVantoreal = new QLabel(gbVantoreal);
    imgVantoreal->setAccessibleName(QStringLiteral("Vantoreal logo"));
    imgVantoreal->setFixedSize(65, 65);
    imgVantoreal->setPixmap(publisherLogo());
    rgFileExtensions = new RadioGroup(
        QStringLiteral("Vantoreal File Extension"), {QStringLiteral(".txt"), QStringLiteral(".tle")}, 2, gbVantoreal);
    rgFileExtensions->setItemIndex(0);
    cbPalm = new QCheckBox(QStringLiteral("Generate Palm format"), gbVantoreal);
    cbDebug = new QCheckBox(QStringLiteral("Enable debug logging"), gbVantoreal);
    cbStopOnErrors = new QCheckBox(QStringLiteral("Stop on errors"), gbVantoreal);
    lblVersion = new QLabel(QStringLiteral("Version"), gbVantoreal);
    lblFeedback = new LinkLabel(gbVantoreal);
    lblFeedback->setToolTip(QStringLiteral("Send feedback to author"));
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

    // Directly under the groups, at its design rectangle, whatever the window's size.
    StatusBar = statusBar();
    StatusBar->setAccessibleName(QStringLiteral("Status"));
    statusLabel_ = new ElidedLabel(StatusBar);
    StatusBar->addWidget(statusLabel_, 1);
    pbTransfer = new TransferProgressBar(StatusBar);
    lblEpoch = new EpochLabel(StatusBar);
    StatusBar->addPermanentWidget(pbTransfer);
    StatusBar->addPermanentWidget(lblEpoch);
    // Both show themselves when they have something to say.
    pbTransfer->hide();
    lblEpoch->hide();
    StatusBar->setSizeGripEnabled(false);
    StatusBar->setFixedHeight(scale.rect(0, 455, 680, 19).height());
    // What the status bar shows at its right ends where the groups above end, not at
    // the window's edge (no size grip keeps that margin here).
    StatusBar->setContentsMargins(0, 0, scale.x(680) - scale.x(296 + 377), 0);
}

QSize TfrmMain::designClientSize() const
{
    const QSize client = DesignScale(font()).size(kDesignClient.width(), kDesignClient.height());
    return client + QSize(0, menuHeight());
}

int TfrmMain::menuHeight() const
{
    const QMenuBar* menu = menuBar();
    return menu->isNativeMenuBar() ? 0 : menu->sizeHint().height();
}

// The stored size is the window's outer size, as the design's 688 by 528 is: it counts
// the frame and the menu bar, which the window manager and the window add around the
// client area. Qt sizes a window without its frame, so the allowance is taken off when
// the stored size is applied and put back when it is written.
QSize TfrmMain::frameAllowance() const
{
    return kDesignOuter - kDesignClient - QSize(0, menuHeight());
}

QSize TfrmMain::windowSizeFor(int storedWidth, int storedHeight) const
{
    // Never smaller than the design: the groups have fixed places.
    return (QSize(storedWidth, storedHeight) - frameAllowance()).expandedTo(designClientSize());
}

QSize TfrmMain::storedSize() const
{
    return size() + frameAllowance();
}

QSize TfrmMain::outerDesignSize() const
{
    return designClientSize() + frameAllowance();
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
    mOmmDataSets = new MenuChoice(config, QStringLiteral("OMM Data Sets"),
        {QStringLiteral("None"), QStringLiteral("XML"), QStringLiteral("CSV"), QStringLiteral("JSON")});
    mNotifications = config->addAction(QStringLiteral("Desktop Notifications"));
    mNotifications->setCheckable(true);
    mNotifications->setChecked(true);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    OnlineHelp = help->addAction(QStringLiteral("&Online Help"));
    About = help->addAction(QStringLiteral("&About"));
}

} // namespace qm
