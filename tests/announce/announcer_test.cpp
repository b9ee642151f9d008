// Announcing phase changes: when a notification goes out, what it says, and when it stays quiet.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "announce/tips.hpp"
#include "model/clock.hpp"
#include "shell/app.hpp"
#include "support/fake_platform.hpp"

namespace orvela {
namespace {

constexpr double kMinute = 60;

// The app after launch with a timer that starts now and has been seen once (a timer already
// running at launch is not news). One Desk at a time: each App installs the core's clock.
struct Desk {
    explicit Desk(std::vector<Phase> plan) {
        app.item = fake.createStatusItem();
        app.state = PomodoroState{1, "Отчёт", std::move(plan), nowMs(), {}};
        app.render();
    }
    // Lets the clock run `seconds` on, redrawing once a second as the tick does.
    void run(double seconds) {
        for (double left = seconds; left > 0; left -= 1) {
            fake.advance(std::min(1.0, left));
            app.render();
        }
    }
    std::vector<std::string> notes(std::string Notification::*field) const {
        std::vector<std::string> out;
        for (const auto& n : fake.notifications) out.push_back(n.*field);
        return out;
    }

    test::FakePlatform fake;
    App app{fake};
};

// Each phase change is announced once, exactly at the boundary, with a sound, under one
// identifier so that each replaces the last; breaks carry the eye tip of their phase index
// (two phases per slot, four slots round), not of a count of breaks.
TEST(Announcer, AnnouncesEachPhaseOnce) {
    {
        Desk desk({{"work", 25}, {"rest", 5}, {"work", 25}, {"rest", 5}});
        desk.run(25 * kMinute - 1);
        EXPECT_TRUE(desk.fake.notifications.empty());
        desk.run(1);
        EXPECT_EQ(desk.fake.sounds, std::vector<std::string>{"Glass"});
        desk.run(35 * kMinute + 30);
        EXPECT_EQ(desk.notes(&Notification::title),
                  (std::vector<std::string>{"☕ Перерыв 5 мин", "🍅 Работаем 25 мин",
                                            "☕ Перерыв 5 мин", "✅ Время задачи вышло"}));
        EXPECT_EQ(desk.notes(&Notification::body),
                  (std::vector<std::string>{std::string(eyeTips[0]), "Отчёт",
                                            std::string(eyeTips[1]), "Отчёт"}));
        EXPECT_EQ(desk.notes(&Notification::identifier),
                  std::vector<std::string>(4, "orvela-pomodoro"));
        for (const auto& n : desk.fake.notifications) EXPECT_EQ(n.sound, "Glass.aiff");
        EXPECT_EQ(desk.fake.sounds.size(), 4u);
    }

    Desk breaks(std::vector<Phase>(10, Phase{"rest", 1}));
    breaks.run(10 * kMinute - 1);
    std::vector<std::string> tips;
    for (int slot : {0, 1, 1, 2, 2, 3, 3, 0, 0}) tips.emplace_back(eyeTips[slot]);
    EXPECT_EQ(breaks.notes(&Notification::body), tips);
}

// Our own command changes the phase on purpose: quiet for three seconds after it, and the new
// phase is then known, so it is not announced later either.
TEST(Announcer, StaysQuietRightAfterOurOwnCommand) {
    for (const auto& [since, announced] : {std::pair{3.0, 0u}, std::pair{3.1, 1u}}) {
        Desk desk({{"work", 25}, {"rest", 5}});
        desk.app.lastAction = nowSeconds();
        desk.fake.advance(since);
        desk.app.state->startedAt -= 25 * kMinute * 1000;  // the service's answer to "skip"
        desk.app.render();
        desk.run(60);
        EXPECT_EQ(desk.fake.notifications.size(), announced) << since;
    }
}

// An idle title forgets the phase so that the next timer is not news; a problem hides the title but
// the announcer keeps count and speaks afterwards; a meeting that takes over the title does not
// swallow the end of the task.
TEST(Announcer, IdleTitlesProblemsAndMeetings) {
    const std::vector<std::string> finished{"✅ Время задачи вышло"};
    {
        Desk desk({{"work", 25}, {"rest", 5}});
        PomodoroState onBreak = *desk.app.state;
        desk.app.state.reset();
        desk.app.render();
        onBreak.startedAt -= 26 * kMinute * 1000;
        desk.app.state = onBreak;
        desk.app.render();
        EXPECT_TRUE(desk.fake.notifications.empty());
        desk.app.problem = "Нет связи с ORVELA";
        desk.run(10 * kMinute);
        EXPECT_TRUE(desk.fake.notifications.empty());
        desk.app.problem.reset();
        desk.app.render();
        EXPECT_EQ(desk.notes(&Notification::title), finished);
    }
    Desk desk({{"work", 1}});
    desk.app.agenda.emplace_back().title = "Планёрка";
    desk.app.agenda[0].start = nowMs() + 10 * kMinute * 1000;
    desk.run(2 * kMinute);
    EXPECT_EQ(desk.fake.statusItem()->plainTitle(), "Планёрка · через 8 мин");
    EXPECT_EQ(desk.notes(&Notification::title), finished);
}

// Lengths read as whole minutes (truncated and bounded), only exactly "rest" is a break, and a
// NaN length ends the plan where it stands.
TEST(Announcer, PhaseLengthsReadAsWholeMinutes) {
    for (const auto& [next, title] : std::vector<std::pair<Phase, std::string>>{
             {{"rest", 2.9}, "☕ Перерыв 2 мин"},
             {{"REST", 10}, "🍅 Работаем 10 мин"},
             {{"rest", 1e300}, "☕ Перерыв 9223372036854775807 мин"},
             {{"work", INFINITY}, "🍅 Работаем 9223372036854775807 мин"},
             {{"rest", NAN}, "✅ Время задачи вышло"}}) {
        Desk desk({{"work", 1}, next, {"work", 1}});
        desk.run(kMinute);
        EXPECT_EQ(desk.notes(&Notification::title), std::vector<std::string>{title});
    }
}

// Update banners are silent and apart from the phase announcements; notices are informational
// alerts with a single OK, brought to the front.
TEST(Announcer, BannersAndAlertsForOtherMessages) {
    Desk desk({});
    desk.app.notify("Доступно обновление ORVELA Timer 1.2", "Обновить — в меню приложения");
    ASSERT_EQ(desk.notes(&Notification::identifier), std::vector<std::string>{"orvela-update"});
    EXPECT_EQ(desk.fake.notifications[0].sound, std::nullopt);
    EXPECT_TRUE(desk.fake.sounds.empty());

    desk.app.notice("Установлена последняя версия", "ORVELA Timer 1.0 (сборка 1).");
    EXPECT_EQ(desk.fake.activations, 1);
    ASSERT_EQ(desk.fake.alerts.size(), 1u);
    const Alert& a = desk.fake.alerts[0];
    EXPECT_EQ(std::tie(a.message, a.informative, a.style, a.buttons),
              std::tuple("Установлена последняя версия", "ORVELA Timer 1.0 (сборка 1).",
                         AlertStyle::Informational, std::vector<std::string>{"OK"}));
    EXPECT_FALSE(a.field.has_value());
}

}  // namespace
}  // namespace orvela
