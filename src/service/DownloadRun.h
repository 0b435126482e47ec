#pragma once
// The login and download run behind "Download Data": the update check, the login, one
// HEAD (and a GET for a file not yet stored) per selected product, "newdata.log" and
// the freshness check.
#include "core/Reporter.h"
#include "core/RunOutcome.h"
#include "platform/File.h"
#include "platform/FolderLock.h"
#include "platform/Halt.h"
#include "platform/Prompts.h"
#include "service/HttpExchange.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// The program-wide values a run reads and sets; they belong to the window.
struct DownloadValues {
    const std::string& MyTLEsDir;
    const std::string& AccountUsername;
    const std::string& AccountPassword;
    std::string& MostCurrentCatalog;
    std::string& MostCurrentSatcat;
    bool& NewDataDownloaded;
    const bool& Redownloading;
    const bool& CheckCriticalUpdates;
};

// What the run needs from the window; tests fake it.
class DownloadWindow {
public:
    virtual ~DownloadWindow() = default;
    // "Data Format": 0 two-line, 1 three-line.
    virtual int formatIndex() const = 0;
    // Item 0..11 of "Current Catalog Files".
    virtual bool currentCatalogTicked(int item) const = 0;
    // "Complete Daily Data" and "Space Situation Report" answered "Yes".
    virtual bool completeDailyData() const = 0;
    virtual bool situationReport() const = 0;
    virtual bool autoDownload() const = 0;
    virtual void setBusyCursor(bool busy) = 0;
    virtual void setDownloadEnabled(bool enabled) = 0;
    virtual void CheckForCurrentData() = 0;
    // False when the publisher's host could not be reached; never returns when an
    // update is required.
    virtual bool CheckForCriticalUpdate() = 0;
    virtual DownloadValues values() = 0;
    // A product's file is arriving: bytes received so far of `total` (-1 when the
    // service announced no length).
    virtual void transferProgress(std::int64_t /*received*/, std::int64_t /*total*/) { }
    // The transfer has ended, however it ended.
    virtual void transferEnded() { }
    // The lock on the run folder and the My TLEs folder, held for the whole run; none:
    // the run takes none.
    virtual FolderLock* folderLock() { return nullptr; }
    // The program is ending (a fatal stop, SIGTERM): a wait it cut short is no failure
    // to tell.
    virtual bool ending() const { return haltRequested(); }
};

// In the run folder while catalogue or report files have arrived that no processing run
// has dealt with: made just before such a file takes its name, removed when a
// processing run completes or halts on the downloaded file itself. A processing run
// that ends early for any other reason, or a program killed in between, leaves it, and
// the next download run then counts as having new data, though it fetches nothing;
// otherwise nothing would ever process the files that were stored.
inline constexpr const char* kUnprocessedFile = "newdata.pending";

// The service's number for item `item` of "Current Catalog Files" in a format.
int downloadNumber(int item, int formatIndex);

// The "filename=" value of a response head, up to its line end, without surrounding
// double quotes; nullopt when the head names no file.
std::optional<std::string> fileNameOfHead(std::string_view head);
// A name the service gave may become a local file name: not empty, no "/", "\", NUL
// or "..", not hidden, and no longer than a file system takes.
bool acceptableFileName(std::string_view name);

// Where a product lies below the My TLEs folder: <group>/<kind>/. Both are empty for a
// name without the "_" it needs, or when either would be "." or "..".
struct ProductPlace {
    std::string kind;
    std::string group;
};
ProductPlace placeOf(std::string_view name);

class DownloadRun {
public:
    DownloadRun(DownloadWindow& window, HttpExchange& http, Reporter& reporter, Prompts& prompts);
    // The whole run. The cursor and the button are restored on every way out; an error
    // leaves the run after that. EndedEarly: the publisher's host or the login failed,
    // or a selected product is missing (the others were fetched all the same).
    // FolderBusy, before anything else, while another program has the My TLEs folder.
    RunOutcome run();

private:
    class FailureWatch;

    RunOutcome steps();
    void logSelections();
    bool logIn();
    void DownloadFile(int number);
    // Fetches `url` into `path` through a temporary and stores it only when it is the
    // whole product; returns why it was not stored. `processable`: a catalogue or
    // report, which leaves kUnprocessedFile behind it.
    std::optional<std::string> transfer(const std::string& url, const std::string& path, bool processable);
    // A selected product that is not there: the reason on the status line, the failure
    // warning (unless the exchange gave it already), and the run ends early.
    void productMissing(FailureWatch& watch, const std::string& line);
    void finish();

    DownloadWindow& window_;
    DownloadValues values_;
    HttpExchange& http_;
    Reporter& reporter_;
    Prompts& prompts_;
    std::optional<BufferedWriter> newData_;
    bool missing_ = false; // a selected product was not stored
};

} // namespace qm
