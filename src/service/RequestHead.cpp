#include "service/RequestHead.h"

#include <QByteArray>

#include <algorithm>
#include <cctype>

namespace qm {

namespace {

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// Blanks go out as "+". A line break would end the request line early and let the
// rest pass for a header line of its own (a redirect target comes from the server),
// so CR and LF go out percent-encoded.
std::string requestTarget(std::string_view target)
{
    std::string out;
    out.reserve(target.size());
    for (char c : target) {
        if (c == ' ')
            out += '+';
        else if (c == '\r')
            out += "%0D";
        else if (c == '\n')
            out += "%0A";
        else
            out += c;
    }
    return out;
}

} // namespace

void RequestHead::addLine(std::string line)
{
    entries_.push_back({{}, std::move(line)});
}

void RequestHead::set(std::string_view name, std::string_view value)
{
    // A value with a line break in it (a cookie or host taken from a response) would
    // add a header line of its own: the breaks are left out.
    std::string line = std::string(name) + ": ";
    for (char c : value)
        if (c != '\r' && c != '\n')
            line += c;
    for (auto& entry : entries_) {
        if (!entry.name.empty() && sameName(entry.name, name)) {
            entry.line = std::move(line);
            return;
        }
    }
    entries_.push_back({std::string(name), std::move(line)});
}

std::vector<std::string> RequestHead::lines() const
{
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const auto& entry : entries_)
        out.push_back(entry.line);
    return out;
}

std::string RequestHead::text() const
{
    std::string out;
    for (const auto& entry : entries_) {
        out += entry.line;
        out += "\r\n";
    }
    out += "\r\n";
    return out;
}

std::string base64(std::string_view bytes)
{
    const QByteArray encoded = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toBase64();
    return std::string(encoded.constData(), static_cast<std::size_t>(encoded.size()));
}

std::string proxyAuthorization(const RequestSettings& settings)
{
    if (settings.proxy.empty() || !settings.proxyAuthentication || settings.proxyUserId.empty()
        || settings.proxyPassword.empty())
        return {};
    return "Basic " + base64(settings.proxyUserId + ":" + settings.proxyPassword);
}

RequestHead buildRequestHead(std::string_view method, const std::string& url, const UrlParts& parts,
    const RequestSettings& settings, const std::string* data)
{
    RequestHead head;
    const bool viaProxy = !settings.proxy.empty();
    const std::string target = viaProxy ? url : parts.requestTarget();
    head.addLine(std::string(method) + " " + requestTarget(target) + " HTTP/1.0");
    if (viaProxy)
        head.set("Proxy-Connection", "Keep-Alive");
    head.set("Host", parts.host);
    head.addLine("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
    head.addLine("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
    if (!settings.userAgent.empty())
        head.set("User-Agent", settings.userAgent);
    if (!settings.cookie.empty())
        head.set("Cookie", settings.cookie);
    // The proxy's credentials are for the proxy alone, and only when it asks for them:
    // a server reached directly ("Use Proxy" ticked with no server given) must not
    // receive them, nor a proxy with "Use Authentication" off.
    if (const std::string credentials = proxyAuthorization(settings); !credentials.empty())
        head.set("Proxy-Authorization", credentials);
    head.set("Content-type", "application/x-www-form-urlencoded");
    if (data)
        head.set("Content-Length", std::to_string(data->size()));
    return head;
}

} // namespace qm
