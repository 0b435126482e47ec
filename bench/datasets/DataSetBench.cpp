// Benchmark driver of the data-set writers.
//   bench_datasets prepare DIR   from the generator's texts in DIR, checked catalogues in
//                                both forms (DIR/form2, DIR/form3), each with the report
//                                text and a user query file of 20,000 random numbers
//   bench_datasets comprehensive DIR/formN N
//   bench_datasets user DIR/formN N
//   bench_datasets omm DIR/formN xml|csv|json
//                                the OMM twin of DIR/formN/Vantoreal/catalog.txt (written
//                                by "comprehensive" before), fed its records as the writer
//                                feeds them, flushed and put in place as the program does
// The timed modes print "ours_ms=... peak_rss_mb=..." for the writer call alone.
#include "core/Reporter.h"
#include "catalogue/CatalogIndex.h"
#include "catalogue/SsrTable.h"
#include "catalogue/TLESupport.h"
#include "datasets/DataSetContext.h"
#include "datasets/DataSetWriter.h"
#include "datasets/OmmWriter.h"
#include "platform/File.h"
#include "platform/ShellLauncher.h"
#include "service/HttpExchange.h"
#include "support/QuietReporter.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <sys/resource.h>

namespace {

using qm::bench::QuietReporter;

class NoLauncher : public qm::ShellLauncher {
public:
    void open(const std::string&, const std::string&) override { }
};

// Lays out, from the generator's texts in `dir` (tools/gen_catalogue.py), one checked
// catalogue per form with its report text and a user query of 20,000 random numbers.
void prepare(const std::string& dir)
{
    namespace fs = std::filesystem;
    QuietReporter reporter;
    for (int form : {2, 3}) {
        const std::string folder = dir + "/form" + std::to_string(form) + "/";
        fs::create_directories(folder + "Vantoreal");
        fs::create_directories(folder + "User");
        fs::copy_file(dir + "/catalog_" + std::to_string(form) + "l.txt", folder + "catalog.txt");
        fs::copy_file(dir + "/ssr_bench.txt", folder + "ssr.txt");
        qm::CheckCatalog(folder + "catalog.txt", form == 2, reporter);

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

void printTimed(std::chrono::steady_clock::time_point start)
{
    const auto stop = std::chrono::steady_clock::now();
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("ours_ms=%.1f peak_rss_mb=%.1f\n", std::chrono::duration<double, std::milli>(stop - start).count(),
        static_cast<double>(usage.ru_maxrss) / 1024.0);
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
    if (twoLine) {
        ssr.buildFromText(folder + "/ssr.txt", reporter);
        ctx.ssr = &ssr;
    }
    qm::DataSetWriter writer(ctx);

    const auto start = std::chrono::steady_clock::now();
    if (mode == "comprehensive")
        writer.BuildComprehensiveDataSet();
    else
        writer.BuildUserDataSet("pick");
    printTimed(start);
    index.close(reporter);
    if (twoLine)
        ssr.close(reporter);
    return 0;
}

int timedOmm(const std::string& folder, const std::string& kind)
{
    const qm::OmmFormat format = kind == "xml" ? qm::OmmFormat::Xml
        : kind == "csv"                        ? qm::OmmFormat::Csv
                                               : qm::OmmFormat::Json;
    const std::string dataSet = folder + "/Vantoreal/catalog.txt";
    const auto start = std::chrono::steady_clock::now();
    qm::OmmWriter twin(
        format, folder + "/Vantoreal/catalog." + kind, qm::ommCreationDate(std::chrono::system_clock::now()));
    qm::BufferedReader in(dataSet);
    std::vector<char> block(390 * qm::kDataSetRecordSize);
    while (const std::size_t got = in.read(block.data(), block.size()))
        twin.add(block.data(), got / qm::kDataSetRecordSize);
    twin.close();
    twin.commit();
    printTimed(start);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "prepare" && argc == 3) {
        prepare(argv[2]);
        return 0;
    }
    if (mode == "omm" && argc == 4)
        return timedOmm(std::filesystem::absolute(argv[2]).string(), argv[3]);
    if ((mode == "comprehensive" || mode == "user") && argc == 4)
        return timed(mode, std::filesystem::absolute(argv[2]).string(), std::string(argv[3]) == "2");
    std::fprintf(
        stderr, "usage: bench_datasets prepare DIR | comprehensive|user DIR/formN N | omm DIR/formN xml|csv|json\n");
    return 2;
}
