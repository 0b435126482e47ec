#include "LocalService.h"

#include "TempDir.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qm::test {

namespace {

// Generating a large catalogue on a busy machine takes a while; a small one is quick.
constexpr int kStartTimeoutMs = 300000;

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// One line from the child's output, without its LF; throws when it ends first.
std::string readLine(int fd, std::string& pending)
{
    for (;;) {
        const auto lf = pending.find('\n');
        if (lf != std::string::npos) {
            std::string line = pending.substr(0, lf);
            pending.erase(0, lf + 1);
            return line;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kStartTimeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            throw std::runtime_error("local service: no port within the time allowed");
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error("local service ended before it was ready (see its standard error)");
        pending.append(buffer, static_cast<std::size_t>(n));
    }
}

int portOf(const std::string& text)
{
    const int port = std::atoi(text.c_str());
    if (port <= 0 || port > 65535)
        throw std::runtime_error("local service: no port in \"" + text + "\"");
    return port;
}

} // namespace

LocalService::LocalService(const std::vector<std::string>& switches, int objects, const std::string& dataRoot)
    : tls_(std::find(switches.begin(), switches.end(), "--tls") != switches.end())
{
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        throw std::runtime_error("local service: pipe");
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        throw std::runtime_error("local service: pipe");
    }
    std::vector<std::string> args = {QM_LOCAL_SERVICE_TOOL, "--port", "0", "--data",
        dataRoot.empty() ? std::string(QM_LOCAL_SERVICE_DATA) : dataRoot, "--objects", std::to_string(objects),
        "--watch-stdin"};
    args.insert(args.end(), switches.begin(), switches.end());
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
    if (spawned != 0) {
        pid_ = -1;
        closeFd(toChild_);
        closeFd(fromChild_);
        throw std::runtime_error(std::string("local service: cannot start ") + QM_LOCAL_SERVICE_TOOL);
    }
    try {
        std::string pending;
        port_ = portOf(readLine(fromChild_, pending));
        dataDir_ = readLine(fromChild_, pending) + "/";
        readProducts();
    } catch (...) {
        stop();
        throw;
    }
}

LocalService::LocalService(const std::string& portFile)
{
    std::istringstream lines(readFile(portFile));
    std::string port;
    std::getline(lines, port);
    std::getline(lines, dataDir_);
    std::string scheme;
    std::getline(lines, scheme);
    tls_ = scheme == "https";
    port_ = portOf(port);
    dataDir_ += "/";
    readProducts();
}

LocalService LocalService::fixture(const std::string& name)
{
    const std::string portFile = std::string(QM_LOCAL_SERVICE_STATE) + "/" + name + ".port";
    if (!exists(portFile))
        throw std::runtime_error("local service fixture " + name + " is not running (" + portFile + " missing)");
    return LocalService(portFile);
}

LocalService::~LocalService()
{
    stop();
}

void LocalService::stop()
{
    closeFd(toChild_);
    closeFd(fromChild_);
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) { }
        pid_ = -1;
    }
}

void LocalService::readProducts()
{
    std::istringstream lines(readFile(dataDir_ + "products.txt"));
    int id = 0;
    std::string name;
    while (lines >> id >> name)
        products_[id] = name;
}

std::string LocalService::hostPort() const
{
    return "127.0.0.1:" + std::to_string(port_);
}

std::string LocalService::base() const
{
    return (tls_ ? "https://" : "http://") + hostPort();
}

std::string LocalService::url(const std::string& path) const
{
    return base() + path;
}

std::string LocalService::productName(int id) const
{
    const auto it = products_.find(id);
    return it == products_.end() ? std::string() : it->second;
}

std::string LocalService::productPath(int id) const
{
    return dataDir_ + "products/" + productName(id);
}

void LocalService::exportHosts() const
{
    ::setenv("QUILLMAREN_SERVICE_HOST", base().c_str(), 1);
    ::setenv("QUILLMAREN_PUBLISHER_HOST", base().c_str(), 1);
}

} // namespace qm::test
