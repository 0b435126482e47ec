// The program itself, started without a display as cron starts it, or with a display
// it cannot reach.
#include "LoopbackServer.h"
#include "ProgramRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

using qm::test::exists;

// The environment of a run in `home`: no display, web hosts where nothing answers.
std::vector<std::string> baseEnvironment(const std::string& home)
{
    const std::string nobody = "127.0.0.1:" + std::to_string(qm::test::LoopbackServer::unusedPort());
    std::vector<std::string> environment{"PATH=/usr/bin:/bin", "HOME=" + home, "XDG_CONFIG_HOME=" + home + "config",
        "QUILLMAREN_SERVICE_HOST=" + nobody, "QUILLMAREN_PUBLISHER_HOST=" + nobody};
    if (const char* asan = std::getenv("ASAN_OPTIONS"))
        environment.push_back(std::string("ASAN_OPTIONS=") + asan);
    return environment;
}

struct Outcome {
    qm::test::ProgramOutcome outcome;
    bool endedByItself = false;
};

// Runs the program until it ends, or until `ready` holds (or 30 s have passed) and
// SIGTERM ends it.
Outcome runUntil(const std::vector<std::string>& arguments, const std::string& folder,
    const std::vector<std::string>& environment, const std::function<bool()>& ready)
{
    const pid_t pid = qm::test::startProgram(QM_PROGRAM_FILE, arguments, folder, environment);
    Outcome run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!run.endedByItself && std::chrono::steady_clock::now() < deadline) {
        siginfo_t info{};
        run.endedByItself
            = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
        if (!run.endedByItself && ready && ready())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!run.endedByItself)
        ::kill(pid, SIGTERM);
    run.outcome = qm::test::waitForProgram(pid, folder);
    return run;
}

TEST(HeadlessRun, StandardErrorCarriesOnlyTheProgramsOwnMessages)
{
    qm::test::TempDir dir;
    // A file where the documents folder should be: the working folder cannot be made,
    // so the run stops at once with one error, as an unattended run would report it.
    qm::test::writeFile(dir.file("Documents"), "not a folder");
    const qm::test::ProgramOutcome run
        = qm::test::runProgram(QM_PROGRAM_FILE, {"-update"}, dir.path(), baseEnvironment(dir.path()));
    EXPECT_EQ(run.status, 1);
    // Without a runtime folder and a display, Qt would have had its say here too.
    EXPECT_EQ(run.err, "quillmaren: error: Unable to create directory: " + dir.path() + "Documents/My TLEs/ [OK]\n");
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(qm::test::exists(dir.file("config/quillmaren/quillmaren.ini"))) << "a stop at start-up saves nothing";
}

TEST(HeadlessRun, HelpAndVersionAnswerWithoutTouchingAnything)
{
    namespace fs = std::filesystem;
    const struct {
        const char* argument;
        int status;
        const char* outStart; // empty: nothing on standard output
    } cases[] = {
        {"--help", 0, "Usage: quillmaren [--run-folder=auto] [-update]\n"},
        {"--version", 0, "quillmaren 1.5.8\n"},
        // Anything else starts the program as before: a window, which without a display stops.
        {"--helpme", 1, ""},
    };
    for (const auto& c : cases) {
        qm::test::TempDir dir;
        for (const char* folder : {"bin", "home", "work"})
            fs::create_directories(dir.file(folder));
        fs::copy_file(QM_PROGRAM_FILE, dir.file("bin/quillmaren"));
        qm::test::writeFile(dir.file("home/Documents"), "not a folder");
        std::vector<std::string> environment{"PATH=/usr/bin:/bin", "HOME=" + dir.file("home")};
        if (const char* asan = std::getenv("ASAN_OPTIONS"))
            environment.push_back(std::string("ASAN_OPTIONS=") + asan);

        const qm::test::ProgramOutcome run
            = qm::test::runProgram(dir.file("bin/quillmaren"), {c.argument}, dir.file("work/"), environment);
        EXPECT_EQ(run.status, c.status) << c.argument;
        EXPECT_TRUE(run.out.starts_with(c.outStart)) << run.out;
        if (c.status != 0)
            continue;
        EXPECT_EQ(run.err, "") << c.argument;
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
            files.push_back(fs::relative(entry.path(), dir.path()).string());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files,
            (std::vector<std::string>{
                "bin", "bin/quillmaren", "home", "home/Documents", "work", "work/stderr.txt", "work/stdout.txt"}))
            << c.argument;
    }
    // The usage names what the README documents.
    qm::test::TempDir dir;
    const std::string help
        = qm::test::runProgram(QM_PROGRAM_FILE, {"--help"}, dir.path(), {"ASAN_OPTIONS=detect_leaks=0"}).out;
    for (const char* item : {"-update", "QUILLMAREN_SERVICE_HOST", "QUILLMAREN_PUBLISHER_HOST", "QUILLMAREN_CA_FILE",
             "QUILLMAREN_RUN_FOLDER", "QUILLMAREN_LOCK_WAIT", "http_proxy", "XDG_CONFIG_HOME", "XDG_STATE_HOME",
             "QT_QPA_PLATFORM", "Exit status:\n  0", "\n  1", "\n  2"})
        EXPECT_NE(help.find(item), std::string::npos) << item;
}

// What the program does with the display it is given: an update run never needs one; the
// window needs one unless the caller chose to draw nowhere or the timer's runs are all
// there is to do.
TEST(HeadlessRun, WithoutAUsableDisplay)
{
    // A display number whose socket does not exist.
    int unreachable = 4711;
    while (exists("/tmp/.X11-unix/X" + std::to_string(unreachable)))
        ++unreachable;
    const struct {
        const char* what;
        std::vector<std::string> environment;
        std::vector<std::string> arguments;
        bool autoDownload;
        bool keepsRunning; // until the test ends it, once start-up is through
        int status;
        std::string err;
    } cases[] = {
        {"an update run with a display it cannot reach", {"DISPLAY=:" + std::to_string(unreachable)}, {"-update"},
            false, false, 2, "quillmaren: error: Unable to reach Vantoreal: Connection Failed: Connection refused [OK]\n"},
        // The run-folder option does not hide "-update" behind it.
        {"an update run, the run-folder option first", {}, {"--run-folder=", "-update"}, false, false, 2,
            "quillmaren: error: Unable to reach Vantoreal: Connection Failed: Connection refused [OK]\n"},
        {"a run-folder option that is neither auto nor empty", {}, {"-update", "--run-folder=here"}, false, false, 1,
            "quillmaren: error: --run-folder must be \"auto\" or empty, not \"here\". [OK]\n"},
        {"the window without a display", {}, {}, false, false, 1,
            "quillmaren: no display; use -update for a run without a window\n"},
        {"the window without a display, Auto Download on", {}, {}, true, true, 0,
            "quillmaren: no display; Auto Download runs on its timer without a window\n"
            "quillmaren: question: Create shortcut in Startup folder? [No]\n"},
        {"the window where the caller chose to draw nowhere", {"QT_QPA_PLATFORM=offscreen"}, {}, false, true, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        qm::test::TempDir dir;
        if (c.autoDownload) {
            std::filesystem::create_directories(dir.file("config/quillmaren"));
            qm::test::writeFile(
                dir.file("config/quillmaren/quillmaren.ini"), "[Skarvelin Defaults]\nAuto Download=1\n");
        }
        std::vector<std::string> environment = baseEnvironment(dir.path());
        environment.insert(environment.end(), c.environment.begin(), c.environment.end());
        // Start-up is through when it has made the working folder and said all it says.
        const auto startedUp = [&] {
            return exists(dir.file("Documents/My TLEs")) && qm::test::readFile(dir.file("stderr.txt")) == c.err;
        };
        const Outcome run = runUntil(c.arguments, dir.path(), environment,
            c.keepsRunning ? std::function<bool()>(startedUp) : std::function<bool()>());
        EXPECT_EQ(run.endedByItself, !c.keepsRunning);
        EXPECT_EQ(run.outcome.status, c.status);
        EXPECT_EQ(run.outcome.err, c.err);
        if (c.status == 1) {
            EXPECT_FALSE(exists(dir.file("Documents"))) << "stopped before start-up";
        }
    }
}

} // namespace
