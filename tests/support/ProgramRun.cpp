#include "ProgramRun.h"

#include "TempDir.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace qm::test {

ProgramOutcome runProgram(const std::string& program, const std::vector<std::string>& arguments,
    const std::string& folder, std::vector<std::string> environment)
{
    return waitForProgram(startProgram(program, arguments, folder, std::move(environment)), folder);
}

pid_t startProgram(const std::string& program, const std::vector<std::string>& arguments, const std::string& folder,
    std::vector<std::string> environment)
{
    const std::string errFile = folder + "stderr.txt";
    const std::string outFile = folder + "stdout.txt";
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    // Only calls that are safe after fork() in a process with threads.
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err < 0 || out < 0 || ::dup2(err, 2) < 0 || ::dup2(out, 1) < 0 || ::chdir(folder.c_str()) != 0)
            ::_exit(127);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

ProgramOutcome waitForProgram(pid_t pid, const std::string& folder)
{
    ProgramOutcome run;
    int status = 0;
    pid_t reaped = -1;
    while (pid > 0 && (reaped = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) { }
    if (reaped == pid && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    if (reaped == pid && WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    run.err = readFile(folder + "stderr.txt");
    run.out = readFile(folder + "stdout.txt");
    return run;
}

std::string notInstalled(std::initializer_list<const char*> files)
{
    std::string missing;
    for (const char* file : files)
        if (::access(file, F_OK) != 0)
            missing += std::string(missing.empty() ? "" : ", ") + file;
    return missing.empty() ? "" : "not installed: " + missing + " (the Makefile's test packages bring them)";
}

} // namespace qm::test
