// Announcing phase changes: when a notification goes out, what it says, and when it stays quiet.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "announce/tips.hpp"
#include "model/clock.hpp"
#include "shell/app.hpp"
#include "support/fake_platform.hpp"

namespace orvela {
namespace {

using Texts = std::vector<std::string>;
constexpr double kMinute = 60;

// A timer that starts now, already seen once (one at launch is not news). One Desk at a time.
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
    Texts notes(std::string Notification::*field) const {
        Texts out;
        for (const auto& n : fake.notifications) out.push_back(n.*field);
        return out;
    }
    test::FakePlatform fake;
    App app{fake};
};

// Each phase change is announced once, at the boundary, under one identifier so each replaces the
// last; a break's eye tip follows its phase index (two phases a slot), not a count of breaks.
TEST(Announcer, AnnouncesEachPhaseOnce) {
    {
        Desk desk({{"work", 25}, {"rest", 5}, {"work", 25}});
        desk.run(25 * kMinute - 1);
        EXPECT_TRUE(desk.fake.notifications.empty());
        desk.run(31 * kMinute);
        EXPECT_EQ(desk.notes(&Notification::title),
                  (Texts{"☕ Перерыв 5 мин", "🍅 Работаем 25 мин", "✅ Время задачи вышло"}));
        EXPECT_EQ(desk.notes(&Notification::body),
                  (Texts{std::string(eyeTips[0]), "Отчёт", "Отчёт"}));
        EXPECT_EQ(desk.notes(&Notification::identifier), Texts(3, "orvela-pomodoro"));
        EXPECT_EQ(desk.fake.sounds, Texts(3, "Glass"));
    }
    Desk breaks(std::vector<Phase>(10, Phase{"rest", 1}));
    breaks.run(10 * kMinute - 1);
    Texts tips;
    for (int slot : {0, 1, 1, 2, 2, 3, 3, 0, 0}) tips.emplace_back(eyeTips[slot]);
    EXPECT_EQ(breaks.notes(&Notification::body), tips);
}

// Our own command changes the phase on purpose: quiet for three seconds after it, and the new
// phase is then known, so it is not announced later either. The three seconds are the
// machine's, whatever the wall clock does meanwhile: set back an hour it must not keep the
// announcer quiet for that hour, set forward it must not end the quiet at once.
TEST(Announcer, StaysQuietRightAfterOurOwnCommand) {
    // seconds after the command, the wall clock's step meanwhile, announcements
    for (const auto& [since, step, announced] : std::vector<std::tuple<double, double, size_t>>{
             {3.0, 0, 0}, {3.1, 0, 1}, {1, 3600, 0}, {1, -3600, 0}, {3.1, -3600, 1}}) {
        Desk desk({{"work", 25}, {"rest", 5}});
        desk.app.token = "orvela_tok";
        desk.app.skip();  // held back: its answer comes below
        desk.fake.jumpWallClock(step);
        desk.fake.advance(since);
        desk.app.state->startedAt += (step - 25 * kMinute) * 1000;  // the answer to "skip"
        desk.app.render();
        desk.run(60);
        EXPECT_EQ(desk.fake.notifications.size(), announced) << since << " " << step;
    }
}

// An idle title forgets the phase so that the next timer is not news; a problem hides the title
// but the announcer keeps count and speaks afterwards.
TEST(Announcer, IdleTitlesAndProblems) {
    Desk desk({{"work", 25}, {"rest", 5}});
    auto onBreak = std::exchange(desk.app.state, std::nullopt);
    desk.app.render();
    onBreak->startedAt -= 26 * kMinute * 1000;
    desk.app.state = onBreak;
    desk.app.render();
    EXPECT_TRUE(desk.fake.notifications.empty());
    desk.app.problem = "Нет связи с ORVELA";
    desk.run(10 * kMinute);
    EXPECT_TRUE(desk.fake.notifications.empty());
    desk.app.problem.reset();
    desk.app.render();
    EXPECT_EQ(desk.notes(&Notification::title), Texts{"✅ Время задачи вышло"});
}

// Lengths read as whole minutes (truncated, bounded); only "rest" is a break; NaN ends the plan.
TEST(Announcer, PhaseLengthsReadAsWholeMinutes) {
    for (const auto& [next, title] : std::vector<std::pair<Phase, std::string>>{
             {{"rest", 2.9}, "☕ Перерыв 2 мин"},
             {{"REST", 10}, "🍅 Работаем 10 мин"},
             {{"rest", 1e300}, "☕ Перерыв 9223372036854775807 мин"},
             {{"rest", NAN}, "✅ Время задачи вышло"}}) {
        Desk desk({{"work", 1}, next, {"work", 1}});
        desk.run(kMinute);
        EXPECT_EQ(desk.notes(&Notification::title), Texts{title});
    }
}

// Other tests reach the tips by index only: pin them word for word (clang-format breaks by bytes).
// clang-format off
TEST(Tips, ReadExactlyAsWritten) {
    EXPECT_EQ(Texts(eyeTips.begin(), eyeTips.end()), (Texts{
        "👀 Правило 20-20-20: 20 секунд смотрите вдаль",
        "🔄 Глаза: 10 кругов в каждую сторону, зажмурьтесь на 5 с",
        "🤲 Пальминг: тёплые ладони на закрытые глаза, 30 с",
        "☝️ Близко — далеко: палец у носа → точка за окном, 10 раз"}));
    EXPECT_EQ(Texts(bodyTips.begin(), bodyTips.end()), (Texts{
        "🙆 Встаньте и потянитесь, 5 глубоких вдохов",
        "🦒 Шея: наклоны и повороты по 5 в каждую сторону",
        "💪 Плечи: 10 кругов назад, сведите лопатки",
        "💧 Стакан воды и пара минут пешком"}));
}
// clang-format on

}  // namespace
}  // namespace orvela
