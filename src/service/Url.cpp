#include "service/Url.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace qm {

namespace {

bool isSchemeChar(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

// Text from `marker` to the end, removed from `copy`; empty when the marker is absent.
std::string takeFrom(std::string& copy, char marker)
{
    const auto at = copy.find(marker);
    if (at == std::string::npos)
        return {};
    std::string part = copy.substr(at);
    copy.erase(at);
    return part;
}

int wellKnownPort(const std::string& scheme)
{
    // Unknown schemes fall back to the port of "http:".
    return isTlsScheme(scheme) ? 443 : 80;
}

} // namespace

bool isTlsScheme(std::string_view scheme)
{
    constexpr std::string_view tls = "https:";
    return scheme.size() == tls.size() && std::equal(scheme.begin(), scheme.end(), tls.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

std::string originOf(const UrlParts& parts)
{
    std::string origin = parts.scheme + "//" + parts.host;
    std::transform(origin.begin(), origin.end(), origin.begin(),
        [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return origin + ":" + std::to_string(parts.portNumber);
}

UrlParts splitUrl(const std::string& url)
{
    UrlParts parts;
    std::string copy = url;

    parts.fragment = takeFrom(copy, '#');

    std::size_t run = 0;
    while (run < copy.size() && isSchemeChar(copy[run]))
        ++run;
    if (run > 0 && copy.compare(run, 2, ":/") == 0) {
        parts.scheme = copy.substr(0, run + 1);
        copy.erase(0, run + 1);
    } else {
        parts.scheme = "http:";
    }

    std::string location;
    if (copy.starts_with("//")) {
        const auto slash = copy.find('/', 2);
        location = copy.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
        copy.erase(0, slash == std::string::npos ? copy.size() : slash);
    } else {
        const auto slash = copy.find('/');
        location = copy.substr(0, slash);
        copy.erase(0, slash == std::string::npos ? copy.size() : slash);
    }

    parts.query = takeFrom(copy, '?');
    parts.parameters = takeFrom(copy, ';');

    if (copy.find('.') != std::string::npos) {
        const auto slash = copy.rfind('/');
        const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
        parts.fileName = copy.substr(start);
        copy.erase(start);
    }
    parts.directory = copy.empty() ? "/" : copy;

    const auto at = location.rfind('@');
    if (at != std::string::npos) {
        const std::string user = location.substr(0, at);
        location.erase(0, at + 1);
        const auto colon = user.find(':');
        parts.userName = user.substr(0, colon);
        if (colon != std::string::npos)
            parts.password = user.substr(colon + 1);
    }
    const auto colon = location.find(':');
    if (colon != std::string::npos) {
        parts.port = location.substr(colon);
        location.erase(colon);
    }
    parts.host = location;

    parts.portNumber = wellKnownPort(parts.scheme);
    if (parts.port.size() > 1) {
        int number = 0;
        const char* first = parts.port.data() + 1;
        const char* last = parts.port.data() + parts.port.size();
        const auto [end, ec] = std::from_chars(first, last, number);
        if (ec == std::errc() && end == last)
            parts.portNumber = number;
    }
    return parts;
}

std::string resolveRedirect(const UrlParts& from, const std::string& target)
{
    if (target.find("//") != std::string::npos)
        return target;
    const std::string origin = from.scheme + "//" + from.host + from.port;
    if (target.starts_with('/'))
        return origin + target;
    return origin + from.directory + target;
}

} // namespace qm
