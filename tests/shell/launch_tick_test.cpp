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
    double now = 0;
    for (const auto& [at, timer, agenda] : std::vector<std::tuple<double, int, int>>{
             {0, 1, 1}, {14, 1, 1}, {15, 2, 1}, {59, 4, 1}, {60, 5, 2}, {120, 9, 3}}) {
        fake.advance(at - now);
        now = at;
        EXPECT_EQ(fetches(), std::pair(timer, agenda)) << at;
    }
    fake.advance(7);
    fake.wake();  // at 127 s
    EXPECT_EQ(fetches(), std::pair(10, 4));
    fake.advance(14);  // the old rhythm would have polled at 135
    EXPECT_EQ(fetches(), std::pair(10, 4));
    fake.advance(1);
    EXPECT_EQ(fetches(), std::pair(11, 4));
    fake.advance(38);  // 180 s: the old rhythm would have fetched the agenda here
    EXPECT_EQ(fetches(), std::pair(13, 4));
    fake.advance(7);
    EXPECT_EQ(fetches(), std::pair(14, 5));

    app.reset();
    fake.advance(120);
    fake.wake();
    EXPECT_EQ(fetches(), std::pair(14, 5));
}

}  // namespace
}  // namespace orvela
