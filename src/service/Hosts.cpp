#include "service/Hosts.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace qm {

namespace {

std::string fromEnvironment(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return hostBase(value && *value ? std::string_view(value) : std::string_view(fallback));
}

} // namespace

std::string hostBase(std::string_view setting)
{
    std::string base;
    const auto mark = setting.find("://");
    if (mark == std::string_view::npos) {
        base = "http://" + std::string(setting);
    } else {
        // The exchange compares schemes without regard to case; links read better in lower case.
        std::string scheme(setting.substr(0, mark));
        std::transform(scheme.begin(), scheme.end(), scheme.begin(),
            [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
        base = scheme + std::string(setting.substr(mark));
    }
    // A setting written as a URL ("https://host/") must not double the "/" of every path.
    while (base.ends_with('/') && !base.ends_with("://"))
        base.pop_back();
    return base;
}

std::string serviceBase()
{
    return fromEnvironment("QUILLMAREN_SERVICE_HOST", "https://www.skarvelin.example");
}

std::string publisherBase()
{
    return fromEnvironment("QUILLMAREN_PUBLISHER_HOST", "https://www.vantoreal.example");
}

std::string serviceUrl(std::string_view path)
{
    return serviceBase() + std::string(path);
}

std::string publisherUrl(std::string_view path)
{
    return publisherBase() + std::string(path);
}

} // namespace qm
