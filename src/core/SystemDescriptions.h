#pragma once
// The operating-system and processor descriptions of the log header and the about box.
#include "platform/SystemSources.h"

#include <string>
#include <string_view>

namespace qm {

// The value of PRETTY_NAME in an os-release text, unquoted; empty when absent.
std::string osReleasePrettyName(std::string_view osRelease);

// The fields of the first processor in a /proc/cpuinfo text; absent ones are empty.
struct CpuInfo {
    std::string modelName;
    std::string family;
    std::string model;
    std::string stepping;
    std::string vendor;
};
CpuInfo parseCpuinfo(std::string_view cpuinfo);

// Product, service level (none on Linux), version (kernel release) and build (kernel
// version), joined as "P, S, Version V, Build B"; "Windows OS Unknown" when neither
// os-release nor the kernel can be asked.
std::string GetWindowsVersionText(const SystemSources& sources);
// "name, architecture Family f Model m Stepping s, vendor"; "Hardware Unknown" when
// /proc/cpuinfo cannot be read.
std::string GetProcessorText(const SystemSources& sources);

// A description without its empty items (those between ", " separators that hold
// nothing, such as the service level Linux lacks), as a reader is shown it; the log
// header keeps every separator.
std::string withoutEmptyItems(std::string_view description);

} // namespace qm
