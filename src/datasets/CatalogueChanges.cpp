#include "datasets/CatalogueChanges.h"

#include "catalogue/CatalogIndex.h"
#include "catalogue/Support.h"
#include "catalogue/TLESupport.h"
#include "core/Reporter.h"
#include "datasets/DataSetContext.h"
#include "datasets/ReportNames.h"
#include "platform/File.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace qm {

namespace {

// The objects of the checked catalogue in catalogue-number order, through its index: a
// batch of slots at a time, whose records are read in file order, neighbours in one
// read. A catalogue in number order (as published) is read straight through.
class InNumberOrder {
public:
    static constexpr int kBatchSlots = 4096;
    // Records this close are read together with the ones between them.
    static constexpr std::uint32_t kGapRecords = 16;
    static constexpr std::size_t kSpanBytes = 256 * 1024;

    InNumberOrder(const CatalogIndex& index, const File& catalogue, std::size_t recordSize)
        : index_(index)
        , catalogue_(catalogue)
        , recordSize_(recordSize)
        , recordCount_(catalogue.size() / recordSize)
        , slotBytes_(std::size_t{kBatchSlots} * 4)
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
        const int entries = index_.entries();
        if (nextSlot_ >= entries)
            return false;
        const int slots = std::min(kBatchSlots, entries - nextSlot_);
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
        order_.resize(items_.size());
        for (std::uint32_t i = 0; i < order_.size(); ++i)
            order_[i] = i;
        const auto byRecord = [this](std::uint32_t a, std::uint32_t b) { return items_[a].record < items_[b].record; };
        if (!std::is_sorted(order_.begin(), order_.end(), byRecord))
            std::sort(order_.begin(), order_.end(), byRecord);
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
    int nextSlot_ = 0;
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

// Numbers as the catalogue writes them: five digits, the letter form from 100000 on.
std::string numberText(int n)
{
    if (n >= kFirstAlpha5Number)
        return Catalog_Number_Text(n);
    char text[16];
    std::snprintf(text, sizeof text, "%05d", n);
    return text;
}

// "yyyy-mm-dd hh:mm:ss" (UTC), to the second below; "none" padded to the same width.
std::string epochText(const TleEpoch& epoch)
{
    if (epoch.year == 0)
        return "none               ";
    using namespace std::chrono;
    const auto at = floor<seconds>(epoch.timePoint());
    const auto day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss time{at - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", int(date.year()), unsigned(date.month()),
        unsigned(date.day()), int(time.hours().count()), int(time.minutes().count()), int(time.seconds().count()));
    return text;
}

// A scaled value with its decimals: 516416 with 4 is "51.6416".
std::string fixedText(std::int64_t value, int decimals)
{
    std::uint64_t scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    const std::uint64_t magnitude = value < 0 ? 0 - std::uint64_t(value) : std::uint64_t(value);
    char text[48];
    std::snprintf(text, sizeof text, "%s%llu.%0*llu", value < 0 ? "-" : "", static_cast<unsigned long long>(magnitude / scale),
        decimals, static_cast<unsigned long long>(magnitude % scale));
    return text;
}

const char* kNoEarlierState = "no state of an earlier processing run";

} // namespace

Jump Jump_Between(const ObjectElements& before, const ObjectElements& after)
{
    Jump jump;
    jump.inclination = std::abs(std::int64_t{after.inclination} - before.inclination) >= kJumpInclination;
    jump.eccentricity = std::abs(std::int64_t{after.eccentricity} - before.eccentricity) >= kJumpEccentricity;
    // Line 1 holds half the first derivative: the mean motion it predicts after t days
    // is n + 2 * (field) * t.
    const double days = before.hasEpoch() && after.hasEpoch()
        ? double(epochTicks(after.epoch) - epochTicks(before.epoch)) / 1e8
        : 0.0;
    const double predicted = 2.0 * double(before.halfMotionRate) * days;
    jump.meanMotion = std::abs(double(std::int64_t{after.meanMotion} - before.meanMotion) - predicted) >= kJumpMeanMotion;
    return jump;
}

// One comparison: the report's lines and the new state, as the objects come.
class CatalogueChanges::Pass {
public:
    Pass(ChangeCounts& counts, const std::optional<TleEpoch>& newest, File report, File state)
        : counts_(counts)
        , newest_(newest)
        , newestTicks_(newest ? epochTicks(*newest) : 0)
        , report_(std::move(report))
        , state_(std::move(state), newest)
    {
    }

    void begin(const std::optional<TleEpoch>& previousNewest)
    {
        previousNewest_ = previousNewest;
        report_.add(head());
    }

    // The object of the current catalogue, and the earlier one of the same number.
    void current(const ObjectElements& now, const ObjectElements* before, const char* line1)
    {
        ++counts_.objects;
        if (counts_.compared && before == nullptr) {
            ++counts_.added;
            // The international designator, columns 10-17 of line 1.
            line("NEW", now, epochText(now.epoch) + "  " + std::string(line1 + 9, 8));
        } else if (before != nullptr) {
            const Jump jump = Jump_Between(*before, now);
            if (jump.any()) {
                ++counts_.jumped;
                std::string moved;
                auto element = [&moved](const char* what, std::int64_t from, std::int64_t to, int decimals) {
                    if (!moved.empty())
                        moved += "  ";
                    moved += std::string(what) + " " + fixedText(from, decimals) + " -> " + fixedText(to, decimals);
                };
                if (jump.inclination)
                    element("inclination", before->inclination, now.inclination, 4);
                if (jump.eccentricity)
                    element("eccentricity", before->eccentricity, now.eccentricity, 7);
                if (jump.meanMotion)
                    element("mean motion", before->meanMotion, now.meanMotion, 8);
                line("JUMP", now, moved);
            }
        }
        if (now.hasEpoch() && newest_) {
            const std::int64_t age = newestTicks_ - epochTicks(now.epoch);
            if (age >= kStaleAge) {
                ++counts_.stale;
                char days[32];
                std::snprintf(days, sizeof days, "  %8.1f days", double(age) / 1e8);
                line("STALE", now, epochText(now.epoch) + days);
            }
        }
        state_.add(now);
    }

    void gone(const ObjectElements& before)
    {
        ++counts_.gone;
        line("GONE", before, epochText(before.epoch));
    }

    void finish(std::uint32_t previousObjects)
    {
        counts_.previousObjects = previousObjects;
        state_.finish();
        report_.finish(head());
    }

private:
    // The head has the same length however the counts come out: it is written first as
    // a stand-in and again at the end.
    std::string head() const
    {
        char text[512];
        const std::string previous = counts_.compared
            ? epochText(previousNewest_.value_or(TleEpoch{})) + "  " + objects(counts_.previousObjects)
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
            previous.c_str(), epochText(newest_.value_or(TleEpoch{})).c_str(), objects(counts_.objects).c_str(),
            counts_.added, counts_.gone, counts_.jumped, counts_.stale);
        return text;
    }

    static std::string objects(std::uint32_t n)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%6u objects", n);
        return text;
    }

    // Kind, number and name in fixed columns, then what the kind tells.
    void line(const char* kind, const ObjectElements& o, const std::string& rest)
    {
        char head[48];
        std::snprintf(head, sizeof head, "%-5s %s ", kind, numberText(o.number).c_str());
        std::string text = head;
        for (char c : std::string_view(o.name, kNameSize))
            text.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
        text += ' ';
        text += rest;
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        text += '\n';
        report_.add(text);
    }

    ChangeCounts& counts_;
    std::optional<TleEpoch> newest_;
    std::int64_t newestTicks_;
    std::optional<TleEpoch> previousNewest_;
    ReportOut report_;
    ChangeStateWriter state_;
};

CatalogueChanges::CatalogueChanges() = default;
CatalogueChanges::~CatalogueChanges() = default;

void CatalogueChanges::compare(const DataSetContext& ctx)
{
    report_.emplace(ctx.MyTLEsDir + kReportFile);
    state_.emplace(kStateFile);
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

void CatalogueChanges::pass(const DataSetContext& ctx, ChangeStateReader* previous)
{
    counts_ = ChangeCounts{};
    counts_.compared = previous != nullptr;
    const std::size_t recordSize = ctx.TwoLineFormat ? kTwoLineRecordSize : kThreeLineRecordSize;
    const std::size_t pairAt = ctx.TwoLineFormat ? 0 : kThreeLinePairOffset;

    Pass out(counts_, ctx.index->newestEpoch(), report_->createTemp(), state_->createTemp());
    out.begin(previous ? previous->newest() : std::nullopt);
    RecordFile catalogue(ctx.CatalogFile, File::Mode::Read, recordSize);
    InNumberOrder objects(*ctx.index, catalogue.file(), recordSize);
    // Names as the data sets give them: the report's in two-line form, the name lines in three-line form.
    ReportNameWindow names(ctx.TwoLineFormat ? ctx.ssr : nullptr);

    ObjectElements before;
    bool haveBefore = previous != nullptr && previous->next(before);
    int number = 0;
    const char* record = nullptr;
    char name[kNameSize];
    while (objects.next(number, record)) {
        if (ctx.TwoLineFormat)
            names.nameOf(number, name);
        else
            std::memcpy(name, record, kNameSize);
        const ObjectElements now = Object_Elements(number, record + pairAt, name);
        for (; haveBefore && before.number < number; haveBefore = previous->next(before))
            out.gone(before);
        const bool same = haveBefore && before.number == number;
        out.current(now, same ? &before : nullptr, record + pairAt);
        if (same)
            haveBefore = previous->next(before);
    }
    for (; haveBefore; haveBefore = previous->next(before))
        out.gone(before);
    catalogue.close();
    out.finish(previous != nullptr ? previous->count() : 0);
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
