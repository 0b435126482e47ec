#include "service/ProductCheck.h"

#include "catalogue/Archive.h"
#include "platform/File.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace qm {

namespace {

constexpr std::uint32_t kLocalHeaderSig = 0x04034b50;
constexpr std::uint32_t kCentralHeaderSig = 0x02014b50;
constexpr std::uint32_t kEndRecordSig = 0x06054b50;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kMaxComment = 0xFFFF;
constexpr std::size_t kTextBlock = 64 * 1024;

std::uint16_t le16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t le32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(le16(p)) | static_cast<std::uint32_t>(le16(p + 2)) << 16;
}

// Up to n bytes at offset, however the reader splits them; fewer only at the end.
std::size_t readUpTo(const ReadSomeAt& read, std::uint64_t offset, void* buffer, std::size_t n)
{
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const std::size_t got = read(offset + done, out + done, n - done);
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

bool signatureAt(const ReadSomeAt& read, std::uint64_t offset, std::uint32_t signature)
{
    unsigned char bytes[4];
    return readUpTo(read, offset, bytes, sizeof bytes) == sizeof bytes && le32(bytes) == signature;
}

bool isZip(std::uint64_t size, const ReadSomeAt& read)
{
    if (size < 4 + kEndRecordSize || !signatureAt(read, 0, kLocalHeaderSig))
        return false;
    const std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(size, kEndRecordSize + kMaxComment));
    std::vector<unsigned char> tail(tailSize);
    const std::uint64_t tailStart = size - tailSize;
    if (readUpTo(read, tailStart, tail.data(), tail.size()) != tail.size())
        return false;

    // The record whose comment ends the file, else the last one whose comment fits: a
    // comment may itself hold the signature, and the processing run takes the same one.
    std::size_t at = tail.size();
    for (const bool exact : {true, false}) {
        for (std::size_t i = tail.size() - kEndRecordSize + 1; at == tail.size() && i-- > 0;) {
            if (le32(&tail[i]) != kEndRecordSig)
                continue;
            const std::size_t end = i + kEndRecordSize + le16(&tail[i + 20]);
            if (exact ? end == tail.size() : end <= tail.size())
                at = i;
        }
    }
    if (at == tail.size())
        return false;
    const unsigned char* record = &tail[at];
    const std::uint64_t recordPos = tailStart + at;
    const std::uint16_t disk = le16(record + 4);
    const std::uint16_t directoryDisk = le16(record + 6);
    const std::uint16_t count = le16(record + 10);
    const std::uint32_t directorySize = le32(record + 12);
    const std::uint32_t directoryOffset = le32(record + 16);
    if (disk != 0 || directoryDisk != 0 || count == 0 || count == 0xFFFF || directorySize == 0xFFFFFFFF
        || directoryOffset == 0xFFFFFFFF)
        return false;
    if (std::uint64_t{directoryOffset} + directorySize > recordPos || directorySize < 4)
        return false;
    return signatureAt(read, directoryOffset, kCentralHeaderSig);
}

bool isGzip(const ReadSomeAt& read)
{
    unsigned char head[3];
    return readUpTo(read, 0, head, sizeof head) == sizeof head && head[0] == 0x1f && head[1] == 0x8b && head[2] == 8;
}

bool isBlank(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool isText(std::uint64_t size, const ReadSomeAt& read)
{
    static constexpr std::array<unsigned char, 3> kByteOrderMark{0xEF, 0xBB, 0xBF};
    std::array<unsigned char, 3> start{};
    std::uint64_t offset = 0;
    if (readUpTo(read, 0, start.data(), start.size()) == start.size() && start == kByteOrderMark)
        offset = start.size();

    std::vector<unsigned char> block(kTextBlock);
    bool leading = true;
    while (offset < size) {
        const std::size_t n = read(
            offset, block.data(), static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - offset)));
        if (n == 0)
            return false; // shorter than it said: nothing to vouch for
        const unsigned char* data = block.data();
        if (std::memchr(data, 0, n))
            return false;
        if (leading) {
            const unsigned char* first = std::find_if_not(data, data + n, isBlank);
            if (first != data + n) {
                if (*first == '<')
                    return false;
                leading = false;
            }
        }
        offset += n;
    }
    return true;
}

} // namespace

ProductKind productKindOf(std::string_view name)
{
    if (name.ends_with(".zip"))
        return ProductKind::Zip;
    if (name.ends_with(".gz"))
        return ProductKind::Gzip;
    return ProductKind::Text;
}

bool holdsKind(ProductKind kind, std::uint64_t size, const ReadSomeAt& read)
{
    switch (kind) {
    case ProductKind::Zip:
        return isZip(size, read);
    case ProductKind::Gzip:
        return isGzip(read);
    case ProductKind::Text:
        return isText(size, read);
    }
    return false;
}

bool fileHoldsKind(const std::string& path, ProductKind kind)
{
    const File file(path, File::Mode::Read);
    return holdsKind(kind, file.size(),
        [&file](std::uint64_t offset, void* buffer, std::size_t n) { return file.readSomeAt(offset, buffer, n); });
}

bool fileUnpacksWhole(const std::string& path, ProductKind kind)
{
    try {
        if (kind == ProductKind::Zip) {
            ZipArchive zip;
            zip.open(path);
            return zip.membersWhole(std::string(kCatalogueMemberMask) + ";" + std::string(kReportMemberMask));
        }
        if (kind == ProductKind::Gzip) {
            GzipFile gzip;
            gzip.open(path);
            return gzip.whole();
        }
    } catch (const InvalidArchive&) {
        return false;
    }
    return true;
}

std::string_view notOfKindText(ProductKind kind)
{
    switch (kind) {
    case ProductKind::Zip:
        return "Not a ZIP archive";
    case ProductKind::Gzip:
        return "Not a gzip file";
    case ProductKind::Text:
        return "Not a text file";
    }
    return {};
}

std::string_view damagedText(ProductKind kind)
{
    return kind == ProductKind::Zip ? "Damaged ZIP archive" : "Damaged gzip file";
}

} // namespace qm
