#include "platform/Errors.h"
#include "platform/File.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace qm;
using qm::test::TempDir;

TEST(RecordFile, WritesByPositionAndFillsGapsWithZeros)
{
    TempDir dir;
    RecordFile f(dir.file("r.dat"), File::Mode::Create, 4);
    const char rec[4] = {'a', 'b', 'c', 'd'};
    f.write(3, rec);
    EXPECT_EQ(f.count(), 4u);
    char back[4];
    f.read(3, back);
    EXPECT_EQ(std::string(back, 4), "abcd");
    f.read(1, back);
    EXPECT_EQ(std::string(back, 4), std::string(4, '\0'));
    f.close();
    // A trailing part-record is not a record.
    qm::test::writeFile(dir.file("p.dat"), "abcdefg");
    RecordFile p(dir.file("p.dat"), File::Mode::Read, 4);
    EXPECT_EQ(p.count(), 1u);
    EXPECT_THROW(p.read(1, back), IoError);
}

TEST(File, FailuresCarryThePathAndReason)
{
    TempDir dir;
    try {
        File f(dir.file("missing"), File::Mode::Read);
        FAIL() << "opened a missing file";
    } catch (const IoError& e) {
        EXPECT_NE(std::string(e.what()).find(dir.file("missing")), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos);
    }
}

TEST(BufferedIo, RoundTripsMoreThanOneBuffer)
{
    TempDir dir;
    std::string data;
    for (int i = 0; i < 200000; ++i)
        data.push_back(static_cast<char>('A' + i % 26));
    BufferedWriter w(dir.file("big"));
    w.write(data.substr(0, 5));
    w.write(data.substr(5, 100000));
    for (char c : data.substr(100005))
        w.put(c);
    w.close();
    EXPECT_EQ(qm::test::readFile(dir.file("big")), data);

    BufferedReader r(dir.file("big"));
    std::string back;
    int c;
    while ((c = r.get()) >= 0)
        back.push_back(static_cast<char>(c));
    EXPECT_EQ(back, data);
    r.rewind();
    EXPECT_EQ(r.peek(), 'A');
}

TEST(ReplacingFile, KeepsTheOldFileUntilCommitted)
{
    TempDir dir;
    const std::string target = dir.file("set.txt");
    qm::test::writeFile(target, "old");
    {
        ReplacingFile rf(target);
        BufferedWriter w(rf.tempPath());
        w.write("new but abandoned");
        w.close();
        // Destroyed without commit: the old file stays and no temporary remains.
    }
    EXPECT_EQ(qm::test::readFile(target), "old");
    EXPECT_EQ(listDirectory(dir.path()).size(), 1u);
    {
        ReplacingFile rf(target);
        BufferedWriter w(rf.tempPath());
        w.write("new");
        w.close();
        rf.commit();
    }
    EXPECT_EQ(qm::test::readFile(target), "new");
    EXPECT_EQ(listDirectory(dir.path()).size(), 1u);
}
