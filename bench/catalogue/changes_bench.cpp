// Times the report of catalogue changes against the check stage on the same catalogue.
//   changes_bench make CATALOG_2L_TEXT DIR
//     from the generator's two-line text, DIR/before.txt and DIR/after.txt: two
//     catalogues a day apart that differ in 1 % of their objects (a third gone, a third
//     with the inclination moved by 0.1 degree, a third new with letter-form numbers at
//     the end of the text), in which one object in 50 is stale
//   changes_bench run DIR SSR_TEXT WORKDIR
//     checks, indexes and compares before.txt, which leaves the state; then runs the
//     processing run's check stage on DIR/after.zip (unpacked and checked as the run
//     does it: the baseline) and, with its index and the report's names, the comparison
//     (ours), up to putting the files in place (commit_ms, not in ours). Prints
//     "ours_ms=... baseline_ms=... text_check_ms=... commit_ms=... peak_rss_kb=..." and
//     the counts; text_check_ms is the check of after.txt as a plain text, for reference.
#include "catalogue/Archive.h"
#include "catalogue/CatalogIndex.h"
#include "catalogue/SsrTable.h"
#include "catalogue/TLESupport.h"
#include "datasets/CatalogueChanges.h"
#include "datasets/DataSetContext.h"
#include "platform/File.h"
#include "platform/ShellLauncher.h"
#include "service/HttpExchange.h"
#include "support/QuietReporter.h"
#include "support/WorkDir.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using qm::bench::QuietReporter;

class NoLauncher : public qm::ShellLauncher {
public:
    void open(const std::string&, const std::string&) override { }
};

// Sets columns from `column` (counted from 1) and the check character again, when the
// line had one (a blank one, which the check fills in, stays blank).
void put(std::string& line, int column, const std::string& text)
{
    const bool checked = line.size() >= 69 && qm::TLE_Checksum(line.data()) == line[68];
    line.replace(std::size_t(column - 1), text.size(), text);
    if (checked)
        line[68] = qm::TLE_Checksum(line.data());
}

void makeCatalogues(const std::string& source, const std::string& before, const std::string& after)
{
    std::ifstream in(source);
    std::ofstream a(before, std::ios::binary), b(after, std::ios::binary);
    std::string l1, l2, added;
    std::getline(in, l1); // the generator's two comment lines
    std::getline(in, l1);
    for (int i = 0, k = 0; std::getline(in, l1) && std::getline(in, l2); ++i) {
        if (l1.size() < 69 || l2.size() < 69
            || (std::isdigit(static_cast<unsigned char>(l1[68])) && qm::TLE_Checksum(l1.data()) != l1[68]))
            continue; // the generator's rejects: left out of both
        const std::string fraction = l1.substr(24, 8);
        const bool stale = i % 50 == 0;
        put(l1, 19, std::string(stale ? "24300." : "24360.") + fraction);
        a << l1 << '\n' << l2 << '\n';
        if (i % 300 == 0)
            continue;
        put(l1, 19, std::string(stale ? "24301." : "24361.") + fraction);
        if (i % 300 == 100) {
            char inclination[16];
            std::snprintf(inclination, sizeof inclination, "%8.4f", std::atof(l2.substr(8, 8).c_str()) + 0.1);
            put(l2, 9, inclination);
        }
        b << l1 << '\n' << l2 << '\n';
        if (i % 300 == 200) {
            char number[16];
            std::snprintf(number, sizeof number, "A%04d", k++);
            std::string n1 = l1, n2 = l2;
            put(n1, 3, number);
            put(n2, 3, number);
            added += n1 + '\n' + n2 + '\n';
        }
    }
    b << added;
}

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make" && argc == 4) {
        makeCatalogues(argv[2], std::string(argv[3]) + "/before.txt", std::string(argv[3]) + "/after.txt");
        return 0;
    }
    if (mode != "run" || argc != 5) {
        std::fprintf(stderr, "usage: %s make CATALOG_2L_TEXT DIR | run DIR SSR_TEXT WORKDIR\n", argv[0]);
        return 2;
    }
    const std::string dir = std::string(argv[2]) + "/";
    const std::string work = qm::bench::enterWorkDir(argv[4]);
    if (work.empty())
        return 2;
    try {
        QuietReporter reporter;
        qm::HttpExchange exchange;
        bool httpFailure = false;
        NoLauncher launcher;
        qm::DataSetContext ctx(reporter, exchange, httpFailure, launcher);
        qm::CatalogIndex index;
        qm::SsrTable table;
        ctx.TwoLineFormat = true;
        ctx.CatalogFile = work + "before.txt";
        ctx.index = &index;
        ctx.ssr = &table;
        ctx.MyTLEsDir = work;
        table.buildFromText(argv[3], reporter);

        // The last run's catalogue leaves the state.
        std::filesystem::copy_file(dir + "before.txt", ctx.CatalogFile);
        qm::CheckCatalog(ctx.CatalogFile, true, reporter);
        index.build(ctx.CatalogFile, true, reporter);
        {
            qm::CatalogueChanges first;
            first.compare(ctx);
            first.commit(reporter);
        }

        // For reference: the check of the same text, not unpacked.
        std::filesystem::copy_file(dir + "after.txt", work + "text.txt");
        auto start = std::chrono::steady_clock::now();
        qm::CheckCatalog(work + "text.txt", true, reporter);
        const double textCheck = msSince(start);
        qm::removeFile(work + "text.txt");

        ctx.CatalogFile = work + "after.txt";
        start = std::chrono::steady_clock::now();
        qm::StreamedCheck check(ctx.CatalogFile, true);
        qm::ZipArchive zip;
        zip.open(dir + "after.zip");
        zip.extractOne("after*.*", ctx.CatalogFile, &check.member());
        if (!check.checked())
            throw std::runtime_error("the catalogue did not unpack whole");
        check.finish(reporter);
        const double baseline = msSince(start);

        index.build(ctx.CatalogFile, true, reporter);
        qm::CatalogueChanges changes;
        start = std::chrono::steady_clock::now();
        changes.compare(ctx);
        const double ours = msSince(start);
        start = std::chrono::steady_clock::now();
        changes.commit(reporter);
        const double commit = msSince(start);

        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        const qm::ChangeCounts& c = changes.counts();
        std::printf("ours_ms=%.2f baseline_ms=%.2f text_check_ms=%.2f commit_ms=%.2f peak_rss_kb=%ld objects=%u "
                    "previous=%u new=%u gone=%u jumped=%u stale=%u\n",
            ours, baseline, textCheck, commit, usage.ru_maxrss, c.objects, c.previousObjects, c.added, c.gone,
            c.jumped, c.stale);
        index.close(reporter);
        table.close(reporter);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
