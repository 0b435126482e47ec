#pragma once
// "catalog.idx": one 32-bit little-endian slot per catalogue number, holding the
// 1-based record number of that object in the checked catalogue (0 = absent).
#include "catalogue/Epoch.h"
#include "platform/File.h"

#include <cstdint>
#include <string>

namespace qm {

class Reporter;

class CatalogIndex {
public:
    // Builds "catalog.idx" in the current directory from the checked catalogue and
    // keeps it open. An empty catalogue is a fatal stop (no new index is created).
    void build(const std::string& catalogFile, bool twoLine, Reporter& reporter);
    bool isOpen() const { return file_.isOpen(); }
    // Number of slots (IndexEntries).
    int entries() const { return entries_; }
    // Record number of catalogue number n, 0 when absent; reads nothing outside the slots.
    std::int32_t lookup(int n) const;
    // For passes that look many numbers up at once: the open file, where slot n is the
    // four bytes at 4n, and the record number a slot's bytes hold.
    const File& file() const { return file_; }
    static std::int32_t slotValue(const unsigned char slot[4]);
    // The newest epoch of the catalogue's objects, gathered while the index was built.
    const std::optional<TleEpoch>& newestEpoch() const { return newest_.value(); }
    // Closes the index and logs "Close [indexfile]".
    void close(Reporter& reporter);

    static constexpr const char* kFileName = "catalog.idx";

private:
    File file_;
    int entries_ = 0;
    NewestEpoch newest_;
};

} // namespace qm
