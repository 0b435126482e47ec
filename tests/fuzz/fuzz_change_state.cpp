// The reader of the changes state on any bytes. It may only accept what the writer
// writes: an accepted file, written again from what the reader gave, is the same bytes,
// with numbers rising and within the catalogue's range. Anything else is refused as
// damaged, never with another failure. With the first byte odd, the last four bytes are
// made the checksum of the rest first, so that the fuzzing reaches past it.
#include "catalogue/Archive.h"
#include "datasets/ChangeState.h"
#include "platform/File.h"

#include "FuzzSupport.h"

#include <vector>

using namespace qm;
using namespace qm::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((data[0] & 1) != 0 && bytes.size() >= 4) {
        const std::uint32_t crc
            = crc32Of(0, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size() - 4);
        for (int i = 0; i < 4; ++i)
            bytes[bytes.size() - 4 + std::size_t(i)] = static_cast<char>(crc >> (8 * i));
    }
    const std::string& dir = WorkDir::instance().fresh();
    writeBytes(dir + "changes.dat", bytes);

    std::vector<ObjectElements> objects;
    std::optional<TleEpoch> newest;
    try {
        ChangeStateReader reader(dir + "changes.dat");
        newest = reader.newest();
        ObjectElements o;
        while (reader.next(o))
            objects.push_back(o);
        FUZZ_CHECK(reader.count() == objects.size());
    } catch (const DamagedState&) {
        return 0;
    }

    for (std::size_t i = 0; i < objects.size(); ++i) {
        FUZZ_CHECK(objects[i].number >= 0 && objects[i].number <= kHighestCatalogNumber);
        FUZZ_CHECK(i == 0 || objects[i].number > objects[i - 1].number);
        FUZZ_CHECK(!objects[i].hasEpoch() || objects[i].ticks == epochTicks(objects[i].epoch));
    }
    ChangeStateWriter writer(File(dir + "again.dat", File::Mode::Create), newest);
    for (const ObjectElements& o : objects)
        writer.add(o);
    writer.finish();
    FUZZ_CHECK(readBytes(dir + "again.dat") == bytes);
    return 0;
}
