// Random and mutated input into the readers, the repair and the line pass: whatever
// the bytes, nothing may crash, hang or write outside the target folder.
#include "catalogue/Archive.h"
#include "catalogue/CatalogIndex.h"
#include "catalogue/TLESupport.h"

#include "ArchiveMaker.h"
#include "RecordingReporter.h"
#include "TempDir.h"
#include "TleSamples.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace qm;
using namespace qm::test;

namespace {

std::string randomBytes(std::mt19937& rng, std::size_t n, bool tleAlphabet)
{
    static const std::string alphabet = "0123456789 +-.ABCUZ\r\n";
    std::string s(n, '\0');
    for (char& c : s)
        c = tleAlphabet ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng());
    return s;
}

std::string mutate(std::mt19937& rng, std::string s)
{
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < edits && !s.empty(); ++i) {
        switch (rng() % 4) {
        case 0:
            s[rng() % s.size()] = static_cast<char>(rng());
            break;
        case 1:
            s.resize(rng() % s.size());
            break;
        case 2:
            s[rng() % s.size()] ^= static_cast<char>(1u << (rng() % 8));
            break;
        default:
            s.insert(rng() % s.size(), randomBytes(rng, rng() % 16, false));
            break;
        }
    }
    return s;
}

TEST(Fuzz, RepairAndValidateAnyPair)
{
    std::mt19937 rng(12345);
    const std::string base = pairOf(kIssLine1, kIssLine2);
    for (int i = 0; i < 20000; ++i) {
        std::string pair = i % 2 ? randomBytes(rng, kTwoLineRecordSize, i % 4 == 1) : base;
        if (i % 2 == 0)
            for (int k = 0; k < 4; ++k)
                pair[rng() % pair.size()] = static_cast<char>(rng());
        Repair_TLE(pair.data());
        const bool ok = Valid_TLE(pair.c_str());
        if (ok) {
            // Whatever was accepted has consistent checksums.
            EXPECT_EQ(pair[68], TLE_Checksum(pair.c_str()));
            EXPECT_EQ(pair[71 + 68], TLE_Checksum(pair.c_str() + 71));
        }
    }
}

TEST(Fuzz, LinePassAndIndexOnRandomText)
{
    std::mt19937 rng(777);
    TempDir dir;
    ScopedCurrentDir cwd(dir.path());
    RecordingReporter reporter(false);
    const std::string good = kIssLine1 + "\n" + kIssLine2 + "\n";
    for (int i = 0; i < 1500; ++i) {
        const bool two = i % 2 == 0;
        const std::string text = i % 3 == 0 ? randomBytes(rng, rng() % 2000, true) : mutate(rng, good + good + good);
        const std::string path = dir.file("catalog.txt");
        writeFile(path, text);
        try {
            CheckCatalog(path, two, reporter, GrowthCap{.floor = 0});
        } catch (const CatalogueTooLarge&) {
            // Short lines: far more record bytes than text. Nothing of the stage stays.
            ASSERT_EQ(readFile(path), text);
            ASSERT_FALSE(exists(path + ".tmp") || exists(dir.file("catalog.err")));
            continue;
        }
        const std::string out = readFile(path);
        ASSERT_LE(out.size(), std::max<std::size_t>(4 * text.size(), kThreeLineRecordSize));
        ASSERT_EQ(out.size() % (two ? kTwoLineRecordSize : kThreeLineRecordSize), 0u);
        CatalogIndex index;
        try {
            index.build(path, two, reporter);
            ASSERT_LE(index.entries(), 340000);
        } catch (const FatalStop&) {
            ASSERT_TRUE(out.empty());
        }
    }
}

void fuzzArchives(const std::string& seedZip, const std::string& seedGz, int rounds)
{
    std::mt19937 rng(4242);
    TempDir dir;
    TempDir out;
    const std::string zipPath = dir.file("fuzz.zip");
    const std::string gzPath = dir.file("fuzz.txt.gz");
    for (int i = 0; i < rounds; ++i) {
        const bool random = i % 5 == 0;
        writeFile(zipPath, random ? randomBytes(rng, rng() % 600, false) : mutate(rng, seedZip));
        writeFile(gzPath, random ? randomBytes(rng, rng() % 600, false) : mutate(rng, seedGz));
        try {
            ZipArchive zip;
            zip.open(zipPath);
            zip.extract("*", out.path());
        } catch (const IoError&) {
        }
        try {
            GzipFile gz;
            gz.open(gzPath);
            gz.extract("*", out.path());
        } catch (const IoError&) {
        }
    }
    for (const std::string& name : listDirectory(out.path()))
        EXPECT_EQ(name.find(".part"), std::string::npos) << "temporary file left: " << name;
}

TEST(Fuzz, ArchiveReadersOnDamagedInput)
{
    TempDir seeds;
    const std::string text = "1 25544U line\r\n2 25544 line\r\n";
    makeZip(seeds.file("a.zip"), {{"catalog.txt", text}, {"dir/ssr.txt", text + text}}, true);
    makeZip(seeds.file("b.zip"), {{"catalog.txt", text}}, false);
    const std::string gz = gzipMemberWithAllFields(text + text + text);
    fuzzArchives(readFile(seeds.file("a.zip")), gz, 2000);
    fuzzArchives(readFile(seeds.file("b.zip")), gz, 1000);
}

} // namespace
