#include "datasets/CatalogueChanges.h"

#include "catalogue/BatchPipeline.h"
#include "catalogue/CatalogIndex.h"
#include "catalogue/Epoch.h"
#include "catalogue/Support.h"
#include "catalogue/TLESupport.h"
#include "core/Reporter.h"
#include "datasets/DataSetContext.h"
#include "datasets/ReportNames.h"
#include "platform/File.h"
#include "platform/HelperThread.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string_view>
#include <system_error>
#include <vector>

namespace qm {

namespace {

// The objects of the checked catalogue numbered from `first` to below `end`, in number
// order, through its index: a batch of slots at a time, whose records are read in file
// order, neighbours in one read. A catalogue in number order (as published) is read
// straight through.
class InNumberOrder {
public:
    static constexpr int kBatchSlots = 512;
    // Records this close are read together with the ones between them.
    static constexpr std::uint32_t kGapRecords = 16;
    static constexpr std::size_t kSpanBytes = 256 * 1024;

    InNumberOrder(const CatalogIndex& index, const File& catalogue, std::size_t recordSize, int first, int end)
        : index_(index)
        , catalogue_(catalogue)
        , recordSize_(recordSize)
        , recordCount_(catalogue.size() / recordSize)
        , slotBytes_(std::size_t{kBatchSlots} * 4)
        , nextSlot_(std::max(first, 0))
        , endSlot_(std::min(end, index.entries()))
    {
    }

    // The next object's number and record bytes; false after the last.
    bool next(int& number, const char*& record)
    {
        while (at_ == items_.size())
            if (!fill())
                return false;
        number = items_[at_].number;
        record = records_.data() + at_ * recordSize_;
        ++at_;
        return true;
    }

private:
    struct Item {
        int number;
        std::uint32_t record; // counted from 0
    };

    bool fill()
    {
        if (nextSlot_ >= endSlot_)
            return false;
        const int slots = std::min(kBatchSlots, endSlot_ - nextSlot_);
        index_.file().readAt(std::uint64_t(nextSlot_) * 4, slotBytes_.data(), std::size_t(slots) * 4);
        items_.clear();
        at_ = 0;
        for (int i = 0; i < slots; ++i) {
            const std::int32_t r = CatalogIndex::slotValue(slotBytes_.data() + std::size_t(i) * 4);
            if (r <= 0)
                continue;
            if (std::uint64_t(r) > recordCount_)
                throwReadBeyondEnd(catalogue_.path());
            items_.push_back({nextSlot_ + i, std::uint32_t(r - 1)});
        }
        nextSlot_ += slots;

        records_.resize(items_.size() * recordSize_);
        if (items_.empty())
            return true;
        const auto byRecord = [](const Item& a, const Item& b) { return a.record < b.record; };
        if (items_.back().record - items_.front().record == items_.size() - 1
            && std::is_sorted(items_.begin(), items_.end(), byRecord)) {
            // Numbers and records in the same order, none between: one read in place.
            catalogue_.readAt(std::uint64_t(items_.front().record) * recordSize_, records_.data(), records_.size());
            return true;
        }
        order_.resize(items_.size());
        for (std::uint32_t i = 0; i < order_.size(); ++i)
            order_[i] = i;
        std::sort(order_.begin(), order_.end(),
            [this](std::uint32_t a, std::uint32_t b) { return items_[a].record < items_[b].record; });
        const std::uint32_t spanRecords = std::uint32_t(kSpanBytes / recordSize_);
        for (std::size_t i = 0; i < order_.size();) {
            const std::uint32_t first = items_[order_[i]].record;
            std::uint32_t last = first;
            std::size_t j = i + 1;
            for (; j < order_.size(); ++j) {
                const std::uint32_t r = items_[order_[j]].record;
                if (r - last > kGapRecords || r - first >= spanRecords)
                    break;
                last = r;
            }
            span_.resize(std::size_t(last - first + 1) * recordSize_);
            catalogue_.readAt(std::uint64_t(first) * recordSize_, span_.data(), span_.size());
            for (; i < j; ++i)
                std::memcpy(records_.data() + std::size_t(order_[i]) * recordSize_,
                    span_.data() + std::size_t(items_[order_[i]].record - first) * recordSize_, recordSize_);
        }
        return true;
    }

    const CatalogIndex& index_;
    const File& catalogue_;
    std::size_t recordSize_;
    std::uint64_t recordCount_;
    std::vector<unsigned char> slotBytes_;
    std::vector<Item> items_;
    std::vector<std::uint32_t> order_;
    std::vector<char> records_;
    std::vector<char> span_;
    std::size_t at_ = 0;
    int nextSlot_;
    int endSlot_;
};

// A report written by position, so that its head can be written last.
class ReportOut {
public:
    static constexpr std::size_t kFlushBytes = 64 * 1024;

    explicit ReportOut(File file)
        : file_(std::move(file))
    {
    }
    void add(std::string_view text)
    {
        buffer_.append(text);
        if (buffer_.size() >= kFlushBytes)
            flush();
    }
    void flush()
    {
        file_.writeAt(at_, buffer_.data(), buffer_.size());
        at_ += buffer_.size();
        buffer_.clear();
    }
    // Puts what `later` (a report of its own file, without head) wrote after this
    // report's text, and closes `later`'s file.
    void append(ReportOut& later)
    {
        later.flush();
        flush();
        file_.copyAt(at_, later.file_, 0, later.at_);
        at_ += later.at_;
        later.file_.close();
    }
    void finish(std::string_view head)
    {
        flush();
        file_.writeAt(0, head.data(), head.size());
        file_.close();
    }

private:
    File file_;
    std::string buffer_;
    std::uint64_t at_ = 0;
};

// The report's lines are put together by hand: a first run may have thousands of stale
// objects to tell, and a formatted print per field would cost more than the comparison.

// Numbers as the catalogue writes them: five digits, the letter form from 100000 on.
void appendNumber(std::string& out, int n)
{
    if (n >= kFirstAlpha5Number)
        out += Catalog_Number_Text(n);
    else
        appendDigits(out, n, 5);
}

// "yyyy-mm-dd hh:mm:ss" (UTC), to the second below; "none" padded to the same width.
void appendEpoch(std::string& out, const TleEpoch& epoch)
{
    if (epoch.year == 0) {
        out += "none               ";
        return;
    }
    using namespace std::chrono;
    const std::int64_t day = (epochTicks(epoch) - epoch.fraction) / kTicksPerDay;
    // A hundred-millionth of a day is 864 microseconds.
    const std::int64_t second = std::int64_t{epoch.fraction} * 864 / 1000000;
    appendDateTime(out, sys_days{days{day}}, second, ' ');
}

// A scaled value with its decimals: 516416 with 4 is "51.6416".
void appendFixed(std::string& out, std::int64_t value, int decimals)
{
    std::uint64_t scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    const std::uint64_t magnitude = value < 0 ? 0 - std::uint64_t(value) : std::uint64_t(value);
    if (value < 0)
        out += '-';
    char whole[24];
    out.append(whole, std::to_chars(whole, whole + sizeof whole, magnitude / scale).ptr);
    out += '.';
    appendDigits(out, static_cast<std::int64_t>(magnitude % scale), decimals);
}

std::string epochText(const TleEpoch& epoch)
{
    std::string text;
    appendEpoch(text, epoch);
    return text;
}

const char* kNoEarlierState = "no state of an earlier processing run";
constexpr int kPastEveryNumber = kHighestCatalogNumber + 1;

// Where the later part of a comparison begins: the number of the record 55 % of the way
// through. For a catalogue in number order (as published) that about evens the parts'
// work, the later part also passing over the earlier part's entries in the state and
// making its files; another order only makes the parts unequal.
int splitNumber(const File& catalogue, const DataSetContext& ctx)
{
    const std::size_t recordSize = ctx.TwoLineFormat ? kTwoLineRecordSize : kThreeLineRecordSize;
    const std::uint64_t records = catalogue.size() / recordSize;
    if (records == 0)
        return 0;
    char line1[kLineLength];
    catalogue.readAt(
        records * 11 / 20 * recordSize + (ctx.TwoLineFormat ? 0 : kThreeLinePairOffset), line1, kLineLength);
    bool ok = false;
    const int number = Catalog_Number(std::string_view(line1, kLineLength), 3, ok);
    return ok && number >= 0 ? number : ctx.index->entries() / 2;
}

// How many objects the index numbers below `end`.
std::uint32_t objectsBelow(const CatalogIndex& index, int end)
{
    constexpr int kSlots = 16 * 1024;
    std::vector<unsigned char> slots(std::size_t{kSlots} * 4);
    const int last = std::min(end, index.entries());
    std::uint32_t count = 0;
    for (int at = 0; at < last; at += kSlots) {
        const int n = std::min(kSlots, last - at);
        index.file().readAt(std::uint64_t(at) * 4, slots.data(), std::size_t(n) * 4);
        for (int i = 0; i < n; ++i)
            count += CatalogIndex::slotValue(slots.data() + std::size_t(i) * 4) > 0;
    }
    return count;
}

// The head has the same length however the counts come out: it is written first as a
// stand-in and again at the end.
std::string head(
    const ChangeCounts& counts, const std::optional<TleEpoch>& previousNewest, const std::optional<TleEpoch>& newest)
{
    const auto objects = [](std::uint32_t n) {
        char text[32];
        std::snprintf(text, sizeof text, "%6u objects", n);
        return std::string(text);
    };
    char text[512];
    const std::string previous = counts.compared
        ? epochText(previousNewest.value_or(TleEpoch{})) + "  " + objects(counts.previousObjects)
        : std::string("none (nothing to compare with)");
    std::snprintf(text, sizeof text,
        "Catalogue changes since the last completed processing run\n"
        "Previous catalogue  %s\n"
        "Current catalogue   %s  %s\n"
        "New     %6u\n"
        "Gone    %6u\n"
        "Jumped  %6u\n"
        "Stale   %6u\n"
        "\n",
        previous.c_str(), epochText(newest.value_or(TleEpoch{})).c_str(), objects(counts.objects).c_str(), counts.added,
        counts.gone, counts.jumped, counts.stale);
    return text;
}

// The earlier object a part of the comparison stands at.
struct Earlier {
    ObjectElements object;
    bool there = false;
};

} // namespace

Jump Jump_Between(const ObjectElements& before, const ObjectElements& after)
{
    Jump jump;
    jump.inclination = std::abs(std::int64_t{after.inclination} - before.inclination) >= kJumpInclination;
    jump.eccentricity = std::abs(std::int64_t{after.eccentricity} - before.eccentricity) >= kJumpEccentricity;
    // Line 1 holds half the first derivative: the mean motion it predicts after t days
    // is n + 2 * (field) * t. In whole numbers, scaled by the ticks of a day, so that the
    // rule holds exactly at its threshold: |change * day - 2 * field * ticks| >= 0.01 * day.
    const std::int64_t elapsed = before.hasEpoch() && after.hasEpoch() ? after.ticks - before.ticks : 0;
    const std::int64_t change = std::int64_t{after.meanMotion} - before.meanMotion;
    // The field has at most eight digits: whole numbers hold the product for well over a
    // year between the epochs; beyond that no threshold is near, and doubles serve.
    constexpr std::int64_t kWholeElapsed = std::int64_t{40} * 1000000000;
    if (elapsed > -kWholeElapsed && elapsed < kWholeElapsed) {
        const std::int64_t off = change * kTicksPerDay - 2 * std::int64_t{before.halfMotionRate} * elapsed;
        jump.meanMotion = (off < 0 ? -off : off) >= kJumpMeanMotion * kTicksPerDay;
    } else {
        const double off = double(change) - 2.0 * before.halfMotionRate * (double(elapsed) / kTicksPerDay);
        jump.meanMotion = std::abs(off) >= double(kJumpMeanMotion);
    }
    return jump;
}

// One part of a comparison (see pass()): the report's lines and the state's entries of
// the objects of a range of catalogue numbers, as they come.
class CatalogueChanges::Pass {
public:
    // `names`: the report's table in two-line form, where the state keeps no names.
    Pass(bool compared, const std::optional<TleEpoch>& newest, ReportOut& report, ChangeStateWriter& state,
        const SsrTable* names, bool twoLine)
        : newest_(newest)
        , newestTicks_(newest ? epochTicks(*newest) : 0)
        , report_(report)
        , state_(state)
    {
        counts_.compared = compared;
        if (twoLine)
            names_.emplace(names);
    }

    // Compares the objects numbered from `first` to below `end` with the earlier ones of
    // those numbers, which `previous` (none on a first run) gives from where `earlier`
    // stands, at the first of `first` or above; leaves `earlier` at the first of `end`
    // or above.
    void compare(const DataSetContext& ctx, const File& catalogue, int first, int end, ChangeStateReader* previous,
        Earlier& earlier)
    {
        const std::size_t recordSize = ctx.TwoLineFormat ? kTwoLineRecordSize : kThreeLineRecordSize;
        const std::size_t pairAt = ctx.TwoLineFormat ? 0 : kThreeLinePairOffset;
        ObjectElements& before = earlier.object;
        bool& haveBefore = earlier.there;
        InNumberOrder objects(*ctx.index, catalogue, recordSize, first, end);
        int number = 0;
        const char* record = nullptr;
        char blank[kNameSize];
        std::memset(blank, ' ', kNameSize);
        while (objects.next(number, record)) {
            const char* pair = record + pairAt;
            const ObjectElements now = Object_Elements(number, pair, ctx.TwoLineFormat ? blank : record);
            for (; haveBefore && before.number < number; haveBefore = previous->next(before))
                gone(before);
            const bool same = haveBefore && before.number == number;
            // The international designator: columns 10-17 of line 1.
            current(now, same ? &before : nullptr, pair + 9);
            if (same)
                haveBefore = previous->next(before);
        }
        for (; haveBefore && before.number < end; haveBefore = previous->next(before))
            gone(before);
    }

    const ChangeCounts& counts() const { return counts_; }

private:
    // The object of the current catalogue, and the earlier one of the same number.
    void current(const ObjectElements& now, const ObjectElements* before, const char* designator)
    {
        ++counts_.objects;
        if (counts_.compared && before == nullptr) {
            ++counts_.added;
            startLine("NEW", now);
            appendEpoch(line_, now.epoch);
            line_ += "  ";
            line_.append(designator, 8);
            endLine();
        } else if (before != nullptr) {
            const Jump jump = Jump_Between(*before, now);
            if (jump.any()) {
                ++counts_.jumped;
                startLine("JUMP", now);
                const char* separator = "";
                auto element = [&](const char* what, std::int64_t from, std::int64_t to, int decimals) {
                    line_ += separator;
                    line_ += what;
                    line_ += ' ';
                    appendFixed(line_, from, decimals);
                    line_ += " -> ";
                    appendFixed(line_, to, decimals);
                    separator = "  ";
                };
                if (jump.inclination)
                    element("inclination", before->inclination, now.inclination, 4);
                if (jump.eccentricity)
                    element("eccentricity", before->eccentricity, now.eccentricity, 7);
                if (jump.meanMotion)
                    element("mean motion", before->meanMotion, now.meanMotion, 8);
                endLine();
            }
        }
        if (now.hasEpoch() && newest_) {
            const std::int64_t age = newestTicks_ - now.ticks;
            if (age >= kStaleAge) {
                ++counts_.stale;
                startLine("STALE", now);
                appendEpoch(line_, now.epoch);
                // Days to a tenth, right-aligned in eight columns.
                const std::int64_t tenths = (age + 5000000) / 10000000;
                std::string days = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
                line_.append(2 + (days.size() < 8 ? 8 - days.size() : 0), ' ');
                line_ += days;
                line_ += " days";
                endLine();
            }
        }
        state_.add(now);
    }

    void gone(const ObjectElements& before)
    {
        ++counts_.gone;
        // A state a two-line run left keeps no names: a three-line run has none to give.
        ObjectElements shown = before;
        if (!names_ && allBytesAre(shown.name, kNameSize, ' '))
            putUnknownName(shown.name);
        startLine("GONE", shown);
        appendEpoch(line_, before.epoch);
        endLine();
    }

    // Kind, number and name in fixed columns; what the kind tells follows.
    void startLine(std::string_view kind, const ObjectElements& o)
    {
        line_.assign(kind);
        line_.append(6 - kind.size(), ' ');
        appendNumber(line_, o.number);
        line_ += ' ';
        char name[kNameSize];
        if (names_)
            names_->nameOf(o.number, name);
        else
            std::memcpy(name, o.name, kNameSize);
        for (char c : std::string_view(name, kNameSize))
            line_ += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
        line_ += ' ';
    }
    void endLine()
    {
        while (line_.back() == ' ')
            line_.pop_back();
        line_ += '\n';
        report_.add(line_);
    }

    ChangeCounts counts_;
    // Names as the data sets give them. In three-line form the name lines, which the
    // state keeps for objects that go. In two-line form the report's, looked up only for
    // the report's lines: the report names gone objects too, and a name read for every
    // object would cost more than the rest of the comparison.
    std::optional<ReportNameWindow> names_;
    std::optional<TleEpoch> newest_;
    std::int64_t newestTicks_;
    ReportOut& report_;
    ChangeStateWriter& state_;
    std::string line_;
};

CatalogueChanges::CatalogueChanges() = default;
CatalogueChanges::~CatalogueChanges() = default;

void CatalogueChanges::compare(const DataSetContext& ctx)
{
    report_.emplace(ctx.MyTLEsDir + kReportFile);
    state_.emplace(kStateFile);
    // Also the temporaries of their temporaries, the later part's (see pass()).
    report_->removeLeftovers();
    state_->removeLeftovers();

    std::optional<ChangeStateReader> previous;
    std::string ignored;
    if (!fileExists(kStateFile)) {
        ignored = kNoEarlierState;
    } else {
        try {
            previous.emplace(kStateFile);
        } catch (const DamagedState& e) {
            ignored = std::string(kStateFile) + " ignored: " + e.what();
        }
    }
    try {
        pass(ctx, previous ? &*previous : nullptr);
    } catch (const DamagedState& e) {
        // Found only part of the way through: the comparison starts again without it.
        ignored = std::string(kStateFile) + " ignored: " + e.what();
        pass(ctx, nullptr);
    }
    if (!ignored.empty())
        ctx.reporter.log("Changes: " + ignored + "; only stale objects are reported");
}

// A part of a comparison with what it writes to: the report's text and the state's
// entries after the head, or for the later part, where pass() has them go. Everything a
// part changes for each object stands in cache lines of its own: shared with the other
// part's, each write would cost both parts a miss.
struct alignas(64) CatalogueChanges::Part {
    Part(bool compared, const std::optional<TleEpoch>& newest, const DataSetContext& ctx, File reportFile,
        ChangeStateWriter stateWriter)
        : report(std::move(reportFile))
        , state(std::move(stateWriter))
        , pass(compared, newest, report, state, ctx.ssr, ctx.TwoLineFormat)
    {
    }
    ReportOut report;
    ChangeStateWriter state;
    Pass pass;
    Earlier earlier;
    std::optional<ChangeStateReader> ownPrevious; // the later part's
};

void CatalogueChanges::pass(const DataSetContext& ctx, ChangeStateReader* previous)
{
    const std::size_t recordSize = ctx.TwoLineFormat ? kTwoLineRecordSize : kThreeLineRecordSize;
    const std::optional<TleEpoch>& newest = ctx.index->newestEpoch();
    const bool compared = previous != nullptr;
    RecordFile catalogue(ctx.CatalogFile, File::Mode::Read, recordSize);

    // Two parts, below and from the number splitNumber() gives: on a machine with a
    // second core, at once, each reading and writing its own; else one after the other.
    // The later part's report goes to a file of its own (a temporary of the report's
    // temporary), put after the earlier part's at the end; its state entries likewise,
    // but in two-line form, where no object has a name and the earlier part's entries
    // end where their count puts them, straight into the state after those.
    const int split = splitNumber(catalogue.file(), ctx);
    File stateFile = state_->createTemp();
    std::optional<ReplacingFile> laterReport;
    std::optional<ReplacingFile> laterState;
    std::optional<Part> second;
    const auto later = [&] {
        laterReport.emplace(report_->tempPath(), ReplacingFile::Kind::WorkFile);
        File entries;
        std::uint64_t at = 0;
        if (ctx.TwoLineFormat) {
            entries.open(state_->tempPath(), File::Mode::ReadWrite, state_->finalPath());
            at = ChangeStateWriter::namelessEnd(objectsBelow(*ctx.index, split));
        } else {
            laterState.emplace(state_->tempPath(), ReplacingFile::Kind::WorkFile);
            entries = laterState->createTemp();
        }
        second.emplace(
            compared, newest, ctx, laterReport->createTemp(), ChangeStateWriter::part(std::move(entries), at));
        // The later part reads the earlier state on its own, from the start: its reader
        // checks the whole file, count and checksum; the earlier part's reader checks the
        // entries it passes over.
        if (compared) {
            second->ownPrevious.emplace(kStateFile);
            second->ownPrevious->skipBelow(split);
            second->earlier.there = second->ownPrevious->next(second->earlier.object);
        }
        second->pass.compare(ctx, catalogue.file(), split, kPastEveryNumber,
            second->ownPrevious ? &*second->ownPrevious : nullptr, second->earlier);
    };
    std::exception_ptr laterFailure;
    std::optional<HelperThread> helper;
    // As for a pipeline: a second core, and a catalogue large enough to pay for it.
    if (BatchPipeline::worthAHelper(catalogue.file().size())) {
        try {
            helper.emplace([&] {
                try {
                    later();
                } catch (...) {
                    laterFailure = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            // No thread to spare: one part after the other.
        }
    }

    Part first(compared, newest, ctx, report_->createTemp(), ChangeStateWriter(std::move(stateFile), newest));
    const std::optional<TleEpoch> previousNewest = compared ? previous->newest() : std::nullopt;
    first.report.add(head(ChangeCounts{.compared = compared}, previousNewest, newest));
    first.earlier.there = compared && previous->next(first.earlier.object);
    first.pass.compare(ctx, catalogue.file(), 0, split, previous, first.earlier);
    if (helper) {
        helper->join();
        if (laterFailure)
            std::rethrow_exception(laterFailure);
    } else {
        later();
    }
    catalogue.close();

    counts_ = first.pass.counts();
    const ChangeCounts& more = second->pass.counts();
    counts_.objects += more.objects;
    counts_.added += more.added;
    counts_.gone += more.gone;
    counts_.jumped += more.jumped;
    counts_.stale += more.stale;
    counts_.previousObjects = compared ? second->ownPrevious->count() : 0;
    first.state.append(second->state);
    first.state.finish();
    first.report.append(second->report);
    first.report.finish(head(counts_, previousNewest, newest));
}

void CatalogueChanges::commit(Reporter& reporter)
{
    if (!report_ || !state_)
        return;
    report_->commit();
    state_->commit();
    report_.reset();
    state_.reset();
    char text[160];
    std::snprintf(text, sizeof text, "Changes: %u new, %u gone, %u jumped, %u stale (%s)", counts_.added, counts_.gone,
        counts_.jumped, counts_.stale, kReportFile);
    reporter.log(text);
}

} // namespace qm
