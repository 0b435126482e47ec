#include "service/HttpExchange.h"

#include "platform/Errors.h"
#include "platform/File.h"
#include "service/ProxyTunnel.h"
#include "service/RequestHead.h"
#include "service/ResponseHead.h"
#include "service/TcpTransport.h"
#include "service/TlsTransport.h"
#include "service/Url.h"

#include <memory>
#include <optional>
#include <vector>

namespace qm {

namespace {

// Where a response head or body goes: the text of a setting, or the file it names
// (created anew), written piece by piece so that no file-mode body is held whole.
class Sink {
public:
    Sink(bool toFile, std::string& target, std::size_t memoryLimit)
        : target_(target)
        , memoryLimit_(memoryLimit)
    {
        if (toFile)
            file_.emplace(target);
        else
            target_.clear();
    }
    void append(std::string_view bytes)
    {
        if (file_) {
            file_->write(bytes);
            return;
        }
        if (target_.size() + bytes.size() > memoryLimit_)
            throw SocketError("Response too large");
        target_.append(bytes);
    }
    void finish()
    {
        if (file_)
            file_->close();
    }

private:
    std::string& target_;
    std::size_t memoryLimit_;
    std::optional<BufferedWriter> file_;
};

// The bytes of one response as they arrive; the head is taken from here line by line.
class Receiver {
public:
    Receiver(Transport& transport, int timeoutMs)
        : transport_(transport)
        , timeoutMs_(timeoutMs)
        , chunk_(HttpExchange::kChunkBytes)
    {
    }

    // One more chunk into the pending text; false when the server has closed.
    template <typename Error> bool more(const char* timeoutText)
    {
        if (closed_)
            return false;
        pending_.erase(0, pos_);
        pos_ = 0;
        const std::string_view got = receive<Error>(timeoutText);
        if (got.empty())
            return false;
        pending_.append(got);
        return true;
    }

    // One chunk straight from the connection; empty when the server has closed.
    template <typename Error> std::string_view receive(const char* timeoutText)
    {
        if (closed_)
            return {};
        const auto got = transport_.receive(chunk_.data(), chunk_.size(), timeoutMs_);
        if (got.timedOut)
            throw Error(timeoutText);
        if (got.count == 0)
            closed_ = true;
        return {chunk_.data(), got.count};
    }

    std::size_t available() const { return pending_.size() - pos_; }
    std::string_view pending() const { return std::string_view(pending_).substr(pos_); }

    // The next line with its LF, or nothing while no complete line is pending.
    std::optional<std::string_view> takeLine()
    {
        const auto lf = pending_.find('\n', pos_);
        if (lf == std::string::npos)
            return std::nullopt;
        const std::string_view line = std::string_view(pending_).substr(pos_, lf + 1 - pos_);
        pos_ = lf + 1;
        return line;
    }
    std::string_view takeRest()
    {
        const std::string_view rest = pending();
        pos_ = pending_.size();
        return rest;
    }
    bool closed() const { return closed_; }

private:
    Transport& transport_;
    int timeoutMs_;
    std::vector<char> chunk_;
    std::string pending_;
    std::size_t pos_ = 0;
    bool closed_ = false;
};

struct Connection {
    std::unique_ptr<Transport> transport;
    ~Connection()
    {
        if (transport)
            transport->close();
    }
};

} // namespace

HttpExchange::HttpExchange()
    : transportFactory_([](const std::string& scheme) -> std::unique_ptr<Transport> {
        if (isTlsScheme(scheme))
            return std::make_unique<TlsTransport>(std::make_unique<TcpTransport>());
        return std::make_unique<TcpTransport>();
    })
{
}

void HttpExchange::Get(const std::string& url)
{
    call("GET", url, nullptr);
}

void HttpExchange::Head(const std::string& url)
{
    call("HEAD", url, nullptr);
}

void HttpExchange::Post(const std::string& url, const std::string& data)
{
    call("POST", url, &data);
}

void HttpExchange::call(std::string_view method, const std::string& url, const std::string* data)
{
    if (busy_)
        throw SocketError("Already connected");
    busy_ = true;
    struct Idle {
        bool& busy;
        ~Idle() { busy = false; }
    } idle{busy_};

    std::string target = url;
    for (int redirects = 0;; ++redirects) {
        exchangeOnce(method, target, data);
        if (statusCode_ < 300 || statusCode_ > 302)
            return;
        if (redirects == kMaxRedirects)
            throw SocketError("Too many redirects");
        if (!responseCookie_.empty())
            Cookie = responseCookie_;
        target = resolveRedirect(splitUrl(target), redirectTarget_);
        method = "GET";
        data = nullptr;
    }
}

void HttpExchange::exchangeOnce(std::string_view method, const std::string& url, const std::string* data)
{
    const UrlParts parts = splitUrl(url);
    // https through a proxy travels in a CONNECT tunnel, inside which the request is the
    // one the server would get directly.
    const bool tunnel = !Proxy.empty() && isTlsScheme(parts.scheme);
    const RequestSettings settings{Proxy, LocalProgram, Cookie, ProxyUserId, ProxyPassword};
    const RequestHead head = buildRequestHead(method, url, parts, tunnel ? insideTunnel(settings) : settings, data);

    statusCode_ = 0;
    responseCookie_.clear();
    redirectTarget_.clear();
    contentLength_ = -1;

    Connection connection{transportFactory_(parts.scheme)};
    Transport& transport = *connection.transport;
    const bool viaProxy = !Proxy.empty();
    if (tunnel)
        transport.connectThrough(
            Proxy, ProxyPort, buildConnectHead(parts, settings).text(), parts.host, parts.portNumber, TimeOut);
    else
        transport.connect(viaProxy ? Proxy : parts.host, viaProxy ? ProxyPort : parts.portNumber, TimeOut);
    std::string request = head.text();
    if (data)
        request += *data;
    transport.send(request, TimeOut);

    Receiver in(transport, TimeOut);
    while (in.available() < 3 && in.more<SocketError>("Timed out waiting for response")) { }

    // A response without a head still replaces the last one's, so that no stale head
    // is read as this response's.
    Sink headSink(InputFileMode, Header, kMaxHeadBytes);
    if (in.pending().starts_with("HTT")) {
        ResponseFields fields;
        std::size_t headBytes = 0;
        bool statusLine = true;
        for (;;) {
            std::optional<std::string_view> line = in.takeLine();
            if (!line) {
                if (in.available() > kMaxHeadBytes)
                    throw SocketError("Response too large");
                if (in.more<SocketReadAborted>("Socket readln aborted"))
                    continue;
                line = in.takeRest(); // the server closed inside the head
            }
            headBytes += line->size();
            if (headBytes > kMaxHeadBytes)
                throw SocketError("Response too large");
            headSink.append(*line);
            if (statusLine) {
                fields.status = statusOfLine(*line);
                statusLine = false;
            } else if (endsHead(*line)) {
                break;
            } else {
                readHeadLine(*line, fields);
            }
            if (in.closed() && in.available() == 0)
                break;
        }
        statusCode_ = fields.status;
        responseCookie_ = fields.cookie;
        redirectTarget_ = fields.location;
        contentLength_ = fields.contentLength;
    }
    headSink.finish();

    Sink bodySink(InputFileMode, Body, kMaxMemoryBodyBytes);
    const std::string_view early = in.takeRest();
    bodySink.append(early);
    std::int64_t received = static_cast<std::int64_t>(early.size());
    auto reported = std::chrono::steady_clock::now();
    if (OnProgress)
        OnProgress(received, contentLength_);
    for (;;) {
        const std::string_view chunk = in.receive<SocketReadAborted>("Socket capture aborted");
        if (chunk.empty())
            break;
        bodySink.append(chunk);
        received += static_cast<std::int64_t>(chunk.size());
        if (OnProgress) {
            const auto now = std::chrono::steady_clock::now();
            if (now - reported >= kProgressInterval) {
                reported = now;
                OnProgress(received, contentLength_);
            }
        }
    }
    bodySink.finish();
    if (OnProgress)
        OnProgress(received, contentLength_);

    if (statusCode_ >= 400 && OnFailure)
        OnFailure(method);
}

} // namespace qm
