#include "service/TlsTransport.h"

#include "platform/Errors.h"
#include "service/ProxyTunnel.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <exception>

namespace qm {

struct TlsTransport::Session {
    explicit Session(Transport& transport)
        : lower(transport)
    {
    }
    ~Session()
    {
        if (ssl)
            SSL_free(ssl); // frees the bridge too
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Runs one TLS call; what the transport underneath raised inside it comes out here,
    // not through the library's C frames. However many reads the call makes (a record
    // dripped a byte at a time takes one per byte), `readPace` judges them all.
    template <typename Call> int run(ReceivePace& readPace, Call call)
    {
        pace = &readPace;
        timedOut = false;
        failure = nullptr;
        ERR_clear_error();
        const int rc = call();
        if (failure)
            std::rethrow_exception(failure);
        return rc;
    }

    Transport& lower;
    SSL* ssl = nullptr;
    ReceivePace* pace = nullptr; // of the call in progress
    bool timedOut = false;
    bool closed = false; // the transport underneath has reached its end
    std::exception_ptr failure;
};

namespace {

using Session = TlsTransport::Session;

Session& sessionOf(BIO* bio)
{
    return *static_cast<Session*>(BIO_get_data(bio));
}

int bridgeWrite(BIO* bio, const char* data, std::size_t length, std::size_t* written)
{
    BIO_clear_retry_flags(bio);
    Session& session = sessionOf(bio);
    try {
        session.lower.send(std::string_view(data, length), session.pace->timeoutMs());
        *written = length;
        return 1;
    } catch (...) {
        session.failure = std::current_exception();
        return 0;
    }
}

int bridgeRead(BIO* bio, char* out, std::size_t length, std::size_t* read)
{
    BIO_clear_retry_flags(bio);
    Session& session = sessionOf(bio);
    try {
        const Transport::Received got = session.lower.receive(out, length, *session.pace);
        if (got.timedOut) {
            // A retry leaves the TLS state whole; the caller reports the time-out.
            session.timedOut = true;
            BIO_set_retry_read(bio);
            return 0;
        }
        *read = got.count;
        session.closed = got.count == 0;
        return got.count > 0 ? 1 : 0;
    } catch (...) {
        session.failure = std::current_exception();
        return 0;
    }
}

long bridgeControl(BIO* bio, int command, long /*number*/, void* /*pointer*/)
{
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_EOF:
        return sessionOf(bio).closed ? 1 : 0;
    default:
        return 0;
    }
}

// The library reads and writes through the transport underneath, so TLS keeps its
// waits, time-outs and event loop, and a proxy tunnel needs nothing of its own.
BIO_METHOD* bridgeMethod()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quillmaren transport");
        BIO_meth_set_write_ex(m, bridgeWrite);
        BIO_meth_set_read_ex(m, bridgeRead);
        BIO_meth_set_ctrl(m, bridgeControl);
        return m;
    }();
    return method;
}

std::string reasonOfLastError(const char* fallback)
{
    const char* reason = ERR_reason_error_string(ERR_peek_last_error());
    return reason ? reason : fallback;
}

// One context for every connection while QUILLMAREN_CA_FILE stays the same: loading the
// system's authorities once is enough.
SSL_CTX* sharedContext()
{
    struct Cache {
        SSL_CTX* context = nullptr;
        std::string caFile;
    };
    // Never destroyed: the library's own clean-up at exit may run first.
    static auto* cache = new Cache;

    const char* variable = std::getenv("QUILLMAREN_CA_FILE");
    const std::string caFile = variable ? variable : "";
    if (cache->context && cache->caFile == caFile)
        return cache->context;

    ERR_clear_error();
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context)
        throw SocketError("TLS handshake failed: " + reasonOfLastError("no TLS context"));
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_default_verify_paths(context);
    if (!caFile.empty() && SSL_CTX_load_verify_locations(context, caFile.c_str(), nullptr) != 1) {
        SSL_CTX_free(context);
        throw CertificateError("Certificate verification failed: cannot read the CA file " + caFile);
    }
    // Servers of HTTP/1.0 end a body by closing, often without TLS's closing message.
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    // Whole records per read from the connection rather than a header and a body apiece.
    SSL_CTX_set_read_ahead(context, 1);
    SSL_CTX_set_default_read_buffer_len(context, 4 * SSL3_RT_MAX_PACKET_SIZE);

    if (cache->context)
        SSL_CTX_free(cache->context); // connections still open keep their own reference
    cache->context = context;
    cache->caFile = caFile;
    return context;
}

bool isAddress(const std::string& host)
{
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

} // namespace

TlsTransport::TlsTransport(std::unique_ptr<Transport> lower)
    : lower_(std::move(lower))
{
}

TlsTransport::~TlsTransport()
{
    close();
}

void TlsTransport::connect(const std::string& host, int port, int timeoutMs)
{
    close();
    lower_->connect(host, port, timeoutMs);
    handshake(host, timeoutMs);
}

void TlsTransport::connectThrough(const std::string& proxy, int proxyPort, const std::string& connectHead,
    const std::string& host, int /*port*/, int timeoutMs)
{
    close();
    lower_->connect(proxy, proxyPort, timeoutMs);
    openTunnel(*lower_, connectHead, timeoutMs);
    handshake(host, timeoutMs);
}

void TlsTransport::handshake(const std::string& host, int timeoutMs)
{
    SSL_CTX* context = sharedContext();
    session_ = std::make_unique<Session>(*lower_);
    Session& session = *session_;
    session.ssl = SSL_new(context);
    BIO* bridge = BIO_new(bridgeMethod());
    if (!session.ssl || !bridge) {
        BIO_free(bridge);
        throw SocketError("TLS handshake failed: " + reasonOfLastError("out of memory"));
    }
    BIO_set_data(bridge, &session);
    BIO_set_init(bridge, 1);
    SSL_set_bio(session.ssl, bridge, bridge);

    // The certificate must name the host as the URL gives it: an address, or a name that
    // is also sent in the hello so that a server of many names picks the right one.
    if (isAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session.ssl), host.c_str());
    } else {
        // The library's macro for this casts in the old style.
        SSL_ctrl(session.ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, const_cast<char*>(host.c_str()));
        SSL_set1_host(session.ssl, host.c_str());
    }

    ReceivePace pace(timeoutMs);
    const int rc = session.run(pace, [&] { return SSL_connect(session.ssl); });
    if (rc == 1)
        return;
    if (session.timedOut)
        throw SocketError("Connection Timed out");
    const long verified = SSL_get_verify_result(session.ssl);
    if (verified != X509_V_OK)
        throw CertificateError(
            std::string("Certificate verification failed: ") + X509_verify_cert_error_string(verified));
    throw SocketError("TLS handshake failed: " + reasonOfLastError("the server closed the connection"));
}

void TlsTransport::send(std::string_view bytes, int timeoutMs)
{
    if (!session_)
        throw SocketError("Connection Failed");
    Session& session = *session_;
    while (!bytes.empty()) {
        std::size_t written = 0;
        ReceivePace pace(timeoutMs); // for what the library may read while it writes
        const int rc
            = session.run(pace, [&] { return SSL_write_ex(session.ssl, bytes.data(), bytes.size(), &written); });
        if (rc != 1)
            throw SocketError("TLS error: " + reasonOfLastError("the server closed the connection"));
        bytes.remove_prefix(written);
    }
}

Transport::Received TlsTransport::receive(char* buffer, std::size_t capacity, ReceivePace& pace)
{
    if (!session_)
        return {0, false};
    Session& session = *session_;
    std::size_t got = 0;
    const int rc = session.run(pace, [&] { return SSL_read_ex(session.ssl, buffer, capacity, &got); });
    if (rc == 1)
        return {got, false};
    if (session.timedOut)
        return {0, true};
    switch (SSL_get_error(session.ssl, rc)) {
    case SSL_ERROR_ZERO_RETURN:
        return {0, false};
    case SSL_ERROR_SYSCALL:
        // The connection ended without a word from the library: an ordinary close.
        if (ERR_peek_error() == 0)
            return {0, false};
        break;
    default:
        break;
    }
    throw SocketError("TLS error: " + reasonOfLastError("the connection failed"));
}

void TlsTransport::close()
{
    // No closing message: the one exchange of this connection is over, whether the
    // server closed it or (after an announced length) keeps it open.
    session_.reset();
    lower_->close();
}

} // namespace qm
