#include "datasets/DataSetWriter.h"

#include "app/Reporter.h"
#include "catalogue/CatalogIndex.h"
#include "catalogue/SsrTable.h"
#include "catalogue/Support.h"
#include "catalogue/TLESupport.h"
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
    struct stat st {};
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
        out_.create(replacing_.tempPath());
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
// per object. The table lies in the current directory, where the run built it.
class DataSetWriter::ReportNameWindow {
public:
    static constexpr std::size_t kBlockRecords = 1024;

    ReportNameWindow()
        : file_(SsrTable::kFileName, File::Mode::Read)
        , block_(kBlockRecords * SsrTable::kRecordSize)
    {
    }
    void readName(int n, char* out)
    {
        if (n < first_ || n >= first_ + count_) {
            first_ = n - n % static_cast<int>(kBlockRecords);
            const std::size_t got = file_.readSomeAt(
                static_cast<std::uint64_t>(first_) * SsrTable::kRecordSize, block_.data(), block_.size());
            count_ = static_cast<int>(got / SsrTable::kRecordSize);
            if (n >= first_ + count_)
                throw IoError("Read beyond end of file " + file_.path());
        }
        std::memcpy(out, block_.data() + static_cast<std::size_t>(n - first_) * SsrTable::kRecordSize + 16, kNameSize);
    }
    void close() { file_.close(); }

private:
    File file_;
    std::vector<char> block_;
    int first_ = 0;
    int count_ = 0;
};

void DataSetWriter::putReportName(ReportNameWindow* window)
{
    bool ok = false;
    const std::string_view line1(work_ + kRecordLine1Offset, kLineLength);
    const int number = Integer_Value(line1, 3, 5, ok);
    if (ctx_.ssr == nullptr || number < 0 || number > ctx_.SsrHighest) {
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
        if (query.number >= 0 && query.number < ctx_.IndexEntries && ctx_.index != nullptr)
            record = ctx_.index->lookup(query.number);
        if (record <= 0) {
            ctx_.reporter.log("Catalog Number " + std::to_string(query.number) + " not found.");
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

    const std::string url = "http://" + publisherHost() + "/Skarvelin/query/" + name + ".txt";
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

    const std::uint64_t count = catalogue.file().count();
    if (ctx_.TwoLineFormat) {
        BufferedReader in(ctx_.CatalogFile);
        std::optional<ReportNameWindow> names;
        if (ctx_.ssr != nullptr)
            names.emplace();
        for (std::uint64_t i = 0; i < count; ++i) {
            if (in.read(work_ + kRecordLine1Offset, kTwoLineRecordSize) != kTwoLineRecordSize)
                throw IoError("Read beyond end of file " + ctx_.CatalogFile);
            putReportName(names ? &*names : nullptr);
            work_[24] = '\r';
            work_[25] = '\n';
            output.write(work_);
        }
        if (names)
            names->close();
        in.close();
    } else {
        // Three-line records are already data-set records: copy them in whole blocks.
        static constexpr std::size_t kBlockRecords = 390;
        std::string block(kBlockRecords * kDataSetRecordSize, '\0');
        BufferedReader in(ctx_.CatalogFile);
        for (std::uint64_t done = 0; done < count;) {
            const std::uint64_t take = std::min<std::uint64_t>(kBlockRecords, count - done);
            const std::size_t bytes = static_cast<std::size_t>(take) * kDataSetRecordSize;
            if (in.read(block.data(), bytes) != bytes)
                throw IoError("Read beyond end of file " + ctx_.CatalogFile);
            output.writeBlock(block.data(), bytes);
            done += take;
        }
        in.close();
    }
    catalogue.close();
    output.close();
}

void DataSetWriter::BuildPalmDatabase(const std::string& name, const std::string& folder)
{
    const std::string pdbName = name + ".pdb";
    ctx_.reporter.log("Creating " + folder + pdbName);

    const std::string source = folder + name + ctx_.extension();
    std::uint64_t sets = 0;
    {
        File probe(source, File::Mode::Read);
        sets = probe.size() / kDataSetRecordSize;
        probe.close();
    }
    if (sets > kPalmSetLimit) {
        sets = kPalmSetLimit;
        ctx_.reporter.updateStatusBar(
            "File " + pdbName + " exceeded Palm file size limit (1,000 TLEs); file truncated");
    }

    ReplacingFile target(throughLink(folder + pdbName));
    target.removeLeftovers();
    writePalmDatabase(source, target.tempPath(), name, sets, palmDate(ctx_.localClockMs()));
    target.commit();

    ctx_.reporter.updateStatusBar("Installing " + pdbName);
    ctx_.launcher.open(pdbName, folder);
}

} // namespace qm
