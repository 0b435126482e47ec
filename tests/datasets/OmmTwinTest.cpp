// OMM twins of the data sets. Every object of a generated catalogue, and the real-style
// samples, are read back by python-sgp4's own OMM readers and compared with what its
// TLE reader makes of the same element set; unit cases only for what that cannot reach.
#include "DataSetWorld.h"
#include "ProgramRun.h"
#include "Publisher.h"
#include "QtCoreApp.h"
#include "SmallDisk.h"
#include "TleSamples.h"

#include "datasets/OmmWriter.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace qm;
using namespace qm::test;

namespace {

struct FormatCase {
    OmmFormat format;
    const char* kind;
    const char* extension;
};
const FormatCase kFormats[]
    = {{OmmFormat::Xml, "xml", ".xml"}, {OmmFormat::Csv, "csv", ".csv"}, {OmmFormat::Json, "json", ".json"}};

// Debian's interpreter, which sees python3-sgp4.
const std::string kPython = "/usr/bin/python3";

// Runs the read-back on (data set, twin) pairs; its output names each difference.
ProgramOutcome readBack(const TempDir& dir, const char* kind, const std::vector<std::string>& pairs)
{
    std::vector<std::string> arguments{QM_OMM_READBACK, kind};
    arguments.insert(arguments.end(), pairs.begin(), pairs.end());
    return runProgram(kPython, arguments, dir.path(), {"PATH=/usr/bin:/bin"});
}

std::string record(std::string name, const std::string& line1, const std::string& line2)
{
    name.resize(24, ' ');
    return name + "\r\n" + line1 + "\r\n" + line2 + "\r\n";
}

} // namespace

TEST(OmmFields, ConversionsTheReaderCannotCheck)
{
    using Append = void (*)(std::string&, std::string_view);
    const std::string epoch57 = put(kIssLine1, 19, "57001.00000000");
    const std::string epoch56 = put(kIssLine1, 19, "56366.99999999");
    const std::string day0 = put(kIssLine1, 19, "24000.50000000");
    const struct {
        Append append;
        std::string_view in;
        std::string_view out;
    } cases[] = {
        {appendObjectId, "        ", "UNKNOWN"},
        {appendObjectId, "57001A  ", "1957-001A"},
        {appendObjectId, "56999ZZZ", "2056-999ZZZ"},
        {appendObjectId, " 8067A  ", "8067A"},
        {appendEpoch, epoch57, "1957-01-01T00:00:00.000000"},
        {appendEpoch, epoch56, "2056-12-31T23:59:59.999136"}, // a leap year's day 366
        {appendEpoch, day0, "2023-12-31T12:00:00.000000"},
        {appendExponentField, "-11606-4", "-0.000011606"},
        {appendExponentField, " 12345+1", "1.2345"},
        {appendExponentField, " 5    -9", "0.00000000050000"},
        // Line 2 fields may hold what the check's decimal reader takes, which the TLE
        // reader of python-sgp4 does not.
        {appendPlainDecimal, "+1.5E-3 ", "0.0015"},
        {appendPlainDecimal, " 007.", "7"},
        {appendPlainDecimal, "1e-99999999", "1e-99999999"},
        {appendPlainDecimal, "0.0e99999", "0"},
        {appendPlainDecimal, "1.2.3", ""},
        {appendWholeNumber, "  0 9", "9"},
        {appendWholeNumber, "    0", "0"},
    };
    for (const auto& c : cases) {
        std::string out = "=";
        c.append(out, c.in);
        EXPECT_EQ(out, "=" + std::string(c.out)) << c.in;
    }
    EXPECT_EQ(ommCreationDate(std::chrono::sys_days{std::chrono::year{2024} / 2 / 29} + std::chrono::seconds{45296}),
        "2024-02-29T12:34:56");
    EXPECT_EQ(ommFormatFromItem(3), OmmFormat::Json);
    EXPECT_EQ(ommFormatFromItem(4), OmmFormat::None);
    EXPECT_EQ(ommFormatFromItem(-1), OmmFormat::None);
}

TEST(OmmWriter, WholeDocumentsWithNamesThatNeedEscaping)
{
    // "&", "<", a comma, quotes and a Latin-1 letter in a name; a blank designator; a
    // comma without a quote and a mean motion that is no number; a tab, and the last
    // control byte, in a name.
    const std::string records = record("A&B <C>, \"D\" \xE9", kIssLine1, kIssLine2)
        + record("NOAA 18", put(kNoaaLine1, 10, "        "), kNoaaLine2)
        + record("X, Y", kIssLine1, put(kIssLine2, 53, "           ")) + record("TAB\tX", kIssLine1, kIssLine2)
        + record("UNIT\x1FSEP", kIssLine1, kIssLine2);
    const std::vector<std::string> iss = {"", "1998-067A", "EARTH", "TEME", "UTC", "SGP4", "2008-09-20T12:25:40.104192",
        "15.72125391", "0.0006703", "51.6416", "247.4627", "130.5360", "325.0288", "0", "U", "25544", "292", "56353",
        "-0.000011606", "-0.00002182", "0.00000"};
    std::vector<std::string> noMeanMotion = iss;
    noMeanMotion[7] = "";
    const std::vector<std::string> values[] = {iss,
        {"", "UNKNOWN", "EARTH", "TEME", "UTC", "SGP4", "2024-04-09T12:00:00.000000", "14.12800000", "0.0013800",
            "99.0500", "150.1234", "200.5000", "159.5000", "0", "U", "28654", "999", "97000", "0.000075000",
            "0.00000100", "0.00000"},
        noMeanMotion, iss, iss};
    // Each name as XML, CSV and JSON write it, in UTF-8.
    const std::string names[][3] = {
        {"A&amp;B &lt;C&gt;, \"D\" \xC3\xA9", "\"A&B <C>, \"\"D\"\" \xC3\xA9\"", "\"A&B <C>, \\\"D\\\" \xC3\xA9\""},
        {"NOAA 18", "NOAA 18", "\"NOAA 18\""},
        {"X, Y", "\"X, Y\"", "\"X, Y\""},
        {"TAB&#9;X", "\"TAB\tX\"", "\"TAB\\u0009X\""},
        {"UNIT\xEF\xBF\xBDSEP", "\"UNIT\x1FSEP\"", "\"UNIT\\u001fSEP\""},
    };

    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ndm>\n";
    std::string csv = "OBJECT_NAME,OBJECT_ID,CENTER_NAME,REF_FRAME,TIME_SYSTEM,MEAN_ELEMENT_THEORY,EPOCH,MEAN_MOTION,"
                      "ECCENTRICITY,INCLINATION,RA_OF_ASC_NODE,ARG_OF_PERICENTER,MEAN_ANOMALY,EPHEMERIS_TYPE,"
                      "CLASSIFICATION_TYPE,NORAD_CAT_ID,ELEMENT_SET_NO,REV_AT_EPOCH,BSTAR,MEAN_MOTION_DOT,"
                      "MEAN_MOTION_DDOT\r\n";
    std::string json = "[";
    for (std::size_t k = 0; k < std::size(values); ++k) {
        xml += "<omm id=\"CCSDS_OMM_VERS\" version=\"2.0\">\n<header><CREATION_DATE>2024-12-31T23:59:59</CREATION_DATE>"
               "<ORIGINATOR>Skarvelin Quillmaren</ORIGINATOR></header>\n<body><segment><metadata>";
        json += k == 0 ? "\n{" : ",\n{";
        for (std::size_t f = 0; f < kOmmFieldCount; ++f) {
            const std::string key(kOmmFields[f].key);
            const std::string& value = values[k][f];
            xml += std::string(f == 6 ? "</metadata><data><meanElements>"
                           : f == 13  ? "</meanElements><tleParameters>"
                                      : "")
                + "<" + key + ">" + (f == 0 ? names[k][0] : value) + "</" + key + ">";
            csv += (f == 0 ? "" : ",") + (f == 0 ? names[k][1] : value);
            json += (f == 0 ? "\"" : ",\"") + key + "\":"
                + (f == 0                       ? names[k][2]
                        : !kOmmFields[f].number ? "\"" + value + "\""
                        : value.empty()         ? "null"
                                                : value);
        }
        xml += "</tleParameters></data></segment></body>\n</omm>\n";
        csv += "\r\n";
        json += "}";
    }
    const std::string expected[] = {xml + "</ndm>\n", csv, json + "\n]\n"};

    TempDir dir;
    for (std::size_t i = 0; i < std::size(kFormats); ++i) {
        const std::string path = dir.file(std::string("twin") + kFormats[i].extension);
        OmmWriter writer(kFormats[i].format, path, "2024-12-31T23:59:59");
        writer.add(records.data(), 1);
        writer.add(records.data() + 168, std::size(values) - 1);
        writer.close();
        EXPECT_FALSE(exists(path)) << "in place only when committed";
        writer.commit();
        EXPECT_EQ(readFile(path), expected[i]) << kFormats[i].kind;
    }
}

TEST(OmmWriter, OnAFullDiskNeitherTheDataSetNorItsTwinReplacesTheOlderOnes)
{
    SmallDisk disk;
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    std::vector<CatalogueObject> objects;
    for (int n = 1; n <= 40; ++n)
        objects.push_back({n, "OBJECT " + std::to_string(n)});
    DataSetWorld w(false, objects);
    w.ctx.Omm = OmmFormat::Xml;
    w.ctx.MyTLEsDir = disk.path();
    ::mkdir(disk.file("Vantoreal").c_str(), 0777);
    writeFile(disk.file("Vantoreal/catalog.txt"), "previous data set");
    writeFile(disk.file("Vantoreal/catalog.xml"), "previous twin");
    // Room for the data set (40 records), not for its twin, which meets the full disk
    // only when it is closed.
    disk.leaveFree(16 << 10);

    try {
        w.writer.BuildComprehensiveDataSet();
        ADD_FAILURE() << "no error";
    } catch (const IoError& e) {
        EXPECT_EQ(std::string(e.what()),
            "Unable to write to " + disk.file("Vantoreal/catalog.xml") + ": No space left on device");
    }
    EXPECT_EQ(readFile(disk.file("Vantoreal/catalog.txt")), "previous data set");
    EXPECT_EQ(readFile(disk.file("Vantoreal/catalog.xml")), "previous twin");
    EXPECT_TRUE(w.leftovers(disk.file("Vantoreal/")).empty());
}

TEST(OmmWriter, AUserSetWithANameAtTheFileSystemsLimitGetsItsTwin)
{
    // The temporaries of so long a data set and its twin are shortened to one stem:
    // neither may be taken for a leftover of the other.
    DataSetWorld w(false, {{5, "VANGUARD 1"}});
    w.ctx.Omm = OmmFormat::Csv;
    const std::string name(245, 'q');
    writeFile(w.user(name + ".query"), "    5\r\n");

    w.writer.BuildUserDataSets();

    EXPECT_EQ(readFile(w.user(name + ".txt")), dataSetRecord("VANGUARD 1", 5));
    const std::string twin = readFile(w.user(name + ".csv"));
    EXPECT_TRUE(twin.starts_with("OBJECT_NAME,") && twin.find("\r\nVANGUARD 1,") != std::string::npos) << twin;
    EXPECT_TRUE(w.leftovers(w.user("")).empty());
}

class OmmTwins : public ::testing::TestWithParam<FormatCase> {
protected:
    void SetUp() override { coreApplication(); }
};

// Every object of a generated 10,000-object catalogue, letter-form numbers included,
// through the comprehensive data set (three-line: the copied pass).
TEST_P(OmmTwins, EveryGeneratedObjectReadsBackAsItsElementSet)
{
    TempDir generated;
    const ProgramOutcome gen = runProgram(
        kPython, {QM_GEN_CATALOGUE, "10000", generated.path(), "--alpha5"}, generated.path(), {"PATH=/usr/bin:/bin"});
    ASSERT_EQ(gen.status, 0) << gen.err;
    DataSetWorld w(false, readFile(generated.file("catalog_3l.txt")));
    w.ctx.Omm = GetParam().format;
    w.writer.BuildComprehensiveDataSet();

    const ProgramOutcome run = readBack(w.dir, GetParam().kind,
        {w.vantoreal("catalog.txt"), w.vantoreal(std::string("catalog") + GetParam().extension)});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_GT(std::stoi(run.out.substr(run.out.rfind("compared ") + 9)), 9900) << run.out;
    EXPECT_EQ(w.reporter.statusHistory,
        (std::vector<std::string>{"Generating catalog.txt", std::string("Generating catalog") + GetParam().extension}));
}

// The real-style samples, one without designator and one of ephemeris type 4, in both
// forms, through a user data set (the picked pass), a named data set whose list cannot
// be fetched (no twin, the older one kept) and the two-line comprehensive pass.
TEST_P(OmmTwins, SamplesInBothFormsAndOnlyBesideWrittenDataSets)
{
    const std::string ext = GetParam().extension;
    const std::string noaa1 = withChecksum(put(kNoaaLine1, 10, "        "));
    const std::string alpha1 = withChecksum(put(kAlphaLine1, 63, "4"));
    const std::string pairs = pairOf(kIssLine1, kIssLine2) + pairOf(noaa1, kNoaaLine2) + pairOf(alpha1, kAlphaLine2);
    DataSetWorld three(false,
        "ISS (ZARYA)\n" + pairOf(kIssLine1, kIssLine2) + "A&B <C>, \"D\" \xE9\n" + pairOf(noaa1, kNoaaLine2) + "T0123\n"
            + pairOf(alpha1, kAlphaLine2));
    DataSetWorld two(true, pairs);
    std::vector<std::string> compared;
    // Twins of every format from an earlier setting, a file of another kind and a link
    // to a twin elsewhere: the other formats' twins go, the link and not its file.
    writeFile(three.dir.file("elsewhere.csv"), "kept");
    for (const FormatCase& other : kFormats)
        writeFile(three.vantoreal(std::string("catalog") + other.extension), "stale");
    writeFile(three.vantoreal("catalog.tle"), "kept");
    ::symlink(three.dir.file("elsewhere.csv").c_str(), three.user("picked.csv").c_str());
    for (DataSetWorld* w : {&three, &two}) {
        w->ctx.Omm = GetParam().format;
        writeFile(w->user("picked.query"), "T0123\r\n25544\r\n28654\r\n25544\r\n");
        w->writer.BuildUserDataSets();
        w->writer.BuildComprehensiveDataSet();
        for (const std::string& base : {w->user("picked"), w->vantoreal("catalog")})
            compared.insert(compared.end(), {base + ".txt", base + ext});
        EXPECT_TRUE(w->leftovers(w->user("")).empty());
    }
    const ProgramOutcome run = readBack(three.dir, GetParam().kind, compared);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, "compared 14 objects\n");
    const bool csv = GetParam().format == OmmFormat::Csv;
    for (const FormatCase& other : kFormats)
        EXPECT_EQ(exists(three.vantoreal(std::string("catalog") + other.extension)), other.format == GetParam().format);
    EXPECT_EQ(exists(three.user("picked.csv")), csv);
    EXPECT_EQ(readFile(three.dir.file("elsewhere.csv")) == "kept", !csv) << "a CSV twin is written through the link";
    EXPECT_EQ(readFile(three.vantoreal("catalog.tle")), "kept");
    // With "None" no twin stays.
    three.ctx.Omm = OmmFormat::None;
    three.writer.BuildComprehensiveDataSet();
    EXPECT_FALSE(exists(three.vantoreal("catalog" + ext)));

    Publisher publisher;
    publisher.reply(404, "Not Found");
    writeFile(three.vantoreal("weather" + ext), "last run's twin");
    three.writer.BuildDataSet("weather");
    EXPECT_EQ(readFile(three.vantoreal("weather" + ext)), "last run's twin");
    EXPECT_FALSE(three.reporter.logged("Generating weather" + ext));
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, OmmTwins, ::testing::ValuesIn(kFormats), [](const auto& p) { return std::string(p.param.kind); });
