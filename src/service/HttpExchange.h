#pragma once
// The program's one HTTP/1.0 exchange: one request per connection, redirects followed,
// settings kept from call to call. Calls wait with time-outs while the Qt event loop
// keeps running; failures raise SocketError with the user's text. Besides silence, any
// wait slower than 64 bytes a second over a whole TimeOut period (a TLS handshake, a
// proxy's CONNECT reply, a response: ReceivePace) ends with its time-out text; a
// redirect from https to http is refused; a GET or POST body shorter than its announced
// length ends with "Incomplete response", a head with a blank between a field's name
// and its colon with "Malformed response head". A body ends after its announced length (a
// proxy may keep the connection open), else when the server closes; a reply to HEAD,
// and a 204 or 304, ends with its head. In file mode the head and body files are put
// in place only when complete.
#include "service/Transport.h"
#include "service/Url.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qm {

class HttpExchange {
public:
    HttpExchange();
    virtual ~HttpExchange() = default;
    HttpExchange(const HttpExchange&) = delete;
    HttpExchange& operator=(const HttpExchange&) = delete;

    // Settings; they persist between calls.
    int TimeOut = 30000; // ms of silence allowed in any wait; 0 = no limit
    std::string Proxy; // empty = direct connection
    int ProxyPort = 8080;
    std::string LocalProgram = "Quillmaren"; // User-Agent
    // Sent only to the scheme, host and port it belongs to: the one whose response set
    // it, or, for a value the caller set, the one of the first call that carries it.
    std::string Cookie;
    // Sent to the proxy (Basic) only while ProxyAuthentication is on and both are given.
    bool ProxyAuthentication = false;
    std::string ProxyUserId;
    std::string ProxyPassword;
    bool InputFileMode = false; // on: Header and Body name files that receive the response
    std::string Header = "Head.txt";
    std::string Body = "Default.htm";

    void Get(const std::string& url);
    void Head(const std::string& url);
    void Post(const std::string& url, const std::string& data);
    // Cookie becomes the last call's response cookie (a login's session), bound to the
    // scheme, host and port of the response that set it.
    void keepResponseCookie();

    // Results of the last call.
    int statusCode() const { return statusCode_; }
    const std::string& responseCookie() const { return responseCookie_; }
    const std::string& redirectTarget() const { return redirectTarget_; }
    bool busy() const { return busy_; }
    // The Content-Length the last response announced, -1 when none or a malformed one.
    // The body ends after it; a body shorter than it is an error.
    std::int64_t contentLength() const { return contentLength_; }
    // The last head gave Content-Length twice, or as something other than a number.
    bool contentLengthMalformed() const { return contentLengthMalformed_; }
    // The last head carried a Transfer-Encoding field, which no request of this HTTP/1.0
    // client allows: its body is not the bytes it stands for.
    bool transferEncoded() const { return transferEncoded_; }
    // Bytes beyond the announced length arrived with the last body; they were dropped.
    bool bodyOverran() const { return bodyOverran_; }

    // How connections are made for a scheme; by default TLS over TCP for "https:", plain
    // TCP for every other scheme.
    void setTransportFactory(TransportFactory factory) { transportFactory_ = std::move(factory); }

    // A server that keeps redirecting, or sends without end, must not hang the program.
    static constexpr int kMaxRedirects = 10;
    static constexpr std::size_t kMaxHeadBytes = std::size_t{1} << 20;
    static constexpr std::size_t kMaxMemoryBodyBytes = std::size_t{64} << 20;
    // A file-mode body (a product download) past this, announced or received, ends the
    // call with "Response too large" and leaves nothing.
    static constexpr std::uint64_t kMaxFileBodyBytes = std::uint64_t{1} << 30;
    // Largest piece taken from the connection at a time.
    static constexpr std::size_t kChunkBytes = 65536;

    // Called once when a response's status is 400 or more, with the method word
    // ("GET", "HEAD", "POST"); the main window binds its NMHTTPFailure here.
    std::function<void(std::string_view method)> OnFailure;

    // While a body arrives: the bytes received so far and the announced Content-Length
    // (-1 when none). Called when the body starts, at most every kProgressInterval
    // while it arrives, and once it is complete; it only reports, never logs.
    std::function<void(std::int64_t received, std::int64_t total)> OnProgress;
    static constexpr std::chrono::milliseconds kProgressInterval{100};

protected:
    void call(std::string_view method, const std::string& url, const std::string* data);
    // One request and its response; `parts` is `url` split.
    void exchangeOnce(std::string_view method, const std::string& url, const UrlParts& parts, const std::string* data);
    void bindCookie(std::string origin);
    // Cookie when the request goes to its origin, else nothing.
    std::string cookieFor(const UrlParts& parts) const;

    TransportFactory transportFactory_;
    std::int64_t contentLength_ = -1;
    bool contentLengthMalformed_ = false;
    bool transferEncoded_ = false;
    bool bodyOverran_ = false;
    int statusCode_ = 0;
    std::string responseCookie_;
    std::string responseOrigin_; // of the last response
    std::string redirectTarget_;
    std::string cookieOrigin_; // where Cookie may go
    std::string cookieBound_; // the value of Cookie that cookieOrigin_ was taken for
    bool busy_ = false;
};

} // namespace qm
