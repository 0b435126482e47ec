// The exchange against scripted servers on 127.0.0.1.
#include "ErrorText.h"
#include "LoopbackServer.h"
#include "QtCoreApp.h"
#include "RecordingReporter.h"
#include "ScriptedPrompts.h"
#include "TempDir.h"

#include "platform/Errors.h"
#include "platform/File.h"
#include "platform/Halt.h"
#include "service/HttpExchange.h"
#include "service/HttpFailure.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

namespace qm {
namespace {

using test::LoopbackServer;
using Reply = LoopbackServer::Reply;
using test::errorOf;

[[maybe_unused]] ::testing::Environment* const qtEnvironment
    = ::testing::AddGlobalTestEnvironment(new test::QtCoreEnvironment);

const std::string kAccept = "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                            "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
const std::string kContentType = "Content-type: application/x-www-form-urlencoded\r\n";

std::string ok(const std::string& body)
{
    return "HTTP/1.0 200 OK\r\n\r\n" + body;
}

// The error text a call ends with, "" when it returns normally.
long msSince(std::chrono::steady_clock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

class HttpExchangeTest : public ::testing::Test {
protected:
    HttpExchangeTest() { http.LocalProgram = "Quillmaren v1.5.8"; }
    LoopbackServer server;
    HttpExchange http;
};

TEST_F(HttpExchangeTest, DirectGetSendsTheExactHeadAndKeepsTheCookieForLaterCalls)
{
    server.enqueue(Reply::ok("one"));
    server.enqueue(Reply::ok("two"));
    http.Get(server.url("/perl/dl.pl?ID=1"));
    http.Cookie = "id=abc";
    http.Head(server.url("/perl/dl.pl?ID=1"));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0],
        "GET /perl/dl.pl?ID=1 HTTP/1.0\r\nHost: 127.0.0.1\r\n" + kAccept + "User-Agent: Quillmaren v1.5.8\r\n"
            + kContentType + "\r\n");
    EXPECT_EQ(requests[1],
        "HEAD /perl/dl.pl?ID=1 HTTP/1.0\r\nHost: 127.0.0.1\r\n" + kAccept
            + "User-Agent: Quillmaren v1.5.8\r\nCookie: id=abc\r\n" + kContentType + "\r\n");
    EXPECT_EQ(http.Body, "") << "a reply to HEAD has no body";
    EXPECT_EQ(http.statusCode(), 200);
}

TEST_F(HttpExchangeTest, ThroughAProxyTheRequestLineCarriesTheWholeUrl)
{
    // The service host is never resolved: the connection goes to the proxy.
    http.Proxy = "127.0.0.1";
    http.ProxyPort = server.port();
    http.ProxyAuthentication = true;
    http.ProxyUserId = "user";
    http.ProxyPassword = "pw";
    http.LocalProgram.clear();
    server.enqueue(Reply::ok("x"));
    http.Get("http://www.skarvelin.example/perl/dl.pl?ID=1 2");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0],
        "GET http://www.skarvelin.example/perl/dl.pl?ID=1+2 HTTP/1.0\r\n"
        "Proxy-Connection: Keep-Alive\r\nHost: www.skarvelin.example\r\n"
            + kAccept + "Proxy-Authorization: Basic dXNlcjpwdw==\r\n" + kContentType + "\r\n");
}

TEST_F(HttpExchangeTest, PostSendsItsLengthAndExactlyItsBytes)
{
    server.enqueue(Reply::ok("welcome"));
    http.Post(server.url("/perl/login.pl"), "u=a&p=b c");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0],
        "POST /perl/login.pl HTTP/1.0\r\nHost: 127.0.0.1\r\n" + kAccept + "User-Agent: Quillmaren v1.5.8\r\n"
            + kContentType + "Content-Length: 9\r\n\r\nu=a&p=b c");
    EXPECT_EQ(http.Body, "welcome");
}

TEST_F(HttpExchangeTest, ReadsHeadFieldsAndKeepsTheHeadAsReceived)
{
    const std::string head = "HTTP/1.0 200 OK\r\nSet-Cookie: id=abc; path=/\r\nContent-Length: 4\r\n"
                             "Set-Cookie: second=2\r\n\r\n";
    // Dribbled in pieces that split lines and the "HTT" itself.
    server.enqueue(Reply()
                       .send("HT")
                       .pause(30)
                       .send(head.substr(2, 20))
                       .pause(30)
                       .send(head.substr(22) + "bo")
                       .pause(30)
                       .send("dy\r\nmore"));
    http.Get(server.url("/"));
    EXPECT_EQ(http.statusCode(), 200);
    EXPECT_EQ(http.responseCookie(), "second=2");
    EXPECT_EQ(http.contentLength(), 4);
    EXPECT_EQ(http.Header, head);
    EXPECT_EQ(http.Body, "body") << "the body ends with its announced length";
    EXPECT_TRUE(http.bodyOverran());
    EXPECT_TRUE(http.Cookie.empty()) << "only a redirect stores the response cookie";

    // The next response without Set-Cookie empties it.
    server.enqueue(Reply::ok(""));
    http.Get(server.url("/"));
    EXPECT_EQ(http.responseCookie(), "");
    EXPECT_EQ(http.contentLength(), -1);
    EXPECT_FALSE(http.bodyOverran());
}

// A proxy keeps the connection open after a response; the call must end with the body
// its head describes instead of waiting for a close that never comes.
TEST_F(HttpExchangeTest, TheBodyEndsWhereItsHeadSaysThoughTheConnectionStaysOpen)
{
    struct Case {
        const char* method;
        std::string response;
        std::string body;
        bool overran;
    };
    const Case cases[] = {
        {"GET", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", "hello", false},
        {"GET", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "", false},
        {"GET", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello, and more", "hello", true},
        {"HEAD", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", "", false},
        {"HEAD", "HTTP/1.1 200 OK\r\n\r\n", "", false},
        {"GET", "HTTP/1.1 204 No Content\r\n\r\n", "", false},
        {"GET", "HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n\r\n", "", false},
    };
    http.TimeOut = 5000;
    test::TempDir dir;
    for (const bool fileMode : {false, true}) {
        http.InputFileMode = fileMode;
        http.Header = fileMode ? dir.file("header.txt") : "";
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.method) + " " + c.response + (fileMode ? " (file)" : ""));
            http.Body = fileMode ? dir.file("body.txt") : "";
            server.enqueue(Reply().send(c.response).holdOpen());
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(errorOf([&] {
                if (std::string_view(c.method) == "HEAD")
                    http.Head(server.url("/"));
                else
                    http.Get(server.url("/"));
            }),
                "");
            EXPECT_LT(msSince(start), 4000) << "returned without waiting for the close";
            EXPECT_EQ(fileMode ? test::readFile(dir.file("body.txt")) : http.Body, c.body);
            EXPECT_EQ(http.bodyOverran(), c.overran);
        }
    }

    // Without a usable length the body still runs until the close.
    http.InputFileMode = false;
    server.enqueue(Reply::text("HTTP/1.0 200 OK\r\nContent-Length: 3\r\nContent-Length: 3\r\n\r\nabcdef"));
    http.Get(server.url("/"));
    EXPECT_EQ(http.Body, "abcdef");
    EXPECT_TRUE(http.contentLengthMalformed());
    EXPECT_FALSE(http.transferEncoded());
    server.enqueue(Reply::text("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"));
    http.Get(server.url("/"));
    EXPECT_TRUE(http.transferEncoded());
    EXPECT_FALSE(http.contentLengthMalformed());
}

TEST_F(HttpExchangeTest, AResponseWithoutHeadIsAllBody)
{
    http.Header = "stale";
    server.enqueue(Reply::text("<html>no head</html>"));
    http.Get(server.url("/x"));
    EXPECT_EQ(http.statusCode(), 0);
    EXPECT_EQ(http.Body, "<html>no head</html>");
    EXPECT_EQ(http.Header, "");

    server.enqueue(Reply::closeAtOnce());
    http.Get(server.url("/x"));
    EXPECT_EQ(http.statusCode(), 0);
    EXPECT_EQ(http.Body, "");
}

TEST_F(HttpExchangeTest, ARedirectIsFollowedWithItsCookieAsAGet)
{
    server.enqueue(Reply::text("HTTP/1.0 302 Found\r\nSet-Cookie: sess=42; path=/\r\nLocation: home.pl\r\n\r\nmoved"));
    server.enqueue(Reply::text("HTTP/1.0 301 Moved\r\nLocation: /top/index.html\r\n\r\n"));
    server.enqueue(Reply::ok("home"));
    http.Post(server.url("/perl/login.pl"), "u=a");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_TRUE(requests[1].starts_with("GET /perl/home.pl HTTP/1.0\r\n")) << requests[1];
    EXPECT_NE(requests[1].find("\r\nCookie: sess=42\r\n"), std::string::npos);
    EXPECT_EQ(requests[1].find("Content-Length"), std::string::npos);
    EXPECT_TRUE(requests[1].ends_with("\r\n\r\n"));
    EXPECT_TRUE(requests[2].starts_with("GET /top/index.html HTTP/1.0\r\n")) << requests[2];
    EXPECT_EQ(http.Cookie, "sess=42");
    EXPECT_EQ(http.Body, "home");
    EXPECT_EQ(http.Header, "HTTP/1.0 200 OK\r\n\r\n");
}

TEST_F(HttpExchangeTest, TheCookieGoesOnlyToTheSchemeHostAndPortItCameFrom)
{
    LoopbackServer other;
    const std::string port = std::to_string(server.port());
    const auto carriesCookie
        = [](const LoopbackServer& to) { return to.requests().back().find("\r\nCookie: ") != std::string::npos; };
    struct Case {
        const char* what;
        std::string location;
        LoopbackServer* to;
        bool carries;
    };
    for (const Case& c : std::vector<Case>{{"the same server", "/next.pl", &server, true},
             {"the same, the scheme in capitals", "HTTP://127.0.0.1:" + port + "/next.pl", &server, true},
             {"another port", other.url("/next.pl"), &other, false},
             {"another host name", "http://localhost:" + port + "/next.pl", &server, false}}) {
        server.enqueue(
            Reply::text("HTTP/1.0 302 Found\r\nSet-Cookie: sess=42\r\nLocation: " + c.location + "\r\n\r\n"));
        c.to->enqueue(Reply::ok("there"));
        http.Get(server.url("/perl/login.pl"));
        EXPECT_EQ(http.Body, "there") << c.what;
        EXPECT_EQ(carriesCookie(*c.to), c.carries) << c.what;
        EXPECT_EQ(http.Cookie, "sess=42") << c.what;
    }

    // A kept session belongs to the server that set it, whichever is asked next.
    server.enqueue(Reply::text("HTTP/1.0 200 OK\r\nSet-Cookie: sid=s1\r\n\r\nhome.pl"));
    http.Post(server.url("/perl/login.pl"), "u=a");
    http.keepResponseCookie();
    other.enqueue(Reply::ok(""));
    server.enqueue(Reply::ok(""));
    http.Get(other.url("/"));
    http.Get(server.url("/"));
    EXPECT_FALSE(carriesCookie(other));
    EXPECT_NE(server.requests().back().find("\r\nCookie: sid=s1\r\n"), std::string::npos);
}

TEST_F(HttpExchangeTest, RedirectsStopAfterTen)
{
    const auto redirect = [] { return Reply::text("HTTP/1.0 302 Found\r\nLocation: again.pl\r\n\r\n"); };
    for (int i = 0; i < 10; ++i)
        server.enqueue(redirect());
    server.enqueue(Reply::ok("arrived"));
    http.Get(server.url("/a/start.pl"));
    EXPECT_EQ(http.Body, "arrived");

    // A server that redirects every request back to the same page.
    server.setHandler([](const std::string& request) {
        return Reply::text("HTTP/1.0 302 Found\r\nLocation: " + LoopbackServer::requestTarget(request) + "\r\n\r\n");
    });
    EXPECT_EQ(errorOf([&] { http.Get(server.url("/a/start.pl")); }), "Too many redirects");
    EXPECT_EQ(server.connections(), 11u + 11u);
    EXPECT_EQ(server.requests().back().substr(0, 27), "GET /a/start.pl HTTP/1.0\r\nH");
    EXPECT_FALSE(http.busy());
}

TEST_F(HttpExchangeTest, OtherThreeHundredsEndTheCallAsReceived)
{
    server.enqueue(Reply::text("HTTP/1.0 303 See Other\r\nLocation: elsewhere.pl\r\n\r\nseen"));
    http.Get(server.url("/a.pl"));
    EXPECT_EQ(http.statusCode(), 303);
    EXPECT_EQ(http.redirectTarget(), "elsewhere.pl");
    EXPECT_EQ(http.Body, "seen");
    EXPECT_EQ(server.connections(), 1u);
}

TEST_F(HttpExchangeTest, AnErrorStatusStoresTheBodyAndWarnsOnce)
{
    test::ScriptedPrompts prompts;
    test::RecordingReporter reporter(true);
    bool failed = false;
    std::vector<std::string> methods;
    http.OnFailure = [&](std::string_view method) {
        methods.emplace_back(method);
        NMHTTPFailure(http, prompts, reporter, failed);
    };
    server.enqueue(Reply::text("HTTP/1.0 404 Not Found\r\n\r\nNo such file"));
    http.Get(server.url("/missing.txt"));

    EXPECT_EQ(http.statusCode(), 404);
    EXPECT_EQ(http.Body, "No such file");
    EXPECT_EQ(methods, std::vector<std::string>{"GET"});
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, "warning");
    EXPECT_EQ(prompts.shown[0].text, "GET command \"No such file\" failed.");
    EXPECT_TRUE(reporter.logged("GET command \"No such file\" failed."));
    EXPECT_TRUE(failed);

    // Without debug logging nothing is logged; in file mode the message names the file.
    test::TempDir dir;
    reporter.setDebug(false);
    reporter.logLines.clear();
    http.InputFileMode = true;
    http.Header = dir.file("header.txt");
    http.Body = dir.file("body.txt");
    server.enqueue(Reply::text("HTTP/1.0 401 Unauthorized\r\n\r\ndenied"));
    http.Get(server.url("/x"));
    EXPECT_EQ(server.connections(), 2u) << "a 401 is not retried";
    EXPECT_EQ(prompts.shown.back().text, "GET command \"" + dir.file("body.txt") + "\" failed.");
    EXPECT_TRUE(reporter.logLines.empty());
    EXPECT_EQ(test::readFile(dir.file("body.txt")), "denied");

    // The boundary: 399 is answered quietly, 400 is a failure.
    http.InputFileMode = false;
    server.enqueue(Reply::text("HTTP/1.0 399 Odd\r\n\r\nodd"));
    http.Get(server.url("/odd"));
    EXPECT_EQ(methods.size(), 2u);
    server.enqueue(Reply::text("HTTP/1.0 400 Bad Request\r\n\r\nbad"));
    http.Post(server.url("/bad"), "");
    EXPECT_EQ(methods, (std::vector<std::string>{"GET", "GET", "POST"}));
    EXPECT_EQ(prompts.shown.back().text, "GET command \"bad\" failed.");
}

TEST_F(HttpExchangeTest, FileModeWritesHeadAndBodyFilesAnew)
{
    test::TempDir dir;
    test::writeFile(dir.file("header.txt"), std::string(5000, 'o'));
    test::writeFile(dir.file("body.txt"), std::string(5000, 'o'));
    http.InputFileMode = true;
    http.Header = dir.file("header.txt");
    http.Body = dir.file("body.txt");
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Disposition: attachment; filename=tle.txt\r\n\r\n";
    server.enqueue(Reply().send(head).fill(300000, 'b'));
    http.Get(server.url("/perl/dl.pl?ID=1"));

    EXPECT_EQ(test::readFile(dir.file("header.txt")), head);
    EXPECT_EQ(test::readFile(dir.file("body.txt")), std::string(300000, 'b'));
    EXPECT_EQ(http.Header, dir.file("header.txt"));
    EXPECT_EQ(http.Body, dir.file("body.txt"));

    // A body file that cannot be created fails with the file system's error.
    http.Body = dir.file("no/such/folder/body.txt");
    server.enqueue(Reply::ok("x"));
    EXPECT_THROW(http.Get(server.url("/")), IoError);
    EXPECT_FALSE(http.busy());
}

TEST_F(HttpExchangeTest, SilenceBeyondTheTimeOutEndsTheCall)
{
    http.TimeOut = 300;
    server.enqueue(Reply::silent());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(errorOf([&] { http.Get(server.url("/")); }), "Timed out waiting for response");
    EXPECT_GE(msSince(start), 250);
    EXPECT_LT(msSince(start), 5000);

    server.enqueue(Reply().send("HTTP/1.0 200 OK\r\nServer: x").holdOpen());
    EXPECT_THROW(
        {
            try {
                http.Get(server.url("/"));
            } catch (const SocketReadAborted& e) {
                EXPECT_STREQ(e.what(), "Socket readln aborted");
                throw;
            }
        },
        SocketReadAborted);

    server.enqueue(Reply().send(ok("part of the body")).holdOpen());
    EXPECT_EQ(errorOf([&] { http.Get(server.url("/")); }), "Socket capture aborted");
    EXPECT_EQ(http.Body, "part of the body");
    EXPECT_FALSE(http.busy());
}

TEST_F(HttpExchangeTest, ASlowBodyWithinTheTimeOutArrivesWhole)
{
    http.TimeOut = 500;
    Reply reply;
    reply.send("HTTP/1.0 200 OK\r\n\r\n");
    std::string expected;
    for (int i = 0; i < 8; ++i) {
        // 40 bytes every 100 ms: well above the 64 bytes a second a transfer must keep up.
        const std::string piece = "piece" + std::to_string(i) + std::string(33, '.') + "\n";
        reply.pause(100).send(piece);
        expected += piece;
    }
    server.enqueue(reply);
    const auto start = std::chrono::steady_clock::now();
    http.Get(server.url("/"));
    EXPECT_GT(msSince(start), 500) << "the whole transfer outlasts the time-out";
    EXPECT_EQ(http.Header, "HTTP/1.0 200 OK\r\n\r\n");
    EXPECT_EQ(http.Body, expected);

    // No limit at all.
    http.TimeOut = 0;
    server.enqueue(Reply().pause(300).send(ok("patient")));
    http.Get(server.url("/"));
    EXPECT_EQ(http.Body, "patient");
}

TEST_F(HttpExchangeTest, ConnectionFailures)
{
    EXPECT_EQ(errorOf([&] { http.Get("http://127.0.0.1:" + std::to_string(LoopbackServer::unusedPort()) + "/"); }),
        "Connection Failed");
    // A name is looked up (here from the hosts file) rather than used as it stands.
    server.enqueue(Reply::ok("by name"));
    http.Get("http://localhost:" + std::to_string(server.port()) + "/");
    EXPECT_EQ(http.Body, "by name");

    // A port beyond 65535 is no other port in disguise.
    http.Proxy = "127.0.0.1";
    http.ProxyPort = 65536 + server.port();
    server.enqueue(Reply::ok("wrapped"));
    EXPECT_EQ(errorOf([&] { http.Get("http://h/"); }), "Connection Failed");
}

TEST_F(HttpExchangeTest, TheEventLoopRunsDuringATransferAndASecondCallIsRefused)
{
    http.TimeOut = 2000;
    server.enqueue(Reply().send("HTTP/1.0 200 OK\r\n\r\n").pause(300).send("late"));
    int ticks = 0;
    std::string secondCall;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] { ++ticks; });
    ticker.start(20);
    QTimer::singleShot(50, &ticker, [&] { secondCall = errorOf([&] { http.Get(server.url("/other")); }); });
    http.Get(server.url("/"));
    ticker.stop();

    EXPECT_GE(ticks, 3);
    EXPECT_EQ(secondCall, "Already connected");
    EXPECT_EQ(http.Body, "late");
    EXPECT_EQ(server.connections(), 1u);

    server.enqueue(Reply::ok("again"));
    http.Get(server.url("/"));
    EXPECT_EQ(http.Body, "again");
}

TEST_F(HttpExchangeTest, AFatalStopDuringATransferEndsItWithoutWaitingForTheTimeOut)
{
    // A handler that runs during the wait decides a fatal stop: the transfer must not
    // go on, nor wait out its time-out.
    http.TimeOut = 10000;
    server.enqueue(Reply::silent());
    QObject context;
    QTimer::singleShot(50, &context, [] { requestHalt(); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(http.Get(server.url("/")), SocketError);
    EXPECT_LT(msSince(start), 5000);
    EXPECT_FALSE(http.busy());
    clearHalt();
}

TEST_F(HttpExchangeTest, TheApplicationQuittingEndsATransferWithoutGoingOnOrWaitingForTheTimeOut)
{
    // SIGTERM and the tray's "Exit" quit the application from a handler that runs during
    // a wait; no later wait turns the event loop. Whether nothing has come yet or a body
    // still trickles in at a fair speed, the transfer ends there.
    http.TimeOut = 10000;
    Reply trickle = Reply().send("HTTP/1.0 200 OK\r\n\r\n");
    for (int i = 0; i < 100; ++i)
        trickle.fill(100).pause(100);
    const std::pair<Reply, const char*> cases[]
        = {{Reply::silent(), "Timed out waiting for response"}, {trickle, "Socket capture aborted"}};
    for (const auto& [reply, error] : cases) {
        server.enqueue(reply);
        QObject context;
        QTimer::singleShot(300, &context, [] { QCoreApplication::exit(0); });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(errorOf([&] { http.Get(server.url("/")); }), error);
        EXPECT_LT(msSince(start), 3000) << error;
        EXPECT_FALSE(http.busy());
        // An application that runs again turns its loops again.
        QTimer::singleShot(0, &context, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
}

TEST_F(HttpExchangeTest, OversizedResponsesEndTheCall)
{
    server.enqueue(Reply().send("HTTP/1.0 200 OK\r\nX-Long: ").fill(HttpExchange::kMaxHeadBytes + 10).send("\r\n\r\n"));
    EXPECT_EQ(errorOf([&] { http.Get(server.url("/")); }), "Response too large");

    server.enqueue(Reply().send(ok("")).fill(HttpExchange::kMaxMemoryBodyBytes + 1));
    EXPECT_EQ(errorOf([&] { http.Get(server.url("/")); }), "Response too large");

    // Files take larger bodies, up to their own limit; a length announced past it is
    // refused before anything is stored.
    test::TempDir dir;
    http.InputFileMode = true;
    http.Header = dir.file("header.txt");
    http.Body = dir.file("body.txt");
    server.enqueue(Reply().send(ok("")).fill(HttpExchange::kMaxMemoryBodyBytes + 1));
    http.Get(server.url("/"));
    EXPECT_EQ(File(dir.file("body.txt"), File::Mode::Read).size(), HttpExchange::kMaxMemoryBodyBytes + 1);

    server.enqueue(Reply()
                       .send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(HttpExchange::kMaxFileBodyBytes + 1)
                           + "\r\n\r\n")
                       .fill(1000)
                       .holdOpen());
    EXPECT_EQ(errorOf([&] { http.Get(server.url("/")); }), "Response too large");
    EXPECT_EQ(File(dir.file("body.txt"), File::Mode::Read).size(), HttpExchange::kMaxMemoryBodyBytes + 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << "no temporary left";
}

TEST_F(HttpExchangeTest, ProgressFollowsTheBodyAtABoundedRate)
{
    constexpr std::int64_t kPart = 3 << 20;
    Reply reply;
    reply.send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(3 * kPart) + "\r\n\r\n");
    reply.fill(kPart).pause(250).fill(kPart).pause(250).fill(kPart);
    server.enqueue(reply);
    std::vector<std::pair<std::int64_t, std::int64_t>> calls;
    http.OnProgress = [&calls](std::int64_t received, std::int64_t total) { calls.emplace_back(received, total); };
    test::TempDir dir;
    http.InputFileMode = true;
    http.Header = dir.file("header.txt");
    http.Body = dir.file("body.txt");
    const auto start = std::chrono::steady_clock::now();
    http.Get(server.url("/"));
    const long elapsed = msSince(start);

    ASSERT_GE(calls.size(), 3u);
    EXPECT_LT(calls.front().first, kPart) << "the first call comes as the body starts";
    EXPECT_EQ(calls.back(), std::make_pair(3 * kPart, 3 * kPart)) << "the last when it is complete";
    bool between = false;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].second, 3 * kPart);
        if (i > 0) {
            EXPECT_GE(calls[i].first, calls[i - 1].first);
        }
        between = between || (calls[i].first > kPart && calls[i].first < 3 * kPart);
    }
    EXPECT_TRUE(between) << "a call while the body was still coming";
    // Hundreds of chunks, but calls at most every interval, plus the first and the last.
    EXPECT_LE(static_cast<long>(calls.size()), 3 + elapsed / HttpExchange::kProgressInterval.count());

    // No length announced: the total says so.
    calls.clear();
    server.enqueue(Reply::ok("short"));
    http.Get(server.url("/"));
    EXPECT_EQ(calls.back(), std::make_pair(std::int64_t{5}, std::int64_t{-1}));
}

} // namespace
} // namespace qm
