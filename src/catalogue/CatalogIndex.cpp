#include "catalogue/CatalogIndex.h"

#include "catalogue/BatchPipeline.h"
#include "catalogue/Support.h"
#include "catalogue/TLESupport.h"
#include "catalogue/WriteWindow.h"
#include "core/Reporter.h"
#include "platform/Errors.h"

#include <cstring>
#include <string_view>
#include <vector>

namespace qm {

namespace {

void encode(std::int32_t value, unsigned char out[4])
{
    const auto u = static_cast<std::uint32_t>(value);
    out[0] = static_cast<unsigned char>(u);
    out[1] = static_cast<unsigned char>(u >> 8);
    out[2] = static_cast<unsigned char>(u >> 16);
    out[3] = static_cast<unsigned char>(u >> 24);
}

std::int32_t decode(const unsigned char in[4])
{
    const std::uint32_t u
        = std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16 | std::uint32_t{in[3]} << 24;
    return static_cast<std::int32_t>(u);
}

// Bytes of catalogue records read at once.
constexpr std::size_t kBlockBytes = 64 * 1024;

} // namespace

void CatalogIndex::build(const std::string& catalogFile, bool twoLine, Reporter& reporter)
{
    const std::size_t recordSize = twoLine ? kTwoLineRecordSize : kThreeLineRecordSize;
    const std::size_t line1 = twoLine ? 0 : kThreeLinePairOffset;
    const std::string tag = twoLine ? "f2i" : "f3i";

    if (file_.isOpen())
        file_.close();
    entries_ = 0;
    newest_.reset();

    reporter.updateStatusBar(twoLine ? "Indexing TLE file (2)" : "Indexing TLE file (3)");
    File in(catalogFile, File::Mode::Read);
    reporter.log("Open [" + tag + "] " + catalogFile);

    // The catalogue is read in blocks of whole records on this thread while a helper
    // indexes the block read before. A part-record at the end is no record.
    const std::size_t blockRecords = kBlockBytes / recordSize;
    std::uint64_t offset = 0;
    auto readBlock = [&](char* block) {
        const std::size_t got = in.readSomeAt(offset, block, blockRecords * recordSize);
        offset += got;
        return got / recordSize;
    };
    std::vector<char> first(blockRecords * recordSize);
    std::size_t count = readBlock(first.data());
    if (count == 0) {
        const std::string text
            = std::string("Catalog (") + (twoLine ? "2" : "3") + ") file is empty. Input file was corrupt.";
        reporter.log(text);
        in.close();
        reporter.log("Close [" + tag + "]");
        throw FatalStop{text};
    }

    // Built under a temporary name: a failure leaves the last run's index, never a
    // half-written one. Every run builds it anew before reading it: no flush to disk.
    ReplacingFile target(kFileName, ReplacingFile::Kind::WorkFile);
    target.removeLeftovers();
    File building = target.createTemp();
    reporter.log(std::string("Open [indexfile] ") + kFileName);

    WriteWindow slots(building);
    std::int32_t r = 0;
    auto index = [&](const char* records, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            ++r;
            const std::string_view line(records + i * recordSize + line1, kLineLength);
            // This pass reads every object anyway; the freshness of the data comes with it.
            newest_.take(line);
            bool ok = false;
            const int number = Catalog_Number(line, 3, ok);
            // A negative number has no slot; the object stays in the catalogue.
            if (number >= 0) {
                unsigned char slot[4];
                encode(r, slot);
                slots.write(std::uint64_t(number) * 4, slot, 4);
            }
        }
    };
    {
        BatchPipeline indexing(blockRecords * recordSize, index, BatchPipeline::worthAHelper(in.size()));
        indexing.run([&] {
            char* block = indexing.take();
            std::memcpy(block, first.data(), count * recordSize);
            while (count == blockRecords) {
                indexing.submit(count);
                block = indexing.take();
                count = readBlock(block);
            }
            indexing.submit(count);
        });
    }
    slots.flush();
    building.close();
    target.commit();
    file_.open(kFileName, File::Mode::ReadWrite);

    in.close();
    reporter.log("Close [" + tag + "]");
    entries_ = static_cast<int>(file_.size() / 4);
}

std::int32_t CatalogIndex::lookup(int n) const
{
    if (n < 0 || n >= entries_ || !file_.isOpen())
        return 0;
    unsigned char slot[4];
    file_.readAt(std::uint64_t(n) * 4, slot, 4);
    return decode(slot);
}

std::int32_t CatalogIndex::slotValue(const unsigned char slot[4])
{
    return decode(slot);
}

void CatalogIndex::close(Reporter& reporter)
{
    file_.close();
    reporter.log("Close [indexfile]");
}

} // namespace qm
