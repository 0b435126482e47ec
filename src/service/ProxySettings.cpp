#include "service/ProxySettings.h"

#include "platform/Errors.h"

#include <algorithm>
#include <charconv>

namespace qm {

namespace {

// The maximal runs of characters that are none of `separators`.
std::vector<std::string_view> runs(std::string_view text, std::string_view separators)
{
    std::vector<std::string_view> found;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = text.find_first_not_of(separators, pos);
        if (start == std::string_view::npos)
            break;
        std::size_t end = text.find_first_of(separators, start);
        if (end == std::string_view::npos)
            end = text.size();
        found.push_back(text.substr(start, end - start));
        pos = end;
    }
    return found;
}

std::string runAt(const std::vector<std::string_view>& found, std::size_t index)
{
    return index < found.size() ? std::string(found[index]) : std::string();
}

std::string_view trimmed(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Undoes the "%xx" escapes a URL's user part carries for ":", "@" and the like; a "%"
// not followed by two hexadecimal digits stays as it is.
std::string percentDecoded(std::string_view s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            const int high = hexDigit(s[i + 1]);
            const int low = hexDigit(s[i + 2]);
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

std::string stars(const std::string& s)
{
    return std::string(s.size(), '*');
}

} // namespace

int ProxyPortNumber(const std::string& text)
{
    int port = -1;
    const char* end = text.data() + text.size();
    const bool digits
        = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits) {
        const auto result = std::from_chars(text.data(), end, port);
        if (result.ec != std::errc() || result.ptr != end)
            port = -1;
    }
    if (port < 0 || port > 65535)
        throw ConvertError("'" + text + "' is not a valid integer value");
    return port;
}

ProxyValues ReadProxySettings(const SettingsFile& settings)
{
    ProxyValues v;
    v.useProxy = settings.readBool(Field::UseProxy);
    v.server = settings.readText(Field::ProxyServer);
    v.port = std::to_string(settings.readInteger(Field::ProxyPort));
    v.useAuthentication = settings.readBool(Field::ProxyAuthentication);
    v.userId = settings.readText(Field::ProxyUserID);
    v.password = settings.readText(Field::ProxyPassword);
    v.retainAuthentication = settings.readBool(Field::RetainProxyInfo);
    return v;
}

void WriteProxySettings(SettingsFile& settings, const ProxyValues& values)
{
    settings.writePath(kProxySavePath, [&values](const SettingDef& def) -> SettingValue {
        switch (def.field) {
        case Field::UseProxy:
            return {values.useProxy, {}};
        case Field::ProxyServer:
            return {0, values.server};
        case Field::ProxyPort:
            return {ProxyPortNumber(values.port), {}};
        case Field::ProxyAuthentication:
            return {values.useAuthentication, {}};
        case Field::ProxyUserID:
            return {0, values.retainAuthentication ? values.userId : std::string()};
        case Field::ProxyPassword:
            return {0, values.retainAuthentication ? values.password : std::string()};
        case Field::RetainProxyInfo:
            return {values.retainAuthentication, {}};
        default:
            throw std::logic_error("the proxy form does not write this key");
        }
    });
}

void ApplyProxy(HttpExchange& http, const ProxyValues& values)
{
    http.Proxy = values.server;
    http.ProxyPort = ProxyPortNumber(values.port);
    http.ProxyAuthentication = values.useAuthentication;
    http.ProxyUserId = values.userId;
    http.ProxyPassword = values.password;
}

std::vector<std::string> ProxyStateBlock(const ProxyValues& v)
{
    return {
        v.useProxy ? "  Use proxy" : "  Do not use proxy",
        "  Proxy = " + v.server,
        "  Proxy port = " + v.port,
        v.useAuthentication ? "  Use proxy authentication" : "  Do not use proxy authentication",
        "  Proxy UserID = " + stars(v.userId),
        "  Proxy Password = " + stars(v.password),
        v.retainAuthentication ? "  Retain proxy authentication" : "  Do not retain proxy authentication",
    };
}

void LogProxyState(Reporter& reporter, std::string_view heading, const ProxyValues& values)
{
    if (!reporter.debugOn())
        return;
    reporter.outputToLog(heading);
    for (const auto& line : ProxyStateBlock(values))
        reporter.outputToLog(line);
}

std::optional<ProxyServerEntry> ParseProxyServerList(std::string_view value)
{
    constexpr std::string_view kHttp = "http=";
    const auto words = runs(value, ";");
    if (words.size() == 1) {
        std::string_view word = words.front();
        if (word.starts_with(kHttp))
            word.remove_prefix(kHttp.size());
        const auto parts = runs(word, ":");
        return ProxyServerEntry{runAt(parts, 0), runAt(parts, 1)};
    }
    std::optional<ProxyServerEntry> entry;
    for (std::string_view word : words) {
        if (!word.starts_with(kHttp))
            continue;
        const auto parts = runs(word, "=:");
        entry = ProxyServerEntry{runAt(parts, 1), runAt(parts, 2)};
    }
    return entry;
}

SystemProxy SystemProxyFromEnvironment(const Environment& environment)
{
    SystemProxy found;
    std::optional<std::string> value = environment.variable("http_proxy");
    if (!value)
        value = environment.variable("HTTP_PROXY");
    if (!value) {
        found.status = kNoSystemProxy;
        return found;
    }
    std::string_view rest = trimmed(*value);
    if (rest.empty()) {
        found.status = kSystemProxyDisabled;
        return found;
    }
    // A URL: drop the scheme and any path; the user part gives the credentials.
    if (const auto scheme = rest.find("://"); scheme != std::string_view::npos)
        rest.remove_prefix(scheme + 3);
    if (const auto path = rest.find('/'); path != std::string_view::npos)
        rest = rest.substr(0, path);
    if (const auto at = rest.rfind('@'); at != std::string_view::npos) {
        const std::string_view user = rest.substr(0, at);
        const auto colon = user.find(':');
        found.userId = percentDecoded(user.substr(0, colon));
        if (colon != std::string_view::npos)
            found.password = percentDecoded(user.substr(colon + 1));
        rest.remove_prefix(at + 1);
    }
    found.entry = ParseProxyServerList(rest);
    return found;
}

} // namespace qm
