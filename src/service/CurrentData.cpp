#include "service/CurrentData.h"

#include "platform/Paths.h"

namespace qm {

namespace {

// The kind marker must start at character 8, right after "catalog".
constexpr std::size_t kMarkerPosition = 7;

} // namespace

bool DataAreCurrent(int formatIndex, std::string_view mostCurrentCatalog, std::string_view mostCurrentSatcat)
{
    const std::string name = extractFileName(std::string(mostCurrentCatalog));
    switch (formatIndex) {
    case 0:
        return name.find("_2l_") == kMarkerPosition && !mostCurrentSatcat.empty();
    case 1:
        return name.find("_3l_") == kMarkerPosition;
    default:
        return false;
    }
}

CurrentDataOutcome CheckForCurrentData(int formatIndex, std::string_view mostCurrentCatalog,
    std::string_view mostCurrentSatcat, bool autoDownload, const Reporter& reporter)
{
    CurrentDataOutcome outcome;
    if (DataAreCurrent(formatIndex, mostCurrentCatalog, mostCurrentSatcat)) {
        if (!autoDownload)
            outcome.processEnabled = true;
        outcome.status = reporter.idleText("Ready");
    } else {
        outcome.processEnabled = false;
        if (!autoDownload)
            outcome.status = std::string(kNotCurrentMessage);
    }
    return outcome;
}

} // namespace qm
