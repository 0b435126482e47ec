#pragma once
// Plain TCP over a non-blocking POSIX socket, waited on through the Qt event loop.
#include "service/SocketWait.h"
#include "service/Transport.h"

namespace qm {

class TcpTransport : public Transport {
public:
    TcpTransport() = default;
    ~TcpTransport() override;
    TcpTransport(const TcpTransport&) = delete;
    TcpTransport& operator=(const TcpTransport&) = delete;

    void connect(const std::string& host, int port, int timeoutMs) override;
    void send(std::string_view bytes, int timeoutMs) override;
    Received receive(char* buffer, std::size_t capacity, ReceivePace& pace) override;
    void close() override;

private:
    int fd_ = -1;
    EventPump pump_;
};

// The text of a socket failure without a fixed message: the number, ":" and the
// system's description.
std::string socketErrorText(int err);

} // namespace qm
