// HTTPS through the exchange, against the local service with each of its certificates,
// through a loopback proxy's tunnel, and after a redirect from plain HTTP.
#include "ErrorText.h"
#include "LocalService.h"
#include "LoopbackServer.h"
#include "QtCoreApp.h"
#include "TempDir.h"
#include "TlsLoopbackServer.h"

#include "platform/Errors.h"
#include "service/HttpExchange.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace qm {
namespace {

using test::LocalService;
using test::LoopbackServer;
using test::readFile;
using test::TempDir;
using test::TlsLoopbackServer;
using Reply = LoopbackServer::Reply;
using test::errorOf;

[[maybe_unused]] ::testing::Environment* const qtEnvironment
    = ::testing::AddGlobalTestEnvironment(new test::QtCoreEnvironment);

class TlsTest : public ::testing::Test {
protected:
    TlsTest() { http.LocalProgram = "Quillmaren v1.5.8"; }
    ~TlsTest() override { ::unsetenv("QUILLMAREN_CA_FILE"); }

    // A service showing `certificate`, logging what it receives; its CA becomes trusted.
    std::unique_ptr<LocalService> start(const std::string& certificate = "good")
    {
        auto service = std::make_unique<LocalService>(std::vector<std::string>{
            "--tls", "--tls-certificate", certificate, "--log", dir.file(certificate + ".log")});
        ::setenv("QUILLMAREN_CA_FILE", service->caFile().c_str(), 1);
        return service;
    }
    std::string received(const std::string& certificate)
    {
        return test::exists(dir.file(certificate + ".log")) ? readFile(dir.file(certificate + ".log")) : "";
    }

    TempDir dir;
    HttpExchange http;
};

TEST_F(TlsTest, AGoodCertificateCarriesTheLoginAndTheFilesByAddressAndByName)
{
    const auto service = start();
    http.Get(service->url("/Skarvelin/criticalupdate.txt"));
    EXPECT_EQ(http.statusCode(), 200);
    EXPECT_EQ(http.Body, "1.5.8 ");
    http.Get("https://localhost:" + std::to_string(service->port()) + "/Skarvelin/criticalupdate.txt");
    EXPECT_EQ(http.Body, "1.5.8 ");

    http.Post(service->url("/perl/login.pl"),
        std::string("username=") + LocalService::kUser + "&password=" + LocalService::kPassword
            + "&_submitted=1&_sessionid=&_submit=Submit");
    ASSERT_NE(http.Body.find("home.pl"), std::string::npos) << http.Body;
    http.Cookie = http.responseCookie();
    // A body of many records, into a file, as a catalogue download takes it.
    http.InputFileMode = true;
    http.Header = dir.file("header.txt");
    http.Body = dir.file("catalog.zip");
    http.Get(service->url("/perl/dl.pl?ID=1"));
    EXPECT_EQ(http.statusCode(), 200);
    EXPECT_EQ(readFile(dir.file("catalog.zip")), readFile(service->productPath(1)));
    EXPECT_TRUE(readFile(dir.file("header.txt")).starts_with("HTTP/1.0 200 "));
}

TEST_F(TlsTest, ACertificateThatFailsEndsTheCallNamingTheReasonBeforeAnythingIsSent)
{
    http.Cookie = "session_id=secret";
    for (const auto& [certificate, reason] :
        std::vector<std::pair<std::string, std::string>>{{"wrong-host", "IP address mismatch"},
            {"expired", "certificate has expired"}, {"self-signed", "self-signed certificate"}}) {
        const auto service = start(certificate);
        EXPECT_EQ(errorOf([&] { http.Get(service->url("/Skarvelin/criticalupdate.txt")); }),
            "Certificate verification failed: " + reason);
        EXPECT_EQ(received(certificate), "") << certificate;
        if (certificate == "wrong-host") {
            const std::string byName = "https://localhost:" + std::to_string(service->port()) + "/";
            EXPECT_EQ(errorOf([&] { http.Get(byName); }), "Certificate verification failed: hostname mismatch");
        }
    }

    // Without the CA file the service's own authority is trusted by nobody.
    const auto service = start();
    ::unsetenv("QUILLMAREN_CA_FILE");
    EXPECT_EQ(errorOf([&] { http.Get(service->url("/")); }),
        "Certificate verification failed: unable to get local issuer certificate");
    ::setenv("QUILLMAREN_CA_FILE", dir.file("missing.pem").c_str(), 1);
    EXPECT_EQ(errorOf([&] { http.Get(service->url("/")); }),
        "Certificate verification failed: cannot read the CA file " + dir.file("missing.pem"));
    EXPECT_EQ(received("good"), "");
    EXPECT_FALSE(http.busy());
}

TEST_F(TlsTest, ThroughAProxyHttpsGoesThroughConnectWithTheProxyCredentials)
{
    const auto service = start();
    LoopbackServer proxy;
    http.Proxy = "127.0.0.1";
    http.ProxyPort = proxy.port();
    http.ProxyAuthentication = true;
    http.ProxyUserId = "user";
    http.ProxyPassword = "pw";
    proxy.enqueue(Reply::text("HTTP/1.0 200 Connection established\r\nVia: test\r\n\r\n").relayTo(service->port()));
    http.Get(service->url("/Skarvelin/criticalupdate.txt"));
    EXPECT_EQ(http.Body, "1.5.8 ");

    const std::string authority = "127.0.0.1:" + std::to_string(service->port());
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests()[0],
        "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority
            + "\r\nUser-Agent: Quillmaren v1.5.8\r\nProxy-Authorization: Basic dXNlcjpwdw==\r\n\r\n");
    // Inside the tunnel the server gets the request it would get directly.
    EXPECT_EQ(received("good"), "GET /Skarvelin/criticalupdate.txt cookie=-\n");

    // A refusal ends the call with the proxy's answer; the default port is asked for.
    proxy.enqueue(Reply::text("HTTP/1.0 407 Proxy Authentication Required\r\n\r\n"));
    EXPECT_EQ(errorOf([&] { http.Get("https://www.skarvelin.example/perl/login.pl"); }),
        "Proxy tunnel refused: HTTP/1.0 407 Proxy Authentication Required");
    EXPECT_TRUE(proxy.requests().back().starts_with("CONNECT www.skarvelin.example:443 HTTP/1.0\r\n"));

    // The server has said nothing before the tunnel opens: bytes after the proxy's
    // reply head are no part of it, and a tunnel that begins with them is refused.
    proxy.enqueue(Reply::text("HTTP/1.0 200 OK\r\n\r\nXYZ"));
    EXPECT_EQ(errorOf([&] { http.Get(service->url("/")); }), "Proxy tunnel refused: HTTP/1.0 200 OK");
}

TEST_F(TlsTest, ARedirectMayLeadFromHttpToHttps)
{
    const auto service = start();
    LoopbackServer plain;
    plain.enqueue(Reply::text("HTTP/1.0 302 Found\r\nSet-Cookie: moved=1\r\nLocation: "
        + service->url("/Skarvelin/criticalupdate.txt") + "\r\n\r\n"));
    http.Get(plain.url("/start"));
    EXPECT_EQ(http.statusCode(), 200);
    EXPECT_EQ(http.Body, "1.5.8 ");
    // The cookie belongs to the plain server: another scheme and port never see it.
    EXPECT_EQ(received("good"), "GET /Skarvelin/criticalupdate.txt cookie=-\n");
}

TEST_F(TlsTest, ARedirectFromHttpsToHttpIsRefusedBeforeAnythingGoesThere)
{
    ::setenv("QUILLMAREN_CA_FILE", TlsLoopbackServer::caFile().c_str(), 1);
    LoopbackServer plain;
    TlsLoopbackServer secure({.reply = "HTTP/1.0 302 Found\r\nLocation: " + plain.url("/file.zip") + "\r\n\r\n"});
    http.Cookie = "sid=secret";
    http.InputFileMode = true;
    http.Header = dir.file("header.txt");
    http.Body = dir.file("catalog.zip");
    EXPECT_EQ(errorOf([&] { http.Get(secure.url("/perl/dl.pl?ID=1")); }), "Refused redirect from https to http");
    EXPECT_EQ(plain.connections(), 0u);
    EXPECT_NE(secure.requests().at(0).find("\r\nCookie: sid=secret\r\n"), std::string::npos);
    EXPECT_FALSE(http.busy());
}

TEST_F(TlsTest, AServerSilentInTheHandshakeTimesOutLikeAConnection)
{
    LoopbackServer silent;
    silent.enqueue(Reply::silent());
    http.TimeOut = 300;
    EXPECT_EQ(errorOf([&] { http.Get("https://" + silent.hostPort() + "/"); }), "Connection Timed out");
}

TEST_F(TlsTest, TheHelloNamesTheHostSoAServerOfManyNamesShowsItsCertificate)
{
    ::setenv("QUILLMAREN_CA_FILE", TlsLoopbackServer::caFile().c_str(), 1);
    TlsLoopbackServer server({.onlyForName = "localhost"});
    http.Get("https://localhost:" + std::to_string(server.port()) + "/");
    EXPECT_EQ(http.Body, "hello");
}

// Every wait of an HTTPS exchange keeps the speed floor, also where TLS records arrive
// cut into pieces that yield no data until whole: a server, or a proxy, that drips its
// bytes well within the time-out ends the call with the time-out text of that wait.
TEST_F(TlsTest, ADripInAnyWaitEndsWithTheTimeOutTextOfThatWait)
{
    ::setenv("QUILLMAREN_CA_FILE", TlsLoopbackServer::caFile().c_str(), 1);
    http.TimeOut = 600; // a byte every 60 ms: never silent, far below 64 bytes a second
    const std::string head = "HTTP/1.0 200 OK\r\n\r\n";
    struct Case {
        const char* where;
        TlsLoopbackServer::Options server;
        std::string error;
    };
    for (const Case& c : {Case{"handshake", {.handshakeDripMs = 60}, "Connection Timed out"},
             Case{"head", {.reply = "", .drippedReply = head + "body"}, "Timed out waiting for response"},
             Case{"body", {.reply = head, .drippedReply = std::string(200, 'b')}, "Socket capture aborted"}}) {
        TlsLoopbackServer server(c.server);
        EXPECT_EQ(errorOf([&] { http.Get(server.url("/")); }), c.error) << c.where;
    }

    LoopbackServer proxy;
    Reply dripped;
    for (const char byte : std::string("HTTP/1.0 200 Connection established\r\n\r\n"))
        dripped.pause(60).send(std::string(1, byte));
    proxy.enqueue(dripped);
    http.Proxy = "127.0.0.1";
    http.ProxyPort = proxy.port();
    EXPECT_EQ(errorOf([&] { http.Get("https://www.skarvelin.example/"); }), "Socket readln aborted");
}

} // namespace
} // namespace qm
