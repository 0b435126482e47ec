// The exchange against servers that misbehave on purpose: each ends the call with its
// error text while the event loop keeps running, memory stays bounded, and nothing
// half-received takes the place of a file.
#include "ErrorText.h"
#include "LoopbackServer.h"
#include "QtCoreApp.h"
#include "SmallDisk.h"
#include "TempDir.h"

#include "platform/Errors.h"
#include "platform/File.h"
#include "service/HttpExchange.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <malloc.h>
#include <new>

// Heap bytes in use and their high-water mark, for this test program only.
namespace {
std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};
} // namespace

void* operator new(std::size_t n)
{
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr)
        throw std::bad_alloc();
    const std::size_t now = liveBytes += malloc_usable_size(p);
    std::size_t peak = peakBytes;
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) { }
    return p;
}

void operator delete(void* p) noexcept
{
    if (p == nullptr)
        return;
    liveBytes -= malloc_usable_size(p);
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}

namespace qm {
namespace {

using test::LoopbackServer;
using Reply = LoopbackServer::Reply;
using test::errorOf;

[[maybe_unused]] ::testing::Environment* const qtEnvironment
    = ::testing::AddGlobalTestEnvironment(new test::QtCoreEnvironment);

// `bytes` one at a time, `gapMs` apart: each byte well within the time-out, all of
// them together far below a useful speed.
Reply drip(Reply reply, const std::string& bytes, int gapMs)
{
    for (char c : bytes)
        reply.pause(gapMs).send(std::string(1, c));
    return reply;
}

class Hostile : public ::testing::Test {
protected:
    // Generous: only the drip test needs the time-out to fire, and sets its own.
    Hostile() { http.TimeOut = 5000; }
    // Runs a call while a timer ticks; the ticks show the event loop stayed live.
    std::string callWhileTicking(const std::function<void()>& call)
    {
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] { ++ticks; });
        ticker.start(20);
        const std::string error = errorOf(call);
        ticker.stop();
        EXPECT_GE(ticks, 1) << "the event loop stalled";
        EXPECT_FALSE(http.busy());
        return error;
    }
    LoopbackServer server;
    HttpExchange http;
};

TEST_F(Hostile, ADripFeedEndsWithTheTimeOutTextOfTheWaitItIsIn)
{
    // A long time-out, so that every gap below keeps a wide margin to the rule it tests:
    // a busy machine that stretches a gap must not change the outcome.
    http.TimeOut = 1500;
    const std::string many(80, 'x'); // 80 bytes 40 ms apart: 25 bytes a second
    server.enqueue(drip(Reply().send("HTTP/1.0 200 OK\r\n\r\n"), many, 40));
    EXPECT_EQ(callWhileTicking([&] { http.Get(server.url("/")); }), "Socket capture aborted");

    server.enqueue(drip(Reply().send("HTTP/1.0 200 OK\r\nX-Slow: "), many, 40));
    EXPECT_EQ(callWhileTicking([&] { http.Get(server.url("/")); }), "Socket readln aborted");

    // Before the first three bytes are in, a byte every 900 ms is still too slow: the
    // speed is judged over the 1.5 s after the first byte, which brings only two.
    server.enqueue(drip(Reply(), "HTTP/1.0 200 OK\r\n\r\n", 900));
    EXPECT_EQ(callWhileTicking([&] { http.Get(server.url("/")); }), "Timed out waiting for response");

    // Faster than the floor it arrives whole, however long it takes.
    Reply steady = Reply().send("HTTP/1.0 200 OK\r\n\r\n");
    std::string expected;
    for (int i = 0; i < 12; ++i) {
        const std::string piece(40, static_cast<char>('a' + i));
        steady.pause(100).send(piece);
        expected += piece;
    }
    server.enqueue(steady);
    EXPECT_EQ(callWhileTicking([&] { http.Get(server.url("/")); }), "");
    EXPECT_EQ(http.Body, expected);
}

TEST_F(Hostile, ABodyCutShortOfItsLengthIsAnErrorInBothModes)
{
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n";
    server.enqueue(Reply::text(head + std::string(60, 'b')));
    EXPECT_EQ(errorOf([&] { http.Get(server.url("/")); }), "Incomplete response");

    // However the length is written; a blank before the colon is refused outright.
    test::TempDir dir;
    test::writeFile(dir.file("body.txt"), "the last whole list");
    http.InputFileMode = true;
    http.Header = dir.file("header.txt");
    http.Body = dir.file("body.txt");
    const struct {
        std::string field;
        std::string error;
        std::vector<std::string> files; // nothing half-received, and no head for a refused one
    } cases[] = {
        {"Content-Length : 60\r\n", "Malformed response head", {"body.txt"}},
        {"Content-Length: 100\r\n", "Incomplete response", {"body.txt", "header.txt"}},
        {"Content-Length:100\n", "Incomplete response", {"body.txt", "header.txt"}},
        {"content-length:\t100\t\r\n", "Incomplete response", {"body.txt", "header.txt"}},
    };
    for (const auto& c : cases) {
        server.enqueue(Reply::text("HTTP/1.0 200 OK\r\n" + c.field + "\r\n" + std::string(60, 'b')));
        EXPECT_EQ(errorOf([&] { http.Get(server.url("/")); }), c.error) << c.field;
        EXPECT_EQ(test::readFile(dir.file("body.txt")), "the last whole list");
        auto files = listDirectory(dir.path());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, c.files) << c.field;
    }

    // A reset in the middle of the body is the system's error, and leaves no file either.
    server.enqueue(Reply().send("HTTP/1.0 200 OK\r\n\r\n").fill(300000).pause(100).reset());
    const std::string reset = callWhileTicking([&] { http.Get(server.url("/")); });
    EXPECT_EQ(reset, "104:Connection reset by peer");
    EXPECT_EQ(test::readFile(dir.file("body.txt")), "the last whole list");
    EXPECT_EQ(listDirectory(dir.path()).size(), 2u);

    // A HEAD reply announces a length but has no body.
    http.InputFileMode = false;
    server.enqueue(Reply::text(head));
    EXPECT_EQ(errorOf([&] { http.Head(server.url("/")); }), "");
}

TEST_F(Hostile, ALyingLengthEndsTheBodyButIsNotTakenAtItsWordForMemory)
{
    server.enqueue(Reply::text("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n" + std::string(50, 'l')));
    http.Get(server.url("/"));
    EXPECT_EQ(http.Body, std::string(5, 'l'));
    EXPECT_TRUE(http.bodyOverran());

    peakBytes = liveBytes.load();
    const std::size_t before = liveBytes;
    server.enqueue(Reply::text("HTTP/1.0 200 OK\r\nContent-Length: 999999999999\r\n\r\nshort"));
    EXPECT_EQ(errorOf([&] { http.Get(server.url("/")); }), "Response too large");
    EXPECT_LT(peakBytes - before, std::size_t{4} << 20);
}

TEST_F(Hostile, MemoryModeStaysWithinATenthAboveItsLimit)
{
    const std::size_t limit = HttpExchange::kMaxMemoryBodyBytes;
    const std::size_t bound = limit + limit / 10;

    peakBytes = liveBytes.load();
    std::size_t before = liveBytes;
    server.enqueue(Reply().send("HTTP/1.0 200 OK\r\n\r\n").fill(100u << 20));
    EXPECT_EQ(errorOf([&] { http.Get(server.url("/")); }), "Response too large");
    EXPECT_LE(peakBytes - before, bound);

    // An announced length within the limit is taken at once.
    http.Body.clear();
    peakBytes = liveBytes.load();
    before = liveBytes;
    const std::size_t announced = 48u << 20;
    server.enqueue(Reply()
                       .send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(announced) + "\r\n\r\n")
                       .fill(announced, 'm'));
    http.Get(server.url("/"));
    EXPECT_EQ(http.Body.size(), announced);
    EXPECT_LE(peakBytes - before, announced + (std::size_t{2} << 20));
}

TEST_F(Hostile, AFullDiskInFileModeKeepsTheOlderFile)
{
    test::SmallDisk disk;
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    test::writeFile(disk.file("body.txt"), "the last whole list");
    http.InputFileMode = true;
    http.Header = disk.file("header.txt");
    http.Body = disk.file("body.txt");
    disk.leaveFree(512 * 1024);
    server.enqueue(Reply().send("HTTP/1.0 200 OK\r\n\r\n").fill(2u << 20));
    EXPECT_EQ(errorOf([&] { http.Get(server.url("/")); }),
        "IoError: Unable to write to " + disk.file("body.txt") + ": No space left on device");
    EXPECT_EQ(test::readFile(disk.file("body.txt")), "the last whole list");
    for (const std::string& name : listDirectory(disk.path()))
        EXPECT_FALSE(name.ends_with(".part")) << name;
    EXPECT_FALSE(http.busy());
}

} // namespace
} // namespace qm
