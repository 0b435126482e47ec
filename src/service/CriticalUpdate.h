#pragma once
// Whether the publisher still allows this program version to run.
#include "core/Reporter.h"
#include "platform/Prompts.h"
#include "service/HttpExchange.h"

#include <cstdint>
#include <functional>
#include <string_view>

namespace qm {

// The first three words of a version text (runs of characters other than "." and " ")
// as a x 10000 + b x 100 + c. A missing word or one that is not a whole decimal number
// raises ConvertError "'<word>' is not a valid integer value".
std::int64_t VersionNumber(std::string_view version);

// Asks the publisher's host for the oldest version still allowed. Returns false when
// the host cannot be reached ("Unable to reach Vantoreal: <reason>" in a box when
// `stopOnErrors`, and told even without it: tellUnreachable), true when this version
// may go on. When a newer version is required it says so, runs `onlineHelp` and raises
// a fatal stop that ends the program with status 0; it never returns then. A failure
// while the program ends (a fatal stop, or `ending`) leaves as the exchange's error.
bool CheckForCriticalUpdate(HttpExchange& http, Reporter& reporter, Prompts& prompts, bool stopOnErrors,
    const std::function<void()>& onlineHelp, const std::function<bool()>& ending = {});

} // namespace qm
