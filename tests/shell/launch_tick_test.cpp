// Launch and the one-second tick: how often the service is asked, and that nothing runs once
// the app is gone.
#include <gtest/gtest.h>

#include <tuple>

#include "client/temp_home.hpp"
#include "shell/app.hpp"
#include "support/fake_platform.hpp"

namespace orvela {
namespace {

// One of each fetch at launch, then the timer every 15 s and the agenda every minute; a wake
// fetches both at once and restarts both periods from there; callbacks outliving the app do
// nothing. The home holds a token so that the fetches really go out; none is answered.
TEST(LaunchAndTick, PollsOnTheirPeriodsAndStopWithTheApp) {
    const test::TempHome home;
    home.putToken("orvela_test\n");
    test::FakePlatform fake;
    fake.home = home.path().string();
    auto app = std::make_unique<App>(fake);
    App::shared = app.get();
    app->applicationDidFinishLaunching();
    const auto fetches = [&fake] {
        std::pair<int, int> n{0, 0};
        for (const auto& r : fake.requests) {
            n.first += r.request.url.ends_with("/api/ext/pomodoro");
            n.second += r.request.url.ends_with("/api/ext/agenda");
        }
        return n;
    };
    // A wake at 127 s: the old rhythm would have polled at 135 and fetched the agenda at 180.
    using Step = std::tuple<double, bool, int, int>;  // at, wake, timer and agenda fetches
    const std::vector<Step> steps = {{0, false, 1, 1},    {14, false, 1, 1},   {15, false, 2, 1},
                                     {59, false, 4, 1},   {60, false, 5, 2},   {120, false, 9, 3},
                                     {127, true, 10, 4},  {141, false, 10, 4}, {142, false, 11, 4},
                                     {180, false, 13, 4}, {187, false, 14, 5}};
    double now = 0;
    for (const auto& [at, wake, timer, agenda] : steps) {
        fake.advance(at - now);
        now = at;
        if (wake) fake.wake();
        EXPECT_EQ(fetches(), std::pair(timer, agenda)) << at;
    }

    app.reset();
    fake.advance(120);
    fake.wake();
    EXPECT_EQ(fetches(), std::pair(14, 5));
}

}  // namespace
}  // namespace orvela
