#pragma once
// A TLS server on 127.0.0.1 for tests that need control of the bytes a server sends:
// its part of the handshake, or its reply, may be dripped a byte at a time, cutting TLS
// records into pieces as a hostile server does. The certificates are those of
// tools/local-service (good, wrong-host, expired, self-signed; caFile() signed the first
// three). Each connection gets the handshake, its request head is read, then the reply.
#include "LoopbackServer.h"

#include <memory>
#include <mutex>
#include <string>
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

    int port() const { return server_.port(); }
    // "https://127.0.0.1:<port>" + path
    std::string url(const std::string& path) const { return "https://" + server_.hostPort() + path; }
    // The authority that signed every certificate but the self-signed one.
    static std::string caFile();
    // The decrypted head of every request received so far, in order.
    std::vector<std::string> requests() const;

    // A drip is cut off after this long, so a client that never gives up ends a test
    // with a wrong result instead of hanging it.
    static constexpr int kDripGuardMs = 10000;

    // Used by the library's name callback.
    ssl_ctx_st* contextForName(const char* name) const;

private:
    using Context = std::unique_ptr<ssl_ctx_st, void (*)(ssl_ctx_st*)>;
    void serve(int fd, const std::function<bool(int ms)>& sleep);

    Options options_;
    Context chosen_; // shows the certificate asked for
    Context other_; // shows "wrong-host", to hellos without the name
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    LoopbackServer server_; // last: its thread ends before the rest goes
};

} // namespace qm::test
