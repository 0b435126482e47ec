#include "DataSetWorld.h"

#include "catalogue/TLESupport.h"
#include "platform/File.h"
#include "service/HttpFailure.h"

#include <cstdio>
#include <sys/stat.h>

namespace qm::test {

namespace {
std::string withChecksum(std::string line)
{
    line.push_back(TLE_Checksum(line.data()));
    return line;
}
} // namespace

std::string catalogText(int n)
{
    char buf[16];
    if (n < 100000)
        std::snprintf(buf, sizeof buf, "%05d", n);
    else
        std::snprintf(buf, sizeof buf, "%c%04d", "ABCDEFGHJKLMNPQRSTUVWXYZ"[n / 10000 - 10], n % 10000);
    return buf;
}

std::string tleLine1(int n)
{
    return withChecksum("1 " + catalogText(n) + "U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  292");
}

std::string tleLine2(int n)
{
    return withChecksum("2 " + catalogText(n) + "  51.6416 247.4627 0006703 130.5360 325.0288 15.7212539156353");
}

std::string name24(const std::string& name)
{
    return name + std::string(24 - name.size(), ' ');
}

std::string dataSetRecord(const std::string& name, int n)
{
    return name24(name) + "\r\n" + tleLine1(n) + "\r\n" + tleLine2(n) + "\r\n";
}

DataSetWorld::DataSetWorld(
    bool twoLine, const std::vector<CatalogueObject>& objects, const std::vector<ReportEntry>& report)
{
    std::string text;
    for (const auto& o : objects) {
        if (!twoLine)
            text += o.name + "\n";
        text += tleLine1(o.number) + "\n" + tleLine2(o.number) + "\n";
    }
    useCatalogue(twoLine, text, report);
}

DataSetWorld::DataSetWorld(bool twoLine, const std::string& catalogueText)
{
    useCatalogue(twoLine, catalogueText, {});
}

void DataSetWorld::useCatalogue(bool twoLine, const std::string& text, const std::vector<ReportEntry>& report)
{
    ::mkdir((dir.path() + "Vantoreal").c_str(), 0777);
    ::mkdir((dir.path() + "User").c_str(), 0777);
    exchange.TimeOut = 5000;
    exchange.OnFailure = [this](std::string_view) { NMHTTPFailure(exchange, prompts, reporter, httpFailure); };

    const std::string catalogFile = dir.file("catalog_test.txt");
    writeFile(catalogFile, text);
    CheckCatalog(catalogFile, twoLine, reporter);
    index.build(catalogFile, twoLine, reporter);

    ctx.TwoLineFormat = twoLine;
    ctx.CatalogFile = catalogFile;
    ctx.index = &index;
    ctx.MyTLEsDir = dir.path();
    ctx.localClockMs = [] { return std::int64_t{1'200'000'000'500}; };

    if (twoLine) {
        std::string ssrText = "Preamble\r\n" + std::string(SsrTable::kHeader) + "\r\nskip 1\r\nskip 2\r\nskip 3\r\n";
        for (const auto& e : report) {
            char data[40];
            std::snprintf(data, sizeof data, "1998-067A       %5d  rest", e.number);
            std::string line = data;
            if (e.number >= 100000)
                line.replace(16, 5, catalogText(e.number));
            ssrText += line + "\r\n" + e.name + "\r\n";
        }
        writeFile(dir.file("ssr_test.txt"), ssrText);
        ssr.buildFromText(dir.file("ssr_test.txt"), reporter);
        ctx.ssr = &ssr;
    }
    reporter.logLines.clear();
    reporter.statusHistory.clear();
}

DataSetWorld::~DataSetWorld()
{
    if (index.isOpen())
        index.close(reporter);
    if (ssr.isOpen())
        ssr.close(reporter);
}

std::vector<std::string> DataSetWorld::leftovers(const std::string& folder) const
{
    std::vector<std::string> found;
    for (const auto& name : listDirectory(folder))
        if (name.ends_with(".part"))
            found.push_back(name);
    return found;
}

} // namespace qm::test
