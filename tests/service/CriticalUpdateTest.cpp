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

// Whatever keeps the publisher out of reach is told with the system's reason: in the box
// with "Stop on errors", on the status line after it, in the log, and in update mode on
// standard error unless the box has said it already.
TEST_F(CriticalUpdateTest, AnUnreachableHostIsToldWithItsReason)
{
    http.TimeOut = 300;
    const struct {
        std::string host;
        std::string reason;
    } cases[] = {
        {"127.0.0.1:" + std::to_string(LoopbackServer::unusedPort()), "Connection Failed: Connection refused"},
        {server.hostPort(), "Timed out waiting for response"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        ::setenv("QUILLMAREN_PUBLISHER_HOST", c.host.c_str(), 1);
        const std::string text = "Unable to reach Vantoreal: " + c.reason;
        for (const bool stopOnErrors : {true, false}) {
            prompts.shown.clear();
            reporter.notices.clear();
            server.enqueue(Reply::silent());
            EXPECT_FALSE(check(stopOnErrors));
            EXPECT_EQ(prompts.shown.size(), stopOnErrors ? 1u : 0u);
            EXPECT_EQ(prompts.shown.empty() ? "" : prompts.shown[0].text, stopOnErrors ? text : "");
            EXPECT_EQ(reporter.status, text) << "not \"Checking Vantoreal for critical update\"";
            EXPECT_EQ(reporter.logLines.back(), text);
            EXPECT_EQ(reporter.notices, stopOnErrors ? std::vector<std::string>{} : std::vector<std::string>{text});
        }
    }
}

TEST_F(CriticalUpdateTest, ARefusedCertificateIsNamedWhereverTheFailureIsTold)
{
    ::setenv("QUILLMAREN_CA_FILE", test::TlsLoopbackServer::caFile().c_str(), 1);
    for (const auto& [certificate, reason] :
        std::vector<std::pair<std::string, std::string>>{{"expired", "certificate has expired"},
            {"wrong-host", "IP address mismatch"}, {"self-signed", "self-signed certificate"}}) {
        const test::TlsLoopbackServer publisher({.certificate = certificate});
        ::setenv("QUILLMAREN_PUBLISHER_HOST", publisher.url("").c_str(), 1);
        const std::string text = "Unable to reach Vantoreal: Certificate verification failed: " + reason;
        prompts.shown.clear();
        reporter.notices.clear();
        reporter.setDebug(true);
        EXPECT_FALSE(check(true));
        ASSERT_EQ(prompts.shown.size(), 1u);
        EXPECT_EQ(prompts.shown[0].text, text);
        EXPECT_EQ(reporter.logLines.back(), text);
        EXPECT_TRUE(reporter.notices.empty()) << "the box has told it";

        // Without the box and without debug logging: the status line, and standard
        // error in update mode.
        reporter.setDebug(false);
        reporter.status.clear();
        EXPECT_FALSE(check(false));
        EXPECT_EQ(prompts.shown.size(), 1u);
        EXPECT_EQ(reporter.status, text);
        EXPECT_EQ(reporter.notices, std::vector<std::string>{text}) << certificate;
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
