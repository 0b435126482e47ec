#include "processing/ProcessingRun.h"

#include "catalogue/Archive.h"
#include "catalogue/TLESupport.h"
#include "core/Log.h"
#include "core/Reporter.h"
#include "platform/Errors.h"
#include "platform/File.h"
#include "platform/Paths.h"
#include "platform/ProgramStarter.h"
#include "platform/Prompts.h"
#include "platform/ShellLauncher.h"
#include "processing/DataSetRows.h"
#include "service/DownloadRun.h"

namespace qm {

namespace {

// The extension of the file-name part, from its last "." on; empty when it has none.
std::string fileExtension(const std::string& path)
{
    const std::string name = extractFileName(path);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

} // namespace

ProcessingRun::ProcessingRun(ProcessingWindow& window, const ProcessingServices& services)
    : window_(window)
    , services_(services)
    , reporter_(services.reporter)
    , ctx_(services.reporter, services.exchange, services.httpFailure, services.launcher)
    , writer_(ctx_)
{
}

RunOutcome ProcessingRun::run()
{
    // Before anything is touched: a run refused the folder leaves the new files for later.
    const FolderLock::Hold hold = holdFolder(window_.folderLock());
    // The unpacked texts are work files of this run, however it ends. The mark of new
    // data goes only once the run has dealt with them: it completed, or it halted on
    // a downloaded file that a new download must replace anyway. Any other early end
    // leaves the files for the next run to process.
    struct Cleanup {
        ProcessingRun& run;
        ~Cleanup()
        {
            run.removeWorkTexts();
            if (run.downloadsDealtWith_)
                removeFile(kUnprocessedFile);
        }
    } cleanup{*this};
    window_.setBusyPointer(true);
    window_.setProcessEnabled(false);
    try {
        return steps();
    } catch (const FatalStop&) {
        // The program ends; nothing of the window needs restoring.
        throw;
    } catch (...) {
        // An error abandons the run, but the window must stay usable.
        restoreWindow();
        throw;
    }
}

void ProcessingRun::restoreWindow()
{
    window_.setBusyPointer(false);
    if (!window_.autoDownload())
        window_.setProcessEnabled(true);
}

RunOutcome ProcessingRun::steps()
{
    if (!window_.checkForCriticalUpdate()) {
        restoreWindow();
        return RunOutcome::EndedEarly;
    }
    if (reporter_.debugOn())
        logSelections();

    const std::string& archive = window_.values().MostCurrentCatalog;
    if (archive.empty() || !fileExists(archive)) {
        // A first run whose catalogue did not arrive: a later download brings it.
        const std::string text = "No catalogue to process: the full catalogue has not been downloaded";
        reporter_.log(text);
        throw IoError(text);
    }

    const bool twoLine = window_.twoLineFormat();
    const std::string& report = window_.values().MostCurrentSatcat;
    if (twoLine && (report.empty() || !fileExists(report))) {
        // Two-line data sets take their names from the report: without it the run
        // would fail only after the whole catalogue had been checked.
        const std::string text = "No situation report to process: the situation report has not been downloaded";
        reporter_.log(text);
        throw IoError(text);
    }
    std::optional<StreamedCheck> check;
    unpackCatalogue(twoLine, check);
    // The text is checked as it is unpacked, never written: without a whole one there
    // is nothing to check (a text an earlier, killed run left under its name is no
    // stand-in for it).
    if (!check->checked())
        return catalogueMissing();
    window_.values().Redownloading = false;

    try {
        check->finish(reporter_);
    } catch (const CatalogueTooLarge&) {
        discardDownload(window_.values().MostCurrentCatalog);
        throw;
    }
    try {
        index_.build(CatalogFile_, twoLine, reporter_);
    } catch (const FatalStop&) {
        // Nothing of the catalogue passed the check: no run could make more of it.
        discardDownload(window_.values().MostCurrentCatalog);
        throw;
    }
    if (twoLine)
        buildReportTable();

    const bool anyTicked = buildDataSets();
    // What changed since the last completed run; in place before the scripts start,
    // which may read it.
    changes_.compare(ctx_);
    closeAndClean();
    changes_.commit(reporter_);
    postProcess();

    window_.values().NewDataDownloaded = false;
    downloadsDealtWith_ = true;
    window_.showNewestEpoch(index_.newestEpoch());
    // Why a run that checked the whole catalogue wrote no data set of the list.
    if (!anyTicked)
        reporter_.log("No data set is ticked");
    reporter_.updateStatusBar(reporter_.idleText("Done"));
    restoreWindow();
    return RunOutcome::Completed;
}

void ProcessingRun::discardDownload(std::string& archive)
{
    removeFile(archive);
    reporter_.log("Removed " + archive + ": it is fetched again by the next download");
    archive.clear();
    downloadsDealtWith_ = true;
}

void ProcessingRun::removeWorkTexts()
{
    // Never the archive itself, whatever its name.
    const std::string& archive = window_.values().MostCurrentCatalog;
    if (!CatalogFile_.empty() && CatalogFile_ != archive)
        removeFile(CatalogFile_);
    if (!ssr_.textFile().empty() && ssr_.textFile() != window_.values().MostCurrentSatcat)
        removeFile(ssr_.textFile());
}

void ProcessingRun::logSelections()
{
    const int format = window_.formatItem();
    if (format == 0)
        reporter_.outputToLog("Two-Line Data Format");
    else if (format == 1)
        reporter_.outputToLog("Three-Line Data Format");
    for (const DataSetRow& row : kDataSetRows)
        if (window_.rowTicked(row.row))
            reporter_.outputToLog("Vantoreal Data Set " + std::to_string(row.row) + " selected");
    const int extension = window_.extensionItem();
    if (extension == 0)
        reporter_.outputToLog("File extension .txt selected");
    else if (extension == 1)
        reporter_.outputToLog("File extension .tle selected");
}

void ProcessingRun::unpackCatalogue(bool twoLine, std::optional<StreamedCheck>& check)
{
    std::string& archive = window_.values().MostCurrentCatalog;
    const std::string& myTles = window_.values().MyTLEsDir;
    // Only the exact lower-case extension counts as ZIP; anything else is read as gzip.
    // Only the text the run reads is unpacked; other members stay in the archive.
    if (fileExtension(archive) == ".zip") {
        reporter_.updateStatusBar("Extracting catalog data (ZIP): " + archive);
        CatalogFile_ = myTles + changeFileExt(extractFileName(archive), ".txt");
        ZipArchive zip;
        try {
            zip.open(archive);
        } catch (const InvalidArchive&) {
            discardDownload(archive);
            throw;
        }
        check.emplace(CatalogFile_, twoLine);
        zip.extractOne(kCatalogueMemberMask, CatalogFile_, &check->member());
        return;
    }

    reporter_.updateStatusBar("Extracting catalog data (GZIP): " + archive);
    CatalogFile_ = changeFileExt(myTles + extractFileName(archive), "");
    GzipFile gzip;
    try {
        gzip.open(archive);
    } catch (const IoError&) {
        const std::string text = "Unable to unpack .gz file.";
        reporter_.log(text);
        discardDownload(archive);
        throw FatalStop{text};
    }
    check.emplace(CatalogFile_, twoLine);
    gzip.extractOne("*.txt", CatalogFile_, &check->member());
    reporter_.log("Successfully unpacked .gz file.");
}

RunOutcome ProcessingRun::catalogueMissing()
{
    const std::string text = "File " + CatalogFile_ + " not found. Input file is probably corrupt.";
    reporter_.log(text);

    bool yes = false;
    if (window_.updateMode()) {
        // Nobody is there to answer: the first damaged file of this program run is
        // fetched again, a second one ends the program.
        bool& taken = window_.values().UpdateModeRedownloaded;
        yes = !taken;
        taken = true;
        reporter_.log(yes ? "Update mode answers Yes: delete and re-download"
                          : "Update mode answers No: the catalogue was already re-downloaded once");
    } else {
        yes = services_.prompts.errorYesNo(text + " Delete and re-download?");
    }
    if (!yes) {
        // A file fetched again and still without its text is discarded, or every later
        // run would stop on it, since a stored file is never fetched again. A user's
        // own No keeps the file as it is.
        if (window_.updateMode())
            discardDownload(window_.values().MostCurrentCatalog);
        downloadsDealtWith_ = true;
        throw FatalStop{text, !window_.updateMode()};
    }

    // Raised for the download only; however it and the new run end, it is down after.
    struct Redownloading {
        bool& flag;
        ~Redownloading() { flag = false; }
    } redownloading{window_.values().Redownloading};
    redownloading.flag = true;
    removeFile(window_.values().MostCurrentCatalog);
    const RunOutcome download = window_.download();
    if (download != RunOutcome::Completed) {
        // The file was just deleted and nothing new came: no run on it.
        restoreWindow();
        return download;
    }
    // The new run restores the pointer and the button itself.
    return window_.processAgain();
}

void ProcessingRun::buildReportTable()
{
    std::string& archive = window_.values().MostCurrentSatcat;
    try {
        ssr_.build(archive, window_.values().MyTLEsDir, reporter_);
    } catch (const InvalidArchive&) {
        discardDownload(archive);
        throw;
    } catch (const FatalStop&) {
        // The report's text could not be unpacked from it.
        discardDownload(archive);
        throw;
    }
}

bool ProcessingRun::buildDataSets()
{
    bool anyTicked = false;
    ProgramValues values = window_.values();
    ctx_.TwoLineFormat = window_.twoLineFormat();
    ctx_.CatalogFile = CatalogFile_;
    ctx_.index = &index_;
    ctx_.ssr = ctx_.TwoLineFormat ? &ssr_ : nullptr;
    ctx_.FileExtension = window_.extensionItem();
    ctx_.Palm = window_.palm();
    ctx_.Omm = ommFormatFromItem(window_.ommItem());
    ctx_.MyTLEsDir = values.MyTLEsDir;

    reporter_.log("Building Vantoreal data sets");
    PrepareDirectory(reporter_, ctx_.vantorealFolder());
    for (const DataSetRow& row : kDataSetRows)
        if (row.kind == DataSetRowKind::Named && window_.rowTicked(row.row)) {
            anyTicked = true;
            writer_.BuildDataSet(std::string(row.baseName));
        }

    reporter_.log("Building comprehensive data sets");
    if (window_.rowTicked(kCompleteCatalogRow)) {
        anyTicked = true;
        PrepareDirectory(reporter_, ctx_.vantorealFolder());
        writer_.BuildComprehensiveDataSet();
    }

    reporter_.log("Building user-defined data sets");
    PrepareDirectory(reporter_, ctx_.userFolder());
    writer_.BuildUserDataSets();
    return anyTicked;
}

void ProcessingRun::closeAndClean()
{
    index_.close(reporter_);
    if (ctx_.TwoLineFormat)
        ssr_.close(reporter_);
    // The index and the name table stay for the next run to replace.
    removeWorkTexts();
}

void ProcessingRun::postProcess()
{
    // Both scripts are looked for in the current directory and run in the program's.
    const std::string here = currentDirectory();
    const std::string vbs = here + "post.vbs";
    const std::string sh = here + "post.sh";
    const bool openVbs = fileExists(vbs);
    const bool startSh = isExecutableFile(sh);
    if (!openVbs && !startSh)
        return;
    reporter_.updateStatusBar("Running post processing");
    if (openVbs)
        services_.launcher.open(vbs, services_.programFolder);
    if (startSh)
        services_.starter.start(sh, {window_.values().MyTLEsDir}, services_.programFolder);
}

} // namespace qm
