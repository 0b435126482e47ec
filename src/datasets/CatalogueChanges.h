#pragma once
// What changed between the catalogue of this processing run and that of the last one
// that completed: objects new and gone, element sets that jumped or went stale.
// "Changes.txt" in the My TLEs folder says it, one line per object and kind in
// catalogue-number order after a head of counts; "changes.dat" in the run folder keeps
// what the next run compares with (ChangeState.h). Both stream the catalogue in
// catalogue-number order through its index; nothing holds it.
#include "datasets/ChangeState.h"

#include <cstdint>
#include <optional>
#include <string>

namespace qm {

struct DataSetContext;
class Reporter;

// A change of at least 0.05 degree of inclination, 0.001 of eccentricity, or 0.01
// revolutions a day of mean motion beyond what the earlier first derivative predicts
// over the time between the two epochs, is a jump.
inline constexpr std::int32_t kJumpInclination = 500; // 1e-4 degree
inline constexpr std::int32_t kJumpEccentricity = 10000; // 1e-7
inline constexpr std::int64_t kJumpMeanMotion = 1000000; // 1e-8 revolutions a day
// An epoch at least 7 days older than the catalogue's newest is stale.
inline constexpr std::int64_t kStaleAge = 7 * std::int64_t{100000000}; // 1e-8 day

// Which elements moved between two element sets of one object.
struct Jump {
    bool inclination = false;
    bool eccentricity = false;
    bool meanMotion = false;
    bool any() const { return inclination || eccentricity || meanMotion; }
};
Jump Jump_Between(const ObjectElements& before, const ObjectElements& after);

struct ChangeCounts {
    bool compared = false; // there was an earlier catalogue to compare with
    std::uint32_t previousObjects = 0;
    std::uint32_t objects = 0;
    std::uint32_t added = 0;
    std::uint32_t gone = 0;
    std::uint32_t jumped = 0;
    std::uint32_t stale = 0;
};

class CatalogueChanges {
public:
    static constexpr const char* kStateFile = "changes.dat";
    static constexpr const char* kReportFile = "Changes.txt";

    CatalogueChanges();
    ~CatalogueChanges();
    CatalogueChanges(const CatalogueChanges&) = delete;
    CatalogueChanges& operator=(const CatalogueChanges&) = delete;

    // Compares the checked catalogue the context holds (with its open index, and in
    // two-line form its name table) with the state in the current directory, and writes
    // the report and the new state under temporary names. A missing or damaged state is
    // logged and compared as none. File failures of the catalogue and the outputs raise
    // IoError.
    void compare(const DataSetContext& ctx);
    // Puts the report, then the state, in place and logs the summary line.
    void commit(Reporter& reporter);
    const ChangeCounts& counts() const { return counts_; }

private:
    class Pass;
    struct Part;
    void pass(const DataSetContext& ctx, ChangeStateReader* previous);

    std::optional<ReplacingFile> report_;
    std::optional<ReplacingFile> state_;
    ChangeCounts counts_;
};

} // namespace qm
