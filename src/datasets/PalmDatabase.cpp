#include "datasets/PalmDatabase.h"

#include "datasets/DataSetFormat.h"
#include "platform/Errors.h"
#include "platform/File.h"

#include <algorithm>
#include <array>

namespace qm {

namespace {

class BigEndianOut {
public:
    explicit BigEndianOut(BufferedWriter& out)
        : out_(out)
    {
    }
    void u8(std::uint8_t v) { out_.put(static_cast<char>(v)); }
    void u16(std::uint16_t v)
    {
        u8(static_cast<std::uint8_t>(v >> 8));
        u8(static_cast<std::uint8_t>(v));
    }
    void u32(std::uint32_t v)
    {
        u16(static_cast<std::uint16_t>(v >> 16));
        u16(static_cast<std::uint16_t>(v));
    }
    void bytes(const char* p, std::size_t n) { out_.write(p, n); }

private:
    BufferedWriter& out_;
};

} // namespace

std::uint32_t palmDate(std::int64_t localMs)
{
    if (localMs < 0)
        return 0;
    std::int64_t seconds = localMs / 1000;
    const std::int64_t rest = localMs % 1000;
    if (rest > 500 || (rest == 500 && seconds % 2 != 0))
        ++seconds;
    return static_cast<std::uint32_t>(seconds);
}

void writePalmDatabase(
    BufferedReader& in, BufferedWriter& out, const std::string& databaseName, std::uint64_t sets, std::uint32_t date)
{
    const std::uint64_t records = 3 * sets;
    const std::uint64_t dataStart = kPalmHeaderSize + kPalmEntrySize * records;

    BigEndianOut be(out);

    // The name field keeps room for its terminating zero byte.
    std::array<char, kPalmNameFieldSize> nameField{};
    std::copy_n(databaseName.data(), std::min(databaseName.size(), kPalmNameFieldSize - 1), nameField.data());
    be.bytes(nameField.data(), nameField.size());
    be.u16(0); // attributes
    be.u16(1); // version
    be.u32(date); // creation
    be.u32(date); // modification
    be.u32(0); // last backup
    be.u32(0); // modification number
    be.u32(0); // application info
    be.u32(0); // sort info
    be.bytes("iTLE", 4);
    be.bytes("pSat", 4);
    be.u32(0); // unique ID seed
    be.u32(0); // next record list
    be.u16(static_cast<std::uint16_t>(records));

    for (std::uint64_t i = 0; i < sets; ++i) {
        const auto base = static_cast<std::uint32_t>(dataStart + kPalmSetSize * i);
        for (std::uint32_t offset : {base, base + 25, base + 95}) {
            be.u32(offset);
            be.u32(0); // attributes and unique ID
        }
    }

    char record[kDataSetRecordSize];
    for (std::uint64_t i = 0; i < sets; ++i) {
        in.readExact(record, sizeof record);
        be.bytes(record, kNameSize);
        be.u8('\n');
        be.bytes(record + kRecordLine1Offset, kLineLength);
        be.u8('\n');
        be.bytes(record + kRecordLine2Offset, kLineLength);
        be.u8('\n');
    }
}

} // namespace qm
