// "Auto Download" on the real main window: the tray it hides in, and a scheduled run
// against the local catalogue service.
#include "app/TfrmMain.h"
#include "desktop/DBusNotifications.h"

#include "LocalService.h"
#include "LoopbackServer.h"
#include "NotificationDesktop.h"
#include "WindowServices.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace qm;
using qm::test::exists;
using qm::test::readFile;
using qm::test::writeFile;

namespace {

class ScheduledRunTest : public test::WindowTest {
protected:
    // A desktop with a notification area.
    std::unique_ptr<TfrmMain> startWithTray(NotificationService* notifications = nullptr)
    {
        MainServices s = services();
        s.tray = &shownTray;
        s.notifications = notifications;
        auto form = std::make_unique<TfrmMain>(s);
        form->FormCreate();
        return form;
    }
    void minimize(TfrmMain& form)
    {
        form.showMinimized();
        QCoreApplication::processEvents();
    }

    PlainTrayIcon shownTray{true};
};

TEST_F(ScheduledRunTest, TickingSendsTheWindowToTheTrayAndUntickingBringsTheCloseBoxBack)
{
    auto form = startWithTray();
    form->show();
    prompts.answer(false);
    form->cbAutoDownload->click();
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "Create shortcut in Startup folder?");
    EXPECT_TRUE(form->RunTimer.isActive());
    EXPECT_EQ(form->RunTimer.interval(), 5 * 60000);
    EXPECT_FALSE(form->btnDownload->isEnabled());
    EXPECT_TRUE(form->seDelay->isEnabled());
    EXPECT_TRUE(form->rgAutoDownload->isEnabled());
    EXPECT_TRUE(shownTray.hint().starts_with("Next TLE update attempt: ")) << shownTray.hint();
    EXPECT_EQ(form->statusText(), shownTray.hint());
    EXPECT_TRUE(form->SettingsChanged);

    minimize(*form);
    EXPECT_FALSE(form->isVisible()) << "hidden in the tray";
    shownTray.onRestore();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isMinimized());
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(prompts.shown.size(), 1u) << "the close box only hides";
    shownTray.onRestore();

    form->cbAutoDownload->click();
    EXPECT_FALSE(form->RunTimer.isActive());
    EXPECT_FALSE(form->seDelay->isEnabled());
    EXPECT_EQ(shownTray.hint(), "Skarvelin Quillmaren");
    minimize(*form);
    EXPECT_TRUE(form->isVisible()) << "minimised as usual";
    form->showNormal();

    // "Exit" closes even while the close box would hide.
    prompts.answer(false);
    form->cbAutoDownload->click();
    prompts.answer(false);
    form->mExit->trigger();
    ASSERT_EQ(prompts.shown.size(), 3u);
    EXPECT_EQ(prompts.shown[2].text, "Your settings have changed. Save them?");
    EXPECT_FALSE(form->isVisible());
}

TEST_F(ScheduledRunTest, TheProgramHidesTheWindowInTheTrayWithoutMinimisingItFirst)
{
    // A window minimised on its way into the tray carries that state into hiding; the
    // window manager applies it when a click maps the window again, and the minimise
    // rule hides it once more, so the first click seemed to do nothing.
    writeFile(ini(), "[Skarvelin Defaults]\nAuto Download=1\n");
    for (const bool withTray : {true, false}) {
        prompts.answer(false); // no start-up entry
        auto form = withTray ? startWithTray() : start();
        form->show();
        form->TrayTimerTimer();
        QCoreApplication::processEvents();
        EXPECT_EQ(form->isVisible(), !withTray) << "tray " << withTray;
        EXPECT_EQ(form->isMinimized(), !withTray) << "tray " << withTray;
        if (withTray) {
            shownTray.onRestore();
            QCoreApplication::processEvents();
            EXPECT_TRUE(form->isVisible() && !form->isMinimized());
        }
    }
}

TEST_F(ScheduledRunTest, WithoutANotificationAreaTheWindowMinimisesAndClosesAsUsual)
{
    auto form = start();
    form->show();
    prompts.answer(false);
    form->cbAutoDownload->click();
    minimize(*form);
    EXPECT_TRUE(form->isVisible());
    form->showNormal();
    prompts.answer(false);
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(prompts.shown.back().text, "Your settings have changed. Save them?");
}

TEST_F(ScheduledRunTest, ScheduledRunDownloadsAndProcessesAndGoesBackToTheTray)
{
    const auto service = test::LocalService::fixture("local_service");
    service.exportHosts();
    writeFile(ini(),
        "[Skarvelin Account Info]\nUsername=observer\nPassword=quillmaren\n"
        "[Skarvelin Defaults]\nAuto Download=1\nFull Catalog=0\nSpace Situation Report=1\n"
        "Auto Download Frequency=2\n[Vantoreal Defaults]\nInternational Space Station=1\n");
    prompts.answer(false); // no start-up entry
    auto form = startWithTray();
    form->show();
    EXPECT_TRUE(form->TrayTimer.isActive());
    form->TrayTimerTimer();
    QCoreApplication::processEvents();
    EXPECT_FALSE(form->isVisible());

    form->RunTimerTimer();
    QCoreApplication::processEvents();

    EXPECT_EQ(prompts.shown.size(), 1u) << prompts.shown.back().text;
    const std::string tles = dir.file("docs/My TLEs/");
    EXPECT_TRUE(form->clbCurrentCatalog->checked(0));
    EXPECT_EQ(form->rgSSR->itemIndex(), 0);
    EXPECT_TRUE(form->SettingsChanged);
    EXPECT_EQ(form->MostCurrentCatalog, tles + "2024/catalog/" + service.productName(1));
    EXPECT_EQ(form->MostCurrentSatcat, tles + "2024/ssr/" + service.productName(25));
    EXPECT_EQ(readFile(form->MostCurrentCatalog), readFile(service.productPath(1)));
    EXPECT_EQ(readFile("newdata.log"), form->MostCurrentCatalog + "\r\n" + form->MostCurrentSatcat + "\r\n");
    // Processed: the ticked data set holds element sets.
    ASSERT_TRUE(exists(tles + "Vantoreal/stations.txt"));
    EXPECT_EQ(readFile(tles + "Vantoreal/stations.txt").substr(24, 4), "\r\n1 ");
    EXPECT_FALSE(form->NewDataDownloaded);

    EXPECT_TRUE(form->isEnabled());
    EXPECT_FALSE(form->btnDownload->isEnabled());
    EXPECT_FALSE(form->btnProcess->isEnabled());
    EXPECT_TRUE(form->RunTimer.isActive());
    EXPECT_EQ(form->RunTimer.interval(), 6 * 3600 * 1000);
    EXPECT_TRUE(shownTray.hint().starts_with("Next TLE update attempt: ")) << shownTray.hint();
    EXPECT_EQ(form->statusText(), shownTray.hint());
    EXPECT_FALSE(form->isVisible()) << "back in the tray";
}

TEST_F(ScheduledRunTest, AFailedRunIsToldWhileItsBoxWaitsAndOpenBringsTheWindowBack)
{
    QM_NEED_INSTALLED(test::NotificationDesktop::unavailable());
    const test::NotificationDesktop dunst;
    DBusNotifications notifications(dunst.busAddress());
    const std::string nobody = "127.0.0.1:" + std::to_string(test::LoopbackServer::unusedPort());
    ::setenv("QUILLMAREN_SERVICE_HOST", nobody.c_str(), 1);
    ::setenv("QUILLMAREN_PUBLISHER_HOST", nobody.c_str(), 1);
    writeFile(ini(),
        "[Skarvelin Account Info]\nUsername=observer\nPassword=quillmaren\n"
        "[Skarvelin Defaults]\nAuto Download=1\n");
    bool shownWhileBoxOpen = false;
    prompts.whileShown = [&](const auto& box) {
        if (box.kind == "error")
            shownWhileBoxOpen = dunst.shows(1);
    };
    prompts.answer(false); // no start-up entry
    const auto form = startWithTray(&notifications);

    form->RunTimerTimer();

    EXPECT_TRUE(shownWhileBoxOpen);
    EXPECT_FALSE(form->isVisible()) << "in the tray";
    dunst.open();
    EXPECT_TRUE(QTest::qWaitFor([&form] { return form->isVisible(); }, 10000));
    // The "Stop on errors" box of the update check, and the same words on the desktop.
    const std::string box = prompts.shown.back().text;
    EXPECT_TRUE(box.starts_with("Unable to reach Vantoreal")) << box;
    EXPECT_EQ(dunst.received(), "Skarvelin Quillmaren | TLE update failed | " + box + " | normal\n");
}

} // namespace
