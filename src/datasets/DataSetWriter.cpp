#include "datasets/DataSetWriter.h"

#include "catalogue/CatalogIndex.h"
#include "catalogue/SsrTable.h"
#include "catalogue/Support.h"
#include "catalogue/TLESupport.h"
#include "core/Reporter.h"
#include "datasets/PalmDatabase.h"
#include "datasets/QueryList.h"
#include "platform/Errors.h"
#include "platform/File.h"
#include "platform/ShellLauncher.h"
#include "service/Hosts.h"
#include "service/HttpExchange.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
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
    // Reads record `index` (from 0) into the work record: two-line records go after
    // the name line, three-line records fill it whole.
    void readInto(std::uint64_t index, char* work) const
    {
        file_.read(index, twoLine_ ? work + kRecordLine1Offset : work);
    }
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

// A data-set output written under a temporary name and put in place when complete.
class DataSetOutput {
public:
    DataSetOutput(const std::string& path, Reporter& reporter)
        : replacing_(throughLink(path))
        , reporter_(reporter)
    {
        replacing_.removeLeftovers();
        out_.create(replacing_.createTemp());
        reporter_.log("Open [fo3] " + path);
    }
    void write(const char* record) { out_.write(record, kDataSetRecordSize); }
    void writeBlock(const char* data, std::size_t n) { out_.write(data, n); }
    void close()
    {
        out_.close();
        replacing_.commit();
        reporter_.log("Close [fo3]");
    }

private:
    ReplacingFile replacing_;
    Reporter& reporter_;
    BufferedWriter out_;
};

} // namespace

// The report table's names for a pass in catalogue order: one positioned read of a
// block of records serves the neighbouring numbers that follow, instead of one read
// per object.
// Bytes of catalogue records read at once by a sequential pass.
constexpr std::size_t kPassBlockBytes = 64 * 1024;

class DataSetWriter::ReportNameWindow {
public:
    static constexpr std::size_t kBlockRecords = 1024;

    explicit ReportNameWindow(const SsrTable& table)
        : table_(table)
        , block_(kBlockRecords * SsrTable::kRecordSize)
    {
    }
    void readName(int n, char* out)
    {
        if (n < first_ || n >= first_ + count_) {
            first_ = n - n % static_cast<int>(kBlockRecords);
            count_ = static_cast<int>(table_.readRecords(first_, kBlockRecords, block_.data()));
            if (n >= first_ + count_)
                throwReadBeyondEnd(SsrTable::kFileName);
        }
        std::memcpy(out, block_.data() + static_cast<std::size_t>(n - first_) * SsrTable::kRecordSize + 16, kNameSize);
    }

private:
    const SsrTable& table_;
    std::vector<char> block_;
    int first_ = 0;
    int count_ = 0;
};

void DataSetWriter::putReportName(ReportNameWindow* window)
{
    bool ok = false;
    const std::string_view line1(work_ + kRecordLine1Offset, kLineLength);
    const int number = Catalog_Number(line1, 3, ok);
    if (ctx_.ssr == nullptr || number < 0 || number > ctx_.SsrHighest()) {
        putUnknownName(work_);
        return;
    }
    if (window)
        window->readName(number, work_);
    else
        ctx_.ssr->readName(number, work_);
    // A record the report never filled holds zero bytes; a data set never does.
    if (allBytesAre(work_, kNameSize, '\0'))
        putUnknownName(work_);
}

void DataSetWriter::writeFromList(const std::string& listPath, const std::string& folder, const std::string& name)
{
    QueryListReader list(listPath);
    ctx_.reporter.log("Open [dsi] " + listPath);
    CatalogueReader catalogue(ctx_);
    DataSetOutput output(folder + name + ctx_.extension(), ctx_.reporter);

    std::string line;
    while (list.next(line)) {
        // An empty line names no object.
        if (line.empty())
            continue;
        const QueryLine query = parseQueryLine(line);
        std::int32_t record = 0;
        if (query.number >= 0 && query.number < ctx_.IndexEntries())
            record = ctx_.index->lookup(query.number);
        if (record <= 0) {
            ctx_.reporter.log("Catalog Number " + Catalog_Number_Text(query.number) + " not found.");
            continue;
        }
        catalogue.readInto(static_cast<std::uint64_t>(record - 1), work_);
        if (query.hasName)
            std::memcpy(work_, query.name, kNameSize);
        else if (ctx_.TwoLineFormat)
            putReportName(nullptr);
        if (ctx_.TwoLineFormat) {
            work_[24] = '\r';
            work_[25] = '\n';
        }
        output.write(work_);
    }

    list.close();
    ctx_.reporter.log("Close [dsi]");
    output.close();
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
    DataSetOutput output(ctx_.vantorealFolder() + fileName, ctx_.reporter);
    CatalogueReader catalogue(ctx_);

    // One sequential pass, read in whole blocks of records by position.
    const std::size_t recordSize = catalogue.file().recordSize();
    const std::size_t blockRecords = kPassBlockBytes / recordSize;
    std::vector<char> block(blockRecords * recordSize);
    std::optional<ReportNameWindow> names;
    if (ctx_.TwoLineFormat && ctx_.ssr != nullptr)
        names.emplace(*ctx_.ssr);
    const std::uint64_t count = catalogue.file().count();
    for (std::uint64_t done = 0; done < count;) {
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(blockRecords, count - done));
        catalogue.file().file().readAt(done * recordSize, block.data(), take * recordSize);
        if (ctx_.TwoLineFormat) {
            for (std::size_t i = 0; i < take; ++i) {
                std::memcpy(work_ + kRecordLine1Offset, block.data() + i * recordSize, kTwoLineRecordSize);
                putReportName(names ? &*names : nullptr);
                work_[24] = '\r';
                work_[25] = '\n';
                output.write(work_);
            }
        } else {
            // Three-line records are already data-set records.
            output.writeBlock(block.data(), take * recordSize);
        }
        done += take;
    }
    catalogue.close();
    output.close();
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
