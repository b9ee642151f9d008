// What the status bar shows: the countdown, the agenda line, the idle and account states.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "model/clock.hpp"
#include "shell/app.hpp"
#include "support/fake_platform.hpp"
#include "support/time_zone.hpp"

namespace orvela {
namespace {

using test::FakePlatform;
using test::plainText;
using C = TitleColour;

constexpr double kMinuteMs = 60000;
constexpr double kHourMs = 60 * kMinuteMs;

// One app on a fresh fake platform, with its status item in place as after launch. Only one
// App may exist at a time: it installs its platform's clock for the whole core.
struct Scene {
    Scene() { app.item = fake.createStatusItem(); }

    test::FakeStatusItem& item() { return *fake.statusItem(); }

    // A timer whose plan started `elapsedMs` ago.
    PomodoroState timer(std::vector<Phase> plan, double elapsedMs, std::string title = "Отчёт") {
        return PomodoroState{7, std::move(title), std::move(plan), nowMs() - elapsedMs, {}};
    }

    AgendaItem event(std::string title, double startInMs, std::optional<double> endInMs,
                     bool allDay = false, std::optional<std::string> location = {}) {
        AgendaItem e;
        e.id = 1;
        e.title = std::move(title);
        e.date = "2026-12-05";
        e.start = nowMs() + startInMs;
        if (endInMs) e.end = nowMs() + *endInMs;
        e.allDay = allDay;
        e.kind = "event";
        e.location = std::move(location);
        return e;
    }

    FakePlatform fake;
    App app{fake};
};

const std::vector<Phase> kWorkRest{{"work", 25}, {"rest", 5}};

TEST(StatusTitle, ShowsTheFirstCaseThatApplies) {
    test::ScopedTimeZone zone("UTC");  // the fake clock starts at 10:00 UTC
    struct Case {
        std::string story;
        std::function<void(Scene&)> given;
        std::vector<TitlePart> parts;
        std::string tooltip;
    };
    const std::vector<Case> cases = {
        {"a pending device login wins over a problem and a timer",
         [](Scene& t) {
             t.app.pendingLogin = PendingLogin{"dev", "WXYZ-1234", 0, 3};
             t.app.problem = "Нет связи с ORVELA";
             t.app.state = t.timer(kWorkRest, 0);
         },
         {{"🔑 ", C::None}, {"WXYZ-1234", C::None}},
         "Подтвердите этот код на сайте ORVELA"},
        {"a problem hides the timer and explains itself in the tooltip",
         [](Scene& t) {
             t.app.problem = "Нет токена ORVELA";
             t.app.state = t.timer(kWorkRest, 0);
         },
         {{"🍅 ?", C::None}},
         "Нет токена ORVELA"},
        {"work with 24:59.3 left counts down in red, rounded up",
         [](Scene& t) { t.app.state = t.timer(kWorkRest, 700); },
         {{"🍅 ", C::None}, {"25:00", C::Red}, {" · Отчёт", C::None}},
         "Отчёт"},
        {"a paused work phase keeps its time, still red",
         [](Scene& t) {
             auto s = t.timer(kWorkRest, 3 * kHourMs);
             s.pausedAt = s.startedAt + 700;
             t.app.state = s;
         },
         {{"⏸ ", C::None}, {"25:00", C::Red}, {" · Отчёт", C::None}},
         "Отчёт"},
        {"a break shows the cup and green time",
         [](Scene& t) { t.app.state = t.timer(kWorkRest, 25 * kMinuteMs + 48000); },
         {{"☕ ", C::None}, {"04:12", C::Green}, {" · Отчёт", C::None}},
         "Отчёт"},
        {"a paused break is green behind the pause sign",
         [](Scene& t) {
             auto s = t.timer(kWorkRest, kHourMs);
             s.pausedAt = s.startedAt + 25 * kMinuteMs + 48000;
             t.app.state = s;
         },
         {{"⏸ ", C::None}, {"04:12", C::Green}, {" · Отчёт", C::None}},
         "Отчёт"},
        {"only exactly \"rest\" is a break",
         [](Scene& t) {
             t.app.state = t.timer({{"Rest", 5}}, 0);
         },
         {{"🍅 ", C::None}, {"05:00", C::Red}, {" · Отчёт", C::None}},
         "Отчёт"},
        {"a finished plan with nothing on the agenda shows the tick and the task",
         [](Scene& t) { t.app.state = t.timer(kWorkRest, 31 * kMinuteMs); },
         {{"✅ ", C::None}, {"Отчёт", C::None}},
         "Отчёт"},
        {"a finished plan gives way to a meeting in ten minutes",
         [](Scene& t) {
             t.app.state = t.timer(kWorkRest, 31 * kMinuteMs);
             t.app.agenda = {t.event("Планёрка", 10 * kMinuteMs, 40 * kMinuteMs)};
         },
         {{"Планёрка", C::None}, {" · через 10 мин", C::Secondary}},
         "Планёрка\nв 10:10"},
        {"a running timer is not displaced by a meeting",
         [](Scene& t) {
             t.app.state = t.timer(kWorkRest, 0);
             t.app.agenda = {t.event("Планёрка", -kMinuteMs, 40 * kMinuteMs)};
         },
         {{"🍅 ", C::None}, {"25:00", C::Red}, {" · Отчёт", C::None}},
         "Отчёт"},
        {"no timer and no event: the idle tomato",
         [](Scene&) {},
         {{"🍅", C::None}},
         "Таймер не запущен"},
        {"an event within a minute is happening now",
         [](Scene& t) { t.app.agenda = {t.event("Созвон", 40000, {})}; },
         {{"Созвон", C::None}, {" · сейчас", C::Secondary}},
         "Созвон\nв 10:00"},
        {"exactly one minute ahead is still now",
         [](Scene& t) { t.app.agenda = {t.event("Созвон", kMinuteMs, {})}; },
         {{"Созвон", C::None}, {" · сейчас", C::Secondary}},
         "Созвон\nв 10:01"},
        {"a minute and a millisecond ahead rounds up",
         [](Scene& t) {
             t.app.agenda = {t.event("Созвон", kMinuteMs + 1, {}, false, "Переговорная 3")};
         },
         {{"Созвон", C::None}, {" · через 2 мин", C::Secondary}},
         "Созвон\nв 10:01\nПереговорная 3"},
        {"a running event: red dot and the time still to go",
         [](Scene& t) {
             t.app.agenda = {t.event("Ретро", -45 * kMinuteMs, 45 * kMinuteMs, false, "Зал")};
         },
         {{"● ", C::Red}, {"Ретро", C::None}, {" · ещё 45 мин", C::Secondary}},
         "Ретро\nЗал"},
        {"the running event wins over a later one listed first",
         [](Scene& t) {
             t.app.agenda = {t.event("Позже", 5 * kMinuteMs, 10 * kMinuteMs),
                             t.event("Сейчас идёт", -kMinuteMs, 2 * kMinuteMs)};
         },
         {{"● ", C::Red}, {"Сейчас идёт", C::None}, {" · ещё 2 мин", C::Secondary}},
         "Сейчас идёт"},
        {"exactly 24 hours ahead is shown",
         [](Scene& t) { t.app.agenda = {t.event("Завтра", 24 * kHourMs, {})}; },
         {{"Завтра", C::None}, {" · через 24 ч", C::Secondary}},
         "Завтра\nв 10:00"},
        {"24 hours and a millisecond ahead is not",
         [](Scene& t) { t.app.agenda = {t.event("Завтра", 24 * kHourMs + 1, {})}; },
         {{"🍅", C::None}},
         "Таймер не запущен"},
        {"all-day events are never shown, running or coming",
         [](Scene& t) {
             t.app.agenda = {t.event("Отпуск", -kHourMs, 10 * kHourMs, true),
                             t.event("День рождения", 5 * kMinuteMs, {}, true)};
         },
         {{"🍅", C::None}},
         "Таймер не запущен"},
        {"an event without an end is over once it starts; ended events are skipped",
         [](Scene& t) {
             t.app.agenda = {t.event("Напоминание", -1, {}),
                             t.event("Вчерашнее", -2 * kHourMs, -kHourMs),
                             t.event("Обед", 90 * kMinuteMs, 150 * kMinuteMs)};
         },
         {{"Обед", C::None}, {" · через 1 ч 30 мин", C::Secondary}},
         "Обед\nв 11:30"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.story);
        Scene t;  // each story starts from a fresh app on a fresh clock
        c.given(t);
        t.app.render();
        ASSERT_FALSE(t.item().titles.empty());
        EXPECT_EQ(t.item().titles.back(), c.parts);
        EXPECT_EQ(t.item().tooltip(), c.tooltip);
        EXPECT_EQ(t.app.shownTitle, plainText(c.parts));
    }
}

TEST(StatusTitle, RedrawsOnlyWhenTheTextChanges) {
    Scene t;
    t.app.state = t.timer(kWorkRest, 0);

    t.app.render();
    t.fake.advance(0.4);
    t.app.render();  // same second: same text
    EXPECT_EQ(t.item().titles.size(), 1u);
    EXPECT_EQ(t.item().tooltips.size(), 2u) << "the tooltip is set on every render";

    t.fake.advance(0.6);
    t.app.render();
    ASSERT_EQ(t.item().titles.size(), 2u);
    EXPECT_EQ(t.item().plainTitle(), "🍅 24:59 · Отчёт");
}

TEST(StatusTitle, AColourChangeAloneIsNotRedrawn) {
    Scene t;
    // Paused with five minutes left in work; then the service reports a paused break with five
    // minutes left: the same text, only the colour of the time would differ.
    auto work = t.timer({{"work", 5}, {"rest", 5}}, kHourMs);
    work.pausedAt = work.startedAt;
    t.app.state = work;
    t.app.render();

    auto rest = work;
    rest.pausedAt = rest.startedAt + 5 * kMinuteMs;
    t.app.state = rest;
    t.app.render();

    ASSERT_EQ(t.item().titles.size(), 1u);
    EXPECT_EQ(t.item().titles.back()[1], (TitlePart{"05:00", C::Red}));
}

TEST(StatusTitle, DrawsNothingWithoutAButtonOrAnItem) {
    Scene t;
    t.app.state = t.timer(kWorkRest, 0);
    t.item().button = false;
    t.app.render();
    EXPECT_TRUE(t.item().titles.empty());
    EXPECT_TRUE(t.item().tooltips.empty());
    EXPECT_EQ(t.app.shownTitle, "");

    t.app.item = nullptr;
    t.app.render();
    EXPECT_TRUE(t.item().tooltips.empty());
}

TEST(StatusTitle, CutsLongTitlesByUserPerceivedCharacters) {
    Scene t;
    auto repeat = [](const std::string& unit, int times) {
        std::string out;
        for (int i = 0; i < times; ++i) out += unit;
        return out;
    };
    const std::string thumbs = "👍🏽";            // emoji with a skin-tone modifier
    const std::string family = "👨‍👩‍👧";  // a ZWJ sequence
    const std::string accented = "e\u0301";           // e + combining acute accent
    struct Case {
        std::string story, title, shown;
    };
    const std::vector<Case> cases = {
        {"22 letters fit", repeat("ж", 22), repeat("ж", 22)},
        {"23 letters lose the last one", repeat("ж", 23), repeat("ж", 22) + "…"},
        {"a Russian sentence", "Подготовить отчёт за квартал", "Подготовить отчёт за к…"},
        {"emoji with modifiers count once", repeat(thumbs, 22), repeat(thumbs, 22)},
        {"and are never split", "a" + repeat(thumbs, 23), "a" + repeat(thumbs, 21) + "…"},
        {"a family is one character", repeat(family, 23), repeat(family, 22) + "…"},
        {"accents stay on their letters", repeat(accented, 23), repeat(accented, 22) + "…"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.story);
        EXPECT_EQ(t.app.shorten(c.title), c.shown);
    }

    // Broken UTF-8 from the service must not bring the app down; each bad byte is one character.
    EXPECT_EQ(t.app.shorten(repeat("\xff", 30)), repeat("\xff", 22) + "…");
    EXPECT_EQ(t.app.shorten(repeat("я", 21) + "\xd0"), repeat("я", 21) + "\xd0");
    EXPECT_EQ(t.app.shorten(repeat("я", 21) + "\xe2\x80"), repeat("я", 21) + "\xe2\x80");
    EXPECT_EQ(t.app.shorten(repeat("я", 22) + "\xe2\x80"), repeat("я", 22) + "…");

    // The title shows the cut text; the tooltip keeps it whole.
    const std::string longTitle = repeat("ж", 23);
    t.app.state = t.timer(kWorkRest, 0, longTitle);
    t.app.render();
    EXPECT_EQ(t.item().plainTitle(), "🍅 25:00 · " + repeat("ж", 22) + "…");
    EXPECT_EQ(t.item().tooltip(), longTitle);
}

TEST(StatusTitle, OutlandishTimerNumbersNeverCrash) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        std::string story;
        std::vector<Phase> plan;
        double startedShift;
        std::string shownPrefix;
    };
    const std::vector<Case> cases = {
        {"an endless phase", {{"work", inf}}, 0, "🍅 "},
        {"a huge phase", {{"rest", 1e300}}, 0, "☕ "},
        {"a phase of no length at all", {{"work", nan}}, 0, "✅ Отчёт"},
        {"a start far in the future", {{"work", 25}}, 1e300, "🍅 "},
        {"a start that is not a number", {{"work", 25}}, nan, "✅ Отчёт"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.story);
        Scene t;
        auto s = t.timer(c.plan, 0);
        s.startedAt += c.startedShift;
        t.app.state = s;
        t.app.render();
        t.fake.advance(1);
        t.app.render();
        ASSERT_FALSE(t.item().titles.empty());
        EXPECT_EQ(t.item().plainTitle().rfind(c.shownPrefix, 0), 0u) << t.item().plainTitle();
        EXPECT_EQ(t.item().tooltip(), "Отчёт");
    }
}

}  // namespace
}  // namespace orvela
