// Benchmark driver of the data-set writers.
//   bench_datasets generate DIR COUNT   checked catalogues of COUNT objects in both forms
//                                       (DIR/form2, DIR/form3), a name report and a user
//                                       query file of 20,000 random catalogue numbers
//   bench_datasets comprehensive DIR/formN N
//   bench_datasets user DIR/formN N
// The two timed modes print "ours_ms=... peak_rss_mb=..." for the writer call alone.
#include "app/Reporter.h"
#include "catalogue/CatalogIndex.h"
#include "catalogue/SsrTable.h"
#include "catalogue/TLESupport.h"
#include "datasets/DataSetContext.h"
#include "datasets/DataSetWriter.h"
#include "platform/File.h"
#include "platform/ShellLauncher.h"
#include "service/HttpExchange.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <sys/resource.h>

namespace {

class QuietReporter : public qm::Reporter {
public:
    bool debugOn() const override { return false; }
    void outputToLog(std::string_view) override { }
    void updateStatusBar(std::string_view) override { }
    void setStatusText(std::string_view) override { }
    std::string trayHint() const override { return std::string(qm::kProgramTitle); }
};

class NoLauncher : public qm::ShellLauncher {
public:
    void open(const std::string&, const std::string&) override { }
};

std::string withChecksum(char* line)
{
    line[68] = qm::TLE_Checksum(line);
    return std::string(line, 69);
}

void generate(const std::string& dir, int count)
{
    namespace fs = std::filesystem;
    std::mt19937 random(20071015);
    QuietReporter reporter;
    for (int form : {2, 3}) {
        const std::string folder = dir + "/form" + std::to_string(form) + "/";
        fs::create_directories(folder + "Vantoreal");
        fs::create_directories(folder + "User");
        qm::BufferedWriter text(folder + "catalog.txt");
        for (int i = 0; i < count; ++i) {
            const int n = i % 100000;
            char line[80];
            if (form == 3) {
                std::snprintf(line, sizeof line, "OBJECT %05d\n", n);
                text.write(line);
            }
            std::snprintf(line, sizeof line, "1 %05dU %02d%03dA   %02d%03d.%08u -.00002182  00000-0 -11606-4 0  292 ",
                n, 57 + n % 43, n % 999, 7 + n % 2, 1 + n % 365, static_cast<unsigned>(random() % 100000000));
            text.write(withChecksum(line) + "\n");
            std::snprintf(line, sizeof line, "2 %05d %8.4f %8.4f 0006703 %8.4f %8.4f %11.8f%5d ", n,
                (random() % 1800000) / 10000.0, (random() % 3600000) / 10000.0, (random() % 3600000) / 10000.0,
                (random() % 3600000) / 10000.0, 1.0 + (random() % 1500000000) / 100000000.0,
                static_cast<int>(random() % 99999));
            text.write(withChecksum(line) + "\n");
        }
        text.close();
        qm::CheckCatalog(folder + "catalog.txt", form == 2, reporter);

        qm::BufferedWriter report(folder + "ssr.txt");
        report.write(std::string(qm::SsrTable::kHeader) + "\r\n-\r\n-\r\n-\r\n");
        for (int n = std::min(count, 100000) - 1; n >= 1; --n) {
            char entry[80];
            std::snprintf(entry, sizeof entry, "1998-067A       %5d\r\nREPORT NAME %05d\r\n", n, n);
            report.write(entry);
        }
        report.close();

        std::mt19937 pick(1);
        qm::BufferedWriter query(folder + "User/pick.query");
        for (int i = 0; i < 20000; ++i) {
            char line[40];
            const int n = static_cast<int>(pick() % 100000);
            if (i % 4 == 0)
                std::snprintf(line, sizeof line, "%5dPICKED %d\r\n", n, i);
            else
                std::snprintf(line, sizeof line, "%5d\r\n", n);
            query.write(line);
        }
        query.close();
    }
}

int timed(const std::string& mode, const std::string& folder, bool twoLine)
{
    std::filesystem::current_path(folder);
    QuietReporter reporter;
    qm::HttpExchange exchange;
    bool failure = false;
    NoLauncher launcher;
    qm::CatalogIndex index;
    qm::SsrTable ssr;
    qm::DataSetContext ctx(reporter, exchange, failure, launcher);
    ctx.TwoLineFormat = twoLine;
    ctx.CatalogFile = folder + "/catalog.txt";
    ctx.MyTLEsDir = folder + "/";
    index.build(ctx.CatalogFile, twoLine, reporter);
    ctx.index = &index;
    ctx.IndexEntries = index.entries();
    if (twoLine) {
        ssr.buildFromText(folder + "/ssr.txt", reporter);
        ctx.ssr = &ssr;
        ctx.SsrHighest = ssr.highest();
    }
    qm::DataSetWriter writer(ctx);

    const auto start = std::chrono::steady_clock::now();
    if (mode == "comprehensive")
        writer.BuildComprehensiveDataSet();
    else
        writer.BuildUserDataSet("pick");
    const auto stop = std::chrono::steady_clock::now();

    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("ours_ms=%.1f peak_rss_mb=%.1f\n", std::chrono::duration<double, std::milli>(stop - start).count(),
        static_cast<double>(usage.ru_maxrss) / 1024.0);
    index.close(reporter);
    if (twoLine)
        ssr.close(reporter);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "generate" && argc == 4) {
        generate(argv[2], std::atoi(argv[3]));
        return 0;
    }
    if ((mode == "comprehensive" || mode == "user") && argc == 4)
        return timed(mode, std::filesystem::absolute(argv[2]).string(), std::string(argv[3]) == "2");
    std::fprintf(stderr, "usage: bench_datasets generate DIR COUNT | comprehensive|user DIR/formN N\n");
    return 2;
}
