#pragma once
// Raw texts the two system descriptions are built from. Each returns nullopt when its
// source cannot be read.
#include <optional>
#include <string>

namespace qm {

class SystemSources {
public:
    virtual ~SystemSources() = default;
    virtual std::optional<std::string> osRelease() const = 0; // /etc/os-release
    virtual std::optional<std::string> kernelRelease() const = 0; // uname -r
    virtual std::optional<std::string> kernelVersion() const = 0; // uname -v
    virtual std::optional<std::string> machine() const = 0; // uname -m
    virtual std::optional<std::string> cpuinfo() const = 0; // /proc/cpuinfo
};

class LinuxSystemSources : public SystemSources {
public:
    std::optional<std::string> osRelease() const override;
    std::optional<std::string> kernelRelease() const override;
    std::optional<std::string> kernelVersion() const override;
    std::optional<std::string> machine() const override;
    std::optional<std::string> cpuinfo() const override;
};

} // namespace qm
