// The Debian package as a user gets it: unpacked into a throw-away root, its update run
// started the way its systemd user service starts it, against the local catalogue
// service, in a throw-away home. Skipped until `make package` has built the package.
#include "LocalService.h"
#include "TempDir.h"
#include "Unprivileged.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using qm::test::exists;
using qm::test::readFile;
using qm::test::writeFile;

constexpr int kRunSeconds = 180;

// The newest package: QM_PACKAGE_FILE when set, else the newest quillmaren_*.deb in
// the package build folder; "" when there is none.
std::string packageFile()
{
    if (const char* file = std::getenv("QM_PACKAGE_FILE"); file && *file)
        return file;
    std::error_code ec;
    std::string newest;
    fs::file_time_type newestTime{};
    for (const auto& entry : fs::directory_iterator(QM_PACKAGE_DIR, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("quillmaren_", 0) != 0 || entry.path().extension() != ".deb")
            continue;
        const auto time = entry.last_write_time(ec);
        if (newest.empty() || time > newestTime) {
            newest = entry.path().string();
            newestTime = time;
        }
    }
    return newest;
}

struct Outcome {
    int status = -1; // exit status; -1 when it did not end by itself
    std::string out;
    std::string err;
};

// Runs `argv` in `cwd` with exactly `environment`, output to files in `scratch`; a
// program still running after `seconds` is ended with SIGTERM (then SIGKILL).
Outcome run(const std::vector<std::string>& argv, const std::vector<std::string>& environment, const std::string& cwd,
    const std::string& scratch, int seconds)
{
    const std::string outFile = scratch + "/stdout.txt";
    const std::string errFile = scratch + "/stderr.txt";
    std::vector<std::string> args = argv;
    std::vector<std::string> env = environment;
    std::vector<char*> argp;
    for (auto& a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0
            || ::chdir(cwd.c_str()) != 0)
            ::_exit(126);
        ::execve(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    Outcome result;
    if (pid < 0)
        return result;
    int status = 0;
    bool ended = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!ended && std::chrono::steady_clock::now() < deadline) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        ended = done == pid;
        if (!ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!ended) {
        ::kill(pid, SIGTERM);
        for (int i = 0; i < 200 && ::waitpid(pid, &status, WNOHANG) != pid; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    } else if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else {
        result.status = 128 + WTERMSIG(status);
    }
    result.out = readFile(outFile);
    result.err = readFile(errFile);
    return result;
}

bool onPath(const std::string& tool)
{
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The names in a folder, sorted.
std::set<std::string> namesIn(const std::string& folder)
{
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        names.insert(entry.path().filename().string());
    return names;
}

// The values of one key of a unit file, in order.
std::vector<std::string> unitValues(const std::string& text, const std::string& key)
{
    std::vector<std::string> values;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(key + "=", 0) == 0)
            values.push_back(line.substr(key.size() + 1));
    return values;
}

void openUp(const std::string& path)
{
    ::chmod(path.c_str(), 0777);
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(path, ec))
        ::chmod(entry.path().c_str(), entry.is_directory() ? 0777 : 0666);
}

class InstalledPackage : public ::testing::Test {
protected:
    void SetUp() override
    {
        deb = packageFile();
        if (deb.empty())
            GTEST_SKIP() << "no package in " << QM_PACKAGE_DIR
                         << ": `make package` builds it, `make package-test` builds and tests it";
        const Outcome unpack
            = run({"/usr/bin/dpkg", "-x", deb, root}, {"PATH=/usr/bin:/bin"}, dir.path(), dir.path(), 120);
        ASSERT_EQ(unpack.status, 0) << unpack.err;
    }

    qm::test::TempDir dir;
    std::string root = dir.file("root");
    std::string deb;
};

TEST_F(InstalledPackage, HoldsTheProgramItsMenuEntryIconManualAndTimer)
{
    struct stat info { };
    ASSERT_EQ(::stat((root + "/usr/bin/quillmaren").c_str(), &info), 0);
    EXPECT_TRUE(info.st_mode & S_IXOTH) << "the program is executable by every user";
    const char* const desktopEntry = "/usr/share/applications/org.vantoreal.Quillmaren.desktop";
    for (const char* file : {desktopEntry, "/usr/share/metainfo/org.vantoreal.Quillmaren.metainfo.xml",
             "/usr/share/doc/quillmaren/copyright", "/usr/share/doc/quillmaren/changelog.Debian.gz",
             "/usr/share/icons/hicolor/scalable/apps/quillmaren.svg",
             "/usr/share/icons/hicolor/16x16/apps/quillmaren.png", "/usr/share/icons/hicolor/48x48/apps/quillmaren.png",
             "/usr/share/icons/hicolor/256x256/apps/quillmaren.png", "/usr/share/man/man1/quillmaren.1.gz",
             "/usr/lib/systemd/user/quillmaren-update.service", "/usr/lib/systemd/user/quillmaren-update.timer"})
        EXPECT_TRUE(exists(root + file)) << file;

    // A PNG's width and height stand at bytes 16 to 23 of its header.
    const std::string png = readFile(root + "/usr/share/icons/hicolor/48x48/apps/quillmaren.png");
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\x30\0\0\0\x30", 8));

    const std::string entry = readFile(root + desktopEntry);
    EXPECT_NE(entry.find("\nCategories=Science;Astronomy;\n"), std::string::npos);
    EXPECT_NE(entry.find("\nIcon=quillmaren\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=quillmaren --run-folder=auto\n"), std::string::npos);
    if (onPath("desktop-file-validate")) {
        const Outcome lint = run({"/usr/bin/desktop-file-validate", root + desktopEntry}, {"PATH=/usr/bin:/bin"},
            dir.path(), dir.path(), 60);
        EXPECT_EQ(lint.status, 0) << lint.out << lint.err;
    }

    // systemd reads the units as shipped (their program pointed into the throw-away root).
    if (onPath("systemd-analyze")) {
        const std::string units = dir.file("units");
        const std::string runtime = dir.file("runtime");
        fs::create_directories(units);
        fs::create_directories(runtime);
        ::chmod(runtime.c_str(), 0700);
        std::string service = readFile(root + "/usr/lib/systemd/user/quillmaren-update.service");
        service.replace(service.find("/usr/bin/quillmaren"), 19, root + "/usr/bin/quillmaren");
        writeFile(units + "/quillmaren-update.service", service);
        fs::copy_file(root + "/usr/lib/systemd/user/quillmaren-update.timer", units + "/quillmaren-update.timer");
        const Outcome lint = run({"/usr/bin/systemd-analyze", "--user", "--man=no", "verify",
                                     units + "/quillmaren-update.service", units + "/quillmaren-update.timer"},
            {"PATH=/usr/bin:/bin", "HOME=" + dir.path(), "XDG_RUNTIME_DIR=" + runtime}, units, dir.path(), 60);
        EXPECT_EQ(lint.status, 0) << lint.out << lint.err;
    }
}

TEST_F(InstalledPackage, TheTimersUpdateRunDownloadsIntoAThrowAwayHome)
{
    // Over HTTPS, as the real hosts speak, with the local service's own CA.
    const auto service = qm::test::LocalService::fixture("local_service_tls");
    ASSERT_EQ(service.base().substr(0, 8), "https://");
    const std::string unit = readFile(root + "/usr/lib/systemd/user/quillmaren-update.service");
    const std::vector<std::string> exec = unitValues(unit, "ExecStart");
    ASSERT_EQ(exec, std::vector<std::string>{"/usr/bin/quillmaren --run-folder=auto -update"});

    // As systemd would: the unit's environment, the user's home as the current folder,
    // no display, a program folder that the user cannot write to.
    const std::string home = dir.file("home");
    fs::create_directories(home + "/.config/quillmaren");
    writeFile(home + "/.config/quillmaren/quillmaren.ini",
        "[Skarvelin Account Info]\nUsername=" + std::string(service.kUser) + "\nPassword=" + service.kPassword
            + "\nRetain Account Info=1\n[Skarvelin Defaults]\nData Format=0\nFull Catalog=1\n"
              "Space Situation Report=0\n[Debugging]\nDebug On=1\n");
    // The ordinary user may not reach the build tree (a checkout in a private folder), so
    // the service's CA comes along into the folder opened up for it.
    const std::string caFile = dir.file("ca.pem");
    fs::copy_file(service.caFile(), caFile);
    std::vector<std::string> environment{"PATH=/usr/bin:/bin", "HOME=" + home, "LANG=C.UTF-8",
        "QUILLMAREN_SERVICE_HOST=" + service.base(), "QUILLMAREN_PUBLISHER_HOST=" + service.base(),
        "QUILLMAREN_CA_FILE=" + caFile};
    for (const std::string& assignment : unitValues(unit, "Environment"))
        environment.push_back(assignment);
    qm::test::openUpForOthers(dir.path());
    ::chmod(caFile.c_str(), 0644);
    openUp(home);
    ::chmod((root + "/usr/bin").c_str(), 0555);

    const std::string scratch = dir.file("out");
    fs::create_directories(scratch);
    ::chmod(scratch.c_str(), 0777);
    // Run as an ordinary user even under root, so that the program's folder really is
    // not writable; the status comes back as text from the child that ran it.
    const std::string status = qm::test::runUnprivileged([&]() -> std::string {
        return std::to_string(
            run({root + "/usr/bin/quillmaren", "--run-folder=auto", "-update"}, environment, home, scratch, kRunSeconds)
                .status);
    });
    ::chmod((root + "/usr/bin").c_str(), 0755);
    const std::string err = readFile(scratch + "/stderr.txt");
    EXPECT_EQ(status, "0") << "-1 means it was still running after " << kRunSeconds << " s; standard error:\n" << err;
    EXPECT_EQ(err, "") << "a good run keeps standard error quiet, so cron mails nothing";

    // Settings from the user's configuration folder, written back there at the end.
    EXPECT_EQ(namesIn(root + "/usr/bin"), std::set<std::string>{"quillmaren"}) << "nothing beside the program";
    const std::string settings = home + "/.config/quillmaren/quillmaren.ini";
    const std::string myTles = home + "/Documents/My TLEs/";
    const std::string catalogue = myTles + "2024/catalog/" + service.productName(1);
    EXPECT_NE(readFile(settings).find("\nCatalog=" + catalogue + "\n"), std::string::npos) << readFile(settings);
    struct stat info { };
    ASSERT_EQ(::stat(settings.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "it holds the account's password";

    // Run files and the debug log in the state folder; nothing else in the home.
    const std::string state = home + "/.local/state/quillmaren/";
    EXPECT_TRUE(exists(state + "newdata.log"));
    EXPECT_NE(
        readFile(state + "quillmaren.log").find("] Running via -update command-line option\r\n"), std::string::npos);
    EXPECT_EQ(namesIn(home), (std::set<std::string>{".config", ".local", "Documents"}));

    // The downloads, byte for byte as the service holds them.
    ASSERT_TRUE(exists(catalogue));
    EXPECT_TRUE(readFile(catalogue) == readFile(service.productPath(1))) << "catalogue differs";
    const std::string report = myTles + "2024/ssr/" + service.productName(25);
    ASSERT_TRUE(exists(report));
    EXPECT_TRUE(readFile(report) == readFile(service.productPath(25))) << "situation report differs";
}

} // namespace
