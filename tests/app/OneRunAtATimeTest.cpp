// One run at a time on the real main window: both run buttons grey while a run waits on
// the network, a scheduled attempt that falls inside a run comes after it, and another
// program's run in My TLEs keeps the window's and the scheduler's runs out.
#include "app/MainProcessing.h"
#include "app/TfrmMain.h"

#include "LockHolder.h"
#include "LoopbackServer.h"
#include "WindowServices.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

using namespace qm;
using Reply = qm::test::LoopbackServer::Reply;
using qm::test::exists;
using qm::test::writeFile;

namespace {

class OneRunAtATimeTest : public test::WindowTest {
protected:
    OneRunAtATimeTest()
    {
        ::setenv("QUILLMAREN_SERVICE_HOST", service.hostPort().c_str(), 1);
        // A three-line catalogue at hand: "Process Data" is enabled before any run.
        writeFile(ini(),
            "[Most Current Data]\nCatalog=" + dir.file("docs/My TLEs/2024/catalog/catalog_3l_2024_001.txt.gz")
                + "\n[Skarvelin Defaults]\nData Format=1\nSpace Situation Report=1\n");
    }

    std::unique_ptr<TfrmMain> startWithAccount()
    {
        auto form = start();
        form->CheckCriticalUpdates = false;
        form->leUsername->setText(QStringLiteral("ann"));
        form->lePassword->setText(QStringLiteral("pw"));
        return form;
    }

    std::vector<std::string> targets() const
    {
        std::vector<std::string> all;
        for (const std::string& request : service.requests())
            all.push_back(test::LoopbackServer::requestTarget(request));
        return all;
    }

    test::LoopbackServer service;
};

TEST_F(OneRunAtATimeTest, ButtonsStayGreyThroughADownloadAndNothingStartsInsideIt)
{
    // Every product the slow way: the event loop turns many times inside each transfer.
    service.setHandler([](const std::string& request) {
        const std::string target = test::LoopbackServer::requestTarget(request);
        if (target == "/perl/login.pl")
            return Reply::text("HTTP/1.0 200 OK\r\nSet-Cookie: session=abc\r\n\r\n<a href=\"home.pl\">");
        const std::string name = target.ends_with("=12") ? "orbcomm_3l_2024.txt" : "iridium_3l_2024.txt";
        const std::string head = "HTTP/1.0 200 OK\r\nContent-Disposition: attachment; filename=" + name + "\r\n";
        if (request.starts_with("HEAD"))
            return Reply::text(head + "\r\n");
        return Reply().send(head + "\r\n").fill(1024).pause(400).fill(1024);
    });

    auto form = startWithAccount();
    form->clbCurrentCatalog->setChecked(0, false);
    form->clbCurrentCatalog->setChecked(4, true);
    form->clbCurrentCatalog->setChecked(5, true);
    ASSERT_TRUE(form->btnProcess->isEnabled());

    // Inside the first transfer: clicks on both buttons, a direct call of the handler,
    // "Auto Download" ticked and its timer's tick.
    std::optional<std::pair<bool, bool>> duringRun;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        if (duringRun || !form->statusText().starts_with("Downloading "))
            return;
        duringRun = {form->btnDownload->isEnabled(), form->btnProcess->isEnabled()};
        QTest::mouseClick(form->btnProcess, Qt::LeftButton);
        QTest::mouseClick(form->btnDownload, Qt::LeftButton);
        form->guarded([&form] { form->btnProcessClick(); });
        prompts.answer(false); // no start-up entry
        form->cbAutoDownload->click();
        form->RunTimerTimer();
    });
    poll.start(20);
    QTest::mouseClick(form->btnDownload, Qt::LeftButton);
    poll.stop();

    EXPECT_EQ(duringRun, std::make_pair(false, false)) << "both buttons grey during the run";
    EXPECT_EQ(targets(),
        (std::vector<std::string>{
            "/perl/login.pl", "/perl/dl.pl?ID=10", "/perl/dl.pl?ID=10", "/perl/dl.pl?ID=12", "/perl/dl.pl?ID=12"}))
        << "no processing check and no second login inside the run";
    for (const std::string& request : service.requests()) {
        const bool product = test::LoopbackServer::requestTarget(request).starts_with("/perl/dl.pl");
        EXPECT_TRUE(!product || request.find("\r\nCookie: session=abc\r\n") != std::string::npos) << request;
    }

    // The scheduled attempt comes once the run is over, and plans the next.
    ASSERT_TRUE(QTest::qWaitFor([&] { return targets().size() > 5; }, 10000));
    EXPECT_EQ(targets()[5], "/perl/login.pl");
    ASSERT_EQ(prompts.shown.size(), 1u) << prompts.shown.back().text;
    EXPECT_TRUE(form->RunTimer.isActive());
    EXPECT_FALSE(form->btnDownload->isEnabled()) << "Auto Download keeps both grey";
    EXPECT_FALSE(form->btnProcess->isEnabled());
}

TEST_F(OneRunAtATimeTest, EndingTheProgramInsideADownloadEndsItAtOnceAndQuietly)
{
    // SIGTERM or the tray's "Exit" while a product still trickles in at a fair speed, in
    // a run of "Download Data" or in a scheduled one: no later wait turns the event loop,
    // so the transfer ends there, leaves no part of the product, and the error it ends
    // with is no news to anyone.
    service.setHandler([](const std::string& request) {
        if (test::LoopbackServer::requestTarget(request) == "/perl/login.pl")
            return Reply::text("HTTP/1.0 200 OK\r\nSet-Cookie: session=abc\r\n\r\n<a href=\"home.pl\">");
        const std::string head = "HTTP/1.0 200 OK\r\nContent-Disposition: attachment; filename=iridium_3l_2024.txt\r\n";
        if (request.starts_with("HEAD"))
            return Reply::text(head + "\r\n");
        Reply trickle = Reply().send(head + "\r\n");
        for (int i = 0; i < 100; ++i)
            trickle.fill(100).pause(100);
        return trickle;
    });
    for (const bool scheduled : {false, true}) {
        SCOPED_TRACE(scheduled ? "scheduled" : "Download Data");
        auto form = startWithAccount();
        form->clbCurrentCatalog->setChecked(0, false);
        form->clbCurrentCatalog->setChecked(4, true);
        if (scheduled) {
            prompts.answer(false); // no start-up entry
            form->cbAutoDownload->click();
        }
        prompts.shown.clear();
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &poll, [&form] {
            if (form->statusText().starts_with("Downloading ") && !form->endingAtOnce())
                form->endAtOnce();
        });
        poll.start(20);
        QElapsedTimer timer;
        timer.start();
        if (scheduled)
            form->RunTimerTimer();
        else
            QTest::mouseClick(form->btnDownload, Qt::LeftButton);

        EXPECT_TRUE(form->endingAtOnce());
        EXPECT_LT(timer.elapsed(), 3000);
        EXPECT_TRUE(prompts.shown.empty()) << prompts.shown.front().text;
        EXPECT_FALSE(exists(dir.file("docs/My TLEs/2024/iridium/iridium_3l_2024.txt")));
        // The entry ends here; an application that runs again turns its loops again.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
}

TEST_F(OneRunAtATimeTest, AnotherProgramsRunInMyTlesKeepsTheWindowsAndTheSchedulersRunsOut)
{
    service.setHandler([](const std::string&) { return Reply::ok("refused"); });
    // The program starts while the other one works on its unpacked catalogue.
    const std::string unpacked = dir.file("docs/My TLEs/catalog_3l_2024_001.txt");
    std::filesystem::create_directories(dir.file("docs/My TLEs"));
    writeFile(unpacked, "");
    test::LockHolder other(dir.file("docs/My TLEs/"));
    ASSERT_TRUE(other.holds());
    auto form = startWithAccount();
    EXPECT_TRUE(exists(unpacked)) << "start-up sweeps only what no run works on";
    bool processChecked = false;
    form->processing().criticalUpdateCheck = [&processChecked] { return processChecked = true; };
    writeFile("newdata.pending", "");

    const std::function<void()> starts[] = {
        [&form] { QTest::mouseClick(form->btnDownload, Qt::LeftButton); },
        [&form] { QTest::mouseClick(form->btnProcess, Qt::LeftButton); },
        [&form, this] {
            prompts.answer(false); // no start-up entry
            form->cbAutoDownload->click();
            prompts.shown.clear();
            form->RunTimerTimer();
        },
    };
    for (const auto& start : starts) {
        prompts.shown.clear();
        start();
        ASSERT_EQ(prompts.shown.size(), 1u);
        EXPECT_EQ(prompts.shown[0].kind, "error");
        EXPECT_EQ(prompts.shown[0].text, "Another run is using this folder");
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_TRUE(form->isEnabled());
        if (form->cbAutoDownload->isChecked()) {
            EXPECT_TRUE(form->RunTimer.isActive()) << "the next attempt is planned";
        } else {
            EXPECT_TRUE(form->btnDownload->isEnabled());
            EXPECT_TRUE(form->btnProcess->isEnabled());
        }
    }
    EXPECT_TRUE(service.requests().empty());
    EXPECT_FALSE(processChecked);
    EXPECT_TRUE(exists("newdata.pending")) << "the new files wait for a run that gets the folder";

    // Once the other program is gone, the next attempt goes ahead.
    other.stop();
    form->RunTimerTimer();
    ASSERT_FALSE(service.requests().empty());
    EXPECT_EQ(test::LoopbackServer::requestTarget(service.requests()[0]), "/perl/login.pl");
    EXPECT_EQ(prompts.shown.back().text, "Skarvelin login unsuccessful.");
}

} // namespace
