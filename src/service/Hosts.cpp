#include "service/Hosts.h"

#include <cstdlib>

namespace qm {

namespace {
std::string fromEnvironment(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : std::string(fallback);
}
} // namespace

std::string serviceHost()
{
    return fromEnvironment("QUILLMAREN_SERVICE_HOST", "www.skarvelin.example");
}

std::string publisherHost()
{
    return fromEnvironment("QUILLMAREN_PUBLISHER_HOST", "www.vantoreal.example");
}

} // namespace qm
