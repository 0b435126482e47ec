#include "catalogue/WriteWindow.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <random>

using namespace qm;
using namespace qm::test;

namespace {

// Whatever the order of the writes, the file must hold what direct positioned writes give.
TEST(WriteWindow, SameBytesAsDirectWritesInAnyOrder)
{
    TempDir dir;
    std::mt19937 rng(99);
    for (int round = 0; round < 40; ++round) {
        File direct(dir.file("direct"), File::Mode::Create);
        File windowed(dir.file("windowed"), File::Mode::Create);
        if (round % 4 == 3) { // a file that already holds data
            const std::string old(5000, 'o');
            direct.writeAt(0, old.data(), old.size());
            windowed.writeAt(0, old.data(), old.size());
        }
        {
            WriteWindow window(windowed, 64 + round % 7 * 13);
            const int writes = 1 + static_cast<int>(rng() % 300);
            const bool descending = round % 3 == 1;
            for (int i = 0; i < writes; ++i) {
                const std::uint64_t record = round % 3 == 0 ? rng() % 400 : descending ? 400 - i : i * 2;
                char data[40];
                for (char& c : data)
                    c = static_cast<char>('a' + rng() % 26);
                direct.writeAt(record * 40, data, 40);
                window.write(record * 40, data, 40);
            }
            window.flush();
        }
        direct.close();
        windowed.close();
        ASSERT_EQ(readFile(dir.file("windowed")), readFile(dir.file("direct"))) << "round " << round;
    }
}

} // namespace
