#pragma once
// Whether the newest downloaded files can be processed, judged from their names only.
#include "core/Reporter.h"

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// formatIndex: 0 two-line, 1 three-line, anything else no format chosen.
bool DataAreCurrent(int formatIndex, std::string_view mostCurrentCatalog, std::string_view mostCurrentSatcat);

// What the check does to the window: the new state of "Process Data" and the new
// status text (written without logging); nullopt leaves either as it is.
struct CurrentDataOutcome {
    std::optional<bool> processEnabled;
    std::optional<std::string> status;
};

inline constexpr std::string_view kNotCurrentMessage = "You must download the Full Two-Line Catalog and SSR or the "
                                                       "Full Three-Line Catalog to generate Vantoreal data sets";

// `reporter` supplies the idle rule (the tray hint or "Ready").
CurrentDataOutcome CheckForCurrentData(int formatIndex, std::string_view mostCurrentCatalog,
    std::string_view mostCurrentSatcat, bool autoDownload, const Reporter& reporter);

} // namespace qm
