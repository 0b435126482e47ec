#include "datasets/ReportNames.h"

#include "catalogue/SsrTable.h"
#include "datasets/DataSetFormat.h"
#include "platform/File.h"

#include <cstring>

namespace qm {

void unfilledNameAsUnknown(char* name)
{
    if (allBytesAre(name, kNameSize, '\0'))
        putUnknownName(name);
}

ReportNameWindow::ReportNameWindow(const SsrTable* table)
    : table_(table)
{
    if (table_ != nullptr)
        block_.resize(kBlockRecords * SsrTable::kRecordSize);
}

void ReportNameWindow::nameOf(int number, char* out)
{
    if (table_ == nullptr || number < 0 || number > table_->highest()) {
        putUnknownName(out);
        return;
    }
    if (number < first_ || number >= first_ + count_) {
        first_ = number - number % static_cast<int>(kBlockRecords);
        count_ = static_cast<int>(table_->readRecords(first_, kBlockRecords, block_.data()));
        if (number >= first_ + count_)
            throwReadBeyondEnd(SsrTable::kFileName);
    }
    std::memcpy(out,
        block_.data() + static_cast<std::size_t>(number - first_) * SsrTable::kRecordSize + SsrTable::kNameOffset,
        kNameSize);
    unfilledNameAsUnknown(out);
}

} // namespace qm
