// The query-list reader on any bytes, against the line rules written out here: lines
// end at LF, CRs are dropped, a line keeps its first 29 characters, a 0x1A byte ends
// the list; and the number and name fields of each line.
#include "catalogue/Support.h"
#include "datasets/QueryList.h"

#include "FuzzSupport.h"

using namespace qm;
using namespace qm::fuzz;

namespace {

std::vector<std::string> modelLines(std::string_view bytes)
{
    std::vector<std::string> lines;
    const auto stop = bytes.find('\x1a');
    const std::string_view list = bytes.substr(0, stop);
    std::string line;
    bool open = false;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const char c = list[i];
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
            open = false;
            continue;
        }
        open = true;
        if (c != '\r' && line.size() < QueryListReader::kLineWidth)
            line.push_back(c);
    }
    if (open)
        lines.push_back(line);
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string& dir = WorkDir::instance().fresh();
    writeBytes(dir + "fuzz.query", bytes);

    QueryListReader reader(dir + "fuzz.query");
    std::vector<std::string> lines;
    std::string line;
    while (reader.next(line))
        lines.push_back(line);
    reader.close();
    FUZZ_CHECK(lines == modelLines(bytes));

    for (const std::string& l : lines) {
        if (l.empty())
            continue;
        const QueryLine q = parseQueryLine(l);
        bool ok = false;
        const int number = Catalog_Number(l, 1, ok);
        FUZZ_CHECK(q.number == (ok ? number : 0));
        std::string name = l.size() > 5 ? l.substr(5) : std::string();
        name.resize(kNameSize, ' ');
        FUZZ_CHECK(std::string(q.name, kNameSize) == name);
        FUZZ_CHECK(q.hasName == (name != std::string(kNameSize, ' ')));
    }
    return 0;
}
