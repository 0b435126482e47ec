#include "catalogue/TLESupport.h"

#include "ArchiveMaker.h"
#include "RecordingReporter.h"
#include "TempDir.h"
#include "TleSamples.h"
#include "catalogue/Archive.h"
#include "platform/Errors.h"
#include "platform/File.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace qm;
using namespace qm::test;

namespace {

bool valid(const std::string& l1, const std::string& l2)
{
    return Valid_TLE(pairOf(l1, l2).c_str());
}

// Repairs a pair and returns its two lines.
std::pair<std::string, std::string> repaired(const std::string& l1, const std::string& l2)
{
    std::string p = pairOf(l1, l2);
    Repair_TLE(p.data());
    EXPECT_EQ(p.substr(69, 2), "\r\n");
    EXPECT_EQ(p.substr(140, 2), "\r\n");
    return {p.substr(0, 69), p.substr(71, 69)};
}

TEST(TleChecksum, DigitsCountTheirValueAndMinusCountsOne)
{
    EXPECT_EQ(TLE_Checksum(kIssLine1.c_str()), '7');
    EXPECT_EQ(TLE_Checksum(kIssLine2.c_str()), '7');
    // Letters, "+", "." and blanks add nothing; a "-" adds one.
    std::string line(69, ' ');
    EXPECT_EQ(TLE_Checksum(line.c_str()), '0');
    line = put(line, 1, "9A+.-");
    EXPECT_EQ(TLE_Checksum(line.c_str()), '0');
    line = put(line, 68, "5");
    EXPECT_EQ(TLE_Checksum(line.c_str()), '5');
    line = put(line, 69, "9"); // column 69 itself is not summed
    EXPECT_EQ(TLE_Checksum(line.c_str()), '5');
}

TEST(ValidTle, AcceptsRealElementSets)
{
    EXPECT_TRUE(valid(kIssLine1, kIssLine2));
    EXPECT_TRUE(valid(kNoaaLine1, kNoaaLine2));
}

TEST(ValidTle, RejectsDefectsInEitherLine)
{
    struct Edit {
        int line;
        int col;
        const char* text;
    };
    const Edit edits[] = {
        {1, 1, "2"},
        {1, 8, "C"},
        {1, 3, "2554 "},
        {1, 12, "06a"},
        {1, 17, "-"},
        {1, 19, "9A"},
        {1, 21, "367"},
        {1, 24, ","},
        {1, 30, "x"},
        {1, 34, "1"},
        {1, 45, "0"},
        {1, 63, " "},
        {1, 68, " "},
        {2, 1, "1"},
        {2, 7, "5"},
        {2, 9, "180.0001"},
        {2, 18, "360.0001"},
        {2, 27, "00 6703"},
        {2, 53, "17.00000000"},
        {2, 64, "x"},
        {2, 17, "0"},
    };
    for (const auto& e : edits) {
        std::string l1 = kIssLine1, l2 = kIssLine2;
        std::string& target = e.line == 1 ? l1 : l2;
        target = withChecksum(put(target, e.col, e.text));
        EXPECT_FALSE(valid(l1, l2)) << "line " << e.line << " column " << e.col << " '" << e.text << "'";
    }
    // A wrong check character alone fails.
    EXPECT_FALSE(valid(put(kIssLine1, 69, "8"), kIssLine2));
    EXPECT_FALSE(valid(kIssLine1, put(kIssLine2, 69, "0")));
}

TEST(ValidTle, BoundsAreUpperOnly)
{
    auto line2 = [](int col, const char* text) { return withChecksum(put(kIssLine2, col, text)); };
    EXPECT_TRUE(valid(kIssLine1, line2(9, "180.0000")));
    EXPECT_FALSE(valid(kIssLine1, line2(9, "180.0001")));
    EXPECT_TRUE(valid(kIssLine1, line2(53, "16.99999999")));
    EXPECT_FALSE(valid(kIssLine1, line2(53, "17.0       ")));
    EXPECT_TRUE(valid(kIssLine1, line2(9, " -1.0000"))); // negatives are not tested
    EXPECT_TRUE(valid(withChecksum(put(kIssLine1, 21, "366")), kIssLine2));
}

TEST(ValidTle, CatalogueNumbersMustMatchCharacterForCharacter)
{
    const std::string l1 = withChecksum(put(kIssLine1, 3, "00042"));
    const std::string l2 = withChecksum(put(kIssLine2, 3, "   42"));
    EXPECT_FALSE(valid(l1, l2));
    EXPECT_TRUE(valid(l1, withChecksum(put(kIssLine2, 3, "00042"))));
}

TEST(ValidTle, TakesTheLetterFormOfTheCatalogueNumber)
{
    EXPECT_TRUE(valid(kAlphaLine1, kAlphaLine2));
    for (const char* number : {"A0000", "Z9999", "J5544", "P5544"})
        EXPECT_TRUE(valid(withChecksum(put(kIssLine1, 3, number)), withChecksum(put(kIssLine2, 3, number)))) << number;
    for (const char* number : {"I0123", "O0123", "t0123", "T012 ", "TT123", "0T123", "T012A"})
        EXPECT_FALSE(valid(withChecksum(put(kAlphaLine1, 3, number)), withChecksum(put(kAlphaLine2, 3, number))))
            << number;
    // Both lines must carry the same five characters.
    EXPECT_FALSE(valid(kAlphaLine1, withChecksum(put(kAlphaLine2, 3, "U0123"))));
    EXPECT_FALSE(valid(kAlphaLine1, withChecksum(put(kAlphaLine2, 3, "T0124"))));
}

TEST(RepairTle, LeavesAGoodPairUntouched)
{
    const auto [l1, l2] = repaired(kIssLine1, kIssLine2);
    EXPECT_EQ(l1, kIssLine1);
    EXPECT_EQ(l2, kIssLine2);
}

TEST(RepairTle, FillsMissingChecksumsAndCatalogueZeros)
{
    const std::string l1 = put(put(kIssLine1, 3, "   42"), 69, " ");
    const std::string l2 = put(put(kIssLine2, 3, "   42"), 69, " ");
    const auto [r1, r2] = repaired(l1, l2);
    EXPECT_EQ(r1.substr(2, 5), "00042");
    EXPECT_EQ(r2.substr(2, 5), "00042");
    EXPECT_EQ(r1[68], TLE_Checksum(r1.c_str()));
    EXPECT_TRUE(valid(r1, r2));
}

TEST(RepairTle, NeverTouchesTheLetterOfACatalogueNumber)
{
    // Missing check characters are filled in; a blank after the letter is a zero, as
    // anywhere in columns 3-6.
    auto both = [](const std::string& number, const char* check) {
        return std::pair{put(put(kAlphaLine1, 3, number), 69, check), put(put(kAlphaLine2, 3, number), 69, check)};
    };
    auto [l1, l2] = both("T0123", " ");
    EXPECT_EQ(repaired(l1, l2), std::pair(kAlphaLine1, kAlphaLine2));
    std::tie(l1, l2) = both("T 123", " ");
    EXPECT_EQ(repaired(l1, l2), std::pair(kAlphaLine1, kAlphaLine2));
    // A letter in the wrong place or of the wrong kind stays where it is, and the pair fails.
    for (const auto& [number, after] : {std::pair{" T123", "0T123"}, {"t0123", "t0123"}, {"O0123", "O0123"}}) {
        std::tie(l1, l2) = both(number, " ");
        std::string p = pairOf(l1, l2);
        Repair_TLE(p.data());
        EXPECT_EQ(p.substr(2, 5), after);
        EXPECT_EQ(p.substr(73, 5), after);
        EXPECT_FALSE(Valid_TLE(p.c_str())) << number;
    }
}

TEST(RepairTle, NormalisesDerivativeAndDragFields)
{
    // Eight blanks in columns 45-52 become " 00000+0"; so does "+    0+0".
    EXPECT_EQ(repaired(put(kIssLine1, 45, "        "), kIssLine2).first.substr(44, 8), " 00000+0");
    EXPECT_EQ(repaired(put(kIssLine1, 45, "+    0+0"), kIssLine2).first.substr(44, 8), " 00000+0");
    // A blank exponent sign before a digit becomes "+"; a leading "+" becomes blank.
    EXPECT_EQ(repaired(put(kIssLine1, 45, "+12345 5"), kIssLine2).first.substr(44, 8), " 12345+5");
    EXPECT_EQ(repaired(put(kIssLine1, 54, "        "), kIssLine2).first.substr(53, 8), " 00000+0");
    EXPECT_EQ(repaired(put(kIssLine1, 54, "+11606 4"), kIssLine2).first.substr(53, 8), " 11606+4");
    EXPECT_EQ(repaired(put(kIssLine1, 34, "+"), kIssLine2).first[33], ' ');
    // A sign or a leading zero in front of the second derivative becomes a blank.
    EXPECT_EQ(repaired(put(kIssLine1, 45, "0"), kIssLine2).first.substr(44, 8), " 00000-0");
    EXPECT_EQ(repaired(put(kIssLine1, 45, "+"), kIssLine2).first.substr(44, 8), " 00000-0");
    EXPECT_EQ(repaired(put(kIssLine1, 63, " "), kIssLine2).first[62], '0');
    // Epoch day with blanks for zeros.
    EXPECT_EQ(repaired(put(kIssLine1, 19, "08  4.51782528"), kIssLine2).first.substr(18, 5), "08004");
}

TEST(RepairTle, MovesPieceLettersLeftOnlyWithALaunchYear)
{
    const std::string l1 = put(kIssLine1, 10, "98067  A");
    EXPECT_EQ(repaired(l1, kIssLine2).first.substr(9, 8), "98067A  ");
    EXPECT_EQ(repaired(put(kIssLine1, 10, "98 67 AB"), kIssLine2).first.substr(9, 8), "98067AB ");
    const std::string noYear = put(kIssLine1, 10, "        ");
    EXPECT_EQ(repaired(put(noYear, 15, "  A"), kIssLine2).first.substr(14, 3), "  A");
}

TEST(RepairTle, DropsLeadingZerosOfCountersAndAngles)
{
    EXPECT_EQ(repaired(put(kIssLine1, 64, " 0999"), kIssLine2).first.substr(63, 5), "  999");
    EXPECT_EQ(repaired(put(kIssLine1, 64, " 0000"), kIssLine2).first.substr(63, 5), "    0");
    const auto [r1, r2] = repaired(kIssLine1, put(put(kIssLine2, 9, "001.6416"), 53, "05.72125391"));
    EXPECT_EQ(r2.substr(8, 8), "  1.6416");
    EXPECT_EQ(r2.substr(52, 11), " 5.72125391");
    EXPECT_EQ(repaired(kIssLine1, put(kIssLine2, 64, "00123")).second.substr(63, 5), "  123");
}

TEST(RepairTle, KeepsAPresentChecksumSoChangedContentFails)
{
    std::string p = pairOf(put(kIssLine1, 3, "  544"), put(kIssLine2, 3, "  544"));
    Repair_TLE(p.data());
    EXPECT_EQ(p.substr(2, 5), "00544");
    EXPECT_EQ(p[68], '7');
    EXPECT_FALSE(Valid_TLE(p.c_str()));
}

// ---------------------------------------------------------------- the stage

class CheckStage : public ::testing::Test {
protected:
    TempDir dir;
    RecordingReporter reporter;
    std::string catalog = dir.file("catalog_2024.txt");
};

TEST_F(CheckStage, LfOnlyShortAndLongLinesBecomeFixedRecords)
{
    const std::string input = "# header\nsecond header line\n" + kIssLine1 + "\n" + kIssLine2.substr(0, 68) + "\n"
        + kNoaaLine1 + "EXTRA TEXT\r\n" + kNoaaLine2 + "\r\n";
    writeFile(catalog, input);
    CheckCatalog(catalog, true, reporter);
    const std::string out = readFile(catalog);
    ASSERT_EQ(out.size(), 2 * kTwoLineRecordSize);
    EXPECT_EQ(out, pairOf(kIssLine1, kIssLine2) + pairOf(kNoaaLine1, kNoaaLine2));
    EXPECT_FALSE(exists(dir.file("catalog_2024.err")));
    EXPECT_FALSE(exists(dir.file("catalog_2024.tmp")));
    EXPECT_FALSE(exists(catalog + ".tmp"));
    EXPECT_EQ(reporter.statusHistory.front(), "Checking TLE data (2)");
    const std::vector<std::string> expected = {
        "Checking TLE data (2)", "Open [fi] " + catalog, "Open [fo] " + catalog + ".tmp", "Close [fo]", "Close [fi]"};
    EXPECT_EQ(reporter.logLines, expected);
}

TEST_F(CheckStage, CarriageReturnsBeforeTheHashStillMakeAHeader)
{
    // Every CR is dropped from a line, so "\r\r#" starts with "#" as far as the test
    // of the first line goes; a line with nothing but CRs is empty, and data.
    writeFile(catalog, "\r\r# header\nsecond line\n" + kIssLine1 + "\n" + kIssLine2 + "\n");
    CheckCatalog(catalog, true, reporter);
    EXPECT_EQ(readFile(catalog), pairOf(kIssLine1, kIssLine2));
    EXPECT_FALSE(exists(dir.file("catalog_2024.err"))) << "the header is no record";
    writeFile(catalog, "\r\r\n" + kIssLine2 + "\n");
    CheckCatalog(catalog, true, reporter);
    EXPECT_EQ(readFile(dir.file("catalog_2024.err")).substr(71, 69), kIssLine2);
}

TEST_F(CheckStage, RejectsGoToTheErrorFileInRepairedForm)
{
    const std::string bad1 = put(kNoaaLine1, 69, " ");
    const std::string bad2 = put(kNoaaLine2, 9, "999.0000"); // inclination out of range
    writeFile(
        catalog, kIssLine1 + "\n" + kIssLine2 + "\n" + bad1 + "\n" + bad2 + "\n" + kIssLine1 + "\n" + kIssLine2 + "\n");
    CheckCatalog(catalog, true, reporter);
    EXPECT_EQ(readFile(catalog), pairOf(kIssLine1, kIssLine2) + pairOf(kIssLine1, kIssLine2));
    const std::string err = readFile(dir.file("catalog_2024.err"));
    ASSERT_EQ(err.size(), kTwoLineRecordSize);
    EXPECT_EQ(err.substr(0, 69), put(kNoaaLine1, 69, "7")) << "the check character is filled in";
    EXPECT_EQ(err.substr(71, 69), bad2);
}

TEST_F(CheckStage, AnyOtherFirstLineIsDataAndOddLineCountsLeaveABlankLine)
{
    writeFile(catalog, kIssLine1 + "\n" + kIssLine2 + "\n" + kIssLine1 + "\n");
    CheckCatalog(catalog, true, reporter);
    EXPECT_EQ(readFile(catalog), pairOf(kIssLine1, kIssLine2));
    const std::string err = readFile(dir.file("catalog_2024.err"));
    ASSERT_EQ(err.size(), kTwoLineRecordSize);
    EXPECT_EQ(err.substr(0, 69), kIssLine1);
    // The blank line 2 gets its blank-for-zero repairs but stays invalid.
    EXPECT_EQ(err.substr(71, 1), " ");
}

TEST_F(CheckStage, EmptyInputLeavesAnEmptyCatalogue)
{
    writeFile(catalog, "");
    CheckCatalog(catalog, true, reporter);
    EXPECT_EQ(readFile(catalog), "");
    EXPECT_EQ(readFile(dir.file("catalog_2024.err")).size(), kTwoLineRecordSize);
}

TEST_F(CheckStage, ThreeLineNamesArePaddedOrCutAndNotTested)
{
    writeFile(catalog,
        "ISS (ZARYA)\n" + kIssLine1 + "\n" + kIssLine2 + "\nA NAME THAT IS MUCH LONGER THAN 24\r\n" + kNoaaLine1 + "\n"
            + kNoaaLine2 + "\n" + "ISS (ZARYA)\n" + kIssLine1 + "\n" + kIssLine2);
    CheckCatalog(catalog, false, reporter);
    const std::string out = readFile(catalog);
    ASSERT_EQ(out.size(), 3 * kThreeLineRecordSize);
    EXPECT_EQ(out.substr(0, 168), name24("ISS (ZARYA)") + pairOf(kIssLine1, kIssLine2));
    EXPECT_EQ(out.substr(168, 26), name24("A NAME THAT IS MUCH LONG"));
    EXPECT_EQ(out.substr(336), out.substr(0, 168)) << "duplicates stay, in input order";
    EXPECT_EQ(reporter.statusHistory.front(), "Checking TLE data (3)");
}

TEST_F(CheckStage, LongCataloguesKeepEveryRecordInOrder)
{
    // Enough objects to be checked on two threads, long lines and rejects spread
    // through them: the good and the rejected records each keep the input order,
    // whatever part of the stage tested them.
    std::string input, good, rejected;
    for (int i = 0; i < 16000; ++i) {
        char number[8];
        std::snprintf(number, sizeof number, "%05d", 10000 + i);
        std::string l1 = withChecksum(put(kIssLine1, 3, number));
        const std::string l2 = withChecksum(put(kIssLine2, 3, number));
        const bool reject = i % 13 == 5;
        if (reject)
            l1 = put(l1, 69, std::string(1, l1[68] == '9' ? '0' : static_cast<char>(l1[68] + 1)));
        const std::string name = "OBJECT " + std::to_string(i);
        input += name + (i % 3 == 0 ? "\r\n" : "\n") + l1 + (i % 5 == 0 ? " AND MORE\n" : "\n") + l2 + "\r\n";
        (reject ? rejected : good) += name24(name) + pairOf(l1, l2);
    }
    writeFile(catalog, input);
    CheckCatalog(catalog, false, reporter);
    EXPECT_TRUE(readFile(catalog) == good);
    EXPECT_TRUE(readFile(dir.file("catalog_2024.err")) == rejected);
}

TEST_F(CheckStage, RecordPassIgnoresATrailingPartRecord)
{
    writeFile(catalog, pairOf(kIssLine1, kIssLine2) + "1 2554");
    Check_Two_Line_File(catalog);
    EXPECT_EQ(readFile(catalog), pairOf(kIssLine1, kIssLine2));
    EXPECT_FALSE(exists(dir.file("catalog_2024.err")));
}

TEST_F(CheckStage, MissingCatalogueRaisesIoError)
{
    EXPECT_THROW(CheckCatalog(dir.file("nothing.txt"), true, reporter), IoError);
}

// ---------------------------------------------------------------- checked while unpacked

// What the stage leaves and reports.
struct StageResult {
    std::optional<std::string> catalogue;
    std::optional<std::string> rejects;
    std::vector<std::string> log;
    std::vector<std::string> status;
    bool operator==(const StageResult&) const = default;
};

class StreamedCheckStage : public CheckStage {
protected:
    StageResult collect(const RecordingReporter& r)
    {
        StageResult result{std::nullopt, std::nullopt, r.logLines, r.statusHistory};
        if (exists(catalog))
            result.catalogue = readFile(catalog);
        if (exists(dir.file("catalog_2024.err")))
            result.rejects = readFile(dir.file("catalog_2024.err"));
        ::unlink(catalog.c_str());
        ::unlink(dir.file("catalog_2024.err").c_str());
        return result;
    }
    StageResult fromFile(const std::string& text, bool twoLine)
    {
        writeFile(catalog, text);
        RecordingReporter r;
        CheckCatalog(catalog, twoLine, r);
        return collect(r);
    }
    // Unpacks `archive` (ZIP or gzip by its name) with the check on the way.
    StageResult streamed(const std::string& archive, bool twoLine, bool* checked = nullptr, GrowthCap cap = {})
    {
        StreamedCheck check(catalog, twoLine, cap);
        if (archive.ends_with(".zip")) {
            ZipArchive zip;
            zip.open(archive);
            zip.extractOne("*.txt", catalog, &check.member());
        } else {
            GzipFile gz;
            gz.open(archive);
            gz.extractOne("*.txt", catalog, &check.member());
        }
        RecordingReporter r;
        if (checked)
            *checked = check.checked();
        if (check.checked())
            check.finish(r);
        return collect(r);
    }
    TempDir archives;
};

TEST_F(StreamedCheckStage, GivesWhatTheCheckOfTheWrittenTextGives)
{
    std::string many;
    for (int i = 0; i < 9000; ++i) // parts of every size end inside records
        many += (i % 7 == 0 ? "\r" : "") + std::string("OBJECT ") + std::to_string(i) + "\n" + kIssLine1
            + (i % 11 == 0 ? " MORE" : "") + "\r\n" + (i % 17 == 3 ? put(kIssLine2, 9, "999.0000") : kIssLine2) + "\n";
    const std::vector<std::pair<std::string, bool>> cases = {
        {"# header\nsecond header line\n" + kIssLine1 + "\n" + kIssLine2 + "\n", true},
        {"\r\r# header after CRs\nsecond\n" + kIssLine1 + "\n" + kIssLine2 + "\n", true},
        {"\r\n" + kIssLine1 + "\n" + kIssLine2 + "\n", true}, // an empty first line is data
        {kIssLine1 + "\n" + kIssLine2 + "\n" + kIssLine1 + "\n", true},
        {"", true},
        {"#", false},
        {many, false},
    };
    for (const auto& [text, twoLine] : cases) {
        const StageResult expected = fromFile(text, twoLine);
        const std::string zip = archives.file("catalog_2024.zip");
        const std::string gz = archives.file("catalog_2024.txt.gz");
        makeZip(zip, {{"catalog_2024.txt", text}});
        makeGzip(gz, text);
        bool checked = false;
        EXPECT_TRUE(streamed(zip, twoLine, &checked) == expected) << text.substr(0, 40);
        EXPECT_TRUE(checked);
        EXPECT_TRUE(streamed(gz, twoLine) == expected) << text.substr(0, 40);
        EXPECT_EQ(listDirectory(dir.path()), std::vector<std::string>{}) << "no work file is left";
    }
}

TEST_F(StreamedCheckStage, ADamagedTextLeavesNothingAndReportsNothing)
{
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += kIssLine1 + "\n" + kIssLine2 + "\n";
    const std::string gz = archives.file("catalog_2024.txt.gz");
    makeGzip(gz, text);
    std::string bytes = readFile(gz);
    bytes[bytes.size() - 8] ^= 0x01; // the CRC: known bad only at the very end
    writeFile(gz, bytes);
    bool checked = true;
    const StageResult result = streamed(gz, true, &checked);
    EXPECT_FALSE(checked);
    EXPECT_FALSE(result.catalogue);
    EXPECT_TRUE(result.log.empty());
    EXPECT_TRUE(result.status.empty());
    EXPECT_EQ(listDirectory(dir.path()), std::vector<std::string>{}) << "neither records nor rejects";
}

TEST_F(StreamedCheckStage, RecordsOutgrowingFourTimesTheTextStopTheStage)
{
    // Three-line objects with short names and LF line ends: records a fifth larger
    // than their text (336,000 bytes of them).
    std::string catalogue;
    for (int i = 0; i < 2000; ++i)
        catalogue += "X\n" + kIssLine1 + "\n" + kIssLine2 + "\n";
    const std::string bareLineEnds(40000, '\n');
    // Four times the text alone, and that within a ceiling below the catalogue's records.
    const GrowthCap fourTimes{.floor = 0, .ceiling = 1 << 20};
    const GrowthCap lowCeiling{.floor = 0, .ceiling = 300000};
    const struct {
        std::string text;
        bool twoLine;
        bool refused;
        GrowthCap cap;
    } cases[] = {
        {bareLineEnds, true, true, fourTimes},
        {bareLineEnds, false, true, fourTimes},
        {catalogue + bareLineEnds, false, true, fourTimes},
        {catalogue, false, false, fourTimes},
        {"1\n2\n", true, false, fourTimes}, // one record always: the stage's rules give it
        {catalogue, false, true, lowCeiling},
        // The usual floor: the 2.8 MB of rejects of a small text of line ends are allowed.
        {bareLineEnds, true, false, {}},
    };
    for (const auto& c : cases) {
        writeFile(catalog, c.text);
        RecordingReporter r;
        if (c.refused) {
            EXPECT_THROW(CheckCatalog(catalog, c.twoLine, r, c.cap), CatalogueTooLarge);
            EXPECT_TRUE(readFile(catalog) == c.text);
            EXPECT_EQ(listDirectory(dir.path()), std::vector<std::string>{"catalog_2024.txt"});
        } else {
            EXPECT_NO_THROW(CheckCatalog(catalog, c.twoLine, r, c.cap));
        }
        ::unlink(catalog.c_str());
        ::unlink(dir.file("catalog_2024.err").c_str());

        // Checked while unpacked: the same, though the text is never written. A gzip
        // file whose last member is empty announces no size at all: the bytes
        // unpacked so far count then.
        const std::string zip = archives.file("catalog_2024.zip");
        const std::string gz = archives.file("catalog_2024.txt.gz");
        makeZip(zip, {{"catalog_2024.txt", c.text}});
        writeFile(gz, gzipMemberWithAllFields(c.text) + gzipMemberWithAllFields(""));
        for (const std::string& archive : {zip, gz}) {
            if (c.refused)
                EXPECT_THROW(streamed(archive, c.twoLine, nullptr, c.cap), CatalogueTooLarge) << archive;
            else
                EXPECT_NO_THROW(streamed(archive, c.twoLine, nullptr, c.cap)) << archive;
            collect(r);
            EXPECT_EQ(listDirectory(dir.path()), std::vector<std::string>{}) << archive;
        }
    }
}

TEST_F(StreamedCheckStage, AFailureOfTheCheckComesOutOfFinishAfterItsLines)
{
    makeZip(archives.file("catalog_2024.zip"), {{"catalog_2024.txt", kIssLine1 + "\n" + kIssLine2 + "\n"}});
    // The rejects' file cannot be made: a folder has its name.
    ASSERT_EQ(::mkdir(dir.file("catalog_2024.err").c_str(), 0755), 0);
    StreamedCheck check(catalog, true);
    ZipArchive zip;
    zip.open(archives.file("catalog_2024.zip"));
    zip.extract("*.txt", dir.path(), &check.member());
    ASSERT_TRUE(check.checked());
    RecordingReporter r;
    EXPECT_THROW(check.finish(r), IoError);
    EXPECT_EQ(r.statusHistory, std::vector<std::string>{"Checking TLE data (2)"});
    EXPECT_FALSE(exists(catalog + ".tmp"));
    EXPECT_FALSE(exists(catalog));
}

} // namespace
