#pragma once
// The process environment behind an interface, so tests can hand in their own values.
#include <optional>
#include <string>

namespace qm {

class Environment {
public:
    virtual ~Environment() = default;
    // nullopt when the variable is not set; an empty text when it is set but empty.
    virtual std::optional<std::string> variable(const std::string& name) const = 0;
};

class ProcessEnvironment : public Environment {
public:
    std::optional<std::string> variable(const std::string& name) const override;
};

} // namespace qm
