// Launch and the one-second tick: what starts at launch, how often the service is asked, that
// the countdown keeps moving, and that nothing runs once the app is gone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "model/clock.hpp"
#include "shell/app.hpp"
#include "support/fake_platform.hpp"

namespace orvela {
namespace {

namespace fs = std::filesystem;

// A launched app whose home holds a stored token, so that the fetches really go out. Nothing
// is answered, so every fetch stays in flight.
class LaunchAndTick : public ::testing::Test {
protected:
    LaunchAndTick() {
        std::string pattern = (fs::path(::testing::TempDir()) / "orvela-home-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        fake.home = pattern;
        fs::create_directories(fs::path(pattern) / ".config" / "orvela");
        std::ofstream(fs::path(pattern) / ".config" / "orvela" / "token") << "orvela_test\n";
        app = std::make_unique<App>(fake);
        App::shared = app.get();
        app->applicationDidFinishLaunching();
    }
    ~LaunchAndTick() override {
        app.reset();
        fs::remove_all(fake.home);
    }
    // How many timer and agenda fetches have been sent so far.
    std::pair<int, int> fetches() const {
        std::pair<int, int> n{0, 0};
        for (const auto& r : fake.requests) {
            n.first += r.request.url.ends_with("/api/ext/pomodoro");
            n.second += r.request.url.ends_with("/api/ext/agenda");
        }
        return n;
    }

    test::FakePlatform fake;
    std::unique_ptr<App> app;
};

// Launch sets up the item, one timer and one of each fetch (the launch's own tick finds them
// just started); then the timer is polled every 15 s and the agenda every minute.
TEST_F(LaunchAndTick, PollsEveryFifteenSecondsAndTheAgendaEveryMinute) {
    EXPECT_EQ(app->item, fake.statusItem());
    EXPECT_EQ(fake.statusItem()->delegate, app.get());
    EXPECT_FALSE(fake.statusItem()->titles.empty());
    double now = 0;
    for (const auto& [at, timer, agenda] : std::vector<std::tuple<double, int, int>>{
             {0, 1, 1}, {14, 1, 1}, {15, 2, 1}, {59, 4, 1}, {60, 5, 2}, {119, 8, 2}, {120, 9, 3}}) {
        fake.advance(at - now);
        now = at;
        EXPECT_EQ(fetches(), std::pair(timer, agenda)) << at;
    }
    EXPECT_EQ(fake.authorisationRequests, 1);
    EXPECT_EQ(fake.repeatingTimers(), 1);
}

// A wake fetches both at once and restarts both periods from there.
TEST_F(LaunchAndTick, WakeFetchesAtOnceAndRestartsThePeriods) {
    fake.advance(22);  // timer fetches at 0 and 15, the agenda at 0
    fake.wake();
    EXPECT_EQ(fetches(), std::pair(3, 2));
    fake.advance(14);  // 36 s: the old rhythm would have polled at 30
    EXPECT_EQ(fetches(), std::pair(3, 2));
    fake.advance(1);
    EXPECT_EQ(fetches(), std::pair(4, 2));
    fake.advance(44);  // 81 s: the old rhythm would have fetched the agenda at 60
    EXPECT_EQ(fetches().second, 2);
    fake.advance(1);
    EXPECT_EQ(fetches().second, 3);
}

// The tick redraws the countdown every second.
TEST_F(LaunchAndTick, TheCountdownMovesEverySecond) {
    app->state = PomodoroState{1, "Отчёт", {{"work", 25}}, nowMs(), {}};
    fake.advance(1);
    EXPECT_EQ(fake.statusItem()->plainTitle(), "🍅 24:59 · Отчёт");
    const auto redraws = fake.statusItem()->titles.size();
    fake.advance(60);
    EXPECT_EQ(fake.statusItem()->plainTitle(), "🍅 23:59 · Отчёт");
    EXPECT_EQ(fake.statusItem()->titles.size(), redraws + 60);
}

// Timer and wake callbacks outliving the app do nothing.
TEST_F(LaunchAndTick, CallbacksDoNothingOnceTheAppIsGone) {
    app.reset();
    EXPECT_EQ(App::shared, nullptr);
    const auto sent = fake.requests.size();
    fake.advance(120);
    fake.wake();
    EXPECT_EQ(fake.requests.size(), sent);
}

}  // namespace
}  // namespace orvela
