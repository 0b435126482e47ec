#include "service/HttpExchange.h"

#include "platform/Errors.h"
#include "platform/File.h"
#include "service/ProxyTunnel.h"
#include "service/RequestHead.h"
#include "service/ResponseHead.h"
#include "service/TcpTransport.h"
#include "service/TlsTransport.h"
#include "service/Url.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace qm {

namespace {

// Where a response head or body goes: the text of a setting, or the file it names,
// written piece by piece so that no file-mode body is held whole. A file is written
// under a temporary name and put in place only when the response is complete, so a
// cut transfer never leaves a partial file where a whole one is expected.
class Sink {
public:
    Sink(bool toFile, std::string& target, std::size_t memoryLimit, std::uint64_t fileLimit)
        : target_(target)
        , memoryLimit_(memoryLimit)
        , fileLimit_(fileLimit)
    {
        if (toFile) {
            replacing_.emplace(target);
            replacing_->removeLeftovers(); // of a transfer a crash cut off
            file_.emplace();
            file_->create(replacing_->createTemp());
        } else {
            target_ = std::string(); // the last response's buffer goes too
        }
    }
    // Takes room for an announced length at once instead of growing towards it.
    void expect(std::int64_t announced)
    {
        if (!file_ && announced > 0 && static_cast<std::uint64_t>(announced) <= memoryLimit_)
            target_.reserve(static_cast<std::size_t>(announced));
    }
    // A length past the limit is refused before a byte of it is stored.
    void checkAnnounced(std::int64_t announced) const
    {
        if (announced > 0 && static_cast<std::uint64_t>(announced) > (file_ ? fileLimit_ : memoryLimit_))
            throw ResponseTooLarge();
    }
    void append(std::string_view bytes)
    {
        written_ += bytes.size();
        if (file_) {
            if (written_ > fileLimit_)
                throw ResponseTooLarge();
            file_->write(bytes);
            return;
        }
        const std::size_t needed = target_.size() + bytes.size();
        if (needed > memoryLimit_)
            throw ResponseTooLarge();
        if (needed > target_.capacity())
            grow(needed);
        target_.append(bytes);
    }
    void finish()
    {
        if (file_) {
            file_->close();
            replacing_->commit();
        }
    }

private:
    // A buffer that doubles holds its old and new copies at once: near the limit that
    // is about twice the limit. Small buffers double; once doubling would pass a tenth
    // of the limit the next step goes to the limit itself, so old and new together
    // stay within 1.1 times the limit.
    void grow(std::size_t needed)
    {
        static constexpr std::size_t kFirst = 64 * 1024;
        const std::size_t capacity = target_.capacity();
        std::size_t next = std::max({needed, 2 * capacity, kFirst});
        if (next > memoryLimit_ / 10) {
            if (capacity > memoryLimit_ / 10)
                throw ResponseTooLarge(); // outgrew a large announced length
            next = memoryLimit_;
        }
        target_.reserve(next);
    }

    std::string& target_;
    std::size_t memoryLimit_;
    std::uint64_t fileLimit_;
    std::uint64_t written_ = 0;
    std::optional<ReplacingFile> replacing_;
    std::optional<BufferedWriter> file_;
};

// The bytes of one response as they arrive; the head is taken from here line by line.
// Silence, or a response that drips in too slowly (ReceivePace), ends the call with the
// time-out text of the wait it is in.
class Receiver {
public:
    Receiver(Transport& transport, int timeoutMs)
        : transport_(transport)
        , pace_(timeoutMs)
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
        const auto got = transport_.receive(chunk_.data(), chunk_.size(), pace_);
        if (got.timedOut)
            throw Error(timeoutText);
        if (got.count == 0) {
            closed_ = true;
            return {};
        }
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
    ReceivePace pace_;
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

HttpExchange::HttpExchange(std::uint64_t fileBodyLimit)
    : transportFactory_([](const std::string& scheme) -> std::unique_ptr<Transport> {
        if (isTlsScheme(scheme))
            return std::make_unique<TlsTransport>(std::make_unique<TcpTransport>());
        return std::make_unique<TcpTransport>();
    })
    , fileBodyLimit_(fileBodyLimit)
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

    // Each address is split once, where it enters, and its parts travel on.
    UrlParts parts = splitUrl(url);
    if (Cookie != cookieBound_)
        bindCookie(originOf(parts));
    std::string target = url;
    for (int redirects = 0;; ++redirects) {
        exchangeOnce(method, target, parts, data);
        responseOrigin_ = originOf(parts);
        if (statusCode_ < 300 || statusCode_ > 302)
            return;
        if (redirects == kMaxRedirects)
            throw SocketError("Too many redirects");
        if (!responseCookie_.empty()) {
            Cookie = responseCookie_;
            bindCookie(responseOrigin_);
        }
        target = resolveRedirect(parts, redirectTarget_);
        UrlParts next = splitUrl(target);
        // What was asked for over TLS must not come from where anyone on the way can read
        // and change it.
        if (isTlsScheme(parts.scheme) && !isTlsScheme(next.scheme))
            throw SocketError("Refused redirect from https to http");
        parts = std::move(next);
        method = "GET";
        data = nullptr;
    }
}

void HttpExchange::keepResponseCookie()
{
    Cookie = responseCookie_;
    bindCookie(responseOrigin_);
}

void HttpExchange::bindCookie(std::string origin)
{
    cookieOrigin_ = std::move(origin);
    cookieBound_ = Cookie;
}

std::string HttpExchange::cookieFor(const UrlParts& parts) const
{
    return originOf(parts) == cookieOrigin_ ? Cookie : std::string();
}

void HttpExchange::exchangeOnce(
    std::string_view method, const std::string& url, const UrlParts& parts, const std::string* data)
{
    // https through a proxy travels in a CONNECT tunnel, inside which the request is the
    // one the server would get directly.
    const bool tunnel = !Proxy.empty() && isTlsScheme(parts.scheme);
    const RequestSettings settings{
        Proxy, LocalProgram, cookieFor(parts), ProxyAuthentication, ProxyUserId, ProxyPassword};
    const RequestHead head = buildRequestHead(method, url, parts, tunnel ? insideTunnel(settings) : settings, data);

    statusCode_ = 0;
    responseCookie_.clear();
    redirectTarget_.clear();
    contentLength_ = -1;
    contentLengthMalformed_ = false;
    transferEncoded_ = false;
    bodyOverran_ = false;

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
    Sink headSink(InputFileMode, Header, kMaxHeadBytes, kMaxHeadBytes);
    const bool hasHead = in.pending().starts_with("HTT");
    if (hasHead) {
        ResponseFields fields;
        std::size_t headBytes = 0;
        bool statusLine = true;
        for (;;) {
            std::optional<std::string_view> line = in.takeLine();
            if (!line) {
                if (in.available() > kMaxHeadBytes)
                    throw ResponseTooLarge();
                if (in.more<SocketReadAborted>("Socket readln aborted"))
                    continue;
                line = in.takeRest(); // the server closed inside the head
            }
            headBytes += line->size();
            if (headBytes > kMaxHeadBytes)
                throw ResponseTooLarge();
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
        contentLengthMalformed_ = fields.contentLengthMalformed;
        transferEncoded_ = fields.transferEncoded;
    }
    headSink.finish();

    // Where the body ends: a proxy keeps the connection open after it, so the announced
    // length, not the close, ends it when there is one.
    const bool noBody = hasHead && (method == "HEAD" || statusCode_ == 204 || statusCode_ == 304);
    const std::int64_t bodyLength = noBody ? 0 : contentLength_;
    Sink bodySink(InputFileMode, Body, kMaxMemoryBodyBytes, fileBodyLimit_);
    bodySink.checkAnnounced(bodyLength);
    bodySink.expect(bodyLength);
    std::int64_t received = 0;
    const auto take = [&](std::string_view bytes) {
        if (bodyLength >= 0 && static_cast<std::int64_t>(bytes.size()) > bodyLength - received) {
            bodyOverran_ = !noBody;
            bytes = bytes.substr(0, static_cast<std::size_t>(bodyLength - received));
        }
        bodySink.append(bytes);
        received += static_cast<std::int64_t>(bytes.size());
    };
    take(in.takeRest());
    auto reported = std::chrono::steady_clock::now();
    if (OnProgress)
        OnProgress(received, contentLength_);
    while (bodyLength < 0 || received < bodyLength) {
        const std::string_view chunk = in.receive<SocketReadAborted>("Socket capture aborted");
        if (chunk.empty())
            break;
        take(chunk);
        if (OnProgress) {
            const auto now = std::chrono::steady_clock::now();
            if (now - reported >= kProgressInterval) {
                reported = now;
                OnProgress(received, contentLength_);
            }
        }
    }
    // A body cut short of its announced length must not pass for a whole one (a cut
    // query list would be built into a data set).
    if (received < bodyLength)
        throw IncompleteResponse("Incomplete response");
    bodySink.finish();
    if (OnProgress)
        OnProgress(received, contentLength_);

    if (statusCode_ >= 400 && OnFailure)
        OnFailure(method);
}

} // namespace qm
