#include "service/TransferMeter.h"

#include <gtest/gtest.h>

using namespace qm;
using namespace std::chrono;

namespace {

const TransferMeter::Clock::time_point t0{};

} // namespace

TEST(TransferMeter, ByteSizesAndShares)
{
    EXPECT_EQ(byteSize(1023), "1023 B");
    EXPECT_EQ(byteSize(1536), "1.5 KiB");
    EXPECT_EQ(byteSize(1024 * 1024 - 1), "1.0 MiB") << "never 1024.0 KiB";
    EXPECT_EQ(byteSize(5LL << 30), "5.0 GiB");

    TransferMeter meter;
    meter.update(1000, 4000, t0);
    EXPECT_EQ(meter.permille(), 250);
    // A server may send more than it announced; the bar stays full.
    meter.update(5000, 4000, t0);
    EXPECT_EQ(meter.permille(), 1000);
    meter.update(5000, -1, t0);
    EXPECT_FALSE(meter.permille()) << "no length: a busy bar";
}

TEST(TransferMeter, TextWithAndWithoutLengthAndRate)
{
    TransferMeter meter;
    meter.update(0, 2 << 20, t0);
    EXPECT_EQ(meter.text(), "0 B of 2.0 MiB") << "no rate before there is time to measure one";
    meter.update(300 << 10, 2 << 20, t0 + milliseconds{300});
    EXPECT_EQ(meter.text(), "300.0 KiB of 2.0 MiB");
    meter.update(1 << 20, 2 << 20, t0 + seconds{1});
    EXPECT_EQ(meter.text(), "1.0 MiB of 2.0 MiB, 1.0 MiB/s");

    TransferMeter unannounced;
    unannounced.update(0, -1, t0);
    unannounced.update(512, -1, t0 + seconds{2});
    EXPECT_EQ(unannounced.text(), "512 B, 256 B/s");
}

TEST(TransferMeter, RateFollowsTheLastSecondsAndRestartsWithANewBody)
{
    TransferMeter meter;
    // Ten seconds at 1000 B/s, then three at 4000 B/s: the rate shows the new speed.
    std::int64_t received = 0;
    auto now = t0;
    meter.update(received, -1, now);
    for (int i = 0; i < 100; ++i)
        meter.update(received += 100, -1, now += milliseconds{100});
    EXPECT_DOUBLE_EQ(*meter.rate(), 1000.0);
    for (int i = 0; i < 30; ++i)
        meter.update(received += 400, -1, now += milliseconds{100});
    EXPECT_DOUBLE_EQ(*meter.rate(), 4000.0);

    // Fewer bytes than before: a redirect's body came first, this is another transfer.
    meter.update(0, 100, now += milliseconds{100});
    EXPECT_FALSE(meter.rate());
    EXPECT_EQ(meter.text(), "0 B of 100 B");

    meter.reset();
    EXPECT_EQ(meter.text(), "0 B");
}
