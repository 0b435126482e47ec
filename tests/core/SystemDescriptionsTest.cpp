#include "core/SystemDescriptions.h"

#include <gtest/gtest.h>

using namespace qm;

namespace {

struct Sources : SystemSources {
    std::optional<std::string> os, release, version, arch, cpu;
    std::optional<std::string> osRelease() const override { return os; }
    std::optional<std::string> kernelRelease() const override { return release; }
    std::optional<std::string> kernelVersion() const override { return version; }
    std::optional<std::string> machine() const override { return arch; }
    std::optional<std::string> cpuinfo() const override { return cpu; }
};

const char* const kDebianOsRelease = "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                                     "NAME=\"Debian GNU/Linux\"\n"
                                     "VERSION_ID=\"12\"\n";

const char* const kIntelCpuinfo = "processor\t: 0\n"
                                  "vendor_id\t: GenuineIntel\n"
                                  "cpu family\t: 6\n"
                                  "model\t\t: 158\n"
                                  "model name\t:    Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz  \n"
                                  "stepping\t: 10\n"
                                  "\n"
                                  "processor\t: 1\n"
                                  "vendor_id\t: OtherVendor\n"
                                  "model name\t: second\n";

} // namespace

TEST(SystemDescriptions, OperatingSystem)
{
    Sources s;
    EXPECT_EQ(GetWindowsVersionText(s), "Windows OS Unknown");
    s.os = kDebianOsRelease;
    s.release = "6.1.0-13-amd64\n";
    s.version = "#1 SMP PREEMPT_DYNAMIC Debian 6.1.55-1 (2023-09-29)";
    EXPECT_EQ(GetWindowsVersionText(s),
        "Debian GNU/Linux 12 (bookworm), , Version 6.1.0-13-amd64, Build #1 SMP "
        "PREEMPT_DYNAMIC Debian 6.1.55-1 (2023-09-29)");
    s.os = std::nullopt; // no os-release: an empty product, the separators stay
    EXPECT_EQ(GetWindowsVersionText(s).substr(0, 12), ", , Version ");
    // Shown without its empty items.
    EXPECT_EQ(withoutEmptyItems(GetWindowsVersionText(s)),
        "Version 6.1.0-13-amd64, Build #1 SMP PREEMPT_DYNAMIC Debian 6.1.55-1 (2023-09-29)");
}

TEST(SystemDescriptions, PrettyNameQuoting)
{
    EXPECT_EQ(osReleasePrettyName("PRETTY_NAME='Arch Linux'\n"), "Arch Linux");
    EXPECT_EQ(osReleasePrettyName("PRETTY_NAME=Plain\r\n"), "Plain");
    EXPECT_EQ(osReleasePrettyName("PRETTY_NAME=\"A \\\"quoted\\\" name\""), "A \"quoted\" name");
    EXPECT_EQ(osReleasePrettyName("NAME=x\n"), "");
}

TEST(SystemDescriptions, Processor)
{
    Sources s;
    EXPECT_EQ(GetProcessorText(s), "Hardware Unknown");
    s.cpu = kIntelCpuinfo;
    s.arch = "x86_64";
    EXPECT_EQ(GetProcessorText(s),
        "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz, x86_64 Family 6 Model 158 Stepping 10, GenuineIntel");
    // A processor that names none of the fields still gives every separator.
    s.cpu = "processor\t: 0\nBogoMIPS\t: 48.00\n";
    s.arch = "aarch64";
    EXPECT_EQ(GetProcessorText(s), ", aarch64 Family  Model  Stepping, ");
    EXPECT_EQ(withoutEmptyItems(GetProcessorText(s)), "aarch64 Family  Model  Stepping");
}
