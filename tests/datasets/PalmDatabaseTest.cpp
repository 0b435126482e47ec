#include "datasets/PalmDatabase.h"
#include "datasets/DataSetFormat.h"
#include "platform/File.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using namespace qm;
using qm::test::TempDir;

namespace {

void writePalm(const std::string& source, const std::string& target, const std::string& name, std::uint64_t sets,
    std::uint32_t date)
{
    BufferedReader in(source);
    BufferedWriter out(target);
    writePalmDatabase(in, out, name, sets, date);
    out.close();
}

std::uint32_t be32(const std::string& s, std::size_t at)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v = (v << 8) | static_cast<unsigned char>(s.at(at + i));
    return v;
}

std::uint16_t be16(const std::string& s, std::size_t at)
{
    return static_cast<std::uint16_t>(
        (static_cast<unsigned char>(s.at(at)) << 8) | static_cast<unsigned char>(s.at(at + 1)));
}

std::string record(const std::string& name, char fill)
{
    std::string r = name + std::string(kNameSize - name.size(), ' ') + "\r\n";
    r += "1" + std::string(68, fill) + "\r\n";
    r += "2" + std::string(68, fill) + "\r\n";
    return r;
}

} // namespace

TEST(PalmDate, RoundsToTheNearestSecondWithTiesToEven)
{
    EXPECT_EQ(palmDate(1'000'499), 1000u);
    EXPECT_EQ(palmDate(1'000'501), 1001u);
    EXPECT_EQ(palmDate(1'000'500), 1000u); // even stays
    EXPECT_EQ(palmDate(1'001'500), 1002u); // odd goes up to even
    EXPECT_EQ(palmDate(1'700'000'000'000), 1'700'000'000u);
}

TEST(PalmDatabase, EmptySetIsAHeaderOnly)
{
    TempDir dir;
    qm::test::writeFile(dir.file("s.txt"), "");
    writePalm(dir.file("s.txt"), dir.file("s.pdb"), "stations", 0, 0x01020304);
    const std::string pdb = qm::test::readFile(dir.file("s.pdb"));
    ASSERT_EQ(pdb.size(), 78u);
    EXPECT_EQ(pdb.substr(0, 32), "stations" + std::string(24, '\0'));
    EXPECT_EQ(be16(pdb, 32), 0);
    EXPECT_EQ(be16(pdb, 34), 1);
    EXPECT_EQ(be32(pdb, 36), 0x01020304u);
    EXPECT_EQ(be32(pdb, 40), 0x01020304u);
    for (std::size_t at : {44u, 48u, 52u, 56u, 68u, 72u})
        EXPECT_EQ(be32(pdb, at), 0u) << at;
    EXPECT_EQ(pdb.substr(60, 8), "iTLEpSat");
    EXPECT_EQ(be16(pdb, 76), 0);
}

TEST(PalmDatabase, OneSetGivesThreeRecordsEndingInLineFeeds)
{
    TempDir dir;
    qm::test::writeFile(dir.file("s.txt"), record("ISS (ZARYA)", '7') + record("SECOND", '8'));
    writePalm(dir.file("s.txt"), dir.file("s.pdb"), "s", 1, 5);
    const std::string pdb = qm::test::readFile(dir.file("s.pdb"));
    ASSERT_EQ(pdb.size(), 267u);
    EXPECT_EQ(be16(pdb, 76), 3);
    EXPECT_EQ(be32(pdb, 78), 102u);
    EXPECT_EQ(be32(pdb, 86), 127u);
    EXPECT_EQ(be32(pdb, 94), 197u);
    for (std::size_t at : {82u, 90u, 98u})
        EXPECT_EQ(be32(pdb, at), 0u);
    EXPECT_EQ(pdb.substr(102, 25), "ISS (ZARYA)             \n");
    EXPECT_EQ(pdb.substr(127, 70), "1" + std::string(68, '7') + "\n");
    EXPECT_EQ(pdb.substr(197, 70), "2" + std::string(68, '7') + "\n");
}

TEST(PalmDatabase, LongNameKeepsRoomForTheZeroByte)
{
    TempDir dir;
    qm::test::writeFile(dir.file("s.txt"), "");
    const std::string name(40, 'n');
    writePalm(dir.file("s.txt"), dir.file("s.pdb"), name, 0, 0);
    const std::string pdb = qm::test::readFile(dir.file("s.pdb"));
    EXPECT_EQ(pdb.substr(0, 32), std::string(31, 'n') + '\0');
}
