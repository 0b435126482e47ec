#include "datasets/DataSetWriter.h"

#include "catalogue/BatchPipeline.h"
#include "catalogue/CatalogIndex.h"
#include "catalogue/SsrTable.h"
#include "catalogue/Support.h"
#include "catalogue/TLESupport.h"
#include "core/Reporter.h"
#include "datasets/OmmWriter.h"
#include "datasets/PalmDatabase.h"
#include "datasets/QueryList.h"
#include "datasets/ReportNames.h"
#include "platform/Errors.h"
#include "platform/File.h"
#include "platform/ShellLauncher.h"
#include "service/Hosts.h"
#include "service/HttpExchange.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace qm {

int DataSetContext::IndexEntries() const
{
    return index ? index->entries() : 0;
}

int DataSetContext::SsrHighest() const
{
    return ssr ? ssr->highest() : -1;
}

std::int64_t systemLocalClockMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    return (static_cast<std::int64_t>(now.tv_sec) + local.tm_gmtoff) * 1000 + now.tv_nsec / 1000000;
}

namespace {

// The catalogue as a record file of the current form, with its log lines.
class CatalogueReader {
public:
    explicit CatalogueReader(const DataSetContext& ctx)
        : reporter_(ctx.reporter)
        , twoLine_(ctx.TwoLineFormat)
    {
        file_.open(ctx.CatalogFile, File::Mode::Read, twoLine_ ? kTwoLineRecordSize : kDataSetRecordSize);
        reporter_.log((twoLine_ ? "Open [f2i] " : "Open [f3i] ") + ctx.CatalogFile);
    }
    RecordFile& file() { return file_; }
    void close()
    {
        file_.close();
        reporter_.log(twoLine_ ? "Close [f2i]" : "Close [f3i]");
    }

private:
    Reporter& reporter_;
    bool twoLine_;
    RecordFile file_;
};

// An output that is a symbolic link is written where the link points, so the link
// (which may feed another program's folder) stays in place.
std::string throughLink(const std::string& path)
{
    struct stat st { };
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return path;
    std::string target = real;
    std::free(real);
    return target;
}

// Bytes of catalogue records read at once by a sequential pass.
constexpr std::size_t kPassBlockBytes = 64 * 1024;

// A data-set output written under a temporary name and put in place when complete,
// with its OMM twin when one is asked for: the same records, fed as they are written.
class DataSetOutput {
public:
    DataSetOutput(const std::string& folder, const std::string& name, const DataSetContext& ctx)
        : replacing_(throughLink(folder + name + ctx.extension()))
        , reporter_(ctx.reporter)
        , base_(folder + name)
        , omm_(ctx.Omm)
    {
        const std::string path = folder + name + ctx.extension();
        const std::string twinName = name + std::string(ommExtension(ctx.Omm));
        replacing_.removeLeftovers();
        // The twin clears the leftovers of its name before the data set's temporary is
        // there: the temporaries of long names are shortened, and the data set's and
        // its twin's may then share one stem.
        if (ctx.Omm != OmmFormat::None)
            twin_.emplace(ctx.Omm, throughLink(folder + twinName), ommCreationDate(std::chrono::system_clock::now()));
        out_.create(replacing_.createTemp());
        reporter_.log("Open [fo3] " + path);
        if (twin_)
            reporter_.updateStatusBar("Generating " + twinName);
    }
    void write(const char* record)
    {
        out_.write(record, kDataSetRecordSize);
        if (twin_)
            twin_->add(record);
    }
    void writeRecords(const char* records, std::size_t n)
    {
        out_.write(records, n * kDataSetRecordSize);
        if (twin_)
            twin_->add(records, n);
    }
    // Whole data-set records of `from`.
    void copy(const File& from, std::uint64_t offset, std::uint64_t n)
    {
        out_.copy(from, offset, n);
        if (!twin_)
            return;
        std::vector<char> block(kPassBlockBytes / kDataSetRecordSize * kDataSetRecordSize);
        for (std::uint64_t done = 0; done < n;) {
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), n - done));
            from.readAt(offset + done, block.data(), take);
            twin_->add(block.data(), take / kDataSetRecordSize);
            done += take;
        }
    }
    // Both files whole before either replaces an older one, so a failure leaves both old.
    void close()
    {
        out_.close();
        if (twin_)
            twin_->close();
        replacing_.commit();
        if (twin_)
            twin_->commit();
        removeStaleTwins();
        reporter_.log("Close [fo3]");
    }

private:
    // Twins of the other OMM formats beside the data set were written for an earlier
    // setting and are no longer kept up: a reader that still took them would get old
    // elements that look current. They go once the new files are in place, so a failure
    // before leaves the user the old ones; a link goes, not the file it points to.
    void removeStaleTwins() const
    {
        for (const OmmFormat format : {OmmFormat::Xml, OmmFormat::Csv, OmmFormat::Json})
            if (format != omm_)
                removeFile(base_ + std::string(ommExtension(format)));
    }

    ReplacingFile replacing_;
    Reporter& reporter_;
    std::string base_;
    OmmFormat omm_;
    BufferedWriter out_;
    std::optional<OmmWriter> twin_;
};

// The report's record for the object of a data-set record's TLE lines, or -1 when the
// report has none (no report, or a number beyond it).
int reportNumber(const DataSetContext& ctx, const char* record)
{
    bool ok = false;
    const int number = Catalog_Number(std::string_view(record + kRecordLine1Offset, kLineLength), 3, ok);
    return ctx.ssr == nullptr || number < 0 || number > ctx.SsrHighest() ? -1 : number;
}

// Fills the name line of a data-set record whose TLE lines came from a two-line
// catalogue, from `names`, which serves the report's names to a pass in catalogue order.
void putReportName(char* record, ReportNameWindow& names)
{
    bool ok = false;
    names.nameOf(Catalog_Number(std::string_view(record + kRecordLine1Offset, kLineLength), 3, ok), record);
}

// List lines looked up together: their index slots, catalogue records and report names
// are each read in position order, neighbours in one read, then the records are
// written in list order.
constexpr std::size_t kGatherLines = 16384;
// The items of one block of a file are read together.
constexpr unsigned kGatherBlockBits = 16;

// One list line on its way to the data set.
struct Pick {
    explicit Pick(const QueryLine& q)
        : query(q)
    {
    }
    QueryLine query;
    unsigned char slot[4]{};
    std::int32_t record = 0; // 0: not found
    // The failure the direct reads of this line met; raised when its turn comes.
    std::exception_ptr failure;
    char work[kDataSetRecordSize];
};

// One read of a gathered item: `size` bytes at `offset` into `to`.
struct ItemRead {
    std::uint64_t offset;
    char* to;
    Pick* pick;
};

// Reads every item, each `size` bytes, block by block of the file: the items of one
// block in one read, from the first of them to the end of the last. An item that such
// a read could not give is read alone, so that it meets the same failure (kept with
// its line) as a read of its own would, and no other line does.
class Gatherer {
public:
    void gather(const File& file, std::vector<ItemRead>& items, std::size_t size)
    {
        if (items.empty())
            return;
        // Items by block, in one counting pass instead of a sort.
        std::uint64_t last = 0;
        for (const ItemRead& item : items)
            last = std::max(last, item.offset >> kGatherBlockBits);
        starts_.assign(static_cast<std::size_t>(last) + 2, 0);
        for (const ItemRead& item : items)
            ++starts_[static_cast<std::size_t>(item.offset >> kGatherBlockBits) + 1];
        for (std::size_t b = 1; b < starts_.size(); ++b)
            starts_[b] += starts_[b - 1];
        byBlock_.resize(items.size());
        for (const ItemRead& item : items)
            byBlock_[starts_[static_cast<std::size_t>(item.offset >> kGatherBlockBits)]++] = item;

        std::size_t i = 0;
        while (i < byBlock_.size()) {
            const std::uint64_t block = byBlock_[i].offset >> kGatherBlockBits;
            std::uint64_t from = byBlock_[i].offset;
            std::uint64_t to = from + size;
            std::size_t j = i;
            for (; j < byBlock_.size() && byBlock_[j].offset >> kGatherBlockBits == block; ++j) {
                from = std::min(from, byBlock_[j].offset);
                to = std::max<std::uint64_t>(to, byBlock_[j].offset + size);
            }
            span_.resize(static_cast<std::size_t>(to - from));
            std::size_t got = 0;
            try {
                got = file.readSomeAt(from, span_.data(), span_.size());
            } catch (const std::exception&) {
                got = 0;
            }
            for (; i < j; ++i) {
                const ItemRead& item = byBlock_[i];
                if (item.offset + size <= from + got) {
                    std::memcpy(item.to, span_.data() + (item.offset - from), size);
                    continue;
                }
                try {
                    file.readAt(item.offset, item.to, size);
                } catch (...) {
                    item.pick->failure = std::current_exception();
                }
            }
        }
    }

private:
    std::vector<std::size_t> starts_;
    std::vector<ItemRead> byBlock_;
    std::vector<char> span_;
};

void writePicks(const DataSetContext& ctx, std::vector<Pick>& picks, CatalogueReader& catalogue, DataSetOutput& output)
{
    const bool twoLine = ctx.TwoLineFormat;
    std::vector<ItemRead> reads;
    reads.reserve(picks.size());
    Gatherer gatherer;

    // Index slots of the numbers the open index has room for.
    if (ctx.index != nullptr && ctx.index->isOpen()) {
        for (Pick& p : picks)
            if (p.query.number >= 0 && p.query.number < ctx.IndexEntries())
                reads.push_back({std::uint64_t(p.query.number) * 4, reinterpret_cast<char*>(p.slot), &p});
        gatherer.gather(ctx.index->file(), reads, 4);
    }
    for (const ItemRead& r : reads)
        if (!r.pick->failure)
            r.pick->record = CatalogIndex::slotValue(r.pick->slot);

    // Catalogue records: two-line records go after the name line, three-line records
    // fill the work record whole.
    reads.clear();
    const std::size_t recordSize = catalogue.file().recordSize();
    for (Pick& p : picks)
        if (p.record > 0 && !p.failure)
            reads.push_back(
                {std::uint64_t(p.record - 1) * recordSize, twoLine ? p.work + kRecordLine1Offset : p.work, &p});
    gatherer.gather(catalogue.file().file(), reads, recordSize);

    // Report names of two-line records without a name of their own.
    reads.clear();
    if (twoLine) {
        for (Pick& p : picks) {
            if (p.record <= 0 || p.failure || p.query.hasName)
                continue;
            const int number = reportNumber(ctx, p.work);
            if (number < 0)
                putUnknownName(p.work);
            else
                reads.push_back({std::uint64_t(number) * SsrTable::kRecordSize + SsrTable::kNameOffset, p.work, &p});
        }
        if (ctx.ssr != nullptr)
            gatherer.gather(ctx.ssr->file(), reads, kNameSize);
    }

    // In list order, as a line-by-line pass meets them.
    for (Pick& p : picks) {
        if (p.failure)
            std::rethrow_exception(p.failure);
        if (p.record <= 0) {
            ctx.reporter.log("Catalog Number " + Catalog_Number_Text(p.query.number) + " not found.");
            continue;
        }
        if (p.query.hasName) {
            std::memcpy(p.work, p.query.name, kNameSize);
        } else if (twoLine) {
            unfilledNameAsUnknown(p.work);
        }
        if (twoLine) {
            p.work[24] = '\r';
            p.work[25] = '\n';
        }
        output.write(p.work);
    }
}

} // namespace

void DataSetWriter::writeFromList(const std::string& listPath, const std::string& folder, const std::string& name)
{
    QueryListReader list(listPath);
    ctx_.reporter.log("Open [dsi] " + listPath);
    CatalogueReader catalogue(ctx_);
    DataSetOutput output(folder, name, ctx_);

    std::vector<Pick> picks;
    picks.reserve(kGatherLines);
    std::string line;
    for (bool more = true; more;) {
        picks.clear();
        // A list that cannot be read further fails after the lines before it are done.
        std::exception_ptr listFailure;
        try {
            while (picks.size() < kGatherLines && (more = list.next(line))) {
                // An empty line names no object.
                if (!line.empty())
                    picks.emplace_back(parseQueryLine(line));
            }
        } catch (...) {
            listFailure = std::current_exception();
        }
        writePicks(ctx_, picks, catalogue, output);
        if (listFailure)
            std::rethrow_exception(listFailure);
    }

    list.close();
    ctx_.reporter.log("Close [dsi]");
    output.close();
    ++written_;
    catalogue.close();

    if (ctx_.Palm)
        BuildPalmDatabase(name, folder);
}

void DataSetWriter::BuildDataSet(const std::string& name)
{
    ctx_.reporter.updateStatusBar("Generating " + name + ctx_.extension());

    HttpExchange& http = ctx_.exchange;
    ctx_.httpFailure = false;
    http.Cookie.clear();
    http.InputFileMode = true;
    http.Header = "header.txt";
    http.Body = "body.txt";

    const std::string url = publisherAddress() + "/Skarvelin/query/" + name + ".txt";
    ctx_.reporter.log("Retrieving " + url);
    http.Get(url);
    // A reply that is not a list (an error page sent as a success, a reply without a
    // status line, a body in a transfer coding) fails as an error status does: the
    // data set keeps what it had. A publisher-side state a retry would not change, so
    // the run goes on.
    if (!ctx_.httpFailure && (http.statusCode() != 200 || http.transferEncoded() || !isQueryList(http.Body))) {
        if (http.OnFailure)
            http.OnFailure("GET");
        ctx_.httpFailure = true;
    }
    if (ctx_.httpFailure) {
        ctx_.reporter.log("FAILED");
        return;
    }
    ctx_.reporter.log("SUCCEEDED");
    writeFromList(http.Body, ctx_.vantorealFolder(), name);
}

void DataSetWriter::BuildUserDataSet(const std::string& name)
{
    ctx_.reporter.updateStatusBar("Generating " + name + ctx_.extension() + " user-defined data set");
    const std::string folder = ctx_.userFolder();
    writeFromList(folder + name + ".query", folder, name);
}

void DataSetWriter::BuildUserDataSets()
{
    static constexpr std::string_view kQuery = ".query";
    const std::string folder = ctx_.userFolder();
    for (const std::string& entry : listDirectory(folder)) {
        if (entry.size() <= kQuery.size() || !entry.ends_with(kQuery) || !fileExists(folder + entry))
            continue;
        BuildUserDataSet(entry.substr(0, entry.size() - kQuery.size()));
    }
}

void DataSetWriter::BuildComprehensiveDataSet()
{
    const std::string fileName = std::string("catalog") + ctx_.extension();
    ctx_.reporter.updateStatusBar("Generating " + fileName);
    DataSetOutput output(ctx_.vantorealFolder(), "catalog", ctx_);
    CatalogueReader catalogue(ctx_);

    const std::size_t recordSize = catalogue.file().recordSize();
    const std::uint64_t count = catalogue.file().count();
    if (!ctx_.TwoLineFormat) {
        // Three-line records are already data-set records: the system copies them.
        output.copy(catalogue.file().file(), 0, count * recordSize);
    } else {
        // One sequential pass, read in whole blocks of records by position; a helper
        // writes each block of data-set records while the next is put together.
        const std::size_t blockRecords = kPassBlockBytes / recordSize;
        std::vector<char> block(blockRecords * recordSize);
        ReportNameWindow names(ctx_.ssr);
        BatchPipeline writing(
            blockRecords * kDataSetRecordSize, [&](char* records, std::size_t n) { output.writeRecords(records, n); },
            BatchPipeline::worthAHelper(count * kDataSetRecordSize));
        writing.run([&] {
            for (std::uint64_t done = 0; done < count;) {
                const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(blockRecords, count - done));
                catalogue.file().file().readAt(done * recordSize, block.data(), take * recordSize);
                char* records = writing.take();
                for (std::size_t i = 0; i < take; ++i) {
                    char* record = records + i * kDataSetRecordSize;
                    std::memcpy(record + kRecordLine1Offset, block.data() + i * recordSize, kTwoLineRecordSize);
                    putReportName(record, names);
                    record[24] = '\r';
                    record[25] = '\n';
                }
                writing.submit(take);
                done += take;
            }
        });
    }
    catalogue.close();
    output.close();
    ++written_;
}

void DataSetWriter::BuildPalmDatabase(const std::string& name, const std::string& folder)
{
    const std::string pdbName = name + ".pdb";
    ctx_.reporter.log("Creating " + folder + pdbName);

    const std::string source = folder + name + ctx_.extension();
    BufferedReader in(source);
    std::uint64_t sets = in.size() / kDataSetRecordSize;
    if (sets > kPalmSetLimit) {
        sets = kPalmSetLimit;
        ctx_.reporter.updateStatusBar(
            "File " + pdbName + " exceeded Palm file size limit (1,000 TLEs); file truncated");
    }

    ReplacingFile target(throughLink(folder + pdbName));
    target.removeLeftovers();
    BufferedWriter out;
    out.create(target.createTemp());
    writePalmDatabase(in, out, name, sets, palmDate(ctx_.localClockMs()));
    out.close();
    in.close();
    target.commit();

    ctx_.reporter.updateStatusBar("Installing " + pdbName);
    ctx_.launcher.open(pdbName, folder);
}

} // namespace qm
