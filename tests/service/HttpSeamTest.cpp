// The exchange over a scripted transport: what it asks of the seam, and how it takes
// apart responses however they are cut into pieces.
#include "ResponseHead.h"
#include "ScriptedTransport.h"
#include "platform/Errors.h"
#include "service/HttpExchange.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>

namespace qm {
namespace {

using test::ScriptedTransport;

TEST(HttpSeam, ConnectsThroughTheTransportMadeForTheScheme)
{
    HttpExchange http;
    ScriptedTransport::Log log;
    std::string scheme;
    http.setTransportFactory([&](const std::string& s) {
        scheme = s;
        return std::make_unique<ScriptedTransport>(
            std::deque<std::string>{"HTTP/1.0 200 OK\r\n\r\n", std::string(200000, 'z')}, log);
    });
    http.TimeOut = 1234;
    http.Get("https://secure.example:8443/a.txt");
    EXPECT_EQ(scheme, "https:");
    EXPECT_EQ(log.host, "secure.example");
    EXPECT_EQ(log.port, 8443);
    EXPECT_EQ(log.timeoutMs, 1234);
    EXPECT_TRUE(log.sent.starts_with("GET /a.txt HTTP/1.0\r\nHost: secure.example\r\n"));
    EXPECT_TRUE(log.closed);
    EXPECT_EQ(log.largestAsk, HttpExchange::kChunkBytes);
    EXPECT_EQ(http.Body, std::string(200000, 'z'));

    http.Proxy = "proxy.example";
    http.ProxyPort = 3128;
    http.Get("http://h/x");
    EXPECT_EQ(log.host, "proxy.example");
    EXPECT_EQ(log.port, 3128);
}

// Whatever arrives, and however it is cut, the head and the body together are exactly
// the bytes received, and the head (when there is one) ends at its first empty line.
TEST(HttpSeam, HeadAndBodyTogetherAreExactlyWhatArrived)
{
    std::mt19937 random(20071015);
    const std::string alphabet = "HTP/1.0 2345\r\n\r\n:;SetCookie-LOCATION ab";
    for (int round = 0; round < 2000; ++round) {
        std::string response;
        if (round % 2 == 0)
            response = "HTTP/1.0 " + std::to_string(200 + static_cast<int>(random() % 300)) + " X\r\n";
        const std::size_t length = random() % 200;
        for (std::size_t i = 0; i < length; ++i)
            response += alphabet[random() % alphabet.size()];

        std::deque<std::string> pieces;
        for (std::size_t at = 0; at < response.size();) {
            const std::size_t n = 1 + random() % 20;
            pieces.push_back(response.substr(at, n));
            at += n;
        }
        HttpExchange http;
        ScriptedTransport::Log log;
        int failures = 0;
        http.OnFailure = [&](std::string_view) { ++failures; };
        // Each redirect gets the same response again; the limit ends the loop.
        http.setTransportFactory([&](const std::string&) { return std::make_unique<ScriptedTransport>(pieces, log); });
        try {
            http.Get("http://h/d/f.txt");
        } catch (const SocketError& e) {
            // A blank before a colon refuses the reply (its own target models when).
            EXPECT_TRUE(std::string_view(e.what()) == "Too many redirects"
                || std::string_view(e.what()) == "Malformed response head")
                << e.what();
            continue;
        }
        const std::string head = test::expectedHead(response);
        ASSERT_EQ(http.Header, head) << round;
        ASSERT_EQ(http.Body, response.substr(head.size())) << round;
        if (head.empty()) {
            EXPECT_EQ(http.statusCode(), 0);
        }
        EXPECT_EQ(failures, http.statusCode() >= 400 ? 1 : 0);
    }
}

} // namespace
} // namespace qm
