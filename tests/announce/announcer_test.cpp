// Announcing phase changes: when a notification goes out, what it says, and when it stays quiet.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "announce/tips.hpp"
#include "model/clock.hpp"
#include "shell/app.hpp"
#include "support/fake_platform.hpp"

namespace orvela {
namespace {

using test::FakePlatform;

constexpr double kMinute = 60;

// The app as after launch, with a timer that starts now and a title redrawn on demand. One
// Desk at a time: each App installs its platform's clock for the whole core.
struct Desk {
    explicit Desk(std::vector<Phase> plan, std::string title = "Отчёт") {
        app.item = fake.createStatusItem();
        app.state = PomodoroState{1, std::move(title), std::move(plan), nowMs(), {}};
    }
    // Lets the clock run to `seconds` into the plan, redrawing once a second as the tick does.
    void runTo(double seconds) {
        while (elapsed < seconds) {
            const double step = std::min(1.0, seconds - elapsed);
            fake.advance(step);
            elapsed += step;
            app.render();
        }
    }
    std::vector<std::string> titles() const {
        std::vector<std::string> out;
        for (const auto& n : fake.notifications) out.push_back(n.title);
        return out;
    }

    FakePlatform fake;
    App app{fake};
    double elapsed = 0;
};

TEST(Announcer, AnnouncesEachPhaseOfAPlanOnceWithTheBreakTips) {
    Desk desk({{"work", 25}, {"rest", 5}, {"work", 25}, {"rest", 5}});
    desk.app.render();
    EXPECT_TRUE(desk.fake.notifications.empty()) << "a timer running at launch is not news";

    desk.runTo(25 * kMinute - 1);
    EXPECT_TRUE(desk.fake.notifications.empty());
    desk.runTo(25 * kMinute);
    ASSERT_EQ(desk.fake.notifications.size(), 1u);
    const Notification& firstBreak = desk.fake.notifications[0];
    EXPECT_EQ(firstBreak.identifier, "orvela-pomodoro");
    EXPECT_EQ(firstBreak.title, "☕ Перерыв 5 мин");
    EXPECT_EQ(firstBreak.body, eyeTips[0]);
    EXPECT_EQ(firstBreak.sound, "Glass.aiff");
    EXPECT_EQ(desk.fake.sounds, std::vector<std::string>{"Glass"});

    desk.runTo(60 * kMinute + 30);
    EXPECT_EQ(desk.titles(), (std::vector<std::string>{"☕ Перерыв 5 мин", "🍅 Работаем 25 мин",
                                                       "☕ Перерыв 5 мин", "✅ Время задачи вышло"}));
    EXPECT_EQ(desk.fake.notifications[1].body, "Отчёт");
    EXPECT_EQ(desk.fake.notifications[2].body, eyeTips[1]);
    EXPECT_EQ(desk.fake.notifications[3].body, "Отчёт");
    EXPECT_EQ(desk.fake.sounds.size(), 4u);
    for (const auto& n : desk.fake.notifications) EXPECT_EQ(n.identifier, "orvela-pomodoro");
}

TEST(Announcer, ConsecutiveBreaksWalkThroughTheEyeTips) {
    {
        std::vector<Phase> plan;
        for (int i = 0; i < 6; ++i) {
            plan.push_back({"work", 1});
            plan.push_back({"rest", 1});
        }
        Desk desk(plan);
        desk.app.render();
        desk.runTo(12 * kMinute - 1);

        std::vector<std::string> breakTips;
        for (const auto& n : desk.fake.notifications)
            if (n.title.starts_with("☕")) breakTips.push_back(n.body);
        const std::vector<std::string> expected{std::string(eyeTips[0]), std::string(eyeTips[1]),
                                                std::string(eyeTips[2]), std::string(eyeTips[3]),
                                                std::string(eyeTips[0]), std::string(eyeTips[1])};
        EXPECT_EQ(breakTips, expected);
    }

    // The slot follows the phase index, not the count of breaks: a break at index 2 takes the
    // second tip.
    Desk twoWorks({{"work", 1}, {"work", 1}, {"rest", 1}});
    twoWorks.app.render();
    twoWorks.runTo(2 * kMinute);
    ASSERT_EQ(twoWorks.fake.notifications.size(), 2u);
    EXPECT_EQ(twoWorks.fake.notifications[1].body, eyeTips[1]);
}

TEST(Announcer, StaysQuietRightAfterOurOwnCommand) {
    struct Case {
        double secondsSinceCommand;
        bool announced;
    };
    for (const Case c : {Case{0, false}, Case{2.9, false}, Case{3.0, false}, Case{3.1, true}}) {
        SCOPED_TRACE(c.secondsSinceCommand);
        Desk desk({{"work", 25}, {"rest", 5}});
        desk.app.render();
        // The user pressed skip; the service's answer arrives a little later.
        desk.app.lastAction = nowSeconds();
        desk.fake.advance(c.secondsSinceCommand);
        desk.app.state->startedAt -= 25 * kMinute * 1000;
        desk.app.render();
        EXPECT_EQ(desk.fake.notifications.size(), c.announced ? 1u : 0u);
        EXPECT_EQ(desk.app.lastIndex, 1);
        // The new phase is now known: nothing is announced later either.
        desk.runTo(60);
        EXPECT_EQ(desk.fake.notifications.size(), c.announced ? 1u : 0u);
    }
}

TEST(Announcer, APausedTimerNeverAnnounces) {
    Desk desk({{"work", 25}, {"rest", 5}});
    desk.app.state->pausedAt = desk.app.state->startedAt + 24 * kMinute * 1000;
    desk.app.render();
    desk.runTo(2 * 60 * kMinute);
    EXPECT_TRUE(desk.fake.notifications.empty());
}

TEST(Announcer, AnIdleTitleForgetsThePhaseAndAProblemDoesNot) {
    Desk desk({{"work", 25}, {"rest", 5}});
    desk.app.render();

    // The timer stops: the idle title forgets the phase, so the next timer is not news.
    const PomodoroState running = *desk.app.state;
    desk.app.state.reset();
    desk.app.render();
    EXPECT_EQ(desk.app.lastIndex, std::nullopt);
    auto onBreak = running;
    onBreak.startedAt -= 26 * kMinute * 1000;
    desk.app.state = onBreak;
    desk.app.render();
    EXPECT_TRUE(desk.fake.notifications.empty());
    EXPECT_EQ(desk.app.lastTaskStart, onBreak.startedAt);

    // A problem covers the title while the timer moves on: the change shows up afterwards.
    desk.app.problem = "Нет связи с ORVELA";
    desk.runTo(10 * kMinute);
    EXPECT_EQ(desk.app.lastIndex, 1);
    EXPECT_TRUE(desk.fake.notifications.empty());
    desk.app.problem.reset();
    desk.app.render();
    EXPECT_EQ(desk.titles(), std::vector<std::string>{"✅ Время задачи вышло"});
}

TEST(Announcer, AFinishedTimerBehindAMeetingIsStillAnnounced) {
    Desk desk({{"work", 1}});
    AgendaItem meeting;
    meeting.title = "Планёрка";
    meeting.start = nowMs() + 10 * kMinute * 1000;
    desk.app.agenda = {meeting};
    desk.app.render();
    desk.runTo(2 * kMinute);
    EXPECT_EQ(desk.fake.statusItem()->plainTitle(), "Планёрка · через 8 мин");
    EXPECT_EQ(desk.titles(), std::vector<std::string>{"✅ Время задачи вышло"});
}

TEST(Announcer, PhaseLengthsReadAsWholeMinutes) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        Phase next;
        std::string title;  // empty: any text, as long as nothing crashes
    };
    const std::vector<Case> cases = {
        {{"work", 50}, "🍅 Работаем 50 мин"},
        {{"rest", 0.5}, "☕ Перерыв 0 мин"},
        {{"rest", 2.9}, "☕ Перерыв 2 мин"},
        {{"", 10}, "🍅 Работаем 10 мин"},
        {{"REST", 10}, "🍅 Работаем 10 мин"},
        {{"rest", 1e300}, ""},
        {{"work", inf}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.next.type + " " + std::to_string(c.next.min));
        Desk desk({{"work", 1}, c.next});
        desk.app.render();
        desk.runTo(kMinute);
        ASSERT_EQ(desk.fake.notifications.size(), 1u);
        if (!c.title.empty()) {
            EXPECT_EQ(desk.fake.notifications[0].title, c.title);
        }
    }
    // A phase of no sensible length ends the plan where it stands.
    Desk desk({{"work", 1}, {"rest", nan}, {"work", 1}});
    desk.app.render();
    desk.runTo(3 * kMinute);
    EXPECT_EQ(desk.titles(), std::vector<std::string>{"✅ Время задачи вышло"});
}

TEST(Announcer, BannersAndAlertsForOtherMessages) {
    Desk desk({});
    desk.app.notify("Доступно обновление ORVELA Timer 1.2", "Обновить — в меню приложения");
    ASSERT_EQ(desk.fake.notifications.size(), 1u);
    EXPECT_EQ(desk.fake.notifications[0].identifier, "orvela-update");
    EXPECT_EQ(desk.fake.notifications[0].sound, std::nullopt);
    EXPECT_TRUE(desk.fake.sounds.empty());

    desk.app.notice("Установлена последняя версия", "ORVELA Timer 1.0 (сборка 1).");
    EXPECT_EQ(desk.fake.activations, 1);
    ASSERT_EQ(desk.fake.alerts.size(), 1u);
    const Alert& alert = desk.fake.alerts[0];
    EXPECT_EQ(alert.message, "Установлена последняя версия");
    EXPECT_EQ(alert.informative, "ORVELA Timer 1.0 (сборка 1).");
    EXPECT_EQ(alert.buttons, std::vector<std::string>{"OK"});
    EXPECT_FALSE(alert.field.has_value());
}

}  // namespace
}  // namespace orvela
