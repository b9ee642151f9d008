#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "model/time_text.hpp"
#include "support/time_zone.hpp"

namespace orvela {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct TextCase {
    double input;
    std::string expected;
};

// The countdown rounds up, never goes below 00:00, lets minutes grow past two digits, and
// survives values no timer should produce.
TEST(TimeText, Mmss) {
    const std::vector<TextCase> cases = {
        {0, "00:00"},
        {-5, "00:00"},
        {0.2, "00:01"},
        {59, "00:59"},
        {59.01, "01:00"},
        {1500, "25:00"},
        {3600, "60:00"},
        {6000, "100:00"},
        {-0.5, "00:00"},
        {kNaN, "00:00"},
        {-kInf, "00:00"},
        {-1e300, "00:00"},
        {kInf, "153722867280912930:07"},
        {1e300, "153722867280912930:07"},
    };
    for (const auto& c : cases) EXPECT_EQ(mmss(c.input), c.expected) << c.input;
}

// Durations round up to whole minutes, at least one, and switch to hours past 59 minutes.
TEST(TimeText, Span) {
    constexpr double kMinute = 60000;
    const std::vector<TextCase> cases = {
        {0, "1 мин"},
        {-2 * kMinute, "1 мин"},
        {1, "1 мин"},
        {kMinute, "1 мин"},
        {kMinute + 1, "2 мин"},
        {59 * kMinute, "59 мин"},
        {59 * kMinute + 1, "1 ч"},
        {60 * kMinute, "1 ч"},
        {61 * kMinute, "1 ч 1 мин"},
        {90 * kMinute, "1 ч 30 мин"},
        {24 * 60 * kMinute, "24 ч"},
        {kNaN, "1 мин"},
        {-kInf, "1 мин"},
        {-1e300, "1 мин"},
        {kInf, "153722867280912930 ч 7 мин"},
        {1e300, "153722867280912930 ч 7 мин"},
    };
    for (const auto& c : cases) EXPECT_EQ(span(c.input), c.expected) << c.input;
}

// Phase lengths in whole minutes: truncation toward zero, bounded at the 64-bit ends.
TEST(TimeText, WholeMinutes) {
    EXPECT_EQ(wholeMinutes(25.9), 25);
    EXPECT_EQ(wholeMinutes(-1.5), -1);
    EXPECT_EQ(wholeMinutes(kNaN), 0);
    EXPECT_EQ(wholeMinutes(kInf), std::numeric_limits<long long>::max());
    EXPECT_EQ(wholeMinutes(-1e300), std::numeric_limits<long long>::min());
}

// Times of day are 24-hour local time in whatever zone is in force when formatting, including
// after a guard restores the previous zone.
TEST(TimeText, ClockTimeFollowsLocalZone) {
    constexpr double k0605Utc = 1710050700000;  // 2024-03-10 06:05 UTC
    constexpr double k1840Utc = 1710096000000;  // 2024-03-10 18:40 UTC
    constexpr double kJulyNoonUtc = 1719835200000;
    constexpr double kJanuaryNoonUtc = 1705320000000;

    test::ScopedTimeZone utc("UTC");
    EXPECT_EQ(clockTime(k0605Utc), "06:05");
    {
        test::ScopedTimeZone moscow("Europe/Moscow");
        EXPECT_EQ(clockTime(k0605Utc), "09:05");
        EXPECT_EQ(clockTime(k1840Utc), "21:40");
        EXPECT_EQ(hhmm(k1840Utc / 1000), "21:40");
        {
            test::ScopedTimeZone kolkata("Asia/Kolkata");
            EXPECT_EQ(clockTime(k0605Utc), "11:35");
        }
        EXPECT_EQ(clockTime(k0605Utc), "09:05");
    }
    EXPECT_EQ(clockTime(k1840Utc), "18:40");
    {
        test::ScopedTimeZone newYork("America/New_York");
        EXPECT_EQ(clockTime(kJanuaryNoonUtc), "07:00");
        EXPECT_EQ(clockTime(kJulyNoonUtc), "08:00");
    }
    EXPECT_THROW(test::ScopedTimeZone("Mars/Olympus_Mons"), std::invalid_argument);
}

// Dates no agenda should hold still format (to some time) rather than crash.
TEST(TimeText, ClockTimeSurvivesAbsurdDates) {
    test::ScopedTimeZone utc("UTC");
    EXPECT_EQ(clockTime(kNaN), "00:00");
    for (double ms : {kInf, -kInf, 1e300, -1e300, 8.64e15}) {
        EXPECT_EQ(clockTime(ms).size(), 5u) << ms;
    }
}

}  // namespace
}  // namespace orvela
