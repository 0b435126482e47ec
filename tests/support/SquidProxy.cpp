#include "SquidProxy.h"

#include "LoopbackServer.h"
#include "ProgramRun.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qm::test {

namespace {

constexpr const char* kSquid = "/usr/sbin/squid";
constexpr const char* kBasicHelper = "/usr/lib/squid/basic_ncsa_auth";
constexpr const char* kHtpasswd = "/usr/bin/htpasswd";
constexpr const char* kBash = "/bin/bash";
constexpr auto kStartLimit = std::chrono::seconds(30);
constexpr auto kStopLimit = std::chrono::seconds(20);

// Between the test and squid: squid runs until the test closes (or loses, by dying) the
// watcher's standard input, or ends by itself; either way the other goes too.
constexpr const char* kWatcher = R"(exec 3<&0 0</dev/null
"$1" -N -f "$2" 3<&- &
squid=$!
cat <&3 >/dev/null &
watch=$!
exec 3<&-
wait -n
kill -TERM "$squid" "$watch" 2>/dev/null
wait "$squid"
)";

std::string configuration(const std::string& folder, int port)
{
    std::ostringstream conf;
    conf << "http_port 127.0.0.1:" << port << "\n"
         << "visible_hostname localhost\n"
         << "auth_param basic program " << kBasicHelper << " " << folder << "passwd\n"
         << "auth_param basic children 2\n"
         << "acl account proxy_auth REQUIRED\n"
         << "http_access allow account\n"
         << "http_access deny all\n"
         << "cache deny all\n"
         << "cache_mem 8 MB\n"
         << "logformat whole %ul %rm %ru %>Hs\n"
         << "access_log stdio:" << folder << "access.log whole\n"
         << "cache_log " << folder << "cache.log\n"
         << "cache_store_log none\n"
         << "pid_filename " << folder << "squid.pid\n"
         << "coredump_dir " << folder << "\n"
         << "netdb_filename none\n"
         << "pinger_enable off\n"
         << "logfile_rotate 0\n"
         << "max_filedescriptors 1024\n"
         << "shutdown_lifetime 0 seconds\n";
    return conf.str();
}

// A file squid may not have written yet, as text; empty until then.
std::string textOf(const std::string& path)
{
    return exists(path) ? readFile(path) : std::string();
}

bool reaped(pid_t pid, std::chrono::steady_clock::duration within)
{
    const auto deadline = std::chrono::steady_clock::now() + within;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace

std::string SquidProxy::unavailable()
{
    return notInstalled({kSquid, kBasicHelper, kHtpasswd, kBash});
}

SquidProxy::SquidProxy()
{
    if (const std::string missing = unavailable(); !missing.empty())
        throw std::runtime_error(missing);
    // Run as root, squid and its helper work as the "proxy" user: they must read the
    // password file and write the logs and the pid file here.
    ::chmod(dir_.path().c_str(), 0777);
    const ProgramOutcome made
        = runProgram(kHtpasswd, {"-b", "-c", dir_.file("passwd"), kUser, kPassword}, dir_.path(), {});
    if (made.status != 0)
        throw std::runtime_error("htpasswd failed: " + made.err);
    ::chmod(dir_.file("passwd").c_str(), 0644);
    // Another process may take the free port before squid binds it: then another port.
    for (int attempt = 0; attempt < 5; ++attempt)
        if (startOn(LoopbackServer::unusedPort()))
            return;
    throw std::runtime_error("squid found no free port:\n" + cacheLog());
}

SquidProxy::~SquidProxy()
{
    stop();
}

bool SquidProxy::startOn(int port)
{
    const std::string conf = dir_.file("squid.conf");
    writeFile(conf, configuration(dir_.path(), port));
    ::chmod(conf.c_str(), 0644);
    ::unlink(dir_.file("cache.log").c_str());

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("squid: pipe");
    std::vector<std::string> args{kBash, "-c", kWatcher, "squid-watcher", kSquid, conf};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::string path = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    char* envp[] = {path.data(), nullptr};
    const std::string outFile = dir_.file("squid.out");

    // Only calls that are safe after fork() in a process with threads.
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || ::dup2(pipeFds[0], 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0)
            ::_exit(127);
        ::execve(kBash, argv.data(), envp);
        ::_exit(127);
    }
    ::close(pipeFds[0]);
    if (pid < 0) {
        ::close(pipeFds[1]);
        throw std::runtime_error("squid: fork");
    }
    watcher_ = pid;
    toWatcher_ = pipeFds[1];
    port_ = port;

    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (cacheLog().find("Accepting HTTP Socket connections") != std::string::npos)
            return true;
        int status = 0;
        if (::waitpid(watcher_, &status, WNOHANG) == watcher_) {
            watcher_ = -1;
            ::close(toWatcher_);
            toWatcher_ = -1;
            if (cacheLog().find("Unable to open HTTP Socket") != std::string::npos)
                return false;
            throw std::runtime_error("squid ended at its start:\n" + textOf(outFile) + cacheLog());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop();
    throw std::runtime_error("squid did not come up within 30 s:\n" + cacheLog());
}

void SquidProxy::stop()
{
    if (toWatcher_ >= 0)
        ::close(toWatcher_);
    toWatcher_ = -1;
    if (watcher_ > 0 && !reaped(watcher_, kStopLimit)) {
        // A squid that does not end when asked: its pid file names it.
        const int squid = std::atoi(textOf(dir_.file("squid.pid")).c_str());
        if (squid > 0)
            ::kill(squid, SIGKILL);
        ::kill(watcher_, SIGKILL);
        reaped(watcher_, kStopLimit);
    }
    watcher_ = -1;
}

std::vector<std::string> SquidProxy::accessLog() const
{
    std::vector<std::string> lines;
    std::istringstream text(textOf(dir_.file("access.log")));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

std::string SquidProxy::cacheLog() const
{
    return textOf(dir_.file("cache.log"));
}

} // namespace qm::test
