#include "datasets/QueryList.h"

#include "catalogue/Support.h"

#include <algorithm>

namespace qm {

namespace {
constexpr int kEndOfList = 0x1A;
}

QueryListReader::QueryListReader(const std::string& path)
    : in_(path)
{
}

bool QueryListReader::next(std::string& line)
{
    line.clear();
    if (ended_)
        return false;
    int c = in_.get();
    if (c < 0 || c == kEndOfList) {
        ended_ = true;
        return false;
    }
    for (;;) {
        if (c == '\n')
            return true;
        if (c == '\r') {
            if (in_.peek() == '\n') {
                in_.get();
                return true;
            }
        } else if (c == kEndOfList) {
            ended_ = true;
            return true;
        } else if (line.size() < kLineWidth) {
            line.push_back(static_cast<char>(c));
        }
        c = in_.get();
        if (c < 0) {
            ended_ = true;
            return true;
        }
    }
}

QueryLine parseQueryLine(const std::string& line)
{
    QueryLine q;
    bool ok = false;
    q.number = Catalog_Number(line, 1, ok);
    std::fill(std::begin(q.name), std::end(q.name), ' ');
    if (line.size() > 5) {
        const std::size_t n = std::min(kNameSize, line.size() - 5);
        std::copy_n(line.data() + 5, n, q.name);
    }
    q.hasName = !allBytesAre(q.name, kNameSize, ' ');
    return q;
}

} // namespace qm
