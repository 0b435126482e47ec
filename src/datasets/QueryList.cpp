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

void QueryListCheck::feed(std::string_view part)
{
    static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    for (std::size_t i = 0; i < part.size() && !ended_ && !refused_; ++i, ++offset_) {
        const char c = part[i];
        if (c == kEndOfList) {
            ended_ = true;
        } else if (c == '\0') {
            refused_ = true;
        } else if (c == '\n') {
            lineStart_ = true;
        } else if (lineStart_) {
            const bool mark = offset_ == markBytes_ && offset_ < kByteOrderMark.size() && c == kByteOrderMark[offset_];
            if (mark)
                ++markBytes_;
            if (c == '<')
                refused_ = true;
            else if (c != ' ' && c != '\t' && c != '\r' && !mark)
                lineStart_ = false;
        }
    }
}

bool isQueryList(const std::string& path)
{
    BufferedReader in(path);
    QueryListCheck check;
    for (std::string_view part = in.available(); !part.empty() && check.passed(); part = in.available()) {
        check.feed(part);
        in.consume(part.size());
    }
    return check.passed();
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
