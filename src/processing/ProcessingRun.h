#pragma once
// The processing run: unpacks the newest catalogue, checks and indexes it, in
// two-line form tabulates the situation report, builds the ticked data sets, the
// comprehensive catalogue and the user's sets, closes and deletes what it unpacked,
// starts the post-processing scripts and reports "Done".
#include "catalogue/CatalogIndex.h"
#include "catalogue/SsrTable.h"
#include "catalogue/TLESupport.h"
#include "datasets/CatalogueChanges.h"
#include "datasets/DataSetContext.h"
#include "datasets/DataSetWriter.h"
#include "processing/ProcessingWindow.h"

#include <optional>
#include <string>

namespace qm {

class HttpExchange;
class ProgramStarter;
class Prompts;
class Reporter;
class ShellLauncher;

// The services a run reports, asks, fetches and starts programs through.
struct ProcessingServices {
    Reporter& reporter;
    Prompts& prompts;
    HttpExchange& exchange;
    bool& httpFailure; // raised by the exchange's failure handler
    ShellLauncher& launcher;
    ProgramStarter& starter;
    std::string programFolder; // the program file's folder, ending in "/"
};

class ProcessingRun {
public:
    ProcessingRun(ProcessingWindow& window, const ProcessingServices& services);
    ProcessingRun(const ProcessingRun&) = delete;
    ProcessingRun& operator=(const ProcessingRun&) = delete;

    // The whole run. Errors of files and sockets leave it as IoError/SocketError after
    // the pointer and the button are restored, as do a missing catalogue (IoError) and
    // one that grows past its limit (CatalogueTooLarge); fatal stops leave it as
    // FatalStop. While another program has the My TLEs folder, FolderBusy leaves it
    // before anything is touched. The unpacked texts are removed on every way out.
    // EndedEarly: the publisher's host could not be reached, or the re-download of a
    // damaged catalogue or the run after it ended early.
    RunOutcome run();
    // The data sets this run has written (a run it handed over to counts its own).
    int dataSetsWritten() const { return writer_.written(); }

private:
    RunOutcome steps();
    void logSelections();
    // Unpacks the catalogue's text, checked on the way and never written.
    void unpackCatalogue(bool twoLine, std::optional<StreamedCheck>& check);
    // The catalogue text is missing: a new download and a new run take over, unless
    // the program ends; how they ended.
    RunOutcome catalogueMissing();
    // The situation report's table; a report that cannot be unpacked is discarded.
    void buildReportTable();
    // Whether any data set of the list was ticked.
    bool buildDataSets();
    void closeAndClean();
    // Deletes a downloaded archive that cannot be processed and forgets it (the
    // program-wide value, written to the settings at exit), so that the next download
    // fetches it again.
    void discardDownload(std::string& archive);
    void removeWorkTexts();
    void postProcess();
    // Normal pointer; "Process Data" back unless automatic download is on.
    void restoreWindow();

    ProcessingWindow& window_;
    ProcessingServices services_;
    Reporter& reporter_;
    std::string CatalogFile_;
    // The run completed, or halted on a downloaded file: the new data are dealt with.
    bool downloadsDealtWith_ = false;
    CatalogIndex index_;
    SsrTable ssr_;
    DataSetContext ctx_;
    DataSetWriter writer_;
    CatalogueChanges changes_;
};

} // namespace qm
