#include "TlsLoopbackServer.h"

#include "LocalService.h"

#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <stdexcept>

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

} // namespace

TlsLoopbackServer::TlsLoopbackServer(Options options)
    : options_(std::move(options))
    , chosen_(serverContext(options_.certificate), &SSL_CTX_free)
    , other_(options_.onlyForName.empty() ? nullptr : serverContext("wrong-host"), &SSL_CTX_free)
{
    if (other_) {
        // The library's setter for this callback is a macro that casts in the old style.
        SSL_CTX_callback_ctrl(
            other_.get(), SSL_CTRL_SET_TLSEXT_SERVERNAME_CB, reinterpret_cast<void (*)()>(&chooseByName));
        SSL_CTX_ctrl(other_.get(), SSL_CTRL_SET_TLSEXT_SERVERNAME_ARG, 0, this);
    }
    server_.takeConnections([this](int fd, const std::function<bool(int)>& sleep) { serve(fd, sleep); });
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
    return name && options_.onlyForName == name ? chosen_.get() : other_.get();
}

void TlsLoopbackServer::serve(int fd, const std::function<bool(int ms)>& sleep)
{
    // The library speaks through memory buffers, so that this server decides when each
    // byte it produces goes out.
    const std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(other_ ? other_.get() : chosen_.get()), &SSL_free);
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
                if (!LoopbackServer::sendAll(fd, buffer, static_cast<std::size_t>(n)))
                    return false;
                continue;
            }
            for (int i = 0; i < n; ++i)
                if (Clock::now() > dripEnd || !sleep(gapMs) || !LoopbackServer::sendAll(fd, buffer + i, 1))
                    return false;
        }
        return true;
    };
    // Gives the library what the client has sent; false when the client is gone.
    const auto feed = [&] {
        char buffer[16384];
        ssize_t got;
        while ((got = ::recv(fd, buffer, sizeof buffer, 0)) < 0 && errno == EINTR) { }
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
    while (request.find("\r\n\r\n") == std::string::npos) {
        char buffer[4096];
        std::size_t got = 0;
        if (SSL_read_ex(ssl.get(), buffer, sizeof buffer, &got) == 1)
            request.append(buffer, got);
        else if (SSL_get_error(ssl.get(), 0) != SSL_ERROR_WANT_READ || !feed())
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
