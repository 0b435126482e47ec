#pragma once
// HTTPS through an HTTP proxy: the proxy is asked with CONNECT for a tunnel to the server,
// and the request then goes through it as it would go to the server directly.
#include "service/RequestHead.h"
#include "service/Transport.h"
#include "service/Url.h"

#include <string>

namespace qm {

// "CONNECT host:port HTTP/1.0" for the URL's server, with the user agent and the proxy's
// credentials under the same rule as every other request.
RequestHead buildConnectHead(const UrlParts& parts, const RequestSettings& settings);

// What a request inside the tunnel is built from: the request the server itself would
// get. The proxy's credentials stay with the proxy; the server behind it never sees them.
RequestSettings insideTunnel(RequestSettings settings);

// Sends `connectHead` over a transport connected to the proxy and reads the proxy's reply
// head. Returns when the tunnel is open (status 2xx); otherwise raises SocketError naming
// the proxy's answer. Silence raises the exchange's own time-out texts.
void openTunnel(Transport& toProxy, const std::string& connectHead, int timeoutMs);

} // namespace qm
