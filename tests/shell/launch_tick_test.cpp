// Launch and the one-second tick: what starts at launch, how often the service is asked, and
// that the countdown keeps moving.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "model/clock.hpp"
#include "shell/app.hpp"
#include "support/fake_platform.hpp"

namespace orvela {
namespace {

namespace fs = std::filesystem;
using test::FakePlatform;

// A home directory of our own holding a stored token, so that the fetches really go out.
class TemporaryHome {
public:
    TemporaryHome() {
        std::string pattern = (fs::path(::testing::TempDir()) / "orvela-home-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        fs::create_directories(path_ / ".config" / "orvela");
        std::ofstream(path_ / ".config" / "orvela" / "token") << "orvela_launch_test\n";
    }
    ~TemporaryHome() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string path() const { return path_.string(); }

private:
    fs::path path_;
};

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class LaunchAndTick : public ::testing::Test {
protected:
    LaunchAndTick() { App::shared = &app; }

    // Requests sent so far whose URL ends with `path`; nothing is answered, so none finishes.
    int sent(const std::string& path) const {
        int n = 0;
        for (const auto& r : fake.requests) n += endsWith(r.request.url, path) ? 1 : 0;
        return n;
    }
    int timerFetches() const { return sent("/api/ext/pomodoro"); }
    int agendaFetches() const { return sent("/api/ext/agenda"); }

    // A platform whose home is the temporary one, from before the app reads its token path.
    static FakePlatform& at(FakePlatform& fake, const std::string& home) {
        fake.home = home;
        return fake;
    }

    TemporaryHome home;
    FakePlatform fake;
    App app{at(fake, home.path())};
};

TEST_F(LaunchAndTick, SetsUpTheItemTheTimerAndOneOfEachFetch) {
    app.applicationDidFinishLaunching();

    ASSERT_NE(fake.statusItem(), nullptr);
    EXPECT_EQ(app.item, fake.statusItem());
    EXPECT_EQ(fake.statusItem()->delegate, &app);
    EXPECT_EQ(fake.authorisationRequests, 1);
    EXPECT_EQ(fake.repeatingTimers(), 1);
    // The launch's own tick finds both fetches just started and leaves them be.
    EXPECT_EQ(timerFetches(), 1);
    EXPECT_EQ(agendaFetches(), 1);
    EXPECT_FALSE(fake.statusItem()->titles.empty()) << "the title is drawn at launch";
}

TEST_F(LaunchAndTick, PollsEveryFifteenSecondsAndTheAgendaEveryMinute) {
    app.applicationDidFinishLaunching();

    struct Moment {
        double at;  // seconds since launch
        int timer, agenda;
    };
    double now = 0;
    for (const Moment m :
         {Moment{14, 1, 1}, Moment{15, 2, 1}, Moment{29, 2, 1}, Moment{30, 3, 1}, Moment{59, 4, 1},
          Moment{60, 5, 2}, Moment{119, 8, 2}, Moment{120, 9, 3}}) {
        fake.advance(m.at - now);
        now = m.at;
        SCOPED_TRACE(m.at);
        EXPECT_EQ(timerFetches(), m.timer);
        EXPECT_EQ(agendaFetches(), m.agenda);
    }
    EXPECT_EQ(fake.authorisationRequests, 1);
    EXPECT_EQ(fake.repeatingTimers(), 1);
}

TEST_F(LaunchAndTick, WakeFetchesAtOnceAndRestartsThePeriods) {
    app.applicationDidFinishLaunching();
    fake.advance(22);  // timer fetches at 0 and 15, the agenda at 0
    ASSERT_EQ(timerFetches(), 2);
    ASSERT_EQ(agendaFetches(), 1);

    fake.wake();
    EXPECT_EQ(timerFetches(), 3);
    EXPECT_EQ(agendaFetches(), 2);

    fake.advance(14);  // 36 s: the old rhythm would have polled at 30
    EXPECT_EQ(timerFetches(), 3);
    fake.advance(1);  // 37 s: fifteen seconds after the wake
    EXPECT_EQ(timerFetches(), 4);
    fake.advance(44);  // 81 s: the old rhythm would have fetched the agenda at 60
    EXPECT_EQ(agendaFetches(), 2);
    fake.advance(1);  // 82 s
    EXPECT_EQ(agendaFetches(), 3);
}

TEST_F(LaunchAndTick, TheCountdownMovesEverySecond) {
    app.applicationDidFinishLaunching();
    app.state = PomodoroState{1, "Отчёт", {{"work", 25}}, nowMs(), {}};

    fake.advance(1);
    EXPECT_EQ(fake.statusItem()->plainTitle(), "🍅 24:59 · Отчёт");
    fake.advance(1);
    EXPECT_EQ(fake.statusItem()->plainTitle(), "🍅 24:58 · Отчёт");
    const auto redraws = fake.statusItem()->titles.size();
    fake.advance(60);
    EXPECT_EQ(fake.statusItem()->plainTitle(), "🍅 23:58 · Отчёт");
    EXPECT_EQ(fake.statusItem()->titles.size(), redraws + 60);
}

TEST(LaunchAndTickWithoutApp, CallbacksDoNothingOnceTheAppIsGone) {
    FakePlatform fake;
    {
        App app{fake};
        App::shared = &app;
        app.applicationDidFinishLaunching();
    }
    EXPECT_EQ(App::shared, nullptr);
    const auto requests = fake.requests.size();
    fake.advance(120);
    fake.wake();
    EXPECT_EQ(fake.requests.size(), requests);
}

}  // namespace
}  // namespace orvela
