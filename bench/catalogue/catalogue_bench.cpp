// Times the catalogue road of one processing run: unpack, check, index and, for
// two-line data, the report table. Prints "ours_ms=... peak_rss_kb=..." and counts.
#include "core/Reporter.h"
#include "catalogue/Archive.h"
#include "catalogue/CatalogIndex.h"
#include "catalogue/SsrTable.h"
#include "catalogue/TLESupport.h"
#include "platform/File.h"
#include "platform/Paths.h"
#include "support/QuietReporter.h"
#include "support/WorkDir.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <sys/resource.h>

namespace {

using qm::bench::QuietReporter;

std::string withoutLastExtension(const std::string& name)
{
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s zip|gz 2|3 CATALOGUE_ARCHIVE SSR_ZIP|- WORKDIR\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const bool twoLine = std::strcmp(argv[2], "2") == 0;
    const std::string archive = argv[3];
    const std::string ssr = argv[4];
    const std::string work = qm::bench::enterWorkDir(argv[5]);
    if (work.empty())
        return 2;
    try {
        QuietReporter reporter;
        const auto start = std::chrono::steady_clock::now();
        // As the processing run does it: the text is checked while it is unpacked.
        const std::string catalogFile = work
            + (mode == "zip" ? qm::changeFileExt(qm::extractFileName(archive), ".txt")
                             : withoutLastExtension(qm::extractFileName(archive)));
        qm::StreamedCheck check(catalogFile, twoLine);
        if (mode == "zip") {
            qm::ZipArchive zip;
            zip.open(archive);
            zip.extractOne("catalog*.*", catalogFile, &check.member());
        } else {
            qm::GzipFile gz;
            gz.open(archive);
            gz.extractOne("*.txt", catalogFile, &check.member());
        }
        if (!check.checked())
            throw std::runtime_error("the catalogue did not unpack whole");
        check.finish(reporter);
        const auto checked = std::chrono::steady_clock::now();
        qm::CatalogIndex index;
        index.build(catalogFile, twoLine, reporter);
        const auto indexed = std::chrono::steady_clock::now();
        qm::SsrTable table;
        if (ssr != "-")
            table.build(ssr, work, reporter);
        const auto stop = std::chrono::steady_clock::now();
        auto ms = [](auto a, auto b) { return std::chrono::duration<double, std::milli>(b - a).count(); };

        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        qm::File result(catalogFile, qm::File::Mode::Read);
        const auto records = result.size() / (twoLine ? qm::kTwoLineRecordSize : qm::kThreeLineRecordSize);
        std::printf("ours_ms=%.2f peak_rss_kb=%ld unpack_check_ms=%.1f index_ms=%.1f ssr_ms=%.1f "
                    "records=%llu index_entries=%d ssr_highest=%d\n",
            ms(start, stop), usage.ru_maxrss, ms(start, checked), ms(checked, indexed),
            ms(indexed, stop), static_cast<unsigned long long>(records), index.entries(), table.highest());
        index.close(reporter);
        if (table.isOpen())
            table.close(reporter);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
