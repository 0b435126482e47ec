// The gzip reader on any bytes, against zlib's own gzip decoding member by member:
// both succeed or both fail, with the same output; zero padding and bytes that start
// no member end the file; the output stays within the cap. Read as it is unpacked
// (streamed), the same bytes come whole exactly when the file would be written.
#include "catalogue/Archive.h"
#include "platform/Errors.h"

#include "FuzzSupport.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

using namespace qm;
using namespace qm::fuzz;

namespace {

// Every member of the file decoded by zlib, or false when one is damaged.
bool decodeWithZlib(std::string_view bytes, std::string& output)
{
    std::size_t at = 0;
    std::vector<unsigned char> buffer(64 * 1024);
    do {
        z_stream zs{};
        if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK)
            return false;
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + at));
        zs.avail_in = static_cast<uInt>(bytes.size() - at);
        int ret = Z_OK;
        while (ret == Z_OK) {
            zs.next_out = buffer.data();
            zs.avail_out = static_cast<uInt>(buffer.size());
            ret = inflate(&zs, Z_NO_FLUSH);
            output.append(reinterpret_cast<const char*>(buffer.data()), buffer.size() - zs.avail_out);
            if (ret == Z_BUF_ERROR && zs.avail_in == 0)
                break; // the input ended inside the member
            if (ret == Z_BUF_ERROR)
                ret = Z_OK;
            if (output.size() > (std::size_t{2} << 20))
                break; // far past any cap of this target
        }
        const uLong used = zs.total_in;
        inflateEnd(&zs);
        if (ret != Z_STREAM_END)
            return false;
        at += used;
        while (at < bytes.size() && bytes[at] == '\0')
            ++at;
    } while (at + 2 <= bytes.size() && bytes[at] == '\x1f' && bytes[at + 1] == '\x8b');
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::uint64_t kCap = 1 << 20;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string& dir = WorkDir::instance().fresh();
    const std::string file = dir + "catalog_fuzz.txt.gz";
    const std::string out = dir + "out/";
    writeBytes(file, bytes);
    ::mkdir(out.c_str(), 0755);

    GzipFile gz(kCap);
    int extracted = 0;
    try {
        gz.open(file);
        extracted = gz.extract("*.txt", out);
    } catch (const IoError&) {
    }
    FUZZ_CHECK((namesIn(dir) == std::vector<std::string>{"catalog_fuzz.txt.gz", "out"}));
    FUZZ_CHECK(readBytes(file) == bytes);

    std::string expected;
    const bool decodes = decodeWithZlib(bytes, expected) && expected.size() <= kCap;
    FUZZ_CHECK(extracted == (decodes ? 1 : 0));
    if (decodes) {
        FUZZ_CHECK(namesIn(out) == std::vector<std::string>{"catalog_fuzz.txt"});
        FUZZ_CHECK(readBytes(out + "catalog_fuzz.txt") == expected);
    } else {
        FUZZ_CHECK(namesIn(out).empty());
    }

    ::unlink((out + "catalog_fuzz.txt").c_str());
    StreamedMember streamed;
    streamed.path = out + "catalog_fuzz.txt";
    std::string text;
    streamed.consume = [&](BufferedReader::Source& source) {
        BufferedReader in(source);
        char buf[4096];
        while (const std::size_t n = in.read(buf, sizeof buf))
            text.append(buf, n);
    };
    GzipFile again(kCap);
    try {
        again.open(file);
        FUZZ_CHECK(again.extract("*.txt", out, &streamed) == (decodes ? 1 : 0));
    } catch (const IoError&) {
    }
    FUZZ_CHECK(streamed.whole == decodes);
    FUZZ_CHECK(!streamed.failure);
    if (decodes)
        FUZZ_CHECK(text == expected);
    FUZZ_CHECK(namesIn(out).empty());
    return 0;
}
