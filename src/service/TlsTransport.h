#pragma once
// TLS over another transport (a TCP connection, or a tunnel through a proxy). The server's
// certificate must chain to the system's trusted authorities or to the file that
// QUILLMAREN_CA_FILE names, and must name the host (else CertificateError); TLS 1.2 or
// later. Waits and the event loop are those of the transport underneath; the handshake's
// reads are judged together by one ReceivePace.
#include "service/Transport.h"

#include <memory>

namespace qm {

class TlsTransport : public Transport {
public:
    explicit TlsTransport(std::unique_ptr<Transport> lower);
    ~TlsTransport() override;
    TlsTransport(const TlsTransport&) = delete;
    TlsTransport& operator=(const TlsTransport&) = delete;

    void connect(const std::string& host, int port, int timeoutMs) override;
    void connectThrough(const std::string& proxy, int proxyPort, const std::string& connectHead,
        const std::string& host, int port, int timeoutMs) override;
    void send(std::string_view bytes, int timeoutMs) override;
    Received receive(char* buffer, std::size_t capacity, ReceivePace& pace) override;
    void close() override;

    struct Session; // the TLS state and the bridge to the transport underneath

private:
    void handshake(const std::string& host, int timeoutMs);

    std::unique_ptr<Transport> lower_;
    std::unique_ptr<Session> session_;
};

} // namespace qm
