// What the status bar shows: the countdown, the agenda line, the idle and account states.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/clock.hpp"
#include "shell/app.hpp"
#include "support/fake_platform.hpp"
#include "support/time_zone.hpp"

namespace orvela {
namespace {

constexpr double kMinuteMs = 60000;
constexpr double kHourMs = 60 * kMinuteMs;
const std::vector<Phase> kWorkRest{{"work", 25}, {"rest", 5}};

// The last title drawn, coloured parts marked: "🍅 [red:25:00] · Отчёт".
std::string shown(const test::FakeStatusItem& item) {
    if (item.titles.empty()) return "(nothing drawn)";
    static const char* const colours[] = {"", "red", "green", "grey"};
    std::string out;
    for (const auto& part : item.titles.back()) {
        const int c = static_cast<int>(part.colour);
        out += c == 0 ? part.text : "[" + std::string(colours[c]) + ":" + part.text + "]";
    }
    return out;
}

// An event `startInMs` after the fake clock's start (10:00 UTC); without an end, a moment.
AgendaItem ev(std::string title, double startInMs, std::optional<double> endInMs = {},
              bool allDay = false, std::optional<std::string> location = {}) {
    constexpr double kStart = 1796464800000.0;
    const auto end = endInMs ? std::optional(kStart + *endInMs) : std::nullopt;
    return {1,  std::move(title), "2026-12-05", kStart + startInMs, end, allDay, "event",
            {}, location};
}

// One app on a fresh fake platform (10:00 UTC), its status item in place as after launch.
// Only one at a time: each App installs its platform's clock for the whole core.
struct Scene {
    Scene() { app.item = fake.createStatusItem(); }
    test::FakeStatusItem& item() { return *fake.statusItem(); }

    // A timer whose plan started `elapsedMs` ago, paused `pausedAfterMs` into it when given.
    void timer(std::vector<Phase> plan, double elapsedMs, std::optional<double> pausedAfterMs = {},
               std::string title = "Отчёт") {
        app.state = PomodoroState{7, std::move(title), std::move(plan), nowMs() - elapsedMs, {}};
        if (pausedAfterMs) app.state->pausedAt = app.state->startedAt + *pausedAfterMs;
    }

    test::FakePlatform fake;
    App app{fake};
};

// The countdown: rounded up, red for work and green for a break, paused or not; only exactly
// "rest" is a break; numbers no timer should have never crash and stay bounded.
TEST(StatusTitle, Countdown) {
    struct Case {
        std::vector<Phase> plan;
        double elapsedMs;
        std::optional<double> pausedAfterMs;
        std::string title;
    };
    const std::string huge = "153722867280912930:07";
    const std::vector<Case> cases = {
        {kWorkRest, 700, {}, "🍅 [red:25:00] · Отчёт"},
        {kWorkRest, 25 * kMinuteMs + 48000, {}, "☕ [green:04:12] · Отчёт"},
        {kWorkRest, 3 * kHourMs, 25 * kMinuteMs + 48000, "⏸ [green:04:12] · Отчёт"},
        {{{"Rest", 5}}, 0, {}, "🍅 [red:05:00] · Отчёт"},
        {kWorkRest, 31 * kMinuteMs, {}, "✅ Отчёт"},
        {{{"work", INFINITY}}, 0, {}, "🍅 [red:" + huge + "] · Отчёт"},
        {kWorkRest, NAN, {}, "✅ Отчёт"},
    };
    for (const auto& c : cases) {
        Scene t;
        t.timer(c.plan, c.elapsedMs, c.pausedAfterMs);
        t.app.render();
        EXPECT_EQ(shown(t.item()), c.title);
        EXPECT_EQ(t.item().tooltip(), "Отчёт") << c.title;
    }
}

// Without a running timer the title shows the event under way, else the next one within 24
// hours: "now" up to a minute ahead, then rounded up; never an all-day event; a moment is over
// once it starts. The tooltip adds the start time and the place.
TEST(StatusTitle, AgendaLine) {
    test::ScopedTimeZone zone("UTC");  // the fake clock starts at 10:00 UTC
    struct Case {
        std::vector<AgendaItem> events;
        std::string title, tooltip;
    };
    const std::string idle = "Таймер не запущен";
    const std::vector<Case> cases = {
        {{ev("Созвон", kMinuteMs)}, "Созвон[grey: · сейчас]", "Созвон\nв 10:01"},
        {{ev("Созвон", kMinuteMs + 1, {}, false, "Переговорная 3")},
         "Созвон[grey: · через 2 мин]",
         "Созвон\nв 10:01\nПереговорная 3"},
        {{ev("Ретро", -45 * kMinuteMs, 45 * kMinuteMs, false, "Зал")},
         "[red:● ]Ретро[grey: · ещё 45 мин]",
         "Ретро\nЗал"},
        {{ev("Позже", 5 * kMinuteMs, 10 * kMinuteMs), ev("Идёт", -kMinuteMs, 2 * kMinuteMs)},
         "[red:● ]Идёт[grey: · ещё 2 мин]",
         "Идёт"},
        {{ev("Завтра", 24 * kHourMs)}, "Завтра[grey: · через 24 ч]", "Завтра\nв 10:00"},
        {{ev("Завтра", 24 * kHourMs + 1)}, "🍅", idle},
        {{ev("Отпуск", -kHourMs, 10 * kHourMs, true), ev("Др", 5 * kMinuteMs, {}, true)},
         "🍅",
         idle},
        {{ev("Напоминание", -1), ev("Вчера", -2 * kHourMs, -kHourMs),
          ev("Обед", 90 * kMinuteMs, {})},
         "Обед[grey: · через 1 ч 30 мин]",
         "Обед\nв 11:30"},
    };
    for (const auto& c : cases) {
        Scene t;
        t.app.agenda = c.events;
        t.app.render();
        EXPECT_EQ(shown(t.item()), c.title);
        EXPECT_EQ(t.item().tooltip(), c.tooltip) << c.title;
    }
}

// A pending login wins over a problem, a problem over the timer; a finished timer gives way to
// a meeting, a running one does not.
TEST(StatusTitle, Precedence) {
    test::ScopedTimeZone zone("UTC");
    const auto render = [](Scene& t) {
        t.app.render();
        return shown(t.item()) + " / " + t.item().tooltip();
    };
    Scene t;
    t.timer(kWorkRest, 31 * kMinuteMs);
    t.app.agenda = {ev("Планёрка", 10 * kMinuteMs, 40 * kMinuteMs)};
    EXPECT_EQ(render(t), "Планёрка[grey: · через 10 мин] / Планёрка\nв 10:10");
    t.timer(kWorkRest, 0);
    EXPECT_EQ(render(t), "🍅 [red:25:00] · Отчёт / Отчёт");
    t.app.problem = "Нет токена ORVELA";
    EXPECT_EQ(render(t), "🍅 ? / Нет токена ORVELA");
    t.app.pendingLogin = PendingLogin{"dev", "WXYZ-1234", 0, 3};
    EXPECT_EQ(render(t), "🔑 WXYZ-1234 / Подтвердите этот код на сайте ORVELA");
}

// The title is redrawn only when its text changes, not for a colour alone; the tooltip is set on
// every render; with no button or no item, nothing is drawn.
TEST(StatusTitle, RedrawsOnlyWhenTheTextChanges) {
    {
        Scene t;
        t.timer(kWorkRest, 0);
        t.app.render();
        t.fake.advance(0.4);
        t.app.render();
        EXPECT_EQ(t.item().titles.size(), 1u);
        EXPECT_EQ(t.item().tooltips.size(), 2u);
        t.fake.advance(0.6);
        t.app.render();
        EXPECT_EQ(t.item().titles.size(), 2u);
        EXPECT_EQ(t.item().plainTitle(), "🍅 24:59 · Отчёт");

        // Paused with five minutes left of work, then of a break: the same text.
        t.timer({{"work", 5}, {"rest", 5}}, kHourMs, 0);
        t.app.render();
        t.timer({{"work", 5}, {"rest", 5}}, kHourMs, 5 * kMinuteMs);
        t.app.render();
        EXPECT_EQ(shown(t.item()), "⏸ [red:05:00] · Отчёт");
        EXPECT_EQ(t.item().titles.size(), 3u);
    }
    Scene t;
    t.timer(kWorkRest, 0);
    t.item().button = false;
    t.app.render();
    t.app.item = nullptr;
    t.app.render();
    EXPECT_TRUE(t.item().titles.empty());
    EXPECT_TRUE(t.item().tooltips.empty());
    EXPECT_EQ(t.app.shownTitle, "");
}

// Long titles are cut after 22 user-perceived characters: emoji sequences and accents are never
// split, and broken UTF-8 counts one character per bad sequence rather than crashing. The
// tooltip keeps the title whole.
TEST(StatusTitle, CutsLongTitlesByUserPerceivedCharacters) {
    const auto times = [](const std::string& unit, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += unit;
        return out;
    };
    const std::string family = "👨‍👩‍👧", accented = "e\u0301";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {times("ж", 22), times("ж", 22)},
        {times("ж", 23), times("ж", 22) + "…"},
        {times(family, 23), times(family, 22) + "…"},
        {times(accented, 23), times(accented, 22) + "…"},
        {times("\xff", 30), times("\xff", 22) + "…"},
        {times("я", 21) + "\xe2\x80", times("я", 21) + "\xe2\x80"},
    };
    Scene t;
    for (const auto& [title, cut] : cases) EXPECT_EQ(t.app.shorten(title), cut) << title;

    t.timer(kWorkRest, 0, {}, times("ж", 23));
    t.app.render();
    EXPECT_EQ(t.item().plainTitle(), "🍅 25:00 · " + times("ж", 22) + "…");
    EXPECT_EQ(t.item().tooltip(), times("ж", 23));
}

}  // namespace
}  // namespace orvela
