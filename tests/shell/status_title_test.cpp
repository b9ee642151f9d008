// What the status bar shows: the countdown, the agenda line, the idle and account states.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <tuple>

#include "model/clock.hpp"
#include "shell/app.hpp"
#include "support/fake_platform.hpp"
#include "support/time_zone.hpp"

namespace orvela {
namespace {

constexpr double kMin = 60000;
const std::vector<Phase> kWorkRest{{"work", 25}, {"rest", 5}};

// An event `startIn` ms after the fake clock's start (10:00 UTC); without an end, a moment.
AgendaItem ev(std::string title, double startIn, std::optional<double> endIn = {},
              bool allDay = false, std::optional<std::string> location = {}) {
    constexpr double kStart = 1796464800000.0;
    const auto end = endIn ? std::optional(kStart + *endIn) : std::nullopt;
    return {1, std::move(title), "2026-12-05", kStart + startIn, end, allDay, "", {}, location};
}

// One App at a time (10:00 UTC): each installs its platform's clock for the whole core.
struct Scene {
    Scene() { app.item = fake.createStatusItem(); }
    void timer(std::vector<Phase> plan, double elapsed, std::optional<double> pausedAfter = {}) {
        app.state = PomodoroState{7, "Отчёт", std::move(plan), nowMs() - elapsed, {}};
        if (pausedAfter) app.state->pausedAt = app.state->startedAt + *pausedAfter;
    }
    // Drawn twice (the icon gets the countdown again though the title stays): the last title,
    // coloured parts marked, the tooltip, what outside readers are told besides the same, and the
    // icon's countdown: "🍅 [red:25:00] · Отчёт / Отчёт #work 1500s 0% @1499.3/1500 rest paused".
    std::string render() {
        app.render();
        app.render();
        const auto& item = *fake.statusItem();
        const auto& countdowns = item.countdowns;
        EXPECT_TRUE(countdowns.size() >= 2 && countdowns.end()[-2] == countdowns.back());
        static const char* const colours[] = {"", "red", "green", "grey"};
        std::string out, plain;
        for (const auto& part : item.titles.back()) {
            const int c = static_cast<int>(part.colour);
            out += c == 0 ? part.text : "[" + std::string(colours[c]) + ":" + part.text + "]";
            plain += part.text;
        }
        EXPECT_EQ(std::pair(app.shownStatus.title, app.shownStatus.tooltip),
                  std::pair(plain, item.tooltip()));
        const StatusReport& r = app.shownStatus;
        const std::string numbers =
            " " + std::to_string(r.secondsLeft) + "s " + std::to_string(r.progress) + "%";
        std::ostringstream icon;
        if (const auto& c = countdowns.back())
            icon << " @" << c->leftSeconds << "/" << c->phaseSeconds << (c->rest ? " rest" : "")
                 << (c->paused ? " paused" : "");
        return out + " / " + item.tooltip() + " #" + r.phase +
               (r.secondsLeft || r.progress ? numbers : "") + icon.str();
    }
    test::FakePlatform fake;
    App app{fake};
};

// The countdown: rounded up, red for work and green for a break, paused or not; only exactly
// "rest" is a break; numbers no timer should have never crash and stay bounded, in the title
// and in the whole seconds and percent reported. The icon gets no countdown once finished.
TEST(StatusTitle, Countdown) {
    const double kBreak = 25 * kMin + 48000;  // 04:12 left of the break
    const std::vector<std::tuple<std::vector<Phase>, double, std::optional<double>, std::string>>
        cases = {
            {kWorkRest, 700, {}, "🍅 [red:25:00] · Отчёт / Отчёт #work 1500s 0% @1499.3/1500"},
            {kWorkRest, kBreak, {}, "☕ [green:04:12] · Отчёт / Отчёт #rest 252s 16% @252/300 rest"},
            {kWorkRest, 180 * kMin, kBreak,
             "⏸ [green:04:12] · Отчёт / Отчёт #paused 252s 16% @252/300 rest paused"},
            {{{"Rest", 5}}, 0, {}, "🍅 [red:05:00] · Отчёт / Отчёт #work 300s 0% @300/300"},
            {kWorkRest, 31 * kMin, {}, "✅ Отчёт / Отчёт #finished 0s 100%"},
            {{{"work", INFINITY}},
             0,
             {},
             "🍅 [red:153722867280912930:07] · Отчёт / Отчёт #work 1000000000s 0% @inf/inf"},
            {kWorkRest, NAN, {}, "✅ Отчёт / Отчёт #finished 0s 100%"},
        };
    for (const auto& [plan, elapsed, pausedAfter, title] : cases) {
        Scene t;
        t.timer(plan, elapsed, pausedAfter);
        EXPECT_EQ(t.render(), title);
    }
}

// Without a running timer: the event under way, else the next within 24 hours ("now" up to a
// minute ahead, then rounded up); never an all-day event; a moment is over once it starts.
TEST(StatusTitle, AgendaLine) {
    test::ScopedTimeZone zone("UTC");
    const std::string idle = "🍅 / Таймер не запущен #idle";
    const std::vector<std::pair<std::vector<AgendaItem>, std::string>> cases = {
        {{ev("Созвон", kMin)}, "Созвон[grey: · сейчас] / Созвон\nв 10:01 #event"},
        {{ev("Созвон", kMin + 1, {}, false, "Зал")},
         "Созвон[grey: · через 2 мин] / Созвон\nв 10:01\nЗал #event"},
        {{ev("Позже", 5 * kMin, 10 * kMin), ev("Идёт", -kMin, 45 * kMin, false, "Зал")},
         "[red:● ]Идёт[grey: · ещё 45 мин] / Идёт\nЗал #event"},
        {{ev("Завтра", 1440 * kMin)}, "Завтра[grey: · через 24 ч] / Завтра\nв 10:00 #event"},
        {{ev("Завтра", 1440 * kMin + 1)}, idle},
        {{ev("Отпуск", -60 * kMin, 600 * kMin, true), ev("Др", 5 * kMin, {}, true)}, idle},
        {{ev("Напоминание", -1), ev("Вчера", -120 * kMin, -60 * kMin), ev("Обед", 90 * kMin)},
         "Обед[grey: · через 1 ч 30 мин] / Обед\nв 11:30 #event"},
    };
    for (const auto& [events, expected] : cases) {
        Scene t;
        t.app.agenda = events;
        EXPECT_EQ(t.render(), expected);
    }
}

// A pending login wins over a problem, a problem over the timer; a finished timer gives way to
// a meeting, a running one does not.
TEST(StatusTitle, Precedence) {
    test::ScopedTimeZone zone("UTC");
    Scene t;
    t.timer(kWorkRest, 31 * kMin);
    t.app.agenda = {ev("Планёрка", 10 * kMin, 40 * kMin)};
    EXPECT_EQ(t.render(), "Планёрка[grey: · через 10 мин] / Планёрка\nв 10:10 #event");
    t.timer(kWorkRest, 0);
    EXPECT_EQ(t.render(), "🍅 [red:25:00] · Отчёт / Отчёт #work 1500s 0% @1500/1500");
    t.app.problem = "Нет токена ORVELA";
    EXPECT_EQ(t.render(), "🍅 ? / Нет токена ORVELA #problem");
    t.app.pendingLogin = PendingLogin{"dev", "WXYZ-1234", 0, 3};
    EXPECT_EQ(t.render(), "🔑 WXYZ-1234 / Подтвердите этот код на сайте ORVELA #login");
}

// The title is redrawn only when its text changes, not for a colour alone; without a button,
// never. Outside readers are told as rarely.
TEST(StatusTitle, RedrawsOnlyWhenTheTextChanges) {
    for (const bool button : {true, false}) {
        Scene t;
        int told = 0;
        t.app.statusChanged = [&] { ++told; };
        t.fake.statusItem()->button = button;
        for (const double pausedAfter : {0.0, 5 * kMin}) {
            t.timer({{"work", 5}, {"rest", 5}}, 600 * kMin, pausedAfter);
            t.app.render();
        }
        EXPECT_EQ(std::pair(t.fake.statusItem()->titles.size(), told),
                  std::pair(std::size_t(button ? 1 : 0), button ? 1 : 0));
    }
}

// Long titles are cut after 22 user-perceived characters: emoji sequences are never split, and
// broken UTF-8 counts one character per bad sequence rather than crashing.
TEST(StatusTitle, CutsLongTitlesByUserPerceivedCharacters) {
    const auto times = [](const std::string& unit, int n) {
        std::string out;
        while (n-- > 0) out += unit;
        return out;
    };
    const std::string family = "👨‍👩‍👧";
    Scene t;
    for (const auto& [title, cut] : std::vector<std::pair<std::string, std::string>>{
             {times("ж", 22), times("ж", 22)},
             {times("ж", 23), times("ж", 22) + "…"},
             {times(family, 23), times(family, 22) + "…"},
             {times("\xff", 30), times("\xff", 22) + "…"}})
        EXPECT_EQ(t.app.shorten(title), cut) << title;
}

}  // namespace
}  // namespace orvela
