#pragma once
// What the proxy form holds, without its widgets: the values, their section of the
// settings file, the state block of the debug log, the port check, the hand-over to the
// HTTP exchange and the system's proxy taken from the environment.
#include "core/Reporter.h"
#include "core/Settings.h"
#include "platform/Environment.h"
#include "service/HttpExchange.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

struct ProxyValues {
    bool useProxy = false;
    std::string server;
    std::string port = "0"; // as typed: decimal text, never empty in the form
    bool useAuthentication = false;
    std::string userId;
    std::string password;
    bool retainAuthentication = false;
};

// The port text as a number. Anything but a whole number in 0..65535 raises
// ConvertError("'<text>' is not a valid integer value"): a larger number must not
// wrap round to another port.
int ProxyPortNumber(const std::string& text);

// Reads the seven keys of "Proxy Initialization" (defaults for missing ones); the port
// comes back as decimal text.
ProxyValues ReadProxySettings(const SettingsFile& settings);
// The proxy Save path: the keys in table order; user ID and password only with
// "Retain Authentication", else both empty. A bad port text raises ConvertError with
// the keys before it already written.
void WriteProxySettings(SettingsFile& settings, const ProxyValues& values);

// Hands the values to the exchange in the order Proxy, ProxyPort, ProxyAuthentication,
// ProxyUserId, ProxyPassword. A bad port text raises ConvertError after Proxy has been
// set.
void ApplyProxy(HttpExchange& http, const ProxyValues& values);

// The seven lines logged under a heading; user ID and password appear as one "*" per
// character.
std::vector<std::string> ProxyStateBlock(const ProxyValues& values);
// Logs the heading and the block, only while debug logging is on.
void LogProxyState(Reporter& reporter, std::string_view heading, const ProxyValues& values);

// Server and port of one proxy entry, as texts (either may be empty).
struct ProxyServerEntry {
    std::string server;
    std::string port;
};

// Reads a proxy list of entries separated by ";": a single entry "host:port" (an
// "http=" in front is dropped), or several "protocol=host:port" entries of which the
// last "http=" one counts. nullopt when several entries hold no "http=" one.
std::optional<ProxyServerEntry> ParseProxyServerList(std::string_view value);

inline constexpr std::string_view kNoSystemProxy = "No proxy found in registry";
inline constexpr std::string_view kSystemProxyDisabled = "Proxy not enabled in registry";

// The system's proxy as the environment gives it.
struct SystemProxy {
    // kNoSystemProxy or kSystemProxyDisabled; empty when a value was read.
    std::string status;
    // Server and port to fill in; nullopt leaves the fields as they are.
    std::optional<ProxyServerEntry> entry;
    // Present only when the value carries them (http://user:pw@host:3128/).
    std::optional<std::string> userId;
    std::optional<std::string> password;
};

// "http_proxy", else "HTTP_PROXY": neither set gives kNoSystemProxy, set but blank
// kSystemProxyDisabled. The value may be a URL (http://user:pw@host:3128/, with
// percent-escapes in the user part), "host:3128", or a list of entries as above.
SystemProxy SystemProxyFromEnvironment(const Environment& environment);

} // namespace qm
