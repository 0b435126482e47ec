// The program itself, started without a display as cron starts it.
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Outcome {
    int status = -1;
    std::string err;
    std::string out;
};

// Runs the program in `dir` with exactly `environment`.
Outcome runProgram(const qm::test::TempDir& dir, std::vector<std::string> environment)
{
    const std::string errFile = dir.file("stderr.txt");
    const std::string outFile = dir.file("stdout.txt");
    std::vector<char*> envp;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = QM_PROGRAM_FILE;
    char* argv[] = {program.data(), nullptr};

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err < 0 || out < 0 || ::dup2(err, 2) < 0 || ::dup2(out, 1) < 0 || ::chdir(dir.path().c_str()) != 0)
            ::_exit(127);
        ::execve(program.c_str(), argv, envp.data());
        ::_exit(127);
    }
    Outcome run;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    run.err = qm::test::readFile(errFile);
    run.out = qm::test::readFile(outFile);
    return run;
}

TEST(HeadlessRun, StandardErrorCarriesOnlyTheProgramsOwnMessages)
{
    qm::test::TempDir dir;
    // A file where the documents folder should be: the working folder cannot be made,
    // so the run stops at once with one error, as an unattended run would report it.
    qm::test::writeFile(dir.file("Documents"), "not a folder");
    std::vector<std::string> environment{
        "PATH=/usr/bin:/bin", "HOME=" + dir.path(), "XDG_CONFIG_HOME=" + dir.file("config")};
    if (const char* asan = std::getenv("ASAN_OPTIONS"))
        environment.push_back(std::string("ASAN_OPTIONS=") + asan);

    const Outcome run = runProgram(dir, environment);
    EXPECT_EQ(run.status, 1);
    // Without a runtime folder and a display, Qt would have had its say here too.
    EXPECT_EQ(run.err, "quillmaren: error: Unable to create directory: " + dir.path() + "Documents/My TLEs/ [OK]\n");
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(qm::test::exists(dir.file("config/quillmaren/quillmaren.ini"))) << "a stop at start-up saves nothing";
}

} // namespace
