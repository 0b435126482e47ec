#pragma once
// What the processing run needs from the main window: its pointer and button, the
// controls it reads, the program-wide values and the window's other runs.
#include "catalogue/Epoch.h"
#include "core/RunOutcome.h"
#include "platform/FolderLock.h"

#include <optional>
#include <string>

namespace qm {

// The program-wide values the run reads and sets; they belong to the window.
struct ProgramValues {
    std::string& MyTLEsDir; // ends in "/"
    std::string& MostCurrentCatalog;
    std::string& MostCurrentSatcat;
    bool& NewDataDownloaded;
    bool& Redownloading;
    // An update-mode run of this program already answered Yes to re-downloading a
    // damaged catalogue; later ones answer No, so a service that keeps sending a
    // damaged file ends the program instead of looping.
    bool& UpdateModeRedownloaded;
};

class ProcessingWindow {
public:
    virtual ~ProcessingWindow() = default;

    // The busy pointer over the window. A state, not a count: setting the state it
    // already has changes nothing, so a nested run and its caller may both set it.
    virtual void setBusyPointer(bool busy) = 0;
    // "Process Data".
    virtual void setProcessEnabled(bool enabled) = 0;

    // "Auto Download" ticked.
    virtual bool autoDownload() const = 0;
    // "Data Format" item: 0 two-line, 1 three-line, -1 none.
    virtual int formatItem() const = 0;
    // TwoLineFormat, the form the stages work in.
    virtual bool twoLineFormat() const = 0;
    // Row `row` (0..42) of the "Vantoreal Data Sets" list is ticked.
    virtual bool rowTicked(int row) const = 0;
    // "Vantoreal File Extension" item: 0 ".txt", 1 ".tle".
    virtual int extensionItem() const = 0;
    // "Generate Palm format" ticked.
    virtual bool palm() const = 0;
    // "OMM Data Sets" item: 0 none, 1 XML, 2 CSV, 3 JSON.
    virtual int ommItem() const = 0;
    // Started with "-update".
    virtual bool updateMode() const = 0;

    virtual ProgramValues values() = 0;

    // The critical-update check; true means go on.
    virtual bool checkForCriticalUpdate() = 0;
    // The download run ("Download Data").
    virtual RunOutcome download() = 0;
    // A complete new processing run ("Process Data"), nested in the current one.
    virtual RunOutcome processAgain() = 0;
    // The run has built the data sets from a catalogue whose newest element set has
    // this epoch (none when no epoch could be read).
    virtual void showNewestEpoch(const std::optional<TleEpoch>& /*epoch*/) { }
    // The lock on the run folder and the My TLEs folder, held for the whole run; none:
    // the run takes none.
    virtual FolderLock* folderLock() { return nullptr; }
};

} // namespace qm
