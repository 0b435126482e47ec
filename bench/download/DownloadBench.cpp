// One download run the way "Download Data" does it: critical-update check, login, and
// the two-line full catalogue, the seven daily files and the situation report into a
// fresh My TLEs folder. Prints the time taken and the peak resident memory.
#include "support/QuietReporter.h"

#include "core/Settings.h"
#include "platform/HeadlessPrompts.h"
#include "service/CriticalUpdate.h"
#include "service/DownloadRun.h"

#include <QCoreApplication>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

namespace {

class BenchWindow : public qm::DownloadWindow {
public:
    BenchWindow(qm::HttpExchange& http, qm::Reporter& reporter, qm::Prompts& prompts, std::string myTles)
        : http_(http)
        , reporter_(reporter)
        , prompts_(prompts)
        , myTles_(std::move(myTles))
    {
    }
    int formatIndex() const override { return 0; }
    bool currentCatalogTicked(int item) const override { return item == 0; }
    bool completeDailyData() const override { return true; }
    bool situationReport() const override { return true; }
    bool autoDownload() const override { return false; }
    void setBusyCursor(bool) override { }
    void setDownloadEnabled(bool) override { }
    void CheckForCurrentData() override { }
    bool CheckForCriticalUpdate() override
    {
        return qm::CheckForCriticalUpdate(http_, reporter_, prompts_, false, [] {});
    }
    qm::DownloadValues values() override
    {
        return {myTles_, user_, password_, catalog_, satcat_, newData_, redownloading_, check_};
    }

    std::string catalog_;
    std::string satcat_;
    bool newData_ = false;

private:
    qm::HttpExchange& http_;
    qm::Reporter& reporter_;
    qm::Prompts& prompts_;
    std::string myTles_;
    std::string user_ = "observer";
    std::string password_ = "quillmaren";
    bool redownloading_ = false;
    bool check_ = true;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <My TLEs folder, ending in />\n", argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    qm::HttpExchange http;
    qm::bench::QuietReporter reporter;
    qm::HeadlessPrompts prompts;
    BenchWindow window(http, reporter, prompts, argv[1]);
    http.OnFailure = [](std::string_view) { std::fprintf(stderr, "failure status\n"); };
    const auto start = std::chrono::steady_clock::now();
    try {
        qm::DownloadRun(window, http, reporter, prompts).run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    const auto stop = std::chrono::steady_clock::now();
    if (!window.newData_ || window.catalog_.empty() || window.satcat_.empty()) {
        std::fprintf(stderr, "the run stored no catalogue or report\n");
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("ours_ms=%.1f peak_rss_mb=%.1f\n", std::chrono::duration<double, std::milli>(stop - start).count(),
        static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
}
