#pragma once
// The head of one request, line by line, and the bytes sent for it.
#include "service/Url.h"

#include <string>
#include <string_view>
#include <vector>

namespace qm {

class RequestHead {
public:
    // A line that no later set() replaces (the request line, the two Accept lines).
    void addLine(std::string line);
    // "name: value"; a header of the same name (any case) is replaced where it stands.
    void set(std::string_view name, std::string_view value);
    std::vector<std::string> lines() const;
    // Every line with CR LF, then the empty line.
    std::string text() const;

private:
    struct Entry {
        std::string name; // empty for fixed lines
        std::string line;
    };
    std::vector<Entry> entries_;
};

struct RequestSettings {
    // Empty for a direct request; the proxy's credentials go out only with a proxy.
    std::string proxy;
    std::string userAgent;
    std::string cookie;
    bool proxyAuthentication = false; // "Use Authentication"
    std::string proxyUserId;
    std::string proxyPassword;
};

// The "Proxy-Authorization" value ("Basic " + Base64 of user ID ":" password) when a
// proxy is used, asks for authentication and both credentials are given; else empty.
std::string proxyAuthorization(const RequestSettings& settings);

// method: "GET", "HEAD" or "POST"; data: the POST body, nullptr for the others.
RequestHead buildRequestHead(std::string_view method, const std::string& url, const UrlParts& parts,
    const RequestSettings& settings, const std::string* data);

std::string base64(std::string_view bytes);

} // namespace qm
