#include "app/DesignScale.h"
#include "app/EpochLabel.h"
#include "app/MainProcessing.h"
#include "app/TfrmMain.h"
#include "app/TransferProgressBar.h"
#include "platform/Halt.h"
#include "platform/ShutdownSignals.h"
#include "service/CurrentData.h"

#include "ArchiveMaker.h"
#include "LoopbackServer.h"
#include "ScriptedPrompts.h"
#include "TempDir.h"
#include "TleSamples.h"
#include "WindowServices.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <tuple>

using namespace qm;
using qm::test::exists;
using qm::test::readFile;
using qm::test::writeFile;

namespace {

class MainWindowTest : public test::WindowTest { };

// The lines of an INI text that are not the exit-time keys.
std::vector<std::string> withoutExitKeys(const std::string& text)
{
    std::vector<std::string> kept;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        const std::string name = QString::fromStdString(line.substr(0, line.find('='))).trimmed().toStdString();
        bool exitKey = false;
        for (const char* key : {"Left Corner", "Top Corner", "Form Width", "Form Height", "Internet Timeout", "Catalog",
                 "SATCAT", "Check Vantoreal for Critical Updates"})
            exitKey = exitKey || (line.find('=') != std::string::npos && name == key);
        if (!exitKey)
            kept.push_back(line);
    }
    return kept;
}

} // namespace

TEST_F(MainWindowTest, FirstStartWithoutSettings)
{
    ::mkdir(dir.file("docs/My TLEs").c_str(), 0755);
    for (const char* name : {"catalog_2l_a.gz", "catalog_3l_b.txt", "ssr_1.zip"})
        writeFile(dir.file("docs/My TLEs/") + name, "x");

    auto form = start();
    EXPECT_EQ(form->MyTLEsDir, dir.file("docs/My TLEs/"));
    EXPECT_EQ(form->pos(), QPoint(10, 10));
    // 688 by 528 is the outer size; below the menu bar lies the design's client area.
    EXPECT_EQ(form->size(), QSize(680, form->menuBar()->sizeHint().height() + 474));
    EXPECT_TRUE(form->clbCurrentCatalog->checked(0));
    for (int i = 1; i < 12; ++i)
        EXPECT_FALSE(form->clbCurrentCatalog->checked(i));
    EXPECT_EQ(form->rgComplete->itemIndex(), 1);
    EXPECT_EQ(form->rgSSR->itemIndex(), 0);
    EXPECT_EQ(form->rgFormat->itemIndex(), 0);
    EXPECT_TRUE(form->TwoLineFormat);
    EXPECT_TRUE(form->cbStopOnErrors->isChecked());
    EXPECT_TRUE(form->CheckCriticalUpdates);
    EXPECT_FALSE(form->btnDownload->isEnabled());
    EXPECT_FALSE(form->Skarvelin->isEnabled());
    EXPECT_FALSE(form->btnProcess->isEnabled());
    EXPECT_EQ(form->statusText(), std::string(kNotCurrentMessage));
    EXPECT_EQ(form->http().TimeOut, 60000);
    EXPECT_EQ(form->http().LocalProgram, "Quillmaren v1.5.8");
    EXPECT_EQ(form->lblVersion->text(), QStringLiteral("Version 1.5.8 (2007 Oct 15)"));
    EXPECT_FALSE(form->SettingsChanged);
    EXPECT_FALSE(form->updateMode());
    EXPECT_FALSE(form->UpdateTimer.isActive());
    for (int header : {0, 4, 12, 24, 31, 36, 41})
        EXPECT_TRUE(form->clbVantorealDataSets->isHeader(header));
    EXPECT_FALSE(form->clbVantorealDataSets->isHeader(42));

    EXPECT_FALSE(exists(dir.file("quillmaren.log")));
    EXPECT_FALSE(exists(dir.file("docs/My TLEs/catalog_2l_a.gz")));
    EXPECT_FALSE(exists(dir.file("docs/My TLEs/catalog_3l_b.txt")));
    EXPECT_TRUE(exists(dir.file("docs/My TLEs/ssr_1.zip")));
    EXPECT_FALSE(exists(ini())) << "start-up reads only";

    // The grey "Download Data" says what it waits for, until both account fields hold text.
    const QString waiting = form->btnDownload->toolTip();
    EXPECT_FALSE(waiting.isEmpty());
    form->leUsername->setText(QStringLiteral("observer"));
    form->lePassword->setText(QStringLiteral("secret"));
    EXPECT_NE(form->btnDownload->toolTip(), waiting);

    form.reset(); // shutdown: exit-time keys only, no question
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(readFile(ini()),
        "[Initialization]\nLeft Corner=10\nTop Corner=10\nForm Width=688\nForm Height=528\n"
        "Internet Timeout=60\n[Most Current Data]\nCatalog=\nSATCAT=\n"
        "[Debugging]\nCheck Vantoreal for Critical Updates=1\n");
}

TEST_F(MainWindowTest, StoredValuesGoThroughTheirHandlers)
{
    writeFile(ini(),
        "[Initialization]\nLeft Corner=5000\nTop Corner=-40\nForm Width=700\nInternet Timeout=0x1E\n"
        "[Skarvelin Account Info]\nUsername=joe\nPassword=secret\nRetain Account Info=1\n"
        "[Vantoreal Defaults]\nAll=1\nOther Comm=1\nFile Extension=9\n"
        "[Skarvelin Defaults]\nData Format=7\nFull Catalog=0\nInmarsat=1\nSpace Situation Report=-5\n"
        "Initial Delay=500\nAuto Download Frequency=2\n"
        "[Most Current Data]\nCatalog=/d/catalog_3l_2007.txt\n");
    auto form = start();
    EXPECT_EQ(form->pos(), QPoint(1024 - 688, -40));
    EXPECT_EQ(form->width(), 692) << "the stored outer width less the frame";
    EXPECT_EQ(form->http().TimeOut, 30000);
    EXPECT_EQ(form->leUsername->text(), QStringLiteral("joe"));
    EXPECT_EQ(form->AccountPassword, "secret");
    EXPECT_TRUE(form->btnDownload->isEnabled());
    EXPECT_TRUE(form->Skarvelin->isEnabled());
    EXPECT_TRUE(form->cbRetain->isChecked());
    EXPECT_TRUE(form->clbVantorealDataSets->checked(42));
    EXPECT_TRUE(form->clbVantorealDataSets->checked(23));
    EXPECT_FALSE(form->clbVantorealDataSets->checked(40));
    EXPECT_EQ(form->rgFileExtensions->itemIndex(), 1);
    EXPECT_EQ(form->rgFormat->itemIndex(), 1);
    EXPECT_FALSE(form->TwoLineFormat);
    EXPECT_TRUE(form->btnProcess->isEnabled()) << "three-line catalogue at hand";
    EXPECT_EQ(form->statusText(), "Ready");
    EXPECT_FALSE(form->clbCurrentCatalog->checked(0));
    EXPECT_TRUE(form->clbCurrentCatalog->checked(8));
    EXPECT_EQ(form->rgSSR->itemIndex(), -1);
    EXPECT_EQ(form->seDelay->value(), 90);
    EXPECT_EQ(form->rgAutoDownload->itemIndex(), 2);
    EXPECT_FALSE(form->SettingsChanged);

    form.reset();
    EXPECT_NE(readFile(ini()).find("Form Width=700\n"), std::string::npos);
    EXPECT_NE(readFile(ini()).find("Internet Timeout=30\n"), std::string::npos);
    EXPECT_NE(readFile(ini()).find("Left Corner=336\n"), std::string::npos);

    // Seconds beyond what milliseconds can hold stay a long wait, not a negative one.
    writeFile(ini(), "[Initialization]\nInternet Timeout=2147483647\n");
    EXPECT_EQ(start()->http().TimeOut, INT32_MAX);
}

TEST_F(MainWindowTest, UntouchedRunRewritesOnlyTheExitKeys)
{
    const std::string before = "; kept as written\n[Initialization]\nLeft Corner=20\nTop Corner=30\n"
                               "Internet Timeout = 45\n\n[Skarvelin Defaults]\nData Format=1\nInitial Delay= \"7\"\n"
                               "[Debugging]\nStop On Errors=0\nCheck Vantoreal for Critical Updates=0x0\n"
                               "[Unknown]\nmine=1\n[Most Current Data]\nSATCAT=/d/ssr_1.zip\n";
    writeFile(ini(), before);
    auto form = start();
    form->show();
    form->close();
    form.reset();
    EXPECT_TRUE(prompts.shown.empty());
    const std::string after = readFile(ini());
    EXPECT_EQ(withoutExitKeys(after), withoutExitKeys(before));
    EXPECT_NE(after.find("Internet Timeout=45\n"), std::string::npos);
    EXPECT_NE(after.find("Check Vantoreal for Critical Updates=0\n"), std::string::npos);
    EXPECT_NE(after.find("SATCAT=/d/ssr_1.zip\nCatalog=\n"), std::string::npos);
}

TEST_F(MainWindowTest, AClickThatChangesNothingStillAsksAtClose)
{
    auto form = start();
    form->show();
    QListWidgetItem* item = form->clbVantorealDataSets->item(2);
    const QRect box = form->clbVantorealDataSets->visualItemRect(item);
    // On the caption, away from the check box: selects without toggling.
    QTest::mouseClick(form->clbVantorealDataSets->viewport(), Qt::LeftButton, {}, box.center() + QPoint(20, 0));
    EXPECT_FALSE(form->clbVantorealDataSets->checked(2));
    EXPECT_TRUE(form->SettingsChanged);

    prompts.answer(false);
    form->close();
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, "confirm");
    EXPECT_EQ(prompts.shown[0].text, "Your settings have changed. Save them?");
    form.reset();
    EXPECT_EQ(readFile(ini()).find("Vantoreal Defaults"), std::string::npos) << "No saves nothing";
}

TEST_F(MainWindowTest, SaveWithoutRetainKeepsEmptyAccountKeys)
{
    {
        auto form = start();
        form->leUsername->setText(QStringLiteral("joe"));
        form->lePassword->setText(QStringLiteral("pw"));
        EXPECT_TRUE(form->btnDownload->isEnabled());
        form->cbDebug->click();
        form->clbVantorealDataSets->setChecked(1, true);
        EXPECT_TRUE(form->SettingsChanged);
        prompts.answer(true);
        form->close();
    }
    const std::string text = readFile(ini());
    EXPECT_NE(text.find("[Skarvelin Account Info]\nUsername=\nPassword=\nRetain Account Info=0\n"), std::string::npos);
    EXPECT_NE(text.find("[Vantoreal Defaults]\nLast 30 Days=1\nInternational Space Station=0\n"), std::string::npos);
    EXPECT_NE(text.find("Debug On=1\n"), std::string::npos);

    auto again = start();
    EXPECT_TRUE(again->leUsername->text().isEmpty());
    EXPECT_FALSE(again->btnDownload->isEnabled());
    EXPECT_TRUE(again->clbVantorealDataSets->checked(1));
    EXPECT_TRUE(again->DebugOn());
}

TEST_F(MainWindowTest, DebugLogHeader)
{
    writeFile(ini(), "[Debugging]\nDebug On=2\nGZIP Files=1\n[Initialization]\nUse Proxy=1\n");
    auto form = start();
    EXPECT_TRUE(form->DebugOn());
    EXPECT_TRUE(form->cbDebug->isChecked());
    form->reporter().updateStatusBar("Done");
    form.reset();

    const std::string log = readFile(dir.file("quillmaren.log"));
    const std::vector<std::string> expected = {"Version 1.5.8 (2007 Oct 15)", "Test OS 1, , Version 6.1, Build #1",
        "Hardware Unknown", "Screen width = 1024", "Screen height = 768", "Done"};
    std::size_t pos = 0;
    for (const auto& message : expected) {
        ASSERT_LT(pos + 26, log.size());
        const std::string stamp = log.substr(pos, 26);
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] $"))
                        .match(QString::fromLatin1(stamp))
                        .hasMatch())
            << stamp;
        EXPECT_EQ(log.substr(pos + 26, message.size() + 2), message + "\r\n");
        pos += 26 + message.size() + 2;
    }
    EXPECT_EQ(pos, log.size()) << "start-up logs nothing else before the settings are read";

    const std::string text = readFile(ini());
    EXPECT_EQ(text.find("GZIP Files"), std::string::npos);
    EXPECT_EQ(text.find("Use Proxy"), std::string::npos);
}

TEST_F(MainWindowTest, UpdateModeOnlyForTheExactFirstArgument)
{
    writeFile(ini(), "[Skarvelin Defaults]\nInitial Delay=10\nAuto Download Frequency=0\n");
    for (auto args : {std::vector<std::string>{"x", "-update"}, std::vector<std::string>{"-Update"}}) {
        auto form = start(args);
        EXPECT_FALSE(form->updateMode());
        EXPECT_EQ(form->seDelay->value(), 10);
    }
    auto form = start({"-update", "ignored"});
    EXPECT_TRUE(form->updateMode());
    EXPECT_TRUE(form->UpdateTimer.isActive());
    EXPECT_EQ(form->seDelay->value(), 5) << "automatic-download keys are not loaded";
    EXPECT_EQ(form->rgAutoDownload->itemIndex(), 1);
    EXPECT_TRUE(form->SettingsChanged) << "update mode does not clear the load's changes";
    form.reset();
    EXPECT_NE(readFile(ini()).find("Initial Delay=10\n"), std::string::npos);
}

TEST_F(MainWindowTest, StopDuringStartUpWritesNoSettings)
{
    writeFile(dir.file("docs/My TLEs"), "a file where the folder should be");
    auto form = makeForm();
    try {
        form->FormCreate();
        FAIL() << "no stop";
    } catch (const FatalStop& stop) {
        EXPECT_EQ(stop.message, "Unable to create directory: " + dir.file("docs/My TLEs/"));
    }
    form.reset();
    EXPECT_FALSE(exists(ini()));
}

TEST_F(MainWindowTest, HandlerGuardReportsErrorsAndHalts)
{
    writeFile(ini(), "[Debugging]\nDebug On=1\n");
    auto form = start();
    form->guarded([] { throw IoError("Unable to write to /x"); });
    EXPECT_FALSE(haltRequested());
    form->guarded([] { throw FatalStop{"Unable to create directory: /y/"}; });
    EXPECT_TRUE(haltRequested());
    form->guarded([] { throw FatalStop{"already shown", true}; });
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[0].text, "Unable to write to /x");
    EXPECT_EQ(prompts.shown[1].text, "Unable to create directory: /y/");
    form.reset();
    const std::string log = readFile(dir.file("quillmaren.log"));
    EXPECT_NE(log.find("] PROGRAM HALTED\r\n"), std::string::npos);
    EXPECT_TRUE(exists(ini())) << "a halt after start-up still writes the exit-time keys";
}

TEST_F(MainWindowTest, FailedExitWriteIsReported)
{
    // A configuration folder that cannot be made: a file stands where it should be.
    writeFile(dir.file("blocked"), "");
    ::setenv("XDG_CONFIG_HOME", dir.file("blocked/config").c_str(), 1);
    auto form = start();
    form.reset();
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "Unable to write to " + dir.file("blocked/config/quillmaren/quillmaren.ini"));
}

TEST_F(MainWindowTest, APortableCopyKeepsItsSettingsBesideTheProgram)
{
    const std::string portable = dir.file("bin/quillmaren.ini");
    writeFile(portable, "[Skarvelin Account Info]\nUsername=joe\n");
    auto form = start();
    EXPECT_EQ(form->leUsername->text(), QStringLiteral("joe"));
    form.reset();
    EXPECT_NE(readFile(portable).find("Left Corner=10\n"), std::string::npos);
    EXPECT_FALSE(exists(ini()));
}

TEST_F(MainWindowTest, TerminationSignalEndsWithoutPromptButWritesExitKeys)
{
    auto form = start();
    form->SettingsChanged = true;
    TfrmMain* raw = form.get();
    bool ended = false;
    ShutdownSignals signals([raw, &ended](int) {
        raw->endAtOnce();
        ended = true;
    });
    std::raise(SIGTERM);
    QElapsedTimer timer;
    timer.start();
    while (!ended && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_TRUE(ended);
    EXPECT_FALSE(exists(ini()));
    // The entry destroys the window once the event loop has ended.
    form.reset();
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_NE(readFile(ini()).find("Left Corner=10\n"), std::string::npos);
}

TEST_F(MainWindowTest, HttpFailureWarnsLogsAndRaisesTheFlag)
{
    writeFile(ini(), "[Debugging]\nDebug On=1\n");
    auto form = start();
    form->http().Body = "body.txt";
    ASSERT_TRUE(form->http().OnFailure);
    form->http().OnFailure("HEAD");
    EXPECT_TRUE(form->HttpFailure);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, "warning");
    EXPECT_EQ(prompts.shown[0].text, "GET command \"body.txt\" failed.");
    form.reset();
    EXPECT_NE(readFile(dir.file("quillmaren.log")).find("] GET command \"body.txt\" failed.\r\n"), std::string::npos);
}

TEST_F(MainWindowTest, ActivationShowsTheProxyFormUntilItIsAccepted)
{
    struct Proxy : ProxyDialog {
        bool missing = true;
        std::vector<bool> answers{false, false, true};
        int shown = 0;
        bool credentialsMissing() const override { return missing; }
        bool showModal() override { return answers.at(static_cast<std::size_t>(shown++)); }
    } proxy;
    auto form = start();
    form->setProxyDialog(&proxy);
    form->FormActivate();
    EXPECT_EQ(proxy.shown, 3) << "shown again while it closes with No";
    proxy.missing = false;
    form->FormActivate();
    EXPECT_EQ(proxy.shown, 3);
}

TEST_F(MainWindowTest, NoProxyFormBlocksAnUnattendedRun)
{
    struct Proxy : ProxyDialog {
        int shown = 0;
        bool credentialsMissing() const override { return true; }
        bool showModal() override { return ++shown > 0; }
    } proxy;
    writeFile(ini(), "[Debugging]\nDebug On=1\n");
    {
        auto form = start({"-update"});
        form->setProxyDialog(&proxy);
        form->FormActivate();
    }
    {
        MainServices headless = services();
        headless.headless = true;
        TfrmMain form(headless);
        form.FormCreate();
        form.setProxyDialog(&proxy);
        form.FormActivate();
        form.mProxyClick();
    }
    EXPECT_EQ(proxy.shown, 0);
    const std::string log = readFile(dir.file("quillmaren.log"));
    EXPECT_NE(log.find("] Proxy username and password required but not set.\r\n"), std::string::npos);
}

TEST_F(MainWindowTest, LongStatusTextIsCutAndShownWholeAsToolTip)
{
    auto form = start();
    form->show();
    const std::string text = "Checking TLE data " + std::string(200, 'x');
    form->UpdateStatusBar(text);
    EXPECT_EQ(form->statusText(), text);
    const auto* line = form->StatusBar->findChild<QLabel*>();
    ASSERT_NE(line, nullptr);
    EXPECT_TRUE(line->text().endsWith(QChar(0x2026))) << line->text().toStdString();
    EXPECT_LE(line->fontMetrics().horizontalAdvance(line->text()), line->width());
    EXPECT_EQ(line->toolTip(), QString::fromStdString(text));
    EXPECT_EQ(form->width(), 680) << "a long text never widens the window";

    form->UpdateStatusBar("Done");
    EXPECT_EQ(line->text(), QStringLiteral("Done"));
    EXPECT_TRUE(line->toolTip().isEmpty());
}

TEST_F(MainWindowTest, ClicksThatCountAsChanges)
{
    auto form = start();
    form->show();
    QTest::mouseClick(form->seDelay->findChild<QLineEdit*>(), Qt::LeftButton);
    EXPECT_TRUE(form->SettingsChanged);
    EXPECT_EQ(form->seDelay->value(), 5);

    form->SettingsChanged = false;
    form->rgSSR->button(0)->click(); // already selected
    EXPECT_TRUE(form->SettingsChanged);

    form->SettingsChanged = false;
    form->rgFormat->button(1)->click();
    EXPECT_FALSE(form->TwoLineFormat);
    EXPECT_TRUE(form->SettingsChanged);
}

TEST_F(MainWindowTest, OmmDataSetsAndNotificationsMenusAreLoadedSavedAndHandedToTheRun)
{
    // Stored value, the item it selects; a value the menu does not know selects "None".
    const std::pair<const char*, int> stored[] = {{"", 0}, {"OMM Format=2\n", 2}, {"OMM Format=3\n", 3},
        {"OMM Format=4\n", 0}, {"OMM Format=-1\n", 0}, {"OMM Format=xml\n", 0}};
    for (const auto& [line, item] : stored) {
        writeFile(ini(), std::string("[Vantoreal Defaults]\nGenerate Palm Format=0\n") + line);
        auto form = start();
        EXPECT_EQ(form->mOmmDataSets->itemIndex(), item) << line;
        EXPECT_EQ(form->processing().ommItem(), item) << line;
        EXPECT_FALSE(form->SettingsChanged);
    }

    auto form = start();
    QMenu* config = nullptr;
    for (QAction* menu : form->menuBar()->actions())
        if (menu->text() == QStringLiteral("&Configuration"))
            config = menu->menu();
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->actions(),
        (QList<QAction*>{form->mProxy, form->mOmmDataSets->menu()->menuAction(), form->mNotifications}));
    EXPECT_TRUE(form->mNotifications->isChecked()) << "ticked by default";
    EXPECT_EQ(form->mOmmDataSets->menu()->title(), QStringLiteral("OMM Data Sets"));
    QStringList captions;
    for (QAction* action : form->mOmmDataSets->menu()->actions())
        captions << action->text();
    EXPECT_EQ(captions,
        (QStringList{QStringLiteral("None"), QStringLiteral("XML"), QStringLiteral("CSV"), QStringLiteral("JSON")}));

    form->mOmmDataSets->item(3)->trigger();
    form->mOmmDataSets->item(1)->trigger();
    form->mNotifications->trigger();
    EXPECT_EQ(form->mOmmDataSets->itemIndex(), 1);
    EXPECT_FALSE(form->mOmmDataSets->item(3)->isChecked()) << "one item at a time";
    EXPECT_TRUE(form->SettingsChanged);
    form->SaveSettingsClick();
    EXPECT_NE(readFile(ini()).find("Generate Palm Format=0\nOMM Format=1\n"), std::string::npos) << readFile(ini());
    EXPECT_NE(readFile(ini()).find("\nNotifications=0\n"), std::string::npos);
    EXPECT_FALSE(start()->mNotifications->isChecked());
}

// The window at common desktop font sizes: 9 point is the design's font.
class WindowAtFontSize : public MainWindowTest, public ::testing::WithParamInterface<int> {
protected:
    WindowAtFontSize()
        : desktopFont_(QApplication::font())
    {
        QFont font = desktopFont_;
        font.setPointSize(GetParam());
        QApplication::setFont(font);
    }
    ~WindowAtFontSize() override { QApplication::setFont(desktopFont_); }

private:
    QFont desktopFont_;
};

INSTANTIATE_TEST_SUITE_P(Points, WindowAtFontSize, ::testing::Values(9, 10, 11, 13));

TEST_P(WindowAtFontSize, EveryCaptionFitsAndNoControlsOverlap)
{
    auto form = start();
    form->show();
    QApplication::processEvents();
    const int menu = form->menuBar()->height();
    if (GetParam() == 9) {
        ASSERT_EQ(form->size(), QSize(680, menu + 474)) << "the design's pixels";
        EXPECT_EQ(form->StatusBar->geometry(), QRect(0, menu + 455, 680, 19));
    }

    // The status line sits directly under the groups and ends the window.
    int groupsBottom = 0;
    for (QGroupBox* group : {form->gbSkarvelin, form->gbUserInfo, form->gbProcessing, form->gbVantoreal})
        groupsBottom = std::max(groupsBottom, group->mapTo(form.get(), QPoint(0, group->height())).y());
    EXPECT_GE(form->StatusBar->y(), groupsBottom);
    EXPECT_LE(form->StatusBar->y(), groupsBottom + 10);
    EXPECT_EQ(form->StatusBar->geometry().bottom(), form->height() - 1);

    // No two controls that share a parent overlap.
    QWidget* client = form->centralWidget();
    std::vector<QWidget*> parents{client};
    for (auto* box : form->findChildren<QGroupBox*>())
        parents.push_back(box);
    for (QWidget* parent : parents) {
        std::vector<QWidget*> controls;
        for (auto* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (child->isVisibleTo(form.get()))
                controls.push_back(child);
        for (std::size_t i = 0; i < controls.size(); ++i)
            for (std::size_t j = i + 1; j < controls.size(); ++j)
                EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                    << controls[i]->metaObject()->className() << " " << controls[j]->metaObject()->className() << " in "
                    << parent->metaObject()->className();
    }

    // Inside the window and inside its own parent, so no frame cuts it off.
    auto visible = [&form](QWidget* w) {
        const QRect inParent = w->geometry();
        const QRect inWindow(w->mapTo(form.get(), QPoint(0, 0)), w->size());
        return w->parentWidget()->rect().contains(inParent) && form->rect().contains(inWindow);
    };
    for (auto* box : form->findChildren<QGroupBox*>()) {
        EXPECT_GE(box->width(), box->fontMetrics().horizontalAdvance(box->title())) << box->title().toStdString();
        EXPECT_TRUE(visible(box)) << box->title().toStdString();
    }
    for (auto* button : form->findChildren<QAbstractButton*>()) {
        if (button->text().isEmpty() || !button->isVisibleTo(form.get()))
            continue;
        QStyleOptionButton option;
        option.initFrom(button);
        const auto element = qobject_cast<QRadioButton*>(button) ? QStyle::SE_RadioButtonContents
            : qobject_cast<QCheckBox*>(button)                   ? QStyle::SE_CheckBoxContents
                                                                 : QStyle::SE_PushButtonContents;
        const QRect label = button->style()->subElementRect(element, &option, button);
        EXPECT_GE(label.width(), button->fontMetrics().horizontalAdvance(button->text()))
            << button->text().toStdString();
        EXPECT_TRUE(visible(button)) << button->text().toStdString();
    }
    for (auto* label : form->findChildren<QLabel*>()) {
        if (label->text().isEmpty() || label->parentWidget() == form->StatusBar)
            continue;
        EXPECT_GE(label->width(), label->minimumSizeHint().width()) << label->text().toStdString();
        EXPECT_TRUE(visible(label)) << label->text().toStdString();
    }
    for (CheckListBox* list : {form->clbCurrentCatalog, form->clbVantorealDataSets}) {
        const QRect view = list->viewport()->rect();
        for (int i = 0; i < list->count(); ++i) {
            QListWidgetItem* item = list->item(i);
            const QRect rect = list->visualItemRect(item);
            QStyleOptionViewItem option;
            option.initFrom(list);
            option.features |= QStyleOptionViewItem::HasDisplay;
            if (!list->isHeader(i))
                option.features |= QStyleOptionViewItem::HasCheckIndicator;
            option.text = item->text();
            option.rect = rect;
            const QRect text = list->style()->subElementRect(QStyle::SE_ItemViewItemText, &option, list);
            EXPECT_GE(text.width(), list->fontMetrics().horizontalAdvance(item->text())) << item->text().toStdString();
            EXPECT_TRUE(view.contains(rect)) << item->text().toStdString();
        }
    }
}

TEST_P(WindowAtFontSize, ButtonsKeepTheDesignGapAndTheTransferDisplayStandsStill)
{
    auto form = start();
    form->show();
    QApplication::processEvents();
    EXPECT_GE(form->btnProcess->x() - form->btnDownload->geometry().right() - 1, DesignScale(form->font()).x(7));

    // The bar keeps its place whatever the text beside it says, and the status bar's
    // right end stays under the groups' right edge, clear of the window's.
    form->lblEpoch->setText(QStringLiteral("Epoch 2026-12-06, 1.2 days old"));
    form->lblEpoch->show();
    auto inWindow = [&form](const QWidget* w) { return QRect(w->mapTo(form.get(), QPoint(0, 0)), w->size()); };
    const int groupsRight = inWindow(form->gbVantoreal).right();
    std::vector<QRect> bars;
    for (const auto& [received, total] : {std::pair<std::int64_t, std::int64_t>{1, 2}, {1048471142, 1073741824}}) {
        form->pbTransfer->progress(received, total);
        QApplication::processEvents();
        bars.push_back(inWindow(form->pbTransfer->bar()));
        for (const QWidget* w : {static_cast<QWidget*>(form->pbTransfer), static_cast<QWidget*>(form->lblEpoch)})
            EXPECT_LE(inWindow(w).right(), groupsRight);
    }
    EXPECT_EQ(bars.front(), bars.back()) << form->pbTransfer->text().toStdString();
    const QLabel* text = form->pbTransfer->findChild<QLabel*>();
    EXPECT_GE(
        text->width(), text->fontMetrics().horizontalAdvance(QStringLiteral("999.9 MiB of 999.9 MiB, 999.9 MiB/s")));
}

TEST_F(MainWindowTest, KeyboardFocusStopsOnlyWhereItShows)
{
    auto form = start();
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));

    // One Tab from "Stop on errors", or one Backtab from the first control, reaches the
    // feedback link itself, and Enter opens it.
    for (const auto& [from, key] : {std::pair<QWidget*, Qt::Key>{form->cbStopOnErrors, Qt::Key_Tab},
             {form->rgFormat->button(0), Qt::Key_Backtab}}) {
        from->setFocus(Qt::TabFocusReason);
        QTest::keyClick(from, key);
        EXPECT_EQ(QApplication::focusWidget(), form->lblFeedback);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }
    EXPECT_EQ(launcher.opened, std::vector<std::string>(2, feedbackMailTarget().toStdString()));

    // Tab lands on a group's selected button (one the settings chose too); arrows move it.
    form->seDelay->setEnabled(true);
    form->rgAutoDownload->setEnabled(true);
    for (RadioGroup* group : {form->rgFormat, form->rgComplete, form->rgAutoDownload})
        group->setItemIndex(group->count() - 1);
    const std::tuple<QWidget*, Qt::Key, RadioGroup*> entries[] = {
        {form->clbCurrentCatalog, Qt::Key_Backtab, form->rgFormat},
        {form->clbCurrentCatalog, Qt::Key_Tab, form->rgComplete}, {form->seDelay, Qt::Key_Tab, form->rgAutoDownload}};
    for (const auto& [from, key, group] : entries) {
        const int last = group->count() - 1;
        from->setFocus(Qt::TabFocusReason);
        QTest::keyClick(from, key);
        EXPECT_EQ(QApplication::focusWidget(), group->button(last)) << group->title().toStdString();
        QTest::keyClick(group->button(last), Qt::Key_Left);
        EXPECT_EQ(group->itemIndex(), last - 1);
        EXPECT_EQ(QApplication::focusWidget(), group->button(last - 1));
    }

    // A run disables the button that has the focus: the focus moves on to the data
    // sets, onto one that can be ticked rather than a header.
    form->btnProcess->setEnabled(true);
    form->btnProcess->setFocus(Qt::MouseFocusReason);
    form->btnProcess->setEnabled(false);
    EXPECT_EQ(QApplication::focusWidget(), form->clbVantorealDataSets);
    EXPECT_FALSE(form->clbVantorealDataSets->isHeader(form->clbVantorealDataSets->currentRow()));
}

TEST_F(MainWindowTest, DownloadDataFetchesWhatTheFormSelectsAndGivesTheButtonBack)
{
    using Reply = test::LoopbackServer::Reply;
    test::LoopbackServer service;
    ::setenv("QUILLMAREN_SERVICE_HOST", service.hostPort().c_str(), 1);
    service.setHandler([](const std::string& request) {
        const std::string target = test::LoopbackServer::requestTarget(request);
        if (target == "/perl/login.pl")
            return Reply::ok("<a href=\"home.pl\">");
        const std::string name = target.ends_with("=10") ? "iridium_3l_2007.txt" : "ssr_2007.txt";
        return Reply::text("HTTP/1.0 200 OK\r\nContent-Disposition: attachment; filename=" + name + "\r\n\r\n"
            + (request.starts_with("GET") ? "x" : ""));
    });
    auto form = start();
    form->CheckCriticalUpdates = false;
    form->leUsername->setText(QStringLiteral("ann"));
    form->lePassword->setText(QStringLiteral("pw"));
    form->rgFormat->setItemIndex(1);
    form->clbCurrentCatalog->setChecked(0, false);
    form->clbCurrentCatalog->setChecked(4, true);

    QTest::mouseClick(form->btnDownload, Qt::LeftButton);

    std::vector<std::string> targets;
    for (const auto& request : service.requests())
        targets.push_back(test::LoopbackServer::requestTarget(request));
    EXPECT_EQ(targets,
        (std::vector<std::string>{
            "/perl/login.pl", "/perl/dl.pl?ID=10", "/perl/dl.pl?ID=10", "/perl/dl.pl?ID=25", "/perl/dl.pl?ID=25"}));
    EXPECT_EQ(form->MostCurrentSatcat, dir.file("docs/My TLEs/2007/ssr/ssr_2007.txt"));
    EXPECT_TRUE(form->NewDataDownloaded);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(form->btnDownload->isEnabled());
    EXPECT_EQ(form->statusText(), "Done");
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(MainWindowTest, ARequiredUpdateOpensHelpAndEndsWithStatusZero)
{
    using Reply = test::LoopbackServer::Reply;
    test::LoopbackServer publisher;
    ::setenv("QUILLMAREN_PUBLISHER_HOST", publisher.hostPort().c_str(), 1);
    publisher.enqueue(Reply::ok("1.6.0"));
    writeFile(ini(), "[Debugging]\nDebug On=1\n");
    auto form = start();
    form->leUsername->setText(QStringLiteral("ann"));
    form->lePassword->setText(QStringLiteral("pw"));

    QTest::mouseClick(form->btnDownload, Qt::LeftButton);

    EXPECT_TRUE(haltRequested());
    EXPECT_EQ(haltExitStatus(), 0);
    ASSERT_EQ(prompts.shown.size(), 1u) << "the check's own box only";
    EXPECT_EQ(
        launcher.opened, std::vector<std::string>{"http://" + publisher.hostPort() + "/Skarvelin/QuillmarenHelp.asp"});
    EXPECT_EQ(publisher.requests().size(), 1u);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    form.reset();
    const std::string log = readFile(dir.file("quillmaren.log"));
    EXPECT_NE(log.find("] Critical update required! Version 1.6.0 or later is required.\r\n"), std::string::npos);
    EXPECT_EQ(log.find("PROGRAM HALTED"), std::string::npos);
}

TEST_F(MainWindowTest, ProcessingErrorIsReportedAndLeavesTheWindowUsable)
{
    writeFile(ini(),
        "[Most Current Data]\nCatalog=" + dir.file("gone/catalog_3l_2024_001.zip")
            + "\n[Skarvelin Defaults]\nData Format=1\n");
    auto form = start();
    ASSERT_TRUE(form->btnProcess->isEnabled());

    bool checked = false;
    form->processing().criticalUpdateCheck = [&checked] { return checked = true; };
    form->btnProcess->click();

    EXPECT_TRUE(checked);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, "error");
    EXPECT_EQ(prompts.shown[0].text, "No catalogue to process: the full catalogue has not been downloaded");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(form->btnProcess->isEnabled());
    EXPECT_FALSE(haltRequested());
}

TEST_F(MainWindowTest, AFileTransferShowsItsProgressBesideTheStatusTextAndNothingInTheLog)
{
    using Reply = test::LoopbackServer::Reply;
    test::LoopbackServer service;
    ::setenv("QUILLMAREN_SERVICE_HOST", service.hostPort().c_str(), 1);
    service.setHandler([](const std::string& request) {
        const std::string target = test::LoopbackServer::requestTarget(request);
        if (target == "/perl/login.pl")
            return Reply::ok("<a href=\"home.pl\">");
        const bool catalogue = target.ends_with("=1");
        std::string head = "HTTP/1.0 200 OK\r\nContent-Disposition: attachment; filename="
            + std::string(catalogue ? "catalog_2l_2007_x.txt" : "ssr_2007.txt") + "\r\n";
        // The report comes without a length: a busy bar.
        if (catalogue)
            head += "Content-Length: 4096\r\n";
        if (request.starts_with("HEAD"))
            return Reply::text(head + "\r\n");
        return Reply().send(head + "\r\n").fill(2048).pause(400).fill(2048);
    });
    writeFile(ini(), "[Debugging]\nDebug On=1\n");
    auto form = start();
    form->show();
    form->CheckCriticalUpdates = false;
    form->leUsername->setText(QStringLiteral("ann"));
    form->lePassword->setText(QStringLiteral("pw"));
    EXPECT_FALSE(form->pbTransfer->isVisible());

    // What the status bar shows while a transfer runs, by the status text beside it.
    struct Seen {
        int maximum = -1;
        QString text;
    };
    std::map<std::string, Seen> seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        if (form->pbTransfer->isVisible())
            seen[form->statusText()] = {form->pbTransfer->bar()->maximum(), form->pbTransfer->text()};
    });
    poll.start(20);
    QTest::mouseClick(form->btnDownload, Qt::LeftButton);
    poll.stop();

    ASSERT_EQ(seen.size(), 2u) << "only while a file arrives, and the status text stays the run's own";
    EXPECT_EQ(seen["Downloading catalog_2l_2007_x.txt"].maximum, 1000);
    EXPECT_TRUE(seen["Downloading catalog_2l_2007_x.txt"].text.contains(QStringLiteral(" of 4.0 KiB")))
        << seen["Downloading catalog_2l_2007_x.txt"].text.toStdString();
    EXPECT_EQ(seen["Downloading ssr_2007.txt"].maximum, 0) << "busy without a length";
    EXPECT_FALSE(form->pbTransfer->isVisible());
    EXPECT_EQ(form->statusText(), "Done");
    EXPECT_EQ(File(dir.file("docs/My TLEs/2007/ssr/ssr_2007.txt"), File::Mode::Read).size(), 4096u);

    // Each transfer is followed directly by the run's next line.
    form.reset();
    const std::string log = readFile(dir.file("quillmaren.log"));
    auto lineAfter = [&log](const std::string& message) {
        const auto at = log.find("] " + message + "\r\n");
        if (at == std::string::npos)
            return std::string("(missing)");
        const auto next = log.find("] ", at + message.size() + 4);
        return log.substr(next + 2, log.find("\r\n", next) - next - 2);
    };
    EXPECT_EQ(lineAfter("Downloading catalog_2l_2007_x.txt"), "Checking ssr_2007.txt");
    EXPECT_EQ(lineAfter("Downloading ssr_2007.txt"), "Close [fnd]");
}

TEST_F(MainWindowTest, AProcessingRunShowsTheNewestEpochAndUpdateModePrintsIt)
{
    using test::kIssLine1;
    using test::kIssLine2;
    std::string catalogue;
    for (const char* epoch : {"24100.50000000", "24366.50000000", "24001.00000000"})
        catalogue += "OBJECT\n" + test::withChecksum(test::put(kIssLine1, 19, epoch)) + "\n" + kIssLine2 + "\n";
    const std::string archive = dir.file("catalog_3l_2024_366.txt.gz");
    test::makeGzip(archive, catalogue);
    writeFile(ini(), "[Most Current Data]\nCatalog=" + archive + "\n[Skarvelin Defaults]\nData Format=1\n");

    using namespace std::chrono;
    const auto now = sys_days{2025y / January / 2};
    const std::string line = "Epoch 2024-12-31, 1.5 days old";
    for (const bool update : {false, true}) {
        auto form = update ? start({"-update"}) : start();
        std::vector<std::string> printed;
        form->processing().criticalUpdateCheck = [] { return true; };
        form->processing().printLine = [&printed](const std::string& text) { printed.push_back(text); };
        form->lblEpoch->clock = [now] { return system_clock::time_point(now); };
        EXPECT_TRUE(form->lblEpoch->isHidden()) << "nothing to say before a run";

        form->guarded([&form] { form->btnProcessClick(); });

        EXPECT_TRUE(prompts.shown.empty());
        EXPECT_FALSE(form->lblEpoch->isHidden());
        EXPECT_EQ(form->lblEpoch->line(), line);
        EXPECT_EQ(printed, update ? std::vector<std::string>{line} : std::vector<std::string>{});

        form->lblEpoch->clock = [now] { return system_clock::time_point(now + days{2}); };
        form->lblEpoch->refresh();
        EXPECT_EQ(form->lblEpoch->line(), "Epoch 2024-12-31, 3.5 days old") << "the age goes on";
    }
}
