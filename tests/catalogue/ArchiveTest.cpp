#include "catalogue/Archive.h"

#include "ArchiveMaker.h"
#include "TempDir.h"
#include "platform/Errors.h"
#include "platform/File.h"

#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace qm;
using namespace qm::test;

namespace {

std::string sampleText(std::size_t lines)
{
    std::string s;
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < lines; ++i)
        s += "1 " + std::to_string(10000 + rng() % 90000) + "U line of catalogue text " + std::to_string(rng())
            + "\r\n";
    return s;
}

// Where the first member's data starts (behind its local header, name and extra field).
std::size_t firstDataStart(const std::string& zip)
{
    auto le16 = [&](std::size_t at) {
        return std::size_t(static_cast<unsigned char>(zip[at]))
            | std::size_t(static_cast<unsigned char>(zip[at + 1])) << 8;
    };
    return 30 + le16(26) + le16(28);
}

// Offset of the first central directory header.
std::size_t centralHeader(const std::string& zip)
{
    return zip.find(std::string("PK\x01\x02", 4));
}

TEST(MaskMatches, PatternsWildcardsCaseAndFolders)
{
    EXPECT_TRUE(maskMatches("catalog*.*", "catalog_2024.txt"));
    EXPECT_TRUE(maskMatches("catalog*.*", "CATALOG.TXT"));
    EXPECT_TRUE(maskMatches("catalog*.*", "sub/dir/catalog1.txt")) << "no folder part: file name only";
    EXPECT_FALSE(maskMatches("catalog*.*", "catalog"));
    EXPECT_FALSE(maskMatches("catalog*.*", "mycatalog.txt"));
    EXPECT_TRUE(maskMatches("ssr?.txt", "ssr1.txt"));
    EXPECT_FALSE(maskMatches("ssr?.txt", "ssr12.txt"));
    EXPECT_TRUE(maskMatches(" *.doc ;  *.TXT ", "a.txt"));
    EXPECT_FALSE(maskMatches(" *.doc ;  ", "a.txt"));
    EXPECT_TRUE(maskMatches("sub/*.txt", "SUB/a.txt"));
    EXPECT_FALSE(maskMatches("sub/*.txt", "other/a.txt"));
    EXPECT_TRUE(maskMatches("*a*b*c", "xxaxxbxxbxxc"));
    EXPECT_FALSE(maskMatches("*a*b*c", "xxaxxbxxbxxcd"));
    EXPECT_TRUE(maskMatches("*", "*a")) << "a star in the name is no wildcard";
}

TEST(SafeMemberName, TraversalAbsoluteAndFolderNamesAreRefused)
{
    EXPECT_EQ(safeMemberFileName("catalog.txt"), "catalog.txt");
    EXPECT_EQ(safeMemberFileName("deep/folder/catalog.txt"), "catalog.txt");
    EXPECT_EQ(safeMemberFileName("win\\catalog.txt"), "catalog.txt");
    for (const char* bad :
        {"../catalog.txt", "a/../../b.txt", "/etc/passwd", "\\x.txt", "C:x.txt", "folder/", "", "x/..", "."})
        EXPECT_EQ(safeMemberFileName(bad), "") << bad;
}

class Zip : public ::testing::Test {
protected:
    TempDir dir;
    TempDir out;
    std::string zipPath = dir.file("catalog_2024.zip");
};

TEST_F(Zip, ExtractsStoredAndDeflatedMembersMatchingTheMask)
{
    const std::string big = sampleText(20000); // several inflate buffers
    for (bool deflate : {true, false}) {
        makeZip(zipPath,
            {{"catalog_2024.txt", big}, {"folder/catalog_x.txt", "x\n"}, {"notes.txt", "n"}, {"catalog_empty.txt", ""}},
            deflate);
        ZipArchive zip;
        zip.open(zipPath);
        ASSERT_EQ(zip.members().size(), 4u);
        EXPECT_EQ(zip.members()[1].name, "folder/catalog_x.txt");
        EXPECT_EQ(zip.members()[0].method, deflate ? 8 : 0);
        EXPECT_EQ(zip.extract("catalog*.*", out.path()), 3);
        EXPECT_EQ(readFile(out.file("catalog_2024.txt")), big);
        EXPECT_EQ(readFile(out.file("catalog_x.txt")), "x\n") << "extracted under its file name alone";
        EXPECT_EQ(readFile(out.file("catalog_empty.txt")), "");
        EXPECT_FALSE(exists(out.file("notes.txt")));
    }
}

TEST_F(Zip, ArchiveCommentAndDataDescriptorsAreHandled)
{
    makeZip(zipPath, {{"catalog.txt", sampleText(50)}});
    std::string bytes = readFile(zipPath);
    // Give the archive a comment: the end record has to be found behind it.
    const std::string comment = "PK\x05\x06 looks like an end record but is comment text";
    bytes[bytes.size() - 2] = static_cast<char>(comment.size());
    bytes += comment;
    writeFile(zipPath, bytes);
    ZipArchive zip;
    zip.open(zipPath);
    ASSERT_EQ(zip.members().size(), 1u);
    EXPECT_TRUE(zip.members()[0].flags & 0x0008) << "the writer streams: sizes follow the data";
    EXPECT_EQ(zip.extract("*.txt", out.path()), 1);
    EXPECT_EQ(readFile(out.file("catalog.txt")), sampleText(50));
}

TEST_F(Zip, DamagedMembersLeaveNoFileAndOthersStillExtract)
{
    const std::string text = sampleText(500);
    makeZip(zipPath, {{"catalog_a.txt", text}, {"catalog_b.txt", text}});
    const std::string good = readFile(zipPath);

    // Flip a byte inside the first member's deflated data.
    std::string damaged = good;
    damaged[firstDataStart(damaged) + 40] ^= 0x55;
    writeFile(zipPath, damaged);
    ZipArchive zip;
    zip.open(zipPath);
    // The whole-archive check, which writes nothing, says the same beforehand.
    EXPECT_FALSE(zip.membersWhole("*.txt"));
    EXPECT_TRUE(zip.membersWhole("catalog_b.txt"));
    EXPECT_EQ(zip.extract("*.txt", out.path()), 1);
    EXPECT_FALSE(exists(out.file("catalog_a.txt")));
    EXPECT_EQ(readFile(out.file("catalog_b.txt")), text);

    // A wrong CRC in the central directory.
    std::string badCrc = good;
    badCrc[centralHeader(badCrc) + 16] ^= 0x01;
    writeFile(zipPath, badCrc);
    TempDir out2;
    zip.open(zipPath);
    EXPECT_EQ(zip.extract("catalog_a.txt", out2.path()), 0);
    EXPECT_FALSE(exists(out2.file("catalog_a.txt")));

    // A declared size smaller than the data: inflation stops there.
    std::string shortSize = good;
    shortSize[centralHeader(shortSize) + 24] = 10;
    shortSize[centralHeader(shortSize) + 25] = 0;
    writeFile(zipPath, shortSize);
    zip.open(zipPath);
    EXPECT_EQ(zip.extract("catalog_a.txt", out2.path()), 0);
    EXPECT_TRUE(listDirectory(out2.path()).empty()) << "no temporary file is left behind";
}

TEST_F(Zip, ExistingFileIsReplacedOnlyByAGoodMember)
{
    writeFile(out.file("catalog_a.txt"), "previous");
    makeZip(zipPath, {{"catalog_a.txt", "fresh"}}, false);
    std::string bytes = readFile(zipPath);
    bytes[centralHeader(bytes) + 16] ^= 0x01;
    writeFile(zipPath, bytes);
    ZipArchive zip;
    zip.open(zipPath);
    zip.extract("*", out.path());
    EXPECT_EQ(readFile(out.file("catalog_a.txt")), "previous");
    // What an extraction that a crash cut off left is cleared by the next one.
    writeFile(out.file(".catalog_a.txt.0badc0de.part"), "cut off");
    makeZip(zipPath, {{"catalog_a.txt", "fresh"}}, false);
    zip.open(zipPath);
    zip.extract("*", out.path());
    EXPECT_EQ(readFile(out.file("catalog_a.txt")), "fresh");
    EXPECT_EQ(listDirectory(out.path()), std::vector<std::string>{"catalog_a.txt"});
}

// Output that ends exactly where a buffer ends, after all input was taken in, must
// still be drained: runs of one character compress to almost nothing.
TEST_F(Zip, DrainsOutputHeldBackAfterTheLastInput)
{
    for (std::size_t n : {65536u * 2, 131101u, 131200u, 65536u * 3 - 1, 65536u * 4 + 258, 1000000u}) {
        const std::string data(n, 'A');
        makeZip(zipPath, {{"catalog_a.txt", data}});
        ZipArchive zip;
        zip.open(zipPath);
        ASSERT_EQ(zip.extract("*.txt", out.path()), 1) << n;
        EXPECT_EQ(readFile(out.file("catalog_a.txt")), data);
        writeFile(dir.file("c.txt.gz"), gzipMemberWithAllFields(data));
        GzipFile gz;
        gz.open(dir.file("c.txt.gz"));
        ASSERT_EQ(gz.extract("*.txt", out.path()), 1) << n;
        EXPECT_EQ(readFile(out.file("c.txt")), data);
    }
}

TEST_F(Zip, MembersSharingOneStreamAreExtractedOnce)
{
    // Ten directory entries, honest sizes and CRC, one stream of data behind them all.
    const std::string data(1 << 20, '\0');
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i)
        names.push_back("catalog" + std::to_string(i) + ".txt");
    writeFile(zipPath, zipSharingOneStream(data, names));
    ZipArchive zip;
    zip.open(zipPath);
    ASSERT_EQ(zip.members().size(), 10u);
    EXPECT_EQ(zip.extract("catalog*.*", out.path()), 1);
    EXPECT_EQ(listDirectory(out.path()), std::vector<std::string>{"catalog0.txt"});
    EXPECT_EQ(readFile(out.file("catalog0.txt")).size(), data.size());
}

TEST_F(Zip, AMemberInsideTheDataOfTheOneBeforeItIsRefused)
{
    // The second member's header and data, copied into the first one's data, with the
    // second directory entry pointing there.
    makeZip(zipPath, {{"catalog_a.txt", "x"}, {"catalog_b.txt", "hidden"}}, false);
    std::string bytes = readFile(zipPath);
    const auto offsetField = [&bytes] { return bytes.find("catalog_b.txt", centralHeader(bytes)) - 46 + 42; };
    std::uint32_t at = 0;
    for (int i = 3; i >= 0; --i)
        at = at << 8 | static_cast<unsigned char>(bytes[offsetField() + i]);
    makeZip(zipPath,
        {{"catalog_a.txt", "head" + bytes.substr(at, centralHeader(bytes) - at)}, {"catalog_b.txt", "hidden"}}, false);
    bytes = readFile(zipPath);
    at = static_cast<std::uint32_t>(firstDataStart(bytes) + 4);
    for (int i = 0; i < 4; ++i)
        bytes[offsetField() + i] = static_cast<char>(at >> (8 * i));
    writeFile(zipPath, bytes);
    ZipArchive zip;
    zip.open(zipPath);
    EXPECT_EQ(zip.extract("*", out.path()), 1);
    EXPECT_EQ(listDirectory(out.path()), std::vector<std::string>{"catalog_a.txt"});
}

TEST_F(Zip, WhatOneArchiveWritesStaysWithinTheCap)
{
    const std::string part(400 * 1024, 'z');
    makeZip(zipPath, {{"catalog_a.txt", part}, {"catalog_b.txt", part}, {"catalog_c.txt", part}});
    ZipArchive capped(1 << 20);
    capped.open(zipPath);
    EXPECT_TRUE(capped.membersWhole("catalog_a.txt;catalog_b.txt"));
    EXPECT_FALSE(capped.membersWhole("*.txt"));
    EXPECT_EQ(capped.extract("*.txt", out.path()), 2);
    EXPECT_FALSE(exists(out.file("catalog_c.txt")));

    // A member that declares more than the cap is refused before anything is written,
    // with the default cap too.
    writeFile(zipPath, zipSharingOneStream("small", {"catalog_d.txt"}, 0xFFFFFFFEu));
    ZipArchive zip;
    zip.open(zipPath);
    EXPECT_EQ(zip.members()[0].size, 0xFFFFFFFEu);
    EXPECT_EQ(zip.extract("*.txt", out.path()), 0);
    EXPECT_EQ(listDirectory(out.path()).size(), 2u);
}

TEST_F(Zip, ExtractOneWritesOnlyTheFirstMemberForThePath)
{
    makeZip(zipPath,
        {{"catalog_notes.txt", "notes"}, {"a/catalog_2024.txt", "first"}, {"catalog_2024.txt", "second"},
            {"catalog_2024.err", "junk"}});
    ZipArchive zip;
    zip.open(zipPath);
    EXPECT_TRUE(zip.extractOne("catalog*.*", out.file("catalog_2024.txt")));
    EXPECT_EQ(listDirectory(out.path()), std::vector<std::string>{"catalog_2024.txt"});
    EXPECT_EQ(readFile(out.file("catalog_2024.txt")), "first");
    EXPECT_FALSE(zip.extractOne("ssr*.*", out.file("catalog_2024.txt"))) << "the mask still counts";
    EXPECT_FALSE(zip.extractOne("catalog*.*", out.file("catalog_2025.txt")));

    // The first one damaged: nothing, though a later one would do.
    std::string bytes = readFile(zipPath);
    const std::size_t entry = bytes.find("a/catalog_2024.txt", centralHeader(bytes)) - 46;
    bytes[entry + 16] ^= 0x01; // its CRC
    writeFile(zipPath, bytes);
    zip.open(zipPath);
    ::unlink(out.file("catalog_2024.txt").c_str());
    EXPECT_FALSE(zip.extractOne("catalog*.*", out.file("catalog_2024.txt")));
    EXPECT_EQ(listDirectory(out.path()), std::vector<std::string>{});

    writeFile(dir.file("catalog_2024.txt.gz"), gzipMemberWithAllFields("text"));
    GzipFile gz;
    gz.open(dir.file("catalog_2024.txt.gz"));
    EXPECT_FALSE(gz.extractOne("*.txt", out.file("catalog_2025.txt")));
    EXPECT_TRUE(gz.extractOne("*.txt", out.file("catalog_2024.txt")));
    EXPECT_EQ(readFile(out.file("catalog_2024.txt")), "text");
}

TEST_F(Zip, TraversalNamesAreSkipped)
{
    TempDir root;
    const std::string target = root.file("target/");
    ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
    makeZip(root.file("evil.zip"), {{"../escaped.txt", "bad"}, {"/tmp/abs_escape_qm.txt", "bad"}, {"ok.txt", "ok"}});
    ZipArchive zip;
    zip.open(root.file("evil.zip"));
    EXPECT_EQ(zip.extract("*.txt", target), 1);
    EXPECT_FALSE(exists(root.file("escaped.txt")));
    EXPECT_FALSE(exists("/tmp/abs_escape_qm.txt"));
    EXPECT_FALSE(exists(target + "escaped.txt"));
    EXPECT_EQ(readFile(target + "ok.txt"), "ok");
}

TEST_F(Zip, UnreadableArchivesRaiseIoError)
{
    ZipArchive zip;
    EXPECT_THROW(zip.open(dir.file("missing.zip")), IoError);
    writeFile(zipPath, "");
    EXPECT_THROW(zip.open(zipPath), IoError);
    writeFile(zipPath, std::string(5000, 'x'));
    EXPECT_THROW(zip.open(zipPath), IoError);
    makeZip(zipPath, {{"a.txt", "a"}});
    std::string bytes = readFile(zipPath);
    writeFile(zipPath, bytes.substr(centralHeader(bytes) + 10)); // central directory points outside
    EXPECT_THROW(zip.open(zipPath), IoError);
    try {
        zip.open(zipPath);
    } catch (const IoError& e) {
        EXPECT_NE(std::string(e.what()).find(zipPath), std::string::npos) << "the text names the archive";
    }
}

class Gzip : public ::testing::Test {
protected:
    TempDir dir;
    std::string gzPath = dir.file("catalog_2024.txt.gz");
};

TEST_F(Gzip, UnpacksToTheNameWithoutTheLastExtension)
{
    const std::string text = sampleText(20000);
    makeGzip(gzPath, text);
    writeFile(dir.file(".catalog_2024.txt.12345678.part"), "cut off by a crash");
    GzipFile gz;
    gz.open(gzPath);
    ASSERT_EQ(gz.members().size(), 1u);
    EXPECT_EQ(gz.members()[0].name, "catalog_2024.txt");
    EXPECT_EQ(gz.members()[0].size, text.size());
    EXPECT_EQ(gz.extract("catalog*.*", dir.path()), 1);
    EXPECT_EQ(readFile(dir.file("catalog_2024.txt")), text);
    EXPECT_FALSE(fileExists(dir.file(".catalog_2024.txt.12345678.part")));
    EXPECT_EQ(gz.extract("*.zip", dir.path()), 0);
}

TEST_F(Gzip, MembersAsOtherToolsWriteThem)
{
    writeFile(gzPath, gzipMemberWithAllFields("first part\n"));
    GzipFile gz;
    gz.open(gzPath);
    EXPECT_EQ(gz.extract("*.txt", dir.path()), 1);
    EXPECT_EQ(readFile(dir.file("catalog_2024.txt")), "first part\n");

    // Concatenated members ("cat a.gz b.gz") unpack one after the other into one file.
    writeFile(gzPath,
        gzipMemberWithAllFields("first part\n") + gzipMemberWithAllFields("")
            + gzipMemberWithAllFields("second part\n"));
    gz.open(gzPath);
    EXPECT_EQ(gz.extract("*.txt", dir.path()), 1);
    EXPECT_EQ(readFile(dir.file("catalog_2024.txt")), "first part\nsecond part\n");

    // Zero bytes after the last member are padding; other trailing bytes are ignored too.
    writeFile(gzPath, gzipMemberWithAllFields("padded\n") + std::string(1000, '\0'));
    gz.open(gzPath);
    EXPECT_EQ(gz.extract("*.txt", dir.path()), 1);
    EXPECT_EQ(readFile(dir.file("catalog_2024.txt")), "padded\n");
    writeFile(gzPath, gzipMemberWithAllFields("trailed\n") + "garbage");
    gz.open(gzPath);
    EXPECT_EQ(gz.extract("*.txt", dir.path()), 1);
    EXPECT_EQ(readFile(dir.file("catalog_2024.txt")), "trailed\n");

    // A damaged second member spoils the whole file; the older text stays.
    std::string second = gzipMemberWithAllFields("second part\n");
    second[second.size() - 5] ^= 0x01;
    writeFile(gzPath, gzipMemberWithAllFields("first part\n") + second);
    gz.open(gzPath);
    EXPECT_FALSE(gz.whole());
    EXPECT_EQ(gz.extract("*.txt", dir.path()), 0);
    EXPECT_EQ(readFile(dir.file("catalog_2024.txt")), "trailed\n");
}

TEST_F(Gzip, AllMembersTogetherStayWithinTheCap)
{
    const std::string part(300 * 1024, 'g');
    const std::string twice = gzipMemberWithAllFields(part) + gzipMemberWithAllFields(part);
    writeFile(gzPath, twice);
    GzipFile capped(700 * 1024);
    capped.open(gzPath);
    EXPECT_TRUE(capped.whole());
    EXPECT_EQ(capped.extract("*.txt", dir.path()), 1);
    writeFile(gzPath, twice + gzipMemberWithAllFields(part));
    capped.open(gzPath);
    EXPECT_FALSE(capped.whole());
    EXPECT_EQ(capped.extract("*.txt", dir.path()), 0);
    EXPECT_EQ(readFile(dir.file("catalog_2024.txt")).size(), 2 * part.size());
    EXPECT_EQ(listDirectory(dir.path()).size(), 2u) << "no temporary file is left behind";
}

TEST_F(Gzip, DamageIsDetectedAtOpenOrAtExtraction)
{
    const std::string good = gzipMemberWithAllFields(sampleText(100));
    GzipFile gz;
    // Header damage: bad magic, reserved flag, header CRC.
    for (std::size_t at : {std::size_t{1}, std::size_t{3}, std::size_t{41}}) {
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ (at == 3 ? 0x80 : 0x01));
        writeFile(gzPath, bad);
        EXPECT_THROW(gz.open(gzPath), IoError) << at;
    }
    EXPECT_THROW(gz.open(dir.file("missing.gz")), IoError);

    // Data damage: trailer CRC, trailer length (smaller or larger), truncation.
    for (std::size_t fromEnd : {std::size_t{8}, std::size_t{3}}) {
        std::string bad = good;
        bad[bad.size() - fromEnd] ^= 0x01;
        writeFile(gzPath, bad);
        gz.open(gzPath);
        EXPECT_EQ(gz.extract("*.txt", dir.path()), 0) << fromEnd;
    }
    for (std::uint32_t declared : {0u, 1u}) {
        std::string bad = good.substr(0, good.size() - 4);
        appendLe32(bad, static_cast<std::uint32_t>(sampleText(100).size() + declared));
        writeFile(gzPath, bad);
        gz.open(gzPath);
        EXPECT_EQ(gz.extract("*.txt", dir.path()), declared == 0 ? 1 : 0) << declared;
        ::unlink(dir.file("catalog_2024.txt").c_str());
    }
    writeFile(gzPath, good.substr(0, good.size() - 20));
    gz.open(gzPath);
    EXPECT_EQ(gz.extract("*.txt", dir.path()), 0);
    EXPECT_FALSE(exists(dir.file("catalog_2024.txt")));
}

TEST_F(Gzip, NeverOverwritesItself)
{
    const std::string plain = dir.file("catalog");
    makeGzip(plain, "data");
    GzipFile gz;
    gz.open(plain);
    EXPECT_EQ(gz.extract("*", dir.path()), 0);
    gz.open(plain);
    EXPECT_EQ(gz.members()[0].size, 4u);
}

// ---------------------------------------------------------------- streamed members

// A streamed member that collects what it reads, in small reads so that a part's end
// falls inside them, and may fail on purpose after its first read.
struct Collector {
    StreamedMember member;
    std::string text;
    bool sawDamage = false;
    bool failAfterFirstRead = false;
    int calls = 0;

    explicit Collector(std::string path)
    {
        member.path = std::move(path);
        member.consume = [this](BufferedReader::Source& source) {
            ++calls;
            BufferedReader in(source);
            char buf[1000];
            try {
                while (const std::size_t n = in.read(buf, sizeof buf)) {
                    text.append(buf, n);
                    if (failAfterFirstRead)
                        throw IoError("Unable to write " + member.path + ".tmp");
                }
            } catch (const DamagedMember&) {
                sawDamage = true;
                throw;
            }
        };
    }
};

TEST_F(Zip, AStreamedMemberIsReadWholeAndNeverWritten)
{
    const std::string big = sampleText(60000); // many parts of every size
    for (bool deflate : {true, false}) {
        makeZip(zipPath, {{"catalog_2024.txt", big}, {"catalog_x.txt", "x\n"}}, deflate);
        writeFile(out.file(".catalog_2024.txt.0badc0de.part"), "cut off by a crash");
        Collector c(out.file("catalog_2024.txt"));
        ZipArchive zip;
        zip.open(zipPath);
        EXPECT_EQ(zip.extract("catalog*.*", out.path(), &c.member), 2);
        EXPECT_TRUE(c.member.whole);
        EXPECT_FALSE(c.member.failure);
        EXPECT_TRUE(c.text == big) << "every byte once, in order";
        EXPECT_EQ(listDirectory(out.path()), std::vector<std::string>{"catalog_x.txt"});
    }
}

TEST_F(Zip, ADamagedStreamedMemberEndsTheReadingAndLeavesTheOldFile)
{
    const std::string text = sampleText(20000);
    makeZip(zipPath, {{"catalog_a.txt", text}});
    const std::string good = readFile(zipPath);
    std::string inData = good; // found while inflating
    inData[firstDataStart(inData) + 40000] ^= 0x55;
    std::string inCrc = good; // found only once everything is unpacked
    inCrc[centralHeader(inCrc) + 16] ^= 0x01;
    for (const std::string& bytes : {inData, inCrc}) {
        writeFile(zipPath, bytes);
        writeFile(out.file("catalog_a.txt"), "previous");
        Collector c(out.file("catalog_a.txt"));
        ZipArchive zip;
        zip.open(zipPath);
        EXPECT_EQ(zip.extract("*.txt", out.path(), &c.member), 0);
        EXPECT_TRUE(c.sawDamage);
        EXPECT_FALSE(c.member.whole);
        EXPECT_EQ(readFile(out.file("catalog_a.txt")), "previous");
    }
}

TEST_F(Zip, AStreamedReaderThatFailsGetsItsErrorBackOnlyForAWholeMember)
{
    const std::string text = sampleText(20000);
    makeZip(zipPath, {{"catalog_a.txt", text}, {"catalog_b.txt", "b\n"}});
    Collector c(out.file("catalog_a.txt"));
    c.failAfterFirstRead = true;
    ZipArchive zip;
    zip.open(zipPath);
    EXPECT_EQ(zip.extract("*.txt", out.path(), &c.member), 2) << "the rest is unpacked all the same";
    EXPECT_TRUE(c.member.whole);
    ASSERT_TRUE(c.member.failure);
    EXPECT_THROW(std::rethrow_exception(c.member.failure), IoError);
    EXPECT_EQ(readFile(out.file("catalog_b.txt")), "b\n");

    // With the member damaged as well, the reader's error never happened as far as
    // the caller is concerned: an unpacking that fails does not reach the reading.
    std::string bytes = readFile(zipPath);
    bytes[centralHeader(bytes) + 16] ^= 0x01;
    writeFile(zipPath, bytes);
    Collector d(out.file("catalog_a.txt"));
    d.failAfterFirstRead = true;
    zip.open(zipPath);
    EXPECT_EQ(zip.extract("*.txt", out.path(), &d.member), 1);
    EXPECT_FALSE(d.member.whole);
    EXPECT_FALSE(d.member.failure);
}

TEST_F(Zip, TwoMembersForTheStreamedPathAreBothWrittenInstead)
{
    makeZip(zipPath, {{"a/catalog.txt", "first\n"}, {"b/catalog.txt", "second\n"}});
    Collector c(out.file("catalog.txt"));
    ZipArchive zip;
    zip.open(zipPath);
    EXPECT_EQ(zip.extract("*.txt", out.path(), &c.member), 2);
    EXPECT_EQ(c.calls, 0);
    EXPECT_FALSE(c.member.whole);
    EXPECT_EQ(readFile(out.file("catalog.txt")), "second\n") << "as without streaming: the last one";
}

TEST_F(Gzip, ConcatenatedMembersStreamAsOneText)
{
    const std::string first = sampleText(30000);
    writeFile(gzPath, gzipMemberWithAllFields(first) + gzipMemberWithAllFields("second part\n"));
    Collector c(dir.file("catalog_2024.txt"));
    GzipFile gz;
    gz.open(gzPath);
    EXPECT_EQ(gz.extract("*.txt", dir.path(), &c.member), 1);
    EXPECT_TRUE(c.member.whole);
    EXPECT_TRUE(c.text == first + "second part\n");
    EXPECT_FALSE(exists(dir.file("catalog_2024.txt")));

    // A damaged second member spoils the whole text, though the first was read.
    std::string second = gzipMemberWithAllFields("second part\n");
    second[second.size() - 5] ^= 0x01;
    writeFile(gzPath, gzipMemberWithAllFields(first) + second);
    Collector d(dir.file("catalog_2024.txt"));
    gz.open(gzPath);
    EXPECT_EQ(gz.extract("*.txt", dir.path(), &d.member), 0);
    EXPECT_TRUE(d.sawDamage);
    EXPECT_FALSE(d.member.whole);
    EXPECT_EQ(listDirectory(dir.path()).size(), 1u) << "only the archive";
}

} // namespace
