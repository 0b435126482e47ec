#include "ProgramRun.h"

#include "TempDir.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qm::test {

ProgramOutcome runProgram(const std::string& program, const std::vector<std::string>& arguments,
    const std::string& folder, std::vector<std::string> environment)
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

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err < 0 || out < 0 || ::dup2(err, 2) < 0 || ::dup2(out, 1) < 0 || ::chdir(folder.c_str()) != 0)
            ::_exit(127);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ProgramOutcome run;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    run.err = readFile(errFile);
    run.out = readFile(outFile);
    return run;
}

} // namespace qm::test
