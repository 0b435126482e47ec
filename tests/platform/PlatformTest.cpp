#include "platform/HeadlessPrompts.h"
#include "platform/ProgramLocation.h"
#include "platform/ProgramStarter.h"
#include "platform/ShellFolders.h"
#include "platform/ShutdownSignals.h"

#include "TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace qm;

TEST(ProgramLocation, FileNameParts)
{
    EXPECT_EQ(changeFileExt("/opt/q/quillmaren", ".ini"), "/opt/q/quillmaren.ini");
    EXPECT_EQ(changeFileExt("/opt/q.d/Quillmaren.exe", ".log"), "/opt/q.d/Quillmaren.log");
    EXPECT_EQ(changeFileExt("/opt/q.d/quillmaren", ".ini"), "/opt/q.d/quillmaren.ini");
    EXPECT_EQ(extractFileName("/opt/q/quillmaren.log"), "quillmaren.log");
    EXPECT_EQ(extractFilePath("/opt/q/quillmaren"), "/opt/q/");
    EXPECT_FALSE(ProcessProgramLocation().programFile().empty());
}

TEST(ShellFolders, TrailingSlashAndRange)
{
    struct Folders : ShellFolders {
        std::string folder(int index) const override
        {
            return index == 4 ? "/home/u/Documents" : index == 3 ? "/a/" : "";
        }
    } folders;
    EXPECT_EQ(GetShellFolder(folders, 4), "/home/u/Documents/");
    EXPECT_EQ(GetShellFolder(folders, 3), "/a/");
    EXPECT_EQ(GetShellFolder(folders, 0), "");
    EXPECT_EQ(GetShellFolder(folders, 23), "");
}

TEST(ShellFolders, StartupFolderFollowsXdgConfigHome)
{
    ::setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
    EXPECT_EQ(GetShellFolder(XdgShellFolders(), 3), "/tmp/cfg/autostart/");
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(HeadlessPrompts, TakeTheSafeAnswer)
{
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    HeadlessPrompts prompts(out);
    EXPECT_FALSE(prompts.confirm("Your settings have changed. Save them?"));
    EXPECT_FALSE(prompts.warningYesNo("Continue?"));
    prompts.error("Unable to reach Vantoreal");
    std::rewind(out);
    char text[512] = {};
    const std::size_t n = std::fread(text, 1, sizeof text - 1, out);
    std::fclose(out);
    const std::string written(text, n);
    EXPECT_NE(written.find("Your settings have changed. Save them? [No]"), std::string::npos);
    EXPECT_NE(written.find("Unable to reach Vantoreal [OK]"), std::string::npos);
}

TEST(ShutdownSignals, DeliverOnTheEventLoop)
{
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    std::vector<int> received;
    {
        ShutdownSignals signals([&](int sig) { received.push_back(sig); });
        std::raise(SIGTERM);
        EXPECT_TRUE(received.empty()) << "nothing runs inside the signal handler";
        QElapsedTimer timer;
        timer.start();
        while (received.empty() && timer.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        ASSERT_EQ(received, std::vector<int>{SIGTERM});
        std::raise(SIGINT);
        timer.restart();
        while (received.size() < 2 && timer.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        EXPECT_EQ(received.back(), SIGINT);
    }
}

TEST(ProgramStarter, StartsDetachedInTheGivenFolderWithTheArgument)
{
    test::TempDir dir;
    ::mkdir(dir.file("work").c_str(), 0755);
    const std::string script = dir.file("post.sh");
    test::writeFile(script, "#!/bin/sh\npwd -P > \"$1/ran.tmp\"\nmv \"$1/ran.tmp\" \"$1/ran\"\n");
    ::chmod(script.c_str(), 0755);
    EXPECT_TRUE(isExecutableFile(script));
    EXPECT_FALSE(isExecutableFile(dir.file("work")));
    EXPECT_FALSE(isExecutableFile(dir.file("absent.sh")));

    ASSERT_TRUE(DetachedProgramStarter().start(script, {dir.path()}, dir.file("work")));
    // The program does not wait for the script; the test does, for its trace.
    for (int i = 0; i < 200 && !test::exists(dir.file("ran")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(test::exists(dir.file("ran")));
    char work[PATH_MAX];
    ASSERT_NE(::realpath(dir.file("work").c_str(), work), nullptr);
    EXPECT_EQ(test::readFile(dir.file("ran")), std::string(work) + "\n");
}
