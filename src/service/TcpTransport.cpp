#include "service/TcpTransport.h"

#include "platform/Errors.h"
#include "platform/EventPause.h"
#include "platform/Halt.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace qm {

namespace {

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
};

// A lookup in progress. getaddrinfo blocks, so names are resolved with the asynchronous
// variant and polled while the event loop runs; no thread of our own is needed.
struct PendingLookup {
    std::string name;
    addrinfo hints{};
    gaicb request{};
};

// Lookups given up after their time-out that the resolver could not cancel: their
// buffers must outlive the resolver's work, so they are freed once it has finished
// (and never at exit, while the resolver may still be writing to them).
std::vector<std::unique_ptr<PendingLookup>>& abandonedLookups()
{
    static auto* lookups = new std::vector<std::unique_ptr<PendingLookup>>;
    return *lookups;
}

void reapAbandonedLookups()
{
    auto& lookups = abandonedLookups();
    std::erase_if(lookups, [](const std::unique_ptr<PendingLookup>& lookup) {
        if (gai_error(&lookup->request) == EAI_INPROGRESS)
            return false;
        if (lookup->request.ar_result)
            freeaddrinfo(lookup->request.ar_result);
        return true;
    });
}

std::vector<Address> resolve(const std::string& host, int port, int timeoutMs)
{
    in_addr dotted{};
    if (inet_pton(AF_INET, host.c_str(), &dotted) == 1) {
        Address address;
        auto* in = reinterpret_cast<sockaddr_in*>(&address.storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(static_cast<std::uint16_t>(port));
        in->sin_addr = dotted;
        address.length = sizeof(sockaddr_in);
        return {address};
    }

    reapAbandonedLookups();
    auto lookup = std::make_unique<PendingLookup>();
    lookup->name = host;
    lookup->hints.ai_family = AF_UNSPEC;
    lookup->hints.ai_socktype = SOCK_STREAM;
    lookup->request.ar_name = lookup->name.c_str();
    lookup->request.ar_request = &lookup->hints;
    gaicb* list[] = {&lookup->request};
    sigevent none{};
    none.sigev_notify = SIGEV_NONE;
    if (const int failed = getaddrinfo_a(GAI_NOWAIT, list, 1, &none); failed != 0)
        throw SocketError("Null Remote Address", gai_strerror(failed));

    const auto start = std::chrono::steady_clock::now();
    int pollMs = 1;
    bool ending = false;
    while (gai_error(&lookup->request) == EAI_INPROGRESS) {
        const auto waited
            = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        // The program's end (a fatal stop, the application quitting) ends the lookup
        // like its time-out.
        if (ending || haltRequested() || (timeoutMs > 0 && waited >= timeoutMs)) {
            if (gai_cancel(&lookup->request) != EAI_CANCELED)
                abandonedLookups().push_back(std::move(lookup));
            throw SocketError("Host Lookup Timed Out");
        }
        ending = !pauseWithEvents(std::chrono::milliseconds(pollMs));
        pollMs = std::min(pollMs * 2, 20);
    }

    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> result(lookup->request.ar_result, &freeaddrinfo);
    if (const int failed = gai_error(&lookup->request); failed != 0)
        throw SocketError("Null Remote Address", gai_strerror(failed));
    if (!result)
        throw SocketError("Null Remote Address");
    std::vector<Address> addresses;
    for (const addrinfo* ai = result.get(); ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6)
            continue;
        Address address;
        std::memcpy(&address.storage, ai->ai_addr, ai->ai_addrlen);
        address.length = ai->ai_addrlen;
        if (ai->ai_family == AF_INET)
            reinterpret_cast<sockaddr_in*>(&address.storage)->sin_port = htons(static_cast<std::uint16_t>(port));
        else
            reinterpret_cast<sockaddr_in6*>(&address.storage)->sin6_port = htons(static_cast<std::uint16_t>(port));
        addresses.push_back(address);
    }
    if (addresses.empty())
        throw SocketError("Null Remote Address");
    return addresses;
}

} // namespace

std::string socketErrorText(int err)
{
    return std::to_string(err) + ":" + std::strerror(err);
}

TcpTransport::~TcpTransport()
{
    close();
}

void TcpTransport::connect(const std::string& host, int port, int timeoutMs)
{
    close();
    const std::vector<Address> addresses = resolve(host, port, timeoutMs);
    // A typed port may be any integer; one out of range must not wrap round to another port.
    if (port < 0 || port > 65535)
        throw SocketError("Connection Failed");
    // Each address in turn: a name may resolve to an IPv6 address that nobody serves.
    int failure = 0; // the last address's
    for (const Address& address : addresses) {
        fd_ = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            throw SocketError("Initializaton of windows sockets failed", std::strerror(errno));
        int rc = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address.storage), address.length);
        failure = rc == 0 ? 0 : errno;
        if (rc != 0 && failure == EINPROGRESS) {
            if (waitForSocket(fd_, SocketReady::Write, timeoutMs) != WaitEnd::Ready) {
                close();
                throw SocketError("Connection Timed out");
            }
            socklen_t len = sizeof failure;
            if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &failure, &len) != 0)
                failure = errno;
            rc = failure == 0 ? 0 : -1;
        }
        if (rc == 0)
            return;
        close();
    }
    throw SocketError("Connection Failed", failure != 0 ? std::strerror(failure) : std::string());
}

void TcpTransport::send(std::string_view bytes, int timeoutMs)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent >= 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            throw SocketError(socketErrorText(errno));
        if (waitForSocket(fd_, SocketReady::Write, timeoutMs) != WaitEnd::Ready)
            throw SocketError(socketErrorText(ETIMEDOUT));
    }
}

Transport::Received TcpTransport::receive(char* buffer, std::size_t capacity, ReceivePace& pace)
{
    // Data that never stop coming never reach a wait, so the stop is checked here too.
    if (haltRequested())
        return {0, true};
    for (;;) {
        const ssize_t got = ::recv(fd_, buffer, capacity, 0);
        if (got > 0) {
            pace.note(static_cast<std::size_t>(got));
            pump_.pumpIfDue();
            return {static_cast<std::size_t>(got), false};
        }
        if (got == 0)
            return {0, false};
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            throw SocketError(socketErrorText(errno));
        const int waitMs = pace.nextWaitMs();
        if (waitMs < 0)
            return {0, true};
        // A wait that ran its time leaves the next round to the pace; the program's end
        // ends the transfer.
        if (waitForSocket(fd_, SocketReady::Read, waitMs) == WaitEnd::Ending)
            return {0, true};
    }
}

void TcpTransport::close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace qm
