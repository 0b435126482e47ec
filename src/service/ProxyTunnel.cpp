#include "service/ProxyTunnel.h"

#include "platform/Errors.h"
#include "service/ResponseHead.h"

#include <array>

namespace qm {

namespace {

// A proxy's reply head is a few lines; more than this is no proxy worth waiting for.
constexpr std::size_t kMaxReplyBytes = 65536;

// Where the reply head ends (after its empty line), or npos while it goes on.
std::size_t endOfHead(const std::string& reply)
{
    for (std::size_t lf = reply.find('\n'); lf != std::string::npos; lf = reply.find('\n', lf + 1)) {
        const std::size_t next = lf + 1;
        if (reply.compare(next, 1, "\n") == 0)
            return next + 1;
        if (reply.compare(next, 2, "\r\n") == 0)
            return next + 2;
    }
    return std::string::npos;
}

std::string firstLine(const std::string& reply)
{
    std::string line = reply.substr(0, reply.find('\n'));
    if (line.ends_with('\r'))
        line.pop_back();
    return line;
}

} // namespace

RequestHead buildConnectHead(const UrlParts& parts, const RequestSettings& settings)
{
    const std::string authority = parts.host + ":" + std::to_string(parts.portNumber);
    RequestHead head;
    head.addLine("CONNECT " + authority + " HTTP/1.0");
    head.set("Host", authority);
    if (!settings.userAgent.empty())
        head.set("User-Agent", settings.userAgent);
    if (const std::string credentials = proxyAuthorization(settings); !credentials.empty())
        head.set("Proxy-Authorization", credentials);
    return head;
}

RequestSettings insideTunnel(RequestSettings settings)
{
    settings.proxy.clear();
    settings.proxyAuthentication = false;
    settings.proxyUserId.clear();
    settings.proxyPassword.clear();
    return settings;
}

void openTunnel(Transport& toProxy, const std::string& connectHead, int timeoutMs)
{
    toProxy.send(connectHead, timeoutMs);
    // A proxy that drips its reply is judged like a server that drips its response.
    ReceivePace pace(timeoutMs);
    std::string reply;
    std::array<char, 4096> chunk{};
    std::size_t end = std::string::npos;
    while (end == std::string::npos) {
        if (reply.size() > kMaxReplyBytes)
            throw ResponseTooLarge();
        const auto got = toProxy.receive(chunk.data(), chunk.size(), pace);
        if (got.timedOut) {
            if (reply.empty())
                throw SocketError("Timed out waiting for response");
            throw SocketReadAborted("Socket readln aborted");
        }
        if (got.count == 0)
            throw SocketError("Proxy tunnel refused: " + (reply.empty() ? std::string("no reply") : firstLine(reply)));
        reply.append(chunk.data(), got.count);
        end = endOfHead(reply);
    }
    const int status = statusOfLine(firstLine(reply));
    // The server has said nothing yet, so bytes after the head cannot belong to it.
    if (status < 200 || status > 299 || end != reply.size())
        throw SocketError("Proxy tunnel refused: " + firstLine(reply));
}

void Transport::connectThrough(const std::string& proxy, int proxyPort, const std::string& connectHead,
    const std::string& /*host*/, int /*port*/, int timeoutMs)
{
    connect(proxy, proxyPort, timeoutMs);
    openTunnel(*this, connectHead, timeoutMs);
}

} // namespace qm
