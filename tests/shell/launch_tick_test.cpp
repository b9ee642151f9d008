// Launch and the one-second tick: how often the service is asked, and that nothing runs once
// the app is gone.
#include <gtest/gtest.h>

#include <tuple>

#include "client/app_harness.hpp"

namespace orvela {
namespace {

// One of each fetch at launch, then the timer every 15 s, the agenda every minute and the
// update check every six hours, counted on the monotonic clock: a wall clock stepped back an hour
// keeps the rhythm, one stepped forward two hours brings nothing early. A wake fetches both at
// once and restarts both periods from there; callbacks outliving the app do nothing. The home
// holds a token so that the fetches really go out; none is answered.
TEST(LaunchAndTick, PollsOnTheirPeriodsAndStopWithTheApp) {
    test::AppHarness h;
    h.home.putToken("orvela_test\n");
    h.app->applicationDidFinishLaunching();
    test::FakePlatform& fake = h.fake;
    const auto fetches = [&fake] {
        std::tuple<int, int, int> n{0, 0, 0};
        for (const auto& r : fake.requests) {
            std::get<0>(n) += r.request.url.ends_with("/api/ext/pomodoro");
            std::get<1>(n) += r.request.url.ends_with("/api/ext/agenda");
            std::get<2>(n) += r.request.url.ends_with("/mac/version.json");
        }
        return n;
    };
    // A wake at 127 s: the old rhythm would have polled at 135 and fetched the agenda at 180.
    // Launch checks for updates twice (the tick's and its own).
    const double back = -3600, ahead = 7200;
    using Step = std::tuple<double, double, bool, int, int, int>;  // at, wall step, wake, counts
    const std::vector<Step> steps = {
        {0, 0, false, 1, 1, 2},         {14, 0, false, 1, 1, 2},   {15, 0, false, 2, 1, 2},
        {59, 0, false, 4, 1, 2},        {60, 0, false, 5, 2, 2},   {120, 0, false, 9, 3, 2},
        {127, 0, true, 10, 4, 2},       {141, 0, false, 10, 4, 2}, {142, 0, false, 11, 4, 2},
        {180, 0, false, 13, 4, 2},      {187, 0, false, 14, 5, 2}, {190, back, false, 14, 5, 2},
        {202, 0, false, 15, 5, 2},      {247, 0, false, 18, 6, 2}, {250, ahead, false, 18, 6, 2},
        {261, 0, false, 18, 6, 2},      {262, 0, false, 19, 6, 2}, {21599, 0, false, 1441, 361, 2},
        {21600, 0, false, 1441, 361, 3}};
    double now = 0;
    for (const auto& [at, step, wake, timer, agenda, updates] : steps) {
        fake.advance(at - now);
        now = at;
        fake.jumpWallClock(step);
        if (wake) fake.wake();
        EXPECT_EQ(fetches(), std::tuple(timer, agenda, updates)) << at;
    }

    h.app.reset();
    fake.advance(120);
    fake.wake();
    EXPECT_EQ(fetches(), std::tuple(1441, 361, 3));
}

}  // namespace
}  // namespace orvela
