// The ZIP reader on any bytes: nothing is written outside the target folder, no
// temporary file stays, every file written is a member with its declared size and
// CRC, and all of them together stay within the archive's cap.
#include "catalogue/Archive.h"
#include "platform/Errors.h"

#include "FuzzSupport.h"

#include <sys/stat.h>
#include <zlib.h>

using namespace qm;
using namespace qm::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::uint64_t kCap = 1 << 20; // small, so that fuzzed inputs reach it
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string& dir = WorkDir::instance().fresh();
    const std::string archive = dir + "catalog.zip";
    const std::string out = dir + "out/";
    writeBytes(archive, bytes);
    ::mkdir(out.c_str(), 0755);
    const std::vector<std::string> before = namesIn(dir);

    ZipArchive zip(kCap);
    int extracted = 0;
    try {
        zip.open(archive);
        extracted = zip.extract("*", out);
    } catch (const IoError&) {
        FUZZ_CHECK(namesIn(out).empty());
    }
    FUZZ_CHECK(namesIn(dir) == before);
    FUZZ_CHECK(readBytes(archive) == bytes);

    const std::vector<std::string> written = namesIn(out);
    FUZZ_CHECK(written.size() <= static_cast<std::size_t>(extracted));
    std::uint64_t total = 0;
    // (A temporary left behind would match no member.)
    for (const std::string& name : written) {
        const std::string content = readBytes(out + name);
        total += content.size();
        const auto crc = static_cast<std::uint32_t>(
            crc32(0L, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
        bool fromAMember = false;
        for (const ArchiveMember& m : zip.members())
            fromAMember
                = fromAMember || (safeMemberFileName(m.name) == name && m.size == content.size() && m.crc32 == crc);
        FUZZ_CHECK(fromAMember);
    }
    FUZZ_CHECK(total <= kCap);
    return 0;
}
