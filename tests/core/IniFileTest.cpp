#include "core/IniFile.h"
#include "platform/Errors.h"

#include "TempDir.h"
#include "Unprivileged.h"

#include <QString>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using qm::IniFile;
using qm::parseIniInteger;
using qm::test::readFile;
using qm::test::TempDir;
using qm::test::writeFile;

TEST(IniInteger, DecimalHexAndRejects)
{
    EXPECT_EQ(parseIniInteger("42"), 42);
    EXPECT_EQ(parseIniInteger("-7"), -7);
    EXPECT_EQ(parseIniInteger("+7"), 7);
    EXPECT_EQ(parseIniInteger("0x1E"), 30);
    EXPECT_EQ(parseIniInteger("0X1e"), 30);
    EXPECT_EQ(parseIniInteger("$1f"), 31);
    EXPECT_EQ(parseIniInteger("-$10"), -16);
    EXPECT_EQ(parseIniInteger("$FFFFFFFF"), -1);
    EXPECT_EQ(parseIniInteger("0x"), std::nullopt); // "0x" alone is not hexadecimal, nor a number
    EXPECT_EQ(parseIniInteger("$"), std::nullopt);
    EXPECT_EQ(parseIniInteger("yes"), std::nullopt);
    EXPECT_EQ(parseIniInteger("12abc"), std::nullopt);
    EXPECT_EQ(parseIniInteger(""), std::nullopt);
    EXPECT_EQ(parseIniInteger("2147483648"), std::nullopt);
    EXPECT_EQ(parseIniInteger("$100000000"), std::nullopt);
}

TEST(IniFile, ReadsValuesByTheRules)
{
    TempDir dir;
    const std::string path = dir.file("q.ini");
    writeFile(path,
        "[Debugging]\r\n"
        "Debug On = 0x1 \r\n"
        "Stop On Errors=yes\r\n"
        "Flag=2\r\n"
        "[Skarvelin Account Info]\r\n"
        "Username=  \"a b\"  \r\n"
        "Password='x'\r\n"
        "Odd=\"unbalanced'\r\n"
        "[Initialization]\r\n"
        "Internet Timeout=$1E\r\n");
    IniFile ini(path);
    EXPECT_TRUE(ini.readBool("debugging", "DEBUG ON", false));
    EXPECT_FALSE(ini.readBool("Debugging", "Stop On Errors", false)) << "a non-numeric value takes the default";
    EXPECT_TRUE(ini.readBool("Debugging", "Stop On Errors", true));
    EXPECT_TRUE(ini.readBool("Debugging", "Flag", false));
    EXPECT_EQ(ini.readString("Skarvelin Account Info", "Username", "-"), "a b");
    EXPECT_EQ(ini.readString("Skarvelin Account Info", "Password", "-"), "x");
    EXPECT_EQ(ini.readString("Skarvelin Account Info", "Odd", "-"), "\"unbalanced'");
    EXPECT_EQ(ini.readInteger("Initialization", "Internet Timeout", 60), 30);
    EXPECT_EQ(ini.readInteger("Initialization", "Missing", 60), 60);
    EXPECT_EQ(ini.readString("Nowhere", "Username", "dflt"), "dflt");
    EXPECT_TRUE(ini.sectionExists("INITIALIZATION"));
    EXPECT_FALSE(ini.sectionExists("Proxy Initialization"));
}

TEST(IniFile, ReadsAtMost2047Characters)
{
    TempDir dir;
    const std::string path = dir.file("q.ini");
    writeFile(path, "[S]\nK=" + std::string(3000, 'v') + "\n");
    EXPECT_EQ(IniFile(path).readString("S", "K", "").size(), 2047u);
}

TEST(IniFile, MissingFileReadsDefaultsAndDeleteCreatesNothing)
{
    TempDir dir;
    IniFile ini(dir.file("none.ini"));
    EXPECT_EQ(ini.readInteger("Initialization", "Left Corner", 10), 10);
    EXPECT_TRUE(ini.readBool("Debugging", "Stop On Errors", true));
    ini.deleteKey("Debugging", "GZIP Files");
    EXPECT_FALSE(qm::test::exists(ini.path()));
}

TEST(IniFile, WritesKeyByKeyInPlace)
{
    TempDir dir;
    const std::string path = dir.file("q.ini");
    writeFile(path, "[A]\nx=1\n\n[B]\ny=2\n");
    IniFile ini(path);
    ini.writeInteger("a", "X", 5); // existing key: replaced where it stands
    ini.writeString("A", "new", "v"); // new key: end of its section, above the blank line
    ini.writeBool("C", "flag", true); // new section: end of the file
    ini.deleteKey("B", "y");
    EXPECT_EQ(readFile(path), "[A]\nX=5\nnew=v\n\n[B]\n[C]\nflag=1\n");

    struct stat info { };
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the file may hold passwords";
}

TEST(IniFile, KeepsCrLfFilesAndCutsLineBreaksFromValues)
{
    TempDir dir;
    const std::string path = dir.file("q.ini");
    writeFile(path, "[A]\r\nx=1\r\n");
    IniFile ini(path);
    ini.writeString("A", "Username", "joe\n[Debugging]\nDebug On=1");
    EXPECT_EQ(readFile(path), "[A]\r\nx=1\r\nUsername=joe\r\n");
    EXPECT_FALSE(ini.sectionExists("Debugging"));
}

TEST(IniFile, LinesKeepTheirOwnEndsWhenAnotherKeyIsWritten)
{
    // Mixed line ends, and a value that ends in a stray CR of its own.
    TempDir dir;
    const std::string path = dir.file("q.ini");
    writeFile(path, "[A]\nx=1\r\ny=2\r\r\n");
    IniFile ini(path);
    EXPECT_EQ(ini.read("A", "y"), "2\r");
    ini.writeString("A", "z", "3");
    EXPECT_EQ(readFile(path), "[A]\nx=1\r\ny=2\r\r\nz=3\n");
    EXPECT_EQ(IniFile(path).read("A", "y"), "2\r");
    ini.writeString("A", "x", "4");
    EXPECT_EQ(readFile(path), "[A]\nx=4\r\ny=2\r\r\nz=3\n");
}

TEST(IniFile, FirstWriteCreatesTheFile)
{
    TempDir dir;
    IniFile ini(dir.file("new.ini"));
    ini.writeInteger("Initialization", "Left Corner", -20);
    EXPECT_EQ(readFile(ini.path()), "[Initialization]\nLeft Corner=-20\n");
    EXPECT_EQ(ini.readInteger("Initialization", "Left Corner", 10), -20);
}

TEST(IniFile, FailedWriteReportsThePath)
{
    TempDir dir;
    // A folder that cannot exist, whoever runs the test.
    writeFile(dir.file("plain"), "");
    IniFile lost(dir.file("plain/q.ini"));
    try {
        lost.writeInteger("S", "K", 1);
        FAIL() << "write succeeded";
    } catch (const qm::IoError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + dir.file("plain/q.ini"));
    }
}

TEST(IniFile, ReadOnlyFolder)
{
    TempDir dir;
    qm::test::openUpForOthers(dir.path());
    const std::string folder = dir.file("ro");
    ::mkdir(folder.c_str(), 0755);
    writeFile(folder + "/old.ini", "[S]\nK=1\n");
    writeFile(folder + "/locked.ini", "[S]\nK=1\n");
    ::chmod((folder + "/old.ini").c_str(), 0666);
    ::chmod((folder + "/locked.ini").c_str(), 0444);
    ::chmod(folder.c_str(), 0555);

    const std::string failure = qm::test::runUnprivileged([&]() -> std::string {
        try {
            IniFile(folder + "/new.ini").writeInteger("S", "K", 2);
            return "a new file was written into a read-only folder";
        } catch (const qm::IoError& e) {
            if (std::string(e.what()) != "Unable to write to " + folder + "/new.ini")
                return std::string("unexpected message: ") + e.what();
        }
        try {
            IniFile(folder + "/locked.ini").writeInteger("S", "K", 2);
            return "a read-only file was written";
        } catch (const qm::IoError&) {
        }
        // A writable file in a read-only folder is still written, in place.
        try {
            IniFile(folder + "/old.ini").writeInteger("S", "K", 2);
        } catch (const std::exception& e) {
            return std::string("writable file refused: ") + e.what();
        }
        return {};
    });
    EXPECT_EQ(failure, "");
    EXPECT_EQ(readFile(folder + "/locked.ini"), "[S]\nK=1\n");
    EXPECT_EQ(readFile(folder + "/old.ini"), "[S]\nK=2\n");
    EXPECT_FALSE(qm::test::exists(folder + "/new.ini"));
}

TEST(IniFile, WritesThroughASymbolicLink)
{
    TempDir dir;
    writeFile(dir.file("real.ini"), "[S]\nK=1\n");
    ASSERT_EQ(::symlink(dir.file("real.ini").c_str(), dir.file("link.ini").c_str()), 0);
    IniFile(dir.file("link.ini")).writeInteger("S", "K", 2);
    EXPECT_EQ(readFile(dir.file("real.ini")), "[S]\nK=2\n");
    struct stat info { };
    ASSERT_EQ(::lstat(dir.file("link.ini").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
}

// Whatever the file holds, a written key reads back as written and no other key moves.
TEST(IniFile, RandomFilesKeepEveryOtherKey)
{
    TempDir dir;
    const std::string path = dir.file("r.ini");
    std::mt19937 rng(20071015);
    const std::string alphabet = "[]=ab \t\"'\r\n;xS0";
    const std::vector<std::pair<std::string, std::string>> probes
        = {{"S", "a"}, {"s", "b"}, {"ab", "x"}, {"x", "S"}, {"a b", "0"}};
    for (int round = 0; round < 300; ++round) {
        std::string text(rng() % 200, '\0');
        for (char& c : text)
            c = round % 5 == 0 ? static_cast<char>(rng()) : alphabet[rng() % alphabet.size()];
        writeFile(path, text);
        IniFile ini(path);
        const auto& [section, key] = probes[rng() % probes.size()];
        std::vector<std::optional<std::string>> before;
        for (const auto& [s, k] : probes)
            before.push_back(ini.read(s, k));

        const std::string value = "v" + std::to_string(round);
        ini.writeString(section, key, value);
        // Read back through a fresh object, so the check goes through the file.
        EXPECT_EQ(IniFile(path).read(section, key), value) << "round " << round;
        for (std::size_t i = 0; i < probes.size(); ++i) {
            const bool same
                = QString::fromStdString(probes[i].first).compare(QString::fromStdString(section), Qt::CaseInsensitive)
                    == 0
                && QString::fromStdString(probes[i].second).compare(QString::fromStdString(key), Qt::CaseInsensitive)
                    == 0;
            if (!same) {
                EXPECT_EQ(IniFile(path).read(probes[i].first, probes[i].second), before[i]) << "round " << round;
            }
        }
        ini.deleteKey(section, key);
        EXPECT_EQ(IniFile(path).read(section, key), std::nullopt) << "round " << round;
    }
}
