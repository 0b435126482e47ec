#include "platform/File.h"
#include "platform/Errors.h"

#include "TempDir.h"

#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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
    EXPECT_EQ(r.peek(), -1);
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

// Open handles of this process on files that are gone from `folder`.
int deletedFilesHeldIn(const std::string& folder)
{
    int held = 0;
    for (const std::string& fd : listDirectory("/proc/self/fd/")) {
        char target[4096];
        const ssize_t n = ::readlink(("/proc/self/fd/" + fd).c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        const std::string link(target, static_cast<std::size_t>(n));
        held += link.starts_with(folder) && link.ends_with(" (deleted)");
    }
    return held;
}

TEST(ReplacingFile, ALargeReplacedFileIsLetGoOfAfterTheCommit)
{
    TempDir dir;
    const std::string target = dir.file("catalog.txt");
    for (ReplacingFile::Kind kind : {ReplacingFile::Kind::Output, ReplacingFile::Kind::WorkFile}) {
        qm::test::writeFile(target, std::string(3 << 20, 'o'));
        ReplacingFile rf(target, kind);
        BufferedWriter w(rf.tempPath());
        w.write("new");
        w.close();
        rf.commit();
        EXPECT_EQ(qm::test::readFile(target), "new");
        // Released by a helper: give it a moment, but it must not stay open.
        for (int i = 0; i < 200 && deletedFilesHeldIn(dir.path()) > 0; ++i)
            ::usleep(10000);
        EXPECT_EQ(deletedFilesHeldIn(dir.path()), 0);
    }
}

TEST(ReplacingFile, APipeUnderTheFinalNameIsReplacedWithoutWaitingForAWriter)
{
    TempDir dir;
    const std::string target = dir.file("catalog.txt");
    ASSERT_EQ(::mkfifo(target.c_str(), 0644), 0);
    ReplacingFile rf(target);
    BufferedWriter w(rf.tempPath());
    w.write("new");
    w.close();
    rf.commit(); // would hang on opening the pipe for reading
    EXPECT_EQ(qm::test::readFile(target), "new");
}

TEST(ReplacingFile, RemovesTemporariesThatACrashLeftAndTheirOwn)
{
    TempDir dir;
    const std::string target = dir.file("set.zip");
    // A writer that writes its temporary through a ReplacingFile of its own leaves both.
    for (const char* name : {"set.zip", ".set.zip.0badc0de.part", "..set.zip.0badc0de.part.12345678.part",
             ".set.zip.notmine.part", ".other.zip.0badc0de.part", "..other.zip.0badc0de.part.12345678.part"})
        qm::test::writeFile(dir.file(name), "x");
    ReplacingFile(target).removeLeftovers();
    std::vector<std::string> left = listDirectory(dir.path());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left,
        (std::vector<std::string>{"..other.zip.0badc0de.part.12345678.part", ".other.zip.0badc0de.part",
            ".set.zip.notmine.part", "set.zip"}));
}

// A temporary's name must fit the file system (255 bytes) for every legal final name,
// also when a writer writes that temporary through a ReplacingFile of its own (as a
// download does); a crash's leftovers of either form are found again.
TEST(ReplacingFile, TemporariesOfLongNamesFitAndTheirLeftoversAreFound)
{
    const std::string e = "\xC3\xA9"; // two bytes of UTF-8
    const auto nameOf = [](char first, std::size_t length, const std::string& fill) {
        std::string name(1, first);
        while (name.size() + fill.size() + 4 <= length)
            name += fill;
        return name + std::string(length - 4 - name.size(), 'n') + ".zip";
    };
    for (const std::size_t length : {200u, 225u, 226u, 240u, 241u, 242u, 254u, 255u}) {
        for (const std::string& fill : {std::string("n"), e}) {
            TempDir dir;
            const std::string name = nameOf('l', length, fill);
            SCOPED_TRACE(std::to_string(length) + (fill == e ? " UTF-8" : ""));
            const std::string target = dir.file(name);
            std::vector<std::string> temporaries;
            {
                ReplacingFile outer(target);
                ReplacingFile inner(outer.tempPath());
                temporaries = {outer.tempPath(), inner.tempPath()};
                BufferedWriter w;
                w.create(inner.createTemp());
                w.write("new");
                w.close();
                inner.commit();
                outer.commit();
            }
            EXPECT_EQ(qm::test::readFile(target), "new");
            EXPECT_EQ(listDirectory(dir.path()), std::vector<std::string>{name});
            std::string of = name;
            for (const std::string& temporary : temporaries) {
                const std::string entry = temporary.substr(dir.path().size());
                EXPECT_LE(entry.size(), 255u) << entry;
                // The start of the name it stands for, cut (if at all) before a character.
                const std::string stem = entry.substr(1, entry.size() - 15);
                EXPECT_TRUE(of.starts_with(stem)) << entry;
                EXPECT_TRUE(stem.size() == of.size() || (static_cast<unsigned char>(of[stem.size()]) & 0xC0) != 0x80)
                    << entry;
                of = entry;
            }

            // What a crash leaves: both temporaries; another name's stay.
            const std::string other = dir.file(nameOf('m', length, fill));
            ReplacingFile otherOuter(other);
            const std::vector<std::string> others{
                otherOuter.tempPath(), ReplacingFile(otherOuter.tempPath()).tempPath()};
            for (const auto& leftovers : {temporaries, others})
                for (const std::string& path : leftovers)
                    qm::test::writeFile(path, "cut off");
            ReplacingFile(target).removeLeftovers();
            for (const std::string& path : temporaries)
                EXPECT_FALSE(qm::test::exists(path)) << path;
            for (const std::string& path : others)
                EXPECT_TRUE(qm::test::exists(path)) << path;
        }
    }
}

// A rename that fails must not pass for a commit: the final path still holds what it
// held, and the temporary goes.
TEST(ReplacingFile, ACommitThatCannotTakeTheNameSaysSoAndLeavesNoTemporary)
{
    for (ReplacingFile::Kind kind : {ReplacingFile::Kind::Output, ReplacingFile::Kind::WorkFile}) {
        TempDir dir;
        const std::string target = dir.file("catalog.zip");
        ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
        qm::test::writeFile(target + "/inside", "x");
        try {
            ReplacingFile rf(target, kind);
            BufferedWriter w;
            w.create(rf.createTemp());
            w.write("new");
            w.close();
            rf.commit();
            ADD_FAILURE() << "committed over a folder";
        } catch (const IoError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + target + ": Is a directory");
        }
        EXPECT_EQ(listDirectory(dir.path()), std::vector<std::string>{"catalog.zip"});
        EXPECT_EQ(qm::test::readFile(target + "/inside"), "x");
    }
}

namespace {

// What each flush saw: the path flushed and what the final path held at that moment.
struct Flushed {
    std::string path;
    std::string finalHeld;
};
std::vector<Flushed> flushes;
std::string watchedFinal;
int flushError = 0;

std::string pathOf(int fd)
{
    char link[4096];
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, sizeof link);
    return n > 0 ? std::string(link, static_cast<std::size_t>(n)) : std::string();
}

int recordingFlush(int fd)
{
    flushes.push_back({pathOf(fd), qm::test::exists(watchedFinal) ? qm::test::readFile(watchedFinal) : "(none)"});
    if (flushError != 0) {
        errno = flushError;
        return -1;
    }
    return 0;
}

class FlushWatch {
public:
    explicit FlushWatch(const std::string& finalPath)
        : previous_(replaceFlushFunction(recordingFlush))
    {
        flushes.clear();
        watchedFinal = finalPath;
        flushError = 0;
    }
    ~FlushWatch() { replaceFlushFunction(previous_); }

private:
    FlushFunction previous_;
};

} // namespace
TEST(BufferedIo, LinesEndAtLfLoseTheirCrsAndAreCutToTheirWidth)
{
    TempDir dir;
    // A line longer than the reader's buffer, CRs anywhere, a last line without LF.
    const std::string longLine = std::string(BufferedReader::kBufferSize + 10, 'x') + "\r\nafter\n";
    qm::test::writeFile(dir.file("lines"), "ab\rc\r\n\n\r\r\n" + longLine + "0123456789\r\n" + longLine + "end");
    BufferedReader r(dir.file("lines"));
    char out[8];
    bool cut = true;
    EXPECT_EQ(r.readLine(out, 8, &cut), 3u);
    EXPECT_EQ(std::string(out, 3), "abc");
    EXPECT_FALSE(cut);
    EXPECT_EQ(r.readLine(out, 8, &cut), 0u) << "an empty line";
    EXPECT_EQ(r.readLine(out, 8, &cut), 0u) << "a line of CRs";
    EXPECT_EQ(r.readLine(out, 8, &cut), 8u);
    EXPECT_TRUE(cut);
    EXPECT_EQ(r.readLine(out, 8), 5u) << "the rest of the long line was skipped";
    EXPECT_EQ(std::string(out, 5), "after");
    EXPECT_EQ(r.readLine(out, 8, &cut), 8u);
    EXPECT_EQ(std::string(out, 8), "01234567");
    r.skipLine();
    EXPECT_EQ(r.readLine(out, 8), 5u);
    EXPECT_EQ(r.readLine(out, 8), 3u);
    EXPECT_EQ(std::string(out, 3), "end");
    EXPECT_TRUE(r.atEnd());
    EXPECT_EQ(r.readLine(out, 8), 0u);
}

// After a power cut the final path must hold the old file or the whole new one: the new
// one is on disk before the rename, and the rename itself is flushed after it.
TEST(ReplacingFile, FlushesTheNewFileBeforeTheRenameAndTheFolderAfter)
{
    TempDir dir;
    const std::string target = dir.file("set.txt");
    qm::test::writeFile(target, "old");
    FlushWatch watch(target);
    {
        ReplacingFile rf(target);
        BufferedWriter w;
        w.create(rf.createTemp());
        w.write("new");
        w.close();
        rf.commit();
    }
    ASSERT_EQ(flushes.size(), 2u);
    EXPECT_TRUE(flushes[0].path.ends_with(".part")) << flushes[0].path;
    EXPECT_EQ(flushes[0].finalHeld, "old");
    EXPECT_EQ(flushes[1].path + "/", dir.path());
    EXPECT_EQ(flushes[1].finalHeld, "new");

    // A flush that fails is a failed write: the old file stays, nothing else remains.
    flushError = EIO;
    try {
        ReplacingFile rf(target);
        BufferedWriter w;
        w.create(rf.createTemp());
        w.write("newer");
        w.close();
        rf.commit();
        FAIL() << "no error";
    } catch (const IoError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + target + ": Input/output error");
    }
    EXPECT_EQ(qm::test::readFile(target), "new");
    EXPECT_EQ(listDirectory(dir.path()).size(), 1u);

    // A work file that every run makes anew is not worth a flush.
    flushError = 0;
    flushes.clear();
    ReplacingFile work(dir.file("work.txt"), ReplacingFile::Kind::WorkFile);
    File w = work.createTemp();
    w.close();
    work.commit();
    EXPECT_TRUE(flushes.empty());
    EXPECT_TRUE(qm::test::exists(dir.file("work.txt")));
}
