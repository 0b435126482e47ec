#include "TlsLoopbackServer.h"

#include "LocalService.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <strings.h>

namespace qm::test {

namespace {

using Clock = std::chrono::steady_clock;

// tools/local-service makes the certificates beside its data on first use; one service
// started once leaves them there for every server of this process.
const std::string& certificateFolder()
{
    static const std::string folder = [] {
        const LocalService service(std::vector<std::string>{"--tls"});
        return service.dataDir() + "tls/";
    }();
    return folder;
}

SSL_CTX* serverContext(const std::string& certificate)
{
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!context)
        throw std::runtime_error("TLS server: no context");
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // Nothing but the reply after the handshake, so a drip is all the client reads.
    SSL_CTX_set_num_tickets(context, 0);
    const std::string& folder = certificateFolder();
    if (SSL_CTX_use_certificate_chain_file(context, (folder + certificate + ".pem").c_str()) != 1
        || SSL_CTX_use_PrivateKey_file(context, (folder + "server.key").c_str(), SSL_FILETYPE_PEM) != 1) {
        SSL_CTX_free(context);
        throw std::runtime_error("TLS server: cannot load " + folder + certificate + ".pem");
    }
    return context;
}

int chooseByName(SSL* ssl, int* /*alert*/, void* server)
{
    const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
    SSL_set_SSL_CTX(ssl, static_cast<const TlsLoopbackServer*>(server)->contextForName(name));
    return SSL_TLSEXT_ERR_OK;
}

std::size_t contentLengthOf(const std::string& head)
{
    for (std::size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2))
        if (::strncasecmp(head.c_str() + at + 2, "content-length:", 15) == 0)
            return std::strtoul(head.c_str() + at + 17, nullptr, 10);
    return 0;
}

bool sendAll(int fd, const char* data, std::size_t n)
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

} // namespace

TlsLoopbackServer::TlsLoopbackServer(Options options)
    : options_(std::move(options))
{
    chosen_ = serverContext(options_.certificate);
    if (!options_.onlyForName.empty()) {
        other_ = serverContext("wrong-host");
        // The library's setter for this callback is a macro that casts in the old style.
        SSL_CTX_callback_ctrl(other_, SSL_CTRL_SET_TLSEXT_SERVERNAME_CB, reinterpret_cast<void (*)()>(&chooseByName));
        SSL_CTX_ctrl(other_, SSL_CTRL_SET_TLSEXT_SERVERNAME_ARG, 0, this);
    }

    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(listenFd_, 16) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0
        || ::pipe2(wakeFds_, O_CLOEXEC) != 0)
        throw std::runtime_error("TLS server: cannot listen");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

TlsLoopbackServer::~TlsLoopbackServer()
{
    stop_ = true;
    const char byte = 0;
    [[maybe_unused]] const auto written = ::write(wakeFds_[1], &byte, 1);
    {
        std::lock_guard lock(fdMutex_);
        if (currentFd_ >= 0)
            ::shutdown(currentFd_, SHUT_RDWR);
    }
    thread_.join();
    ::close(listenFd_);
    ::close(wakeFds_[0]);
    ::close(wakeFds_[1]);
    SSL_CTX_free(chosen_);
    if (other_)
        SSL_CTX_free(other_);
}

std::string TlsLoopbackServer::hostPort() const
{
    return "127.0.0.1:" + std::to_string(port_);
}

std::string TlsLoopbackServer::url(const std::string& path) const
{
    return "https://" + hostPort() + path;
}

std::string TlsLoopbackServer::caFile()
{
    return certificateFolder() + "ca.pem";
}

std::vector<std::string> TlsLoopbackServer::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

ssl_ctx_st* TlsLoopbackServer::contextForName(const char* name) const
{
    return name && options_.onlyForName == name ? chosen_ : other_;
}

void TlsLoopbackServer::run()
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

bool TlsLoopbackServer::pause(int ms)
{
    pollfd wake{wakeFds_[0], POLLIN, 0};
    return ::poll(&wake, 1, ms) == 0;
}

void TlsLoopbackServer::serve(int fd)
{
    // The library speaks through memory buffers, so that this server decides when each
    // byte it produces goes out.
    const std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(other_ ? other_ : chosen_), &SSL_free);
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl.get(), in, out);
    SSL_set_accept_state(ssl.get());
    const auto dripEnd = Clock::now() + std::chrono::milliseconds(kDripGuardMs);

    // Sends what the library has produced, a byte every gapMs when gapMs > 0.
    const auto flush = [&](int gapMs) {
        char buffer[16384];
        for (int n; (n = BIO_read(out, buffer, sizeof buffer)) > 0;) {
            if (gapMs <= 0) {
                if (!sendAll(fd, buffer, static_cast<std::size_t>(n)))
                    return false;
                continue;
            }
            for (int i = 0; i < n; ++i)
                if (Clock::now() > dripEnd || !pause(gapMs) || !sendAll(fd, buffer + i, 1))
                    return false;
        }
        return true;
    };
    // Gives the library what the client has sent; false when the client is gone.
    const auto feed = [&] {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        while (::poll(fds, 2, -1) < 0)
            if (errno != EINTR)
                return false;
        char buffer[16384];
        const ssize_t got = fds[1].revents ? 0 : ::recv(fd, buffer, sizeof buffer, 0);
        return got > 0 && BIO_write(in, buffer, static_cast<int>(got)) == got;
    };

    for (;;) {
        const int rc = SSL_do_handshake(ssl.get());
        if (!flush(options_.handshakeDripMs))
            return;
        if (rc == 1)
            break;
        if (SSL_get_error(ssl.get(), rc) != SSL_ERROR_WANT_READ || !feed())
            return; // the client refused the certificate, or left
    }

    std::string request;
    for (std::size_t wanted = std::string::npos; request.size() < wanted;) {
        char buffer[4096];
        std::size_t got = 0;
        if (SSL_read_ex(ssl.get(), buffer, sizeof buffer, &got) == 1) {
            request.append(buffer, got);
            const auto end = request.find("\r\n\r\n");
            if (wanted == std::string::npos && end != std::string::npos)
                wanted = end + 4 + contentLengthOf(request.substr(0, end + 2));
            continue;
        }
        if (SSL_get_error(ssl.get(), 0) != SSL_ERROR_WANT_READ || !feed())
            return;
    }
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }

    std::size_t written = 0;
    if (!options_.reply.empty()
        && (SSL_write_ex(ssl.get(), options_.reply.data(), options_.reply.size(), &written) != 1 || !flush(0)))
        return;
    if (!options_.drippedReply.empty()
        && (SSL_write_ex(ssl.get(), options_.drippedReply.data(), options_.drippedReply.size(), &written) != 1
            || !flush(options_.dripMs)))
        return;
    SSL_shutdown(ssl.get());
    flush(0);
}

} // namespace qm::test
