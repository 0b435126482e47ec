#pragma once
// The names the data sets give the objects of a two-line catalogue: the situation
// report's, read for a pass in catalogue-number order.
#include <cstddef>
#include <vector>

namespace qm {

class SsrTable;

// One positioned read of a block of the report table's records serves the neighbouring
// numbers that follow, instead of one read per object.
// A record the report never filled holds zero bytes as its name; a data set never does:
// such a name becomes the unknown one.
void unfilledNameAsUnknown(char* name);

class ReportNameWindow {
public:
    static constexpr std::size_t kBlockRecords = 1024;

    // Without a table every name is the unknown one.
    explicit ReportNameWindow(const SsrTable* table);
    // The 24 name bytes of catalogue number `number` as the data sets write them: the
    // report's, or "UNKNOWN" when the report does not name it.
    void nameOf(int number, char* out);

private:
    const SsrTable* table_;
    std::vector<char> block_;
    int first_ = 0;
    int count_ = 0;
};

} // namespace qm
