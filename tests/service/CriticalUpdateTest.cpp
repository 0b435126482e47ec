// The critical-update check against a scripted publisher on 127.0.0.1.
#include "LoopbackServer.h"
#include "QtCoreApp.h"
#include "RecordingReporter.h"
#include "ScriptedPrompts.h"
#include "TlsLoopbackServer.h"

#include "platform/Errors.h"
#include "service/CriticalUpdate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>

namespace qm {
namespace {

using test::LoopbackServer;
using Reply = LoopbackServer::Reply;

std::string conversionError(std::string_view version)
{
    try {
        VersionNumber(version);
    } catch (const ConvertError& e) {
        return e.what();
    }
    return {};
}

TEST(VersionNumber, ThreeWordsWeightedAndStrictlyDecimal)
{
    EXPECT_EQ(VersionNumber("1.5.8 "), 10508);
    EXPECT_EQ(VersionNumber("1.4.100"), 10500) << "a large patch number spills into the next place";
    EXPECT_EQ(VersionNumber("2.0.0 beta"), 20000);
    EXPECT_EQ(conversionError("1.5.8\r\n"), "'8\r\n' is not a valid integer value");
    EXPECT_EQ(conversionError("1.5"), "'' is not a valid integer value");
    EXPECT_EQ(conversionError("1.5.99999999999"), "'99999999999' is not a valid integer value");
}

class CriticalUpdateTest : public ::testing::Test {
protected:
    CriticalUpdateTest()
    {
        test::coreApplication();
        ::setenv("QUILLMAREN_PUBLISHER_HOST", server.hostPort().c_str(), 1);
        http.Cookie = "sid=from-the-service";
    }

    bool check(bool stopOnErrors = true)
    {
        return CheckForCriticalUpdate(http, reporter, prompts, stopOnErrors, [this] { ++helpOpened; });
    }

    LoopbackServer server;
    HttpExchange http;
    test::RecordingReporter reporter;
    test::ScriptedPrompts prompts;
    int helpOpened = 0;
};

TEST_F(CriticalUpdateTest, EqualOrOlderRequiredVersionsLetTheRunGoOn)
{
    for (const char* required : {"1.5.8", "1.5.8 ", "1.4.99", "1.4.100"}) {
        server.enqueue(Reply::ok(required));
        EXPECT_TRUE(check()) << required;
    }
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(helpOpened, 0);
    EXPECT_EQ(reporter.status, "Checking Vantoreal for critical update");
    const auto requests = server.requests();
    EXPECT_EQ(LoopbackServer::requestTarget(requests[0]), "/Skarvelin/criticalupdate.txt");
    EXPECT_EQ(requests[0].find("Cookie:"), std::string::npos) << "the publisher never sees the session";
    EXPECT_EQ(http.Cookie, "");
}

TEST_F(CriticalUpdateTest, ANewerRequiredVersionTellsOpensHelpAndEndsWithStatusZero)
{
    server.enqueue(Reply::ok("1.5.9 \r\n"));
    try {
        check();
        FAIL() << "the program should end";
    } catch (const FatalStop& stop) {
        EXPECT_EQ(stop.exitStatus, 0);
        EXPECT_TRUE(stop.shown);
        EXPECT_FALSE(stop.logHalted);
    }
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, "error");
    EXPECT_EQ(prompts.shown[0].text,
        "Critical update required!\nVersion 1.5.9 \r\n or later is required.\nPlease download the latest version now.");
    EXPECT_EQ(reporter.logLines.back(), "Critical update required! Version 1.5.9 \r\n or later is required.");
    EXPECT_EQ(helpOpened, 1);
}

// An unreachable publisher is told with the reason: in the box with "Stop on errors", on
// the status line, in the log, and in update mode on standard error unless a box said it.
TEST_F(CriticalUpdateTest, AnUnreachableHostIsToldWithItsReason)
{
    http.TimeOut = 300;
    ::setenv("QUILLMAREN_CA_FILE", test::TlsLoopbackServer::caFile().c_str(), 1);
    const test::TlsLoopbackServer expired({.certificate = "expired"});
    const test::TlsLoopbackServer wrongHost({.certificate = "wrong-host"});
    const test::TlsLoopbackServer selfSigned({.certificate = "self-signed"});
    const std::pair<std::string, std::string> cases[] = {
        {"127.0.0.1:" + std::to_string(LoopbackServer::unusedPort()), "Connection Failed: Connection refused"},
        {server.hostPort(), "Timed out waiting for response"},
        {expired.url(""), "Certificate verification failed: certificate has expired"},
        {wrongHost.url(""), "Certificate verification failed: IP address mismatch"},
        {selfSigned.url(""), "Certificate verification failed: self-signed certificate"},
    };
    for (const auto& [host, reason] : cases) {
        SCOPED_TRACE(reason);
        ::setenv("QUILLMAREN_PUBLISHER_HOST", host.c_str(), 1);
        const std::string text = "Unable to reach Vantoreal: " + reason;
        for (const bool stopOnErrors : {true, false}) {
            prompts.shown.clear();
            reporter.notices.clear();
            reporter.setDebug(stopOnErrors);
            server.enqueue(Reply::silent());
            EXPECT_FALSE(check(stopOnErrors));
            EXPECT_EQ(prompts.shown.size(), stopOnErrors ? 1u : 0u);
            EXPECT_EQ(prompts.shown.empty() ? "" : prompts.shown[0].text, stopOnErrors ? text : "");
            EXPECT_EQ(reporter.status, text) << "not \"Checking Vantoreal for critical update\"";
            EXPECT_EQ(stopOnErrors ? reporter.logLines.back() : text, text) << "in the log with debug logging";
            EXPECT_EQ(reporter.notices, stopOnErrors ? std::vector<std::string>{} : std::vector<std::string>{text});
        }
    }
    ::unsetenv("QUILLMAREN_CA_FILE");
}

TEST_F(CriticalUpdateTest, AnUnreadableVersionReachesTheCaller)
{
    server.enqueue(Reply::text("HTTP/1.0 404 Not Found\r\n\r\n<html>gone</html>"));
    EXPECT_THROW(check(), ConvertError);
    EXPECT_EQ(helpOpened, 0);
}

} // namespace
} // namespace qm
