// The start-up entry and the links the menus open.
#include "RecordingReporter.h"
#include "TempDir.h"
#include "Unprivileged.h"

#include "desktop/Links.h"
#include "desktop/StartupShortcut.h"
#include "platform/Errors.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace qm {
namespace {

using test::exists;
using test::readFile;

struct Launcher : ShellLauncher {
    std::vector<std::string> opened;
    void open(const std::string& item, const std::string&) override { opened.push_back(item); }
};

struct Folders : ShellFolders {
    std::string startup;
    std::string folder(int index) const override { return index == 3 ? startup : std::string(); }
};

TEST(Links, AddressesFollowTheHostSettings)
{
    ::setenv("QUILLMAREN_PUBLISHER_HOST", "pub.example:8081", 1);
    ::setenv("QUILLMAREN_SERVICE_HOST", "svc.example", 1);
    EXPECT_EQ(homePageAddress(), "http://pub.example:8081");
    EXPECT_EQ(helpPageAddress(), "http://pub.example:8081/Skarvelin/QuillmarenHelp.asp");
    EXPECT_EQ(loginPageAddress("ann", "secret"),
        "http://svc.example/perl/login.pl?username=ann&password=secret&_submitted=1&_sessionid=&_submit=Submit");
    EXPECT_EQ(loginPageAddress("a b", "x&y=z"),
        "http://svc.example/perl/login.pl?username=a%20b&password=x%26y%3Dz&_submitted=1&_sessionid=&_submit=Submit");
    EXPECT_EQ(feedbackMailAddress(), "mailto:feedback@vantoreal.example?subject=Quillmaren%20v1.5.8%20User%20Feedback");

    // A host given with its scheme keeps it.
    ::setenv("QUILLMAREN_PUBLISHER_HOST", "HTTPS://pub.example/", 1);
    ::setenv("QUILLMAREN_SERVICE_HOST", "https://svc.example:8443", 1);
    EXPECT_EQ(homePageAddress(), "HTTPS://pub.example");
    EXPECT_EQ(helpPageAddress(), "HTTPS://pub.example/Skarvelin/QuillmarenHelp.asp");
    EXPECT_TRUE(loginPageAddress("a", "b").starts_with("https://svc.example:8443/perl/login.pl?username=a&"));
}

TEST(Links, MenuCommandsShowTheirMessageOpenTheItemAndFallBackToTheIdleText)
{
    ::setenv("QUILLMAREN_PUBLISHER_HOST", "pub.example", 1);
    ::setenv("QUILLMAREN_SERVICE_HOST", "svc.example", 1);
    test::RecordingReporter reporter(true);
    Launcher launcher;
    OpenMyTLEs(reporter, launcher, "/home/u/Documents/My TLEs/");
    OpenVantoreal(reporter, launcher);
    OpenSkarvelin(reporter, launcher, "ann", "pw");
    OpenOnlineHelp(reporter, launcher);
    EXPECT_EQ(reporter.statusHistory,
        (std::vector<std::string>{"Opening My TLEs folder", "Done", "Opening Vantoreal home page", "Ready",
            "Logging in to Skarvelin home page", "Ready", "Opening help page", "Ready"}));
    EXPECT_EQ(launcher.opened,
        (std::vector<std::string>{"/home/u/Documents/My TLEs/", "http://pub.example", loginPageAddress("ann", "pw"),
            "http://pub.example/Skarvelin/QuillmarenHelp.asp"}));
    EXPECT_TRUE(reporter.logLines.empty()) << "the links write the status line only";

    reporter.hint = "Next TLE update attempt: 2007 Oct 15 20:10";
    OpenMyTLEs(reporter, launcher, "/x/");
    EXPECT_EQ(reporter.status, reporter.hint);
}

class StartupEntry : public ::testing::Test {
protected:
    StartupEntry()
    {
        ::mkdir(dir.file("bin").c_str(), 0755);
        test::writeFile(program, "program");
        folders.startup = dir.file("config/autostart");
        ::setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1);
        shortcut.setTarget(program, dir.file("bin/"));
    }
    std::string entry() const { return dir.file("config/autostart/Skarvelin Quillmaren.desktop"); }
    static std::string contents(const std::string& exec, const std::string& path)
    {
        return "[Desktop Entry]\nType=Application\nName=Skarvelin Quillmaren\nComment=Skarvelin Quillmaren\n"
               "Exec="
            + exec + "\nPath=" + path + "\nIcon=quillmaren\nCategories=Science;Astronomy;\n";
    }

    test::TempDir dir;
    std::string program = dir.file("bin/quillmaren");
    Folders folders;
    StartupShortcut shortcut{folders};
};

TEST_F(StartupEntry, CreateReplaceTestAndDelete)
{
    EXPECT_EQ(shortcut.path(), entry());
    EXPECT_FALSE(shortcut.exists());
    shortcut.create();
    EXPECT_TRUE(shortcut.exists());
    EXPECT_EQ(readFile(entry()), contents(program, dir.file("bin/")));

    test::writeFile(entry(), "an older entry");
    const std::string spaced = dir.file("bin/my \"100%\" $prog");
    test::writeFile(spaced, "program");
    shortcut.setTarget(spaced, dir.file("bin/"));
    shortcut.create();
    EXPECT_EQ(
        readFile(entry()), contents("\"" + dir.file("bin/my \\\\\"100%%\\\\\" \\\\$prog") + "\"", dir.file("bin/")));

    EXPECT_TRUE(shortcut.remove());
    EXPECT_FALSE(shortcut.exists());
    EXPECT_FALSE(shortcut.remove());
}

TEST_F(StartupEntry, ExecQuotesWhatALauncherWouldSplitOrInterpret)
{
    // Program files below "bin/" and the Exec value each must give ("@" for the folder):
    // a blank or a shell character quoted, "%" doubled, and a backslash escaped twice,
    // for the quoting and then for the entry's string.
    const struct {
        std::string program;
        std::string exec;
    } cases[] = {
        {"quillmaren", "@quillmaren"},
        {"My Apps/quillmaren", "\"@My Apps/quillmaren\""},
        {"50%/quillmaren", "@50%%/quillmaren"},
        {"it's/quillmaren", "\"@it's/quillmaren\""},
        {"back\\slash/quillmaren", "\"@back\\\\\\\\slash/quillmaren\""},
    };
    for (const auto& c : cases) {
        const std::string file = dir.file("bin/") + c.program;
        ::mkdir(extractFilePath(file).c_str(), 0755);
        test::writeFile(file, "program");
        shortcut.setTarget(file, dir.file("bin/"));
        shortcut.create();
        std::string exec = c.exec;
        exec.replace(exec.find('@'), 1, dir.file("bin/"));
        EXPECT_EQ(readFile(entry()), contents(exec, dir.file("bin/"))) << c.program;
    }
}

TEST_F(StartupEntry, AMissingProgramIsAnErrorAndWritesNothing)
{
    shortcut.setTarget(dir.file("bin/gone"), dir.file("bin/"));
    try {
        shortcut.create();
        FAIL() << "no error";
    } catch (const IoError& e) {
        EXPECT_EQ(std::string(e.what()), "File " + dir.file("bin/gone") + " not found.");
    }
    EXPECT_FALSE(exists(entry()));
}

TEST_F(StartupEntry, AProgramFolderThatCannotBeWrittenStartsInTheStateFolder)
{
    test::openUpForOthers(dir.path());
    for (const char* folder : {"config", "config/autostart", "state"})
        ::mkdir(dir.file(folder).c_str(), 0777);
    for (const char* folder : {"config", "config/autostart", "state"})
        ::chmod(dir.file(folder).c_str(), 0777);
    ::chmod(dir.file("bin").c_str(), 0555);
    const std::string failure = test::runUnprivileged([this]() -> std::string {
        try {
            shortcut.create();
        } catch (const std::exception& e) {
            return e.what();
        }
        const std::string text = readFile(entry());
        if (text.find("\nPath=" + dir.file("state/quillmaren/") + "\n") == std::string::npos)
            return "entry: " + text;
        struct stat st { };
        return ::stat(dir.file("state/quillmaren").c_str(), &st) == 0 ? "" : "no state folder";
    });
    EXPECT_EQ(failure, "");
}

} // namespace
} // namespace qm
