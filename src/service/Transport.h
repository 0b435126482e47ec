#pragma once
// The byte stream under the exchange. The exchange speaks HTTP through this seam only,
// so another transport (TLS for "https:") can stand in without changing it.
// Every wait keeps the Qt event loop running; timeoutMs = 0 waits without limit.
#include "service/ReceivePace.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qm {

class Transport {
public:
    virtual ~Transport() = default;

    // Resolves `host` (a dotted address is used as it is) and connects. Raises SocketError
    // with the user's text: lookup and connection failures and time-outs.
    virtual void connect(const std::string& host, int port, int timeoutMs) = 0;
    // Reaches host:port through the HTTP proxy at proxy:proxyPort: connects to the proxy,
    // asks it for a tunnel with `connectHead` (a CONNECT request, ProxyTunnel.h) and then
    // speaks to the server as connect() would have. Raises SocketError, also when the
    // proxy refuses.
    virtual void connectThrough(const std::string& proxy, int proxyPort, const std::string& connectHead,
        const std::string& host, int port, int timeoutMs);
    // Sends every byte; raises SocketError.
    virtual void send(std::string_view bytes, int timeoutMs) = 0;

    struct Received {
        std::size_t count = 0; // bytes placed in the buffer; 0 with !timedOut: the peer closed
        bool timedOut = false; // the pace's rules ended the wait, or the program's end did
    };
    // Waits for data as long as `pace` allows and takes up to `capacity` bytes; raises
    // SocketError on failure. Every byte that comes off the connection is noted in
    // `pace`, under TLS the records' bytes too, so however many reads one receive takes,
    // the pace judges them all.
    virtual Received receive(char* buffer, std::size_t capacity, ReceivePace& pace) = 0;
    // Closes the connection; harmless when none is open.
    virtual void close() = 0;
};

// Makes the transport for a URL scheme ("http:", "https:").
using TransportFactory = std::function<std::unique_ptr<Transport>(const std::string& scheme)>;

} // namespace qm
