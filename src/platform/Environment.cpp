#include "platform/Environment.h"

#include <cstdlib>

namespace qm {

std::optional<std::string> ProcessEnvironment::variable(const std::string& name) const
{
    const char* value = std::getenv(name.c_str());
    if (!value)
        return std::nullopt;
    return std::string(value);
}

} // namespace qm
