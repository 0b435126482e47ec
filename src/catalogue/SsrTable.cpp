#include "catalogue/SsrTable.h"

#include "catalogue/Archive.h"
#include "catalogue/BatchPipeline.h"
#include "catalogue/Support.h"
#include "catalogue/TLESupport.h"
#include "catalogue/WriteWindow.h"
#include "core/Reporter.h"
#include "platform/Errors.h"
#include "platform/Paths.h"

#include <cstring>
#include <string_view>

namespace qm {

namespace {

// Enough for the header line and every field; longer lines are cut.
constexpr std::size_t kMaxLine = 128;

// Reads the next line (CRs dropped) into `out`, keeping at most kMaxLine characters.
// Returns false at the end of the text, when no line is left to read.
bool readLine(BufferedReader& in, char* out, std::size_t& length, bool& cut)
{
    if (in.atEnd())
        return false;
    length = in.readLine(out, kMaxLine, &cut);
    return true;
}

// Columns `first`.. of the line into `out`, blanks where the line is shorter.
void columns(const char* line, std::size_t length, std::size_t first, std::size_t width, char* out)
{
    for (std::size_t i = 0; i < width; ++i) {
        const std::size_t at = first - 1 + i;
        out[i] = at < length ? line[at] : ' ';
    }
}

} // namespace

void SsrTable::build(const std::string& satcatArchive, const std::string& myTlesDir, Reporter& reporter)
{
    reporter.updateStatusBar("Extracting SSR data");
    // Only the text read here is unpacked; a member that cannot be written raises its
    // own error, a damaged one leaves the text missing.
    const std::string text = myTlesDir + changeFileExt(extractFileName(satcatArchive), ".txt");
    textFile_ = text; // a work file from here on, whatever is found
    ZipArchive zip;
    zip.open(satcatArchive);
    if (!zip.extractOne(kReportMemberMask, text)) {
        const std::string message = "File " + text + " not found.";
        reporter.log(message);
        throw FatalStop{message};
    }
    buildFromText(text, reporter);
}

void SsrTable::buildFromText(const std::string& textFile, Reporter& reporter)
{
    if (file_.isOpen())
        file_.close();
    textFile_ = textFile;
    highest_ = -1;

    reporter.updateStatusBar("Indexing SSR data");
    BufferedReader in(textFile);
    reporter.log("Open [fs] " + textFile);
    // Built under a temporary name: a failure leaves the last run's table, never a
    // half-written one. Every run builds it anew before reading it: no flush to disk.
    ReplacingFile target(kFileName, ReplacingFile::Kind::WorkFile);
    target.removeLeftovers();
    File building = target.createTemp();
    reporter.log(std::string("Open [fssr] ") + kFileName);

    char line[kMaxLine];
    std::size_t length = 0;
    bool cut = false;
    const std::string_view header(kHeader);
    bool found = false;
    while (readLine(in, line, length, cut)) {
        if (!cut && std::string_view(line, length) == header) {
            found = true;
            break;
        }
    }
    // A report without the header, or one that ends early, stops at the end of the
    // text; the table keeps what was read.
    for (int skip = 0; found && skip < 3; ++skip)
        found = readLine(in, line, length, cut);

    // The report is read into records on this thread while a helper puts the records
    // read before in their places: a batch holds, for each record, its number and
    // its bytes.
    static constexpr std::size_t kItemSize = sizeof(std::int32_t) + kRecordSize;
    static constexpr std::size_t kBatchItems = 1024;
    WriteWindow records(building);
    BatchPipeline placing(
        kBatchItems * kItemSize,
        [&](char* items, std::size_t count) {
            for (const char* item = items; item != items + count * kItemSize; item += kItemSize) {
                std::int32_t n = 0;
                std::memcpy(&n, item, sizeof n);
                records.write(static_cast<std::uint64_t>(n) * kRecordSize, item + sizeof n, kRecordSize);
            }
        },
        BatchPipeline::worthAHelper(in.size()));
    placing.run([&] {
        char* batch = placing.take();
        std::size_t count = 0;
        while (found && readLine(in, line, length, cut)) {
            char* item = batch + count * kItemSize;
            char* record = item + sizeof(std::int32_t);
            columns(line, length, 1, 11, record);
            columns(line, length, 17, 5, record + 11);
            if (!readLine(in, line, length, cut))
                break;
            columns(line, length, 1, 24, record + 16);
            bool ok = false;
            std::int32_t n = Catalog_Number(std::string_view(record + 11, 5), 1, ok);
            if (!ok)
                n = 0;
            // A negative number has no record; it cannot be looked up.
            if (n >= 0) {
                std::memcpy(item, &n, sizeof n);
                if (++count == kBatchItems) {
                    placing.submit(count);
                    batch = placing.take();
                    count = 0;
                }
            }
            if (n == 1)
                break;
        }
        placing.submit(count);
    });

    records.flush();
    building.close();
    target.commit();
    file_.open(kFileName, File::Mode::ReadWrite, kRecordSize);
    highest_ = static_cast<int>(file_.count()) - 1;
    in.close();
    reporter.log("Close [fs]");
}

void SsrTable::readName(int n, char out[24]) const
{
    char record[kRecordSize];
    file_.read(static_cast<std::uint64_t>(n), record);
    std::memcpy(out, record + kNameOffset, 24);
}

std::size_t SsrTable::readRecords(int first, std::size_t count, char* out) const
{
    const std::size_t got
        = file_.file().readSomeAt(static_cast<std::uint64_t>(first) * kRecordSize, out, count * kRecordSize);
    return got / kRecordSize;
}

void SsrTable::close(Reporter& reporter)
{
    file_.close();
    reporter.log("Close [fssr]");
}

} // namespace qm
