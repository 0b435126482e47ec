#include "platform/Errors.h"
#include "platform/HeadlessPrompts.h"
#include "platform/ProgramLocation.h"
#include "platform/ProgramStarter.h"
#include "platform/ShellFolders.h"
#include "platform/ShutdownSignals.h"
#include "platform/UserFolders.h"

#include "TempDir.h"
#include "Unprivileged.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

class UserFoldersTest : public ::testing::Test {
protected:
    UserFoldersTest()
    {
        ::mkdir(dir.file("bin").c_str(), 0755);
        ::setenv("HOME", dir.file("home").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", dir.file("cfg").c_str(), 1);
        ::setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1);
    }
    ~UserFoldersTest() override
    {
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", kRunFolderVariable})
            ::unsetenv(name);
        if (home)
            ::setenv("HOME", home->c_str(), 1);
    }

    struct FixedEnvironment : Environment {
        std::optional<std::string> value;
        std::optional<std::string> variable(const std::string& name) const override
        {
            return name == kRunFolderVariable ? value : std::nullopt;
        }
    };

    const std::optional<std::string> home = [] {
        const char* h = std::getenv("HOME");
        return h ? std::optional<std::string>(h) : std::nullopt;
    }();
    test::TempDir dir;
    std::string program = dir.file("bin/quillmaren");
};

TEST_F(UserFoldersTest, SettingsBesideTheProgramWinOtherwiseTheConfigFolderIsMadeForThem)
{
    EXPECT_EQ(settingsFileFor(program), dir.file("cfg/quillmaren/quillmaren.ini"));
    struct stat info { };
    ASSERT_EQ(::stat(dir.file("cfg/quillmaren").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u) << "the file may hold passwords";
    EXPECT_FALSE(test::exists(dir.file("cfg/quillmaren/quillmaren.ini"))) << "the first write makes the file";

    test::writeFile(dir.file("bin/quillmaren.ini"), "");
    EXPECT_EQ(settingsFileFor(program), dir.file("bin/quillmaren.ini")) << "a portable copy";

    // The XDG rules ignore a relative folder; the default lies under the home folder.
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    ::setenv("XDG_STATE_HOME", "", 1);
    EXPECT_EQ(settingsFileFor(dir.file("elsewhere/quillmaren")), dir.file("home/.config/quillmaren/quillmaren.ini"));
    EXPECT_EQ(stateFolder(), dir.file("home/.local/state/quillmaren/"));
}

TEST_F(UserFoldersTest, RunFolderIsTheProgramsWhenWritableElseTheStateFolder)
{
    EXPECT_EQ(runFolderFor(dir.file("bin/")), dir.file("bin/"));
    test::openUpForOthers(dir.path());
    ::chmod(dir.file("bin").c_str(), 0555);
    ::mkdir(dir.file("state").c_str(), 0777);
    ::chmod(dir.file("state").c_str(), 0777);
    const std::string failure = test::runUnprivileged([this]() -> std::string {
        const std::string folder = runFolderFor(dir.file("bin/"));
        struct stat info { };
        if (folder != dir.file("state/quillmaren/"))
            return "run folder " + folder;
        return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? "" : "state folder not made";
    });
    EXPECT_EQ(failure, "");
}

TEST_F(UserFoldersTest, OnlyAutoChangesTheCurrentFolder)
{
    test::ScopedCurrentDir cwd(dir.path());
    const std::string here = std::filesystem::current_path().string();
    FixedEnvironment environment;
    enterRunFolderWhenAsked(environment, dir.file("bin/"));
    environment.value = "";
    enterRunFolderWhenAsked(environment, dir.file("bin/"));
    EXPECT_EQ(std::filesystem::current_path().string(), here) << "a start from a shell stays where it is";

    environment.value = "yes";
    EXPECT_THROW(enterRunFolderWhenAsked(environment, dir.file("bin/")), IoError);
    EXPECT_EQ(std::filesystem::current_path().string(), here);

    environment.value = "auto";
    enterRunFolderWhenAsked(environment, dir.file("bin/"));
    EXPECT_EQ(std::filesystem::current_path().string() + "/", dir.file("bin/"));

    // The option wins over the variable, either way.
    enterRunFolderWhenAsked(environment, dir.file("missing/"), "");
    EXPECT_EQ(std::filesystem::current_path().string() + "/", dir.file("bin/"));
    environment.value = "yes";
    EXPECT_NO_THROW(enterRunFolderWhenAsked(environment, dir.file("bin/"), "auto"));
    environment.value = "auto";

    // A state folder that cannot be made: the start stops instead of scattering run files.
    test::writeFile(dir.file("state"), "a file where the folder should be");
    EXPECT_THROW(enterRunFolderWhenAsked(environment, dir.file("missing/")), IoError);
}

TEST(RunFolderOption, IsTakenOutWhereverItStands)
{
    using Arguments = std::vector<std::string>;
    const std::tuple<Arguments, Arguments, std::optional<std::string>> cases[] = {
        {{"-update", "--run-folder=auto"}, {"-update"}, "auto"},
        {{"--run-folder", "auto", "-update", "-style", "fusion"}, {"-update", "-style", "fusion"}, "auto"},
        {{"--run-folder=auto", "--run-folder="}, {}, ""}, // the last one counts
        {{"-update", "--run-folder"}, {"-update", "--run-folder"}, std::nullopt}, // no value: not the option
    };
    for (auto [arguments, rest, value] : cases) {
        EXPECT_EQ(takeRunFolderOption(arguments), value);
        EXPECT_EQ(arguments, rest);
    }
}
