#include "service/DownloadRun.h"

#include "core/Log.h"
#include "core/Settings.h"
#include "platform/Errors.h"
#include "service/Hosts.h"
#include "service/HttpFailure.h"
#include "service/LoginForm.h"

#include <functional>
#include <utility>

namespace qm {

namespace {

constexpr int kFirstDailyFile = 101;
constexpr int kLastDailyFile = 107;
constexpr int kSituationReport = 25;

std::string productUrl(int number)
{
    return serviceAddress() + "/perl/dl.pl?ID=" + std::to_string(number);
}

} // namespace

int downloadNumber(int item, int formatIndex)
{
    return 2 * item + formatIndex + 1;
}

std::optional<std::string> fileNameOfHead(std::string_view head)
{
    static constexpr std::string_view kKey = "filename=";
    const auto at = head.find(kKey);
    if (at == std::string_view::npos)
        return std::nullopt;
    std::string_view name = head.substr(at + kKey.size());
    // A server that ends its lines with LF alone must not run the name into the next line.
    name = name.substr(0, name.find_first_of("\r\n"));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = name.substr(1, name.size() - 2);
    return std::string(name);
}

bool acceptableFileName(std::string_view name)
{
    return !name.empty() && name.find_first_of("/\\") == std::string_view::npos
        && name.find("..") == std::string_view::npos && name.front() != '.';
}

ProductPlace placeOf(std::string_view name)
{
    // "spec_" belongs to the kind: spec_visible_2l_... lies in spec_visible/.
    const auto underscore = name.find('_', name.starts_with("spec_") ? 5 : 0);
    if (underscore == std::string_view::npos)
        return {};
    std::string_view rest = name.substr(underscore + 1);
    if (rest.size() >= 3 && rest.substr(1, 2) == "l_")
        rest.remove_prefix(3);
    return {std::string(name.substr(0, underscore)), std::string(rest.substr(0, 4))};
}

DownloadRun::DownloadRun(DownloadWindow& window, HttpExchange& http, Reporter& reporter, Prompts& prompts)
    : window_(window)
    , values_(window.values())
    , http_(http)
    , reporter_(reporter)
    , prompts_(prompts)
{
}

RunOutcome DownloadRun::run()
{
    const FolderLock::Hold hold = holdFolder(window_.folderLock());
    window_.setBusyCursor(true);
    window_.setDownloadEnabled(false);
    RunOutcome outcome = RunOutcome::Completed;
    try {
        outcome = steps();
    } catch (...) {
        finish();
        throw;
    }
    finish();
    return outcome;
}

void DownloadRun::finish()
{
    window_.setBusyCursor(false);
    if (!window_.autoDownload())
        window_.setDownloadEnabled(true);
    if (newData_) {
        try {
            newData_->close();
        } catch (const std::exception&) {
            // Only reached while another error is leaving the run; that one is reported.
        }
        newData_.reset();
    }
}

RunOutcome DownloadRun::steps()
{
    values_.NewDataDownloaded = false;
    if (values_.CheckCriticalUpdates) {
        if (!window_.CheckForCriticalUpdate())
            return RunOutcome::EndedEarly;
    } else {
        reporter_.updateStatusBar("Bypassing check for critical updates");
    }
    logSelections();
    if (!logIn())
        return RunOutcome::EndedEarly;

    if (!values_.Redownloading) {
        newData_.emplace("newdata.log");
        reporter_.log("Open [fnd] newdata.log");
    }
    for (int item = 0; item < kCurrentCatalogItems; ++item)
        if (window_.currentCatalogTicked(item))
            DownloadFile(downloadNumber(item, window_.formatIndex()));
    if (window_.completeDailyData())
        for (int number = kFirstDailyFile; number <= kLastDailyFile; ++number)
            DownloadFile(number);
    if (window_.situationReport())
        DownloadFile(kSituationReport);
    if (newData_) {
        newData_->close();
        newData_.reset();
        reporter_.log("Close [fnd]");
    }
    if (!values_.NewDataDownloaded && fileExists(kUnprocessedFile)) {
        reporter_.log("Files of an earlier run not yet processed");
        values_.NewDataDownloaded = true;
    }

    window_.CheckForCurrentData();
    reporter_.updateStatusBar(reporter_.idleText("Done"));
    return RunOutcome::Completed;
}

void DownloadRun::logSelections()
{
    if (!reporter_.debugOn())
        return;
    const bool autoDownload = window_.autoDownload();
    reporter_.outputToLog(autoDownload ? "Performing auto download" : "Performing manual download");
    reporter_.outputToLog(window_.formatIndex() == 0 ? "Two-Line Data Format" : "Three-Line Data Format");
    for (int item = 0; item < kCurrentCatalogItems; ++item)
        if (window_.currentCatalogTicked(item))
            reporter_.outputToLog("Current Catalog File " + std::to_string(item) + " selected");
    reporter_.outputToLog(
        window_.completeDailyData() ? "Complete Daily Data selected" : "Complete Daily Data not selected");
    reporter_.outputToLog(window_.situationReport() ? "SSR selected" : "SSR not selected");
    reporter_.outputToLog(autoDownload ? "Auto Download active" : "Manual download");
}

bool DownloadRun::logIn()
{
    http_.InputFileMode = false;
    const std::string body = loginFields(values_.AccountUsername, values_.AccountPassword);
    reporter_.updateStatusBar("Logging in to Skarvelin");
    try {
        http_.Post(serviceAddress() + "/perl/login.pl", body);
    } catch (const CertificateError& e) {
        tellRefusedCertificate(reporter_, unreachableText("Skarvelin", e), false);
        return false;
    } catch (const std::exception&) {
        // The exchange's own text says nothing the user can act on here; the run just ends.
        return false;
    }
    if (http_.Body.find("home.pl") == std::string::npos) {
        reporter_.updateStatusBar("Skarvelin login not successful");
        prompts_.error("Skarvelin login unsuccessful.");
        return false;
    }
    reporter_.updateStatusBar("Skarvelin login successful");
    http_.keepResponseCookie();
    return true;
}

void DownloadRun::DownloadFile(int number)
{
    http_.InputFileMode = false;
    const std::string url = productUrl(number);
    http_.Head(url);

    const std::optional<std::string> name = fileNameOfHead(http_.Header);
    if (!name) {
        reporter_.log("No file name for ID " + std::to_string(number));
        return;
    }
    // The name becomes a path below My TLEs: nothing may lead it elsewhere.
    const ProductPlace place = placeOf(*name);
    if (!acceptableFileName(*name) || place.kind.empty() || place.group.empty()) {
        reporter_.log("Refused file name " + *name);
        return;
    }
    reporter_.updateStatusBar("Checking " + *name);

    const std::string groupFolder = values_.MyTLEsDir + place.group + "/";
    const std::string folder = groupFolder + place.kind + "/";
    PrepareDirectory(reporter_, groupFolder);
    PrepareDirectory(reporter_, folder);
    const std::string path = folder + *name;
    http_.Body = path;

    if (!fileExists(path)) {
        reporter_.updateStatusBar("Downloading " + *name);
        const bool processable = name->starts_with("catalog_") || name->starts_with("ssr_");
        if (!transfer(url, path, processable)) {
            reporter_.log("Not stored: " + path);
            return;
        }
        if (newData_) {
            newData_->write(path + "\r\n");
            newData_->flush();
        }
        if (processable)
            values_.NewDataDownloaded = true;
    }
    // Only a file that is there now may become the newest catalogue or report.
    if (place.kind == "catalog")
        values_.MostCurrentCatalog = path;
    else if (place.kind == "ssr")
        values_.MostCurrentSatcat = path;
}

bool DownloadRun::transfer(const std::string& url, const std::string& path, bool processable)
{
    ReplacingFile target(path);
    target.removeLeftovers();

    // The failure warning names the product the user knows, not the temporary file.
    struct Restore {
        HttpExchange& http;
        std::function<void(std::string_view)> onFailure;
        const std::string& path;
        ~Restore()
        {
            http.OnFailure = std::move(onFailure);
            http.Body = path;
        }
    } restore{http_, http_.OnFailure, path};
    http_.OnFailure = [this, &restore, &target](std::string_view method) {
        http_.Body = restore.path;
        if (restore.onFailure)
            restore.onFailure(method);
        http_.Body = target.tempPath();
    };

    // The window shows how far the file has come while it arrives.
    struct EndProgress {
        HttpExchange& http;
        DownloadWindow& window;
        ~EndProgress()
        {
            http.OnProgress = nullptr;
            window.transferEnded();
        }
    } endProgress{http_, window_};
    http_.OnProgress = [this](std::int64_t received, std::int64_t total) { window_.transferProgress(received, total); };

    http_.Header = "header.txt";
    http_.InputFileMode = true;
    http_.Body = target.tempPath();
    try {
        http_.Get(url);
    } catch (const IncompleteResponse&) {
        // A cut transfer is not stored, like an error page; the other products still come.
        return false;
    }

    // An error page or a cut transfer never takes the product's name.
    if (http_.statusCode() >= 400)
        return false;
    if (http_.contentLength() >= 0
        && File(target.tempPath(), File::Mode::Read).size() != static_cast<std::uint64_t>(http_.contentLength()))
        return false;
    // Before the name: a file stored under it is never fetched again, so it counts as
    // new only through this mark.
    if (processable)
        File(kUnprocessedFile, File::Mode::Create).close();
    target.commit();
    return true;
}

} // namespace qm
