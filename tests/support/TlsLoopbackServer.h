#pragma once
// A TLS server on 127.0.0.1 for tests that need control of the bytes a server sends:
// each stage (its part of the handshake, the reply) may be dripped a byte at a time,
// cutting TLS records into pieces as a hostile server does. The certificates are those
// of tools/local-service (good, wrong-host, expired, self-signed; caFile() signed the
// first three). It serves connections one after another on its own thread: the
// handshake, the request (head and any Content-Length body), then the same reply to each.
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ssl_ctx_st;

namespace qm::test {

class TlsLoopbackServer {
public:
    struct Options {
        std::string certificate = "good";
        // When set, `certificate` is shown only to a hello that names this host; any
        // other hello gets "wrong-host", as a server of many names on one address does.
        std::string onlyForName{};
        int handshakeDripMs = 0; // > 0: the server's handshake bytes go out this far apart
        std::string reply = "HTTP/1.0 200 OK\r\n\r\nhello"; // one record, sent whole
        std::string drippedReply{}; // after it, one more record sent a byte every dripMs
        int dripMs = 60;
    };

    explicit TlsLoopbackServer(Options options);
    ~TlsLoopbackServer();
    TlsLoopbackServer(const TlsLoopbackServer&) = delete;
    TlsLoopbackServer& operator=(const TlsLoopbackServer&) = delete;

    int port() const { return port_; }
    // "127.0.0.1:<port>"
    std::string hostPort() const;
    // "https://127.0.0.1:<port>" + path
    std::string url(const std::string& path) const;
    // The authority that signed every certificate but the self-signed one.
    static std::string caFile();
    // The decrypted bytes of every request received so far, in order.
    std::vector<std::string> requests() const;

    // A drip is cut off after this long, so a client that never gives up ends a test
    // with a wrong result instead of hanging it.
    static constexpr int kDripGuardMs = 10000;

    // Used by the library's name callback.
    ssl_ctx_st* contextForName(const char* name) const;

private:
    void run();
    void serve(int fd);
    bool pause(int ms);

    Options options_;
    ssl_ctx_st* chosen_ = nullptr; // shows the certificate asked for
    ssl_ctx_st* other_ = nullptr; // shows "wrong-host", to hellos without the name
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex fdMutex_;
    int currentFd_ = -1;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

} // namespace qm::test
