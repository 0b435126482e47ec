#include "service/DownloadRun.h"

#include "core/Log.h"
#include "core/Settings.h"
#include "platform/Errors.h"
#include "service/Hosts.h"
#include "service/HttpFailure.h"
#include "service/LoginForm.h"
#include "service/ProductCheck.h"

#include <climits>
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

// A name as the log may show it: control bytes (a NUL among them) as "?".
std::string printable(std::string_view name)
{
    std::string shown(name);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return shown;
}

// The text of an error raised while a temporary stood for `path`, naming `path`.
std::string naming(std::string text, const std::string& temporary, const std::string& path)
{
    for (auto at = text.find(temporary); at != std::string::npos; at = text.find(temporary, at + path.size()))
        text.replace(at, temporary.size(), path);
    return text;
}

} // namespace

// While one product is fetched: the exchange's failure handler warns as before, but
// names `shown` (the product, not the temporary receiving it, nor the empty body of a
// reply to HEAD), and the run learns that the product has had its warning.
class DownloadRun::FailureWatch {
public:
    FailureWatch(HttpExchange& http, std::string shown)
        : http_(http)
        , handler_(http.OnFailure)
        , shown_(std::move(shown))
    {
        http_.OnFailure = [this](std::string_view method) { warn(method); };
    }
    ~FailureWatch() { http_.OnFailure = std::move(handler_); }
    FailureWatch(const FailureWatch&) = delete;
    FailureWatch& operator=(const FailureWatch&) = delete;

    void show(std::string shown) { shown_ = std::move(shown); }
    // The warning for a product that is missing, once.
    void warnOnce()
    {
        if (!warned_)
            warn("GET");
    }

private:
    void warn(std::string_view method)
    {
        warned_ = true;
        if (!handler_)
            return;
        const std::string body = std::exchange(http_.Body, shown_);
        handler_(method);
        http_.Body = body;
    }

    HttpExchange& http_;
    std::function<void(std::string_view)> handler_;
    std::string shown_;
    bool warned_ = false;
};

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
    return !name.empty() && name.size() <= NAME_MAX
        && name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos
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
    const std::string_view kind = name.substr(0, underscore);
    const std::string_view group = rest.substr(0, 4);
    // Either would lead the path out of its place: "My TLEs/./catalog/" is "My TLEs/catalog/".
    for (const std::string_view part : {kind, group})
        if (part == "." || part == "..")
            return {};
    return {std::string(kind), std::string(group)};
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
    missing_ = false;
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
    // A product that did not arrive must be asked for again: an unattended run says so
    // in its exit status, and its timer tries again.
    return missing_ ? RunOutcome::EndedEarly : RunOutcome::Completed;
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
    } catch (const std::exception& e) {
        // A wait the program's end cut short is no news to anyone.
        if (!window_.ending())
            tellUnreachable(reporter_, unreachableText("Skarvelin", e), false);
        return false;
    }
    if (http_.Body.find("home.pl") == std::string::npos) {
        reporter_.updateStatusBar("Skarvelin login not successful");
        reporter_.runFailing(RunOutcome::EndedEarly, "Skarvelin login unsuccessful.");
        prompts_.error("Skarvelin login unsuccessful.");
        return false;
    }
    reporter_.updateStatusBar("Skarvelin login successful");
    http_.keepResponseCookie();
    return true;
}

void DownloadRun::DownloadFile(int number)
{
    const std::string url = productUrl(number);
    // Until it has a name of its own, the product is named by its address.
    FailureWatch watch(http_, url);
    http_.InputFileMode = false;
    http_.Head(url);

    const std::optional<std::string> name = fileNameOfHead(http_.Header);
    if (!name) {
        productMissing(watch, "No file name for ID " + std::to_string(number));
        return;
    }
    // The name becomes a path below My TLEs: nothing may lead it elsewhere.
    const ProductPlace place = placeOf(*name);
    if (!acceptableFileName(*name) || place.kind.empty() || place.group.empty()) {
        productMissing(watch, "Refused file name " + printable(*name));
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
        watch.show(path);
        const bool processable = name->starts_with("catalog_") || name->starts_with("ssr_");
        const std::optional<std::string> failure = transfer(url, path, processable);
        if (failure) {
            productMissing(watch, "Not stored: " + path + " (" + *failure + ")");
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

void DownloadRun::productMissing(FailureWatch& watch, const std::string& line)
{
    missing_ = true;
    // On the status line while the warning is up, and in the log.
    reporter_.updateStatusBar(line);
    reporter_.runFailing(RunOutcome::EndedEarly, line);
    watch.warnOnce();
}

std::optional<std::string> DownloadRun::transfer(const std::string& url, const std::string& path, bool processable)
{
    ReplacingFile target(path);
    target.removeLeftovers();

    // The window shows how far the file has come while it arrives; the exchange names
    // the product again when the transfer is over, however it ended.
    struct EndTransfer {
        HttpExchange& http;
        DownloadWindow& window;
        const std::string& path;
        ~EndTransfer()
        {
            http.OnProgress = nullptr;
            http.Body = path;
            window.transferEnded();
        }
    } endTransfer{http_, window_, path};
    http_.OnProgress = [this](std::int64_t received, std::int64_t total) { window_.transferProgress(received, total); };

    http_.Header = "header.txt";
    http_.InputFileMode = true;
    http_.Body = target.tempPath();
    try {
        http_.Get(url);

        // Only the whole product takes its name: an error page, a reply of another
        // kind, or a body that is not the length its head gave would be kept for good,
        // since a stored file is never fetched again.
        if (http_.statusCode() != 200)
            return http_.statusCode() == 0 ? "No status line" : "Status " + std::to_string(http_.statusCode());
        if (http_.transferEncoded())
            return "Unsupported transfer encoding";
        if (http_.contentLengthMalformed())
            return "Malformed Content-Length";
        if (http_.bodyOverran())
            return "Longer than its Content-Length";
        const std::uint64_t size = File(target.tempPath(), File::Mode::Read).size();
        if (http_.contentLength() >= 0 && size != static_cast<std::uint64_t>(http_.contentLength()))
            return "Size differs from its Content-Length";
        const ProductKind kind = productKindOf(path);
        if (!fileHoldsKind(target.tempPath(), kind))
            return std::string(notOfKindText(kind));

        // Before the name: a file stored under it is never fetched again, so it counts as
        // new only through this mark.
        if (processable)
            File(kUnprocessedFile, File::Mode::Create).close();
        target.commit();
        return std::nullopt;
    } catch (const IncompleteResponse& e) {
        return e.what();
    } catch (const ResponseTooLarge& e) {
        // A reply past the size limit, or one whose head is no HTTP, is this product's
        // fault; the other errors of the network end the run.
        return e.what();
    } catch (const MalformedResponse& e) {
        return e.what();
    } catch (const IoError& e) {
        // A file of this product that cannot be written (a name the file system will
        // not take, a folder in its way) ends only this product.
        const std::string text = naming(e.what(), target.tempPath(), path);
        if (text.find(path) == std::string::npos)
            throw;
        return text;
    }
}

} // namespace qm
