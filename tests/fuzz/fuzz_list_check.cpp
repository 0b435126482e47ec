// The check that fetched bytes can be a query list, against its rule written out
// here: up to the end-of-list byte, no NUL and no line whose first byte other than
// blanks, tabs, CRs (and a byte-order mark's bytes at the very start) is "<". The
// check fed in any parts decides as fed whole, the file check agrees with it, and no
// line that the list reader then gives starts with markup.
#include "datasets/QueryList.h"

#include "FuzzSupport.h"

using namespace qm;
using namespace qm::fuzz;

namespace {

bool modelPasses(std::string_view bytes)
{
    const std::string_view list = bytes.substr(0, bytes.find('\x1a'));
    if (list.find('\0') != std::string_view::npos)
        return false;
    static constexpr std::string_view kMark = "\xEF\xBB\xBF";
    std::size_t mark = 0;
    while (mark < kMark.size() && mark < list.size() && list[mark] == kMark[mark])
        ++mark;
    std::size_t start = 0;
    for (bool first = true; start <= list.size(); first = false) {
        const std::size_t end = std::min(list.find('\n', start), list.size());
        std::string_view line = list.substr(start, end - start);
        if (first)
            line.remove_prefix(mark);
        const std::size_t at = line.find_first_not_of(" \t\r");
        if (at != std::string_view::npos && line[at] == '<')
            return false;
        start = end + 1;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const unsigned step = 1 + in.byte() % 16;
    const std::string_view bytes = in.rest();
    const bool passes = modelPasses(bytes);

    QueryListCheck whole;
    whole.feed(bytes);
    FUZZ_CHECK(whole.passed() == passes);
    QueryListCheck inParts;
    for (std::size_t at = 0; at < bytes.size(); at += step)
        inParts.feed(bytes.substr(at, step));
    FUZZ_CHECK(inParts.passed() == passes);

    const std::string& dir = WorkDir::instance().fresh();
    writeBytes(dir + "body.txt", bytes);
    FUZZ_CHECK(isQueryList(dir + "body.txt") == passes);
    if (!passes)
        return 0;
    QueryListReader reader(dir + "body.txt");
    std::string line;
    while (reader.next(line)) {
        FUZZ_CHECK(line.find('\0') == std::string::npos);
        const std::size_t at = line.find_first_not_of(" \t");
        FUZZ_CHECK(at == std::string::npos || line[at] != '<');
    }
    reader.close();
    return 0;
}
