#include "catalogue/Epoch.h"

#include "TleSamples.h"

#include <gtest/gtest.h>

using namespace qm;
using namespace qm::test;
using namespace std::chrono;

namespace {

std::string withEpoch(const std::string& epoch)
{
    return put(kIssLine1, 19, epoch);
}

std::optional<TleEpoch> epochOf(const std::string& epoch)
{
    return Epoch_Value(withEpoch(epoch));
}

system_clock::time_point at(year_month_day date, hours h = hours{0})
{
    return sys_days{date} + h;
}

} // namespace

TEST(Epoch, TwoDigitYearsSplitAtFiftySeven)
{
    EXPECT_EQ(epochOf("57001.00000000"), (TleEpoch{1957, 1, 0}));
    EXPECT_EQ(epochOf("99365.25000000"), (TleEpoch{1999, 365, 25000000}));
    EXPECT_EQ(epochOf("00001.00000000"), (TleEpoch{2000, 1, 0}));
    EXPECT_EQ(epochOf("56200.12345678"), (TleEpoch{2056, 200, 12345678}));
    EXPECT_EQ(Epoch_Value(kIssLine1), (TleEpoch{2008, 264, 51782528}));
    // A leading blank reads as the field reader reads it.
    EXPECT_EQ(epochOf(" 7001.00000000"), (TleEpoch{2007, 1, 0}));
}

TEST(Epoch, FieldsThatDoNotReadGiveNone)
{
    EXPECT_FALSE(epochOf("  001.00000000"));
    EXPECT_FALSE(epochOf("-1001.00000000"));
    EXPECT_FALSE(epochOf("24-01.00000000"));
    EXPECT_FALSE(epochOf("24001 00000000"));
    EXPECT_FALSE(epochOf("24001.0000 000"));
    EXPECT_FALSE(Epoch_Value(kIssLine1.substr(0, 31)));
}

TEST(Epoch, DayOneIsNewYearAndFractionsAreTimeOfDay)
{
    EXPECT_EQ(epochOf("24001.00000000")->timePoint(), at(2024y / January / 1));
    EXPECT_EQ(epochOf("24001.50000000")->timePoint(), at(2024y / January / 1, hours{12}));
    EXPECT_EQ(epochOf("24366.75000000")->timePoint(), at(2024y / December / 31, hours{18}));
    EXPECT_EQ(epochOf("99060.00000000")->timePoint(), at(1999y / March / 1));
    // A hundred-millionth of a day is 864 microseconds.
    EXPECT_EQ(epochOf("24001.00000001")->timePoint() - at(2024y / January / 1), microseconds{864});
}

TEST(Epoch, LineShowsTheDateAndTheAgeToATenthOfADay)
{
    const TleEpoch epoch = *epochOf("26340.50000000"); // 6 December 2026, noon
    const auto noon = at(2026y / December / 6, hours{12});
    EXPECT_EQ(epochLine(epoch, noon + minutes{int(1.2 * 24 * 60)}), "Epoch 2026-12-06, 1.2 days old");
    EXPECT_EQ(epochLine(epoch, noon + hours{24 * 31}), "Epoch 2026-12-06, 31.0 days old");
    EXPECT_EQ(epochLine(epoch, noon + hours{30}), "Epoch 2026-12-06, 1.3 days old") << "1.25 rounds up";
    // A clock behind the data: a small gap reads as fresh, a larger one shows its sign.
    EXPECT_EQ(epochLine(epoch, noon - hours{1}), "Epoch 2026-12-06, 0.0 days old");
    EXPECT_EQ(epochLine(epoch, noon - hours{6}), "Epoch 2026-12-06, -0.3 days old");

    EXPECT_EQ(epochLine(*epochOf("24366.99999999"), at(2025y / January / 1)), "Epoch 2024-12-31, 0.0 days old");
    EXPECT_EQ(epochLine(*epochOf("57277.00000000"), at(1957y / October / 14)), "Epoch 1957-10-04, 10.0 days old");
}

TEST(Epoch, NewestCountsCenturiesNotDigits)
{
    NewestEpoch newest;
    EXPECT_FALSE(newest.value());
    for (const char* epoch : {"99365.99999999", "01001.00000000", "00366.50000000", "01001.00000001", "  001.0000000"})
        newest.take(withEpoch(epoch));
    EXPECT_EQ(newest.value(), (TleEpoch{2001, 1, 1}));
    newest.reset();
    EXPECT_FALSE(newest.value());
}
