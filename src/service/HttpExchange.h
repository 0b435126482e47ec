#pragma once
// The program's one HTTP/1.0 exchange: one request per connection, redirects followed,
// settings kept from call to call. Calls wait with time-outs while the Qt event loop
// keeps running; failures raise SocketError with the user's text.
#include <functional>
#include <string>
#include <string_view>

namespace qm {

class HttpExchange {
public:
    HttpExchange() = default;
    virtual ~HttpExchange() = default;
    HttpExchange(const HttpExchange&) = delete;
    HttpExchange& operator=(const HttpExchange&) = delete;

    // Settings; they persist between calls.
    int TimeOut = 30000;           // ms of silence allowed in any wait; 0 = no limit
    std::string Proxy;             // empty = direct connection
    int ProxyPort = 8080;
    std::string LocalProgram = "Quillmaren"; // User-Agent
    std::string Cookie;
    std::string ProxyUserId;
    std::string ProxyPassword;
    bool InputFileMode = false;    // on: Header and Body name files that receive the response
    std::string Header = "Head.txt";
    std::string Body = "Default.htm";

    void Get(const std::string& url);
    void Head(const std::string& url);
    void Post(const std::string& url, const std::string& data);

    // Results of the last call.
    int statusCode() const { return statusCode_; }
    const std::string& responseCookie() const { return responseCookie_; }
    const std::string& redirectTarget() const { return redirectTarget_; }
    bool busy() const { return busy_; }

    // Called once when a response's status is 400 or more, with the method word
    // ("GET", "HEAD", "POST"); the main window binds its NMHTTPFailure here.
    std::function<void(std::string_view method)> OnFailure;

protected:
    int statusCode_ = 0;
    std::string responseCookie_;
    std::string redirectTarget_;
    bool busy_ = false;
};

} // namespace qm
