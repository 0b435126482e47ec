#pragma once
// Splitting of the URLs the exchange is given, and the resolution of redirect targets.
#include <string>
#include <string_view>

namespace qm {

struct UrlParts {
    std::string fragment; // "#..." or empty
    std::string scheme; // with its colon, "http:" when the URL names none
    std::string userName;
    std::string password;
    std::string host;
    std::string port; // ":" + digits as written, or empty
    int portNumber = 80; // the written port, else the scheme's well-known port
    std::string query; // "?..." or empty
    std::string parameters; // ";..." or empty
    std::string fileName;
    std::string directory; // never empty; "/" at least

    // What the request line names when no proxy is in between.
    std::string requestTarget() const { return directory + fileName + parameters + query + fragment; }
};

UrlParts splitUrl(const std::string& url);

// Scheme, host and port as one text ("https://host:443"), scheme and host in lower case:
// equal for two URLs exactly when a cookie of the one may go to the other.
std::string originOf(const UrlParts& parts);

// True for "https:" in any case: the scheme spoken over TLS.
bool isTlsScheme(std::string_view scheme);

// The URL a redirect leads to: targets holding "//" stand as they are, targets starting
// with "/" keep the current scheme, host and port, others are relative to the old directory.
std::string resolveRedirect(const UrlParts& from, const std::string& target);

} // namespace qm
