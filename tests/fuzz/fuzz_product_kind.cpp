// The product-kind check on any bytes: read whole from a file or in pieces of any size,
// it gives one answer; a gzip or text verdict is exactly what the bytes show; a ZIP is
// never taken without its signatures, and one the processing run can open (or one
// built here around any member and comment) is never refused; one built here is whole.
//
// Input: a flags byte (bit 0: wrap the rest into an archive), a piece size for the
// reads (0: unlimited), then the body; wrapped, the body is member data, 0xFF, comment.
#include "catalogue/Archive.h"
#include "platform/Errors.h"
#include "service/ProductCheck.h"

#include "FuzzSupport.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

using namespace qm;
using namespace qm::fuzz;

namespace {

void appendLe(std::string& s, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        s.push_back(static_cast<char>(value >> (8 * i)));
}

// A stored (uncompressed) one-member archive with honest sizes and CRC.
std::string archiveOf(std::string_view data, std::string_view comment)
{
    const auto crc = static_cast<std::uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    const std::string name = "catalog.txt";
    auto header = [&](bool central) {
        std::string h;
        appendLe(h, central ? 0x02014b50 : 0x04034b50, 4);
        if (central)
            appendLe(h, 20, 2);
        appendLe(h, 20, 2); // needed
        appendLe(h, 0, 2); // flags
        appendLe(h, 0, 2); // stored
        appendLe(h, 0, 4); // time and date
        appendLe(h, crc, 4);
        appendLe(h, static_cast<std::uint32_t>(data.size()), 4);
        appendLe(h, static_cast<std::uint32_t>(data.size()), 4);
        appendLe(h, static_cast<std::uint32_t>(name.size()), 2);
        appendLe(h, 0, 2); // extra
        if (central) {
            appendLe(h, 0, 2); // comment
            appendLe(h, 0, 2); // disk
            appendLe(h, 0, 2); // internal attributes
            appendLe(h, 0, 4); // external attributes
            appendLe(h, 0, 4); // local header offset
        }
        return h + name;
    };
    std::string zip = header(false) + std::string(data);
    const std::size_t directory = zip.size();
    zip += header(true);
    appendLe(zip, 0x06054b50, 4);
    appendLe(zip, 0, 4); // disks
    appendLe(zip, 1, 2);
    appendLe(zip, 1, 2);
    appendLe(zip, static_cast<std::uint32_t>(zip.size() - directory - 4 - 4 - 2 - 2), 4);
    appendLe(zip, static_cast<std::uint32_t>(directory), 4);
    appendLe(zip, static_cast<std::uint32_t>(comment.size()), 2);
    return zip + std::string(comment);
}

bool textOracle(std::string_view bytes)
{
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    if (bytes.find('\0') != std::string_view::npos)
        return false;
    const auto first = bytes.find_first_not_of(" \t\r\n\v\f");
    return first == std::string_view::npos || bytes[first] != '<';
}

bool processingOpens(const std::string& path)
{
    try {
        ZipArchive zip;
        zip.open(path);
        return !zip.members().empty();
    } catch (const IoError&) {
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const bool wrap = (in.byte() & 1) != 0;
    const std::size_t piece = in.byte();
    std::string bytes(in.rest());
    if (wrap) {
        const std::string member(in.part());
        std::string comment(in.rest());
        // A comment that holds the end record's signature may stand for another record.
        for (std::size_t at; (at = comment.find("PK\x05\x06")) != std::string::npos;)
            comment.erase(at, 4);
        bytes = archiveOf(member, comment.substr(0, 0xFFFF));
    }
    const std::string& dir = WorkDir::instance().fresh();
    const std::string path = dir + "product";
    writeBytes(path, bytes);

    const ReadSomeAt inPieces = [&bytes, piece](std::uint64_t offset, void* buffer, std::size_t n) -> std::size_t {
        if (offset >= bytes.size())
            return 0;
        n = std::min<std::size_t>({n, bytes.size() - static_cast<std::size_t>(offset), piece ? piece : n});
        std::memcpy(buffer, bytes.data() + offset, n);
        return n;
    };
    bool verdict[3] = {};
    for (const ProductKind kind : {ProductKind::Zip, ProductKind::Gzip, ProductKind::Text}) {
        const bool whole = fileHoldsKind(path, kind);
        FUZZ_CHECK(holdsKind(kind, bytes.size(), inPieces) == whole);
        verdict[static_cast<int>(kind)] = whole;
    }
    const bool zip = verdict[static_cast<int>(ProductKind::Zip)];
    const bool gzip = verdict[static_cast<int>(ProductKind::Gzip)];
    const bool text = verdict[static_cast<int>(ProductKind::Text)];

    FUZZ_CHECK(gzip == (bytes.size() >= 3 && bytes.starts_with("\x1f\x8b\x08")));
    FUZZ_CHECK(text == textOracle(bytes));
    if (zip) {
        FUZZ_CHECK(bytes.starts_with("PK\x03\x04"));
        const std::size_t tail = std::min<std::size_t>(bytes.size(), 22 + 0xFFFF);
        FUZZ_CHECK(bytes.find("PK\x05\x06", bytes.size() - tail) != std::string::npos);
    }
    const bool opens = processingOpens(path);
    if (wrap)
        FUZZ_CHECK(opens && zip && fileUnpacksWhole(path, ProductKind::Zip));
    if (opens && bytes.starts_with("PK\x03\x04"))
        FUZZ_CHECK(zip);
    return 0;
}
