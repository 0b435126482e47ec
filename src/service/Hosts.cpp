#include "service/Hosts.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

namespace qm {

namespace {

std::string fromEnvironment(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : std::string(fallback);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

} // namespace

std::string serviceHost()
{
    return fromEnvironment("QUILLMAREN_SERVICE_HOST", "https://www.skarvelin.example");
}

std::string publisherHost()
{
    return fromEnvironment("QUILLMAREN_PUBLISHER_HOST", "https://www.vantoreal.example");
}

std::string siteAddress(const std::string& host)
{
    std::string address = host;
    while (!address.empty() && address.back() == '/')
        address.pop_back();
    if (startsWithNoCase(address, "http://") || startsWithNoCase(address, "https://"))
        return address;
    return "http://" + address;
}

std::string serviceAddress()
{
    return siteAddress(serviceHost());
}

std::string publisherAddress()
{
    return siteAddress(publisherHost());
}

} // namespace qm
