// Serves one large body over HTTP/1.0 on 127.0.0.1 to every connection, one after
// another, until killed; over TLS when given a certificate and its key. Prints its port
// on the first line of standard output.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Plain TCP, or TLS on the same socket.
class Stream {
public:
    Stream(int fd, SSL_CTX* tls)
        : fd_(fd)
    {
        if (!tls)
            return;
        ssl_ = SSL_new(tls);
        SSL_set_fd(ssl_, fd);
        if (SSL_accept(ssl_) != 1) {
            SSL_free(ssl_);
            ssl_ = nullptr;
            failed_ = true;
        }
    }
    ~Stream()
    {
        if (ssl_) {
            SSL_shutdown(ssl_);
            SSL_free(ssl_);
        }
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    bool failed() const { return failed_; }
    long receive(char* buffer, std::size_t n)
    {
        if (!ssl_)
            return ::recv(fd_, buffer, n, 0);
        std::size_t got = 0;
        return SSL_read_ex(ssl_, buffer, n, &got) == 1 ? static_cast<long>(got) : -1;
    }
    bool sendAll(const char* data, std::size_t n)
    {
        while (n > 0) {
            std::size_t sent = 0;
            if (ssl_) {
                if (SSL_write_ex(ssl_, data, n, &sent) != 1)
                    return false;
            } else {
                const ssize_t rc = ::send(fd_, data, n, MSG_NOSIGNAL);
                if (rc <= 0)
                    return false;
                sent = static_cast<std::size_t>(rc);
            }
            data += sent;
            n -= sent;
        }
        return true;
    }

private:
    int fd_;
    SSL* ssl_ = nullptr;
    bool failed_ = false;
};

void serve(Stream& stream, unsigned long long size, const std::string& block)
{
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        const long got = stream.receive(buffer, sizeof buffer);
        if (got <= 0)
            return;
        request.append(buffer, static_cast<std::size_t>(got));
    }
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: "
        + std::to_string(size) + "\r\n\r\n";
    if (!stream.sendAll(head.data(), head.size()))
        return;
    for (unsigned long long left = size; left > 0;) {
        const std::size_t n = left < block.size() ? static_cast<std::size_t>(left) : block.size();
        if (!stream.sendAll(block.data(), n))
            return;
        left -= n;
    }
}

SSL_CTX* serverContext(const char* certificate, const char* key)
{
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!context || SSL_CTX_use_certificate_chain_file(context, certificate) != 1
        || SSL_CTX_use_PrivateKey_file(context, key, SSL_FILETYPE_PEM) != 1) {
        ERR_print_errors_fp(stderr);
        std::exit(1);
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    return context;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: %s <body bytes> [<certificate> <key>]\n", argv[0]);
        return 2;
    }
    const unsigned long long size = std::strtoull(argv[1], nullptr, 10);
    SSL_CTX* tls = argc == 4 ? serverContext(argv[2], argv[3]) : nullptr;
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>('0' + i % 64);

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(listener, 8) != 0) {
        std::perror("listen");
        return 1;
    }
    socklen_t len = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &len);
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            Stream stream(fd, tls);
            if (!stream.failed())
                serve(stream, size, block);
        }
        ::close(fd);
    }
}
