#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>

namespace qm::test {

namespace {

int listenOnLoopback(int& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket");
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen");
    }
    socklen_t len = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &len);
    port = ntohs(address.sin_port);
    return fd;
}

std::size_t contentLengthOf(const std::string& head)
{
    std::string lower = head;
    std::transform(lower.begin(), lower.end(), lower.begin(),
        [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    const auto at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos)
        return 0;
    return std::strtoul(lower.c_str() + at + 17, nullptr, 10);
}

} // namespace

LoopbackServer::Reply& LoopbackServer::Reply::send(std::string bytes)
{
    steps_.push_back({std::move(bytes), 0, 'x', 0});
    return *this;
}

LoopbackServer::Reply& LoopbackServer::Reply::fill(std::size_t n, char c)
{
    steps_.push_back({{}, n, c, 0});
    return *this;
}

LoopbackServer::Reply& LoopbackServer::Reply::pause(int ms)
{
    steps_.push_back({{}, 0, 'x', ms});
    return *this;
}

LoopbackServer::Reply& LoopbackServer::Reply::holdOpen()
{
    hold_ = true;
    return *this;
}

LoopbackServer::Reply& LoopbackServer::Reply::reset()
{
    reset_ = true;
    return *this;
}

LoopbackServer::Reply& LoopbackServer::Reply::relayTo(int port)
{
    relayPort_ = port;
    return *this;
}

LoopbackServer::Reply LoopbackServer::Reply::text(std::string bytes)
{
    Reply reply;
    reply.send(std::move(bytes));
    return reply;
}

LoopbackServer::Reply LoopbackServer::Reply::ok(const std::string& body)
{
    return text("HTTP/1.0 200 OK\r\n\r\n" + body);
}

LoopbackServer::Reply LoopbackServer::Reply::silent()
{
    Reply reply;
    reply.holdOpen();
    return reply;
}

LoopbackServer::Reply LoopbackServer::Reply::closeAtOnce()
{
    return Reply{};
}

LoopbackServer::LoopbackServer()
{
    listenFd_ = listenOnLoopback(port_);
    if (::pipe2(wakeFds_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    thread_ = std::thread([this] { run(); });
}

LoopbackServer::~LoopbackServer()
{
    stop_ = true;
    const char byte = 0;
    [[maybe_unused]] const auto written = ::write(wakeFds_[1], &byte, 1);
    // Unblocks a send to a client that stopped reading.
    {
        std::lock_guard lock(fdMutex_);
        if (currentFd_ >= 0)
            ::shutdown(currentFd_, SHUT_RDWR);
    }
    thread_.join();
    ::close(listenFd_);
    ::close(wakeFds_[0]);
    ::close(wakeFds_[1]);
}

std::string LoopbackServer::hostPort() const
{
    return "127.0.0.1:" + std::to_string(port_);
}

std::string LoopbackServer::url(const std::string& path) const
{
    return "http://" + hostPort() + path;
}

void LoopbackServer::enqueue(Reply reply)
{
    std::lock_guard lock(mutex_);
    replies_.push_back(std::move(reply));
}

void LoopbackServer::setHandler(std::function<Reply(const std::string& request)> handler)
{
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void LoopbackServer::takeConnections(ConnectionHandler handler)
{
    std::lock_guard lock(mutex_);
    takeover_ = std::move(handler);
}

std::string LoopbackServer::requestTarget(const std::string& request)
{
    const auto first = request.find(' ');
    if (first == std::string::npos)
        return {};
    const auto second = request.find(' ', first + 1);
    return request.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

std::vector<std::string> LoopbackServer::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t LoopbackServer::connections() const
{
    std::lock_guard lock(mutex_);
    return connections_;
}

int LoopbackServer::unusedPort()
{
    int port = 0;
    const int fd = listenOnLoopback(port);
    ::close(fd);
    return port;
}

void LoopbackServer::run()
{
    while (!stop_) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard lock(fdMutex_);
            if (stop_) {
                ::close(fd);
                return;
            }
            currentFd_ = fd;
        }
        serve(fd);
        std::lock_guard lock(fdMutex_);
        currentFd_ = -1;
        ::close(fd);
    }
}

void LoopbackServer::serve(int fd)
{
    ConnectionHandler takeover;
    {
        std::lock_guard lock(mutex_);
        takeover = takeover_;
        connections_ += takeover ? 1 : 0;
    }
    if (takeover) {
        takeover(fd, [this](int ms) { return sleepUnlessStopped(ms); });
        return;
    }
    std::string request;
    const bool complete = readRequest(fd, request);
    Reply reply;
    std::function<Reply(const std::string&)> handler;
    {
        std::lock_guard lock(mutex_);
        ++connections_;
        requests_.push_back(request);
        if (!replies_.empty()) {
            reply = std::move(replies_.front());
            replies_.pop_front();
        } else {
            handler = handler_;
        }
    }
    if (handler)
        reply = handler(request);
    if (!complete)
        return;
    for (const auto& step : reply.steps_) {
        if (step.delayMs > 0 && !sleepUnlessStopped(step.delayMs))
            return;
        if (!step.bytes.empty() && !sendAll(fd, step.bytes.data(), step.bytes.size()))
            return;
        if (step.fill > 0) {
            const std::string block(std::min<std::size_t>(step.fill, 65536), step.fillChar);
            for (std::size_t left = step.fill; left > 0;) {
                const std::size_t n = std::min(left, block.size());
                if (!sendAll(fd, block.data(), n))
                    return;
                left -= n;
            }
        }
    }
    if (reply.reset_) {
        // Closing with a zero linger time sends a reset instead of an orderly close.
        const linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        return;
    }
    if (reply.relayPort_ > 0)
        relay(fd, reply.relayPort_);
    if (reply.hold_) {
        // Until the client hangs up (or the server stops).
        char sink[4096];
        for (;;) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                return;
            if (fds[1].revents || (fds[0].revents && ::recv(fd, sink, sizeof sink, 0) <= 0))
                return;
        }
    }
}

bool LoopbackServer::readRequest(int fd, std::string& request)
{
    char buffer[4096];
    std::size_t wanted = std::string::npos;
    while (request.size() < wanted) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (fds[1].revents)
            return false;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return false;
        request.append(buffer, static_cast<std::size_t>(got));
        const auto end = request.find("\r\n\r\n");
        if (wanted == std::string::npos && end != std::string::npos)
            wanted = end + 4 + contentLengthOf(request.substr(0, end + 2));
    }
    return true;
}

void LoopbackServer::relay(int fd, int port)
{
    const int onward = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (onward < 0 || ::connect(onward, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (onward >= 0)
            ::close(onward);
        return;
    }
    char buffer[65536];
    for (bool open = true; open;) {
        pollfd fds[3] = {{fd, POLLIN, 0}, {onward, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[2].revents)
            break;
        for (int i = 0; i < 2 && open; ++i) {
            if (!fds[i].revents)
                continue;
            const ssize_t got = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
            open = got > 0 && sendAll(fds[1 - i].fd, buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(onward);
}

bool LoopbackServer::sleepUnlessStopped(int ms)
{
    pollfd wake{wakeFds_[0], POLLIN, 0};
    return ::poll(&wake, 1, ms) == 0;
}

bool LoopbackServer::sendAll(int fd, const char* data, std::size_t n)
{
    while (n > 0) {
        const ssize_t sent = ::send(fd, data, n, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        n -= static_cast<std::size_t>(sent);
    }
    return true;
}

} // namespace qm::test
