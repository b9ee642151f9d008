#include <gtest/gtest.h>

#include <limits>

#include "model/time_text.hpp"
#include "support/time_zone.hpp"

namespace orvela {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMinute = 60000;

// Countdowns and durations round up, have a floor, and stay bounded for values no timer
// should produce (NaN, infinities, 1e300) instead of hitting undefined conversions.
TEST(TimeText, CountdownsAndDurations) {
    const auto texts = [](auto format, std::vector<double> inputs) {
        std::vector<decltype(format(0.0))> out;
        for (double input : inputs) out.push_back(format(input));
        return out;
    };
    EXPECT_EQ(texts(mmss, {-0.5, 0.2, 59.01, 1500, 6000, kNaN, -1e300, kInf}),
              (std::vector<std::string>{"00:00", "00:01", "01:00", "25:00", "100:00", "00:00",
                                        "00:00", "153722867280912930:07"}));
    EXPECT_EQ(texts(span, {-2 * kMinute, kMinute, kMinute + 1, 59 * kMinute, 59 * kMinute + 1,
                           61 * kMinute, 90 * kMinute, kNaN, 1e300}),
              (std::vector<std::string>{"1 мин", "1 мин", "2 мин", "59 мин", "1 ч", "1 ч 1 мин",
                                        "1 ч 30 мин", "1 мин", "153722867280912930 ч 7 мин"}));
    EXPECT_EQ(texts(wholeMinutes, {25.9, -1.5, kNaN, kInf, -1e300}),
              (std::vector<long long>{25, -1, 0, std::numeric_limits<long long>::max(),
                                      std::numeric_limits<long long>::min()}));
}

// Times of day are 24-hour local time in whatever zone is in force when formatting, summer
// time included, and absurd dates still format rather than crash.
TEST(TimeText, ClockTimeFollowsTheLocalZone) {
    constexpr double k0605Utc = 1710050700000;  // 2024-03-10 06:05 UTC
    constexpr double k1840Utc = 1710096000000;  // 2024-03-10 18:40 UTC
    test::ScopedTimeZone utc("UTC");
    EXPECT_EQ(clockTime(k0605Utc), "06:05");
    {
        test::ScopedTimeZone moscow("Europe/Moscow");
        EXPECT_EQ(clockTime(k0605Utc), "09:05");
        EXPECT_EQ(hhmm(k1840Utc / 1000), "21:40");
    }
    EXPECT_EQ(clockTime(k1840Utc), "18:40");
    EXPECT_EQ(clockTime(-1), "23:59");  // a moment before 1970 is still in its own minute
    {
        test::ScopedTimeZone kolkata("Asia/Kolkata");  // half an hour off the hour
        EXPECT_EQ(clockTime(k0605Utc), "11:35");
        EXPECT_EQ(clockTime(-1), "05:29");
    }
    {
        test::ScopedTimeZone newYork("America/New_York");
        EXPECT_EQ(clockTime(1705320000000), "07:00");  // January noon UTC
        EXPECT_EQ(clockTime(1719835200000), "08:00");  // July noon UTC
    }
    EXPECT_EQ(clockTime(kNaN), "00:00");
    for (double ms : {kInf, -kInf, -1e300, 8.64e15}) EXPECT_EQ(clockTime(ms).size(), 5u) << ms;
}

}  // namespace
}  // namespace orvela
