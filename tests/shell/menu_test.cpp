// The drop-down menu as a tray host sees it: built on opening, chosen items routed back.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "announce/tips.hpp"
#include "shell/app.hpp"
#include "support/fake_platform.hpp"
#include "support/time_zone.hpp"

namespace orvela {
namespace {

using Rows = std::vector<std::string>;

// One row as the user meets it: "title ^key -> Action (off)", "---", "## header". The settings
// sub-menu is the next to last item (pinned in AccountStatesAndNoTimer).
Rows rows(const std::vector<MenuItem>& items) {
    Rows out;
    for (const auto& item : items) {
        if (item.kind != MenuItem::Kind::Item) {
            out.push_back(item.kind == MenuItem::Kind::Separator ? "---" : "## " + item.title);
            continue;
        }
        std::istringstream names(
            "None Connect AskToken Disconnect OpenLoginPage CancelLogin Pause Resume Skip Stop "
            "Extend Refresh Quit CheckUpdatesNow InstallUpdate OpenPlanner OpenAppsSettings "
            "OpenDay ToggleLogin");
        std::string name, text = item.title;
        for (int i = 0; i <= static_cast<int>(item.action); ++i) names >> name;
        if (!item.key.empty()) text += " ^" + item.key;
        if (item.action != MenuAction::None) text += " -> " + name;
        out.push_back(item.enabled ? text : text + " (off)");
    }
    return out;
}

// 2026-12-05 00:00 in Moscow (UTC+3 all year), plus hours, minutes and days.
double at(int hour, int minute, int day = 0) {
    return 1796418000000.0 + ((day * 24 + hour) * 60 + minute) * 60000.0;
}

AgendaItem entry(std::string date, std::string title, double start,
                 std::optional<double> end = {}) {
    return {0, std::move(title), std::move(date), start, end, false, "", {}, {}};
}

struct MenuTest : ::testing::Test {
    test::ScopedTimeZone zone{"Europe/Moscow"};
    test::FakePlatform fake;
    std::unique_ptr<App> app;

    // The platform is set up first: the App reads version, build and base URL when created.
    MenuTest() {
        fake.userDefaults["OrvelaURL"] = "https://orvela.test";
        fake.bundle = {{"CFBundleShortVersionString", "2.0"}, {"CFBundleVersion", "17"}};
        app = std::make_unique<App>(fake);
        fake.createStatusItem()->setMenuDelegate(app.get());
        app->agendaToday = "2026-12-05";
    }
    void timer(std::vector<Phase> plan, double minutesIn, bool paused = false) {
        const double now = fake.wallClockMs();
        app->state = PomodoroState{7, "Отчёт", std::move(plan), now - minutesIn * 60000,
                                   paused ? std::optional(now) : std::nullopt};
    }
    // The menu's rows down to the agenda section.
    Rows head() {
        Rows all = rows(fake.openMenu());
        for (std::size_t i = 1; i < all.size(); ++i)
            if (all[i].starts_with("## ")) return Rows(all.begin(), all.begin() + i - 1);
        return all;
    }
};

const std::vector<Phase> kPlan = {{"work", 25}, {"rest", 5}, {"work", 25}, {"rest", 15}};

// No timer, an update offer (inert while installing), then a problem and a pending login.
TEST_F(MenuTest, AccountStatesAndNoTimer) {
    const Rows tail = {"---", "Открыть планер ^o -> OpenPlanner", "Настройки", "Выйти ^q -> Quit"};
    app->update = ReleaseInfo{"1.4.2", 43, std::nullopt, "/x.zip", "ab", {}};
    EXPECT_EQ(rows(fake.openMenu()),
              (Rows{"🍅 Таймер не запущен — взять задачу в работу… -> OpenPlanner", "---",
                    "## Сегодня · сб, 5 дек.", "Больше ничего не запланировано (off)", "---",
                    "⬆ Обновить до версии 1.4.2… -> InstallUpdate", tail[1], tail[2], tail[3]}));
    app->updating = true;
    EXPECT_EQ(rows(fake.openMenu()).at(5), "Обновляется до 1.4.2… (off)");
    app->update.reset();
    timer(kPlan, 1);
    app->problem = "Нет связи с ORVELA";
    EXPECT_EQ(rows(fake.openMenu()),
              (Rows{"Нет связи с ORVELA (off)", "Войти через браузер… -> Connect",
                    "Вставить токен вручную… -> AskToken", "Обновить ^r -> Refresh", tail[0],
                    tail[1], tail[2], tail[3]}));
    app->pendingLogin = PendingLogin{"dev", "ABCD-1234", 0, 3};
    EXPECT_EQ(
        rows(fake.openMenu()),
        (Rows{"Код для входа: ABCD-1234 (off)", "Подтвердите его на сайте ORVELA… -> OpenLoginPage",
              "Отменить вход -> CancelLogin", "---", "Выйти ^q -> Quit"}));
}

// The timer's own items: work, a paused break with its tips, a finished plan. Tips rotate with
// the phase index and wrap; the phase line counts only "work" phases and stays bounded.
TEST_F(MenuTest, TimerItems) {
    const auto off = [](std::string_view tip) { return std::string(tip) + " (off)"; };
    timer(kPlan, 31);
    EXPECT_EQ(head(),
              (Rows{"Отчёт -> OpenPlanner", "Работа · подход 2/2 · 25 мин (off)", "---",
                    "⏸ Пауза ^p -> Pause", "⏭ К отдыху -> Skip", "■ Остановить -> Stop"}));
    timer(kPlan, 26, true);
    EXPECT_EQ(head(), (Rows{"Отчёт -> OpenPlanner", "Отдых · 5 мин · на паузе (off)", "---",
                            "▶ Продолжить ^p -> Resume", "⏭ К работе -> Skip",
                            "■ Остановить -> Stop", "---", "Что сделать в перерыв (off)",
                            off(eyeTips[0]), off(eyeTips[1]), off(bodyTips[0])}));
    timer(kPlan, 90, true);
    EXPECT_EQ(head(), (Rows{"Отчёт -> OpenPlanner", "Время задачи вышло (off)", "---",
                            "+45 минут -> Extend", "■ Остановить -> Stop"}));
    timer(std::vector<Phase>(9, {"rest", 5}), 6 * 5 + 1);
    const Rows tips = head();
    EXPECT_EQ(Rows(tips.end() - 3, tips.end()),
              (Rows{off(eyeTips[3]), off(eyeTips[0]), off(bodyTips[3])}));
    for (const auto& [plan, line] : std::vector<std::pair<std::vector<Phase>, std::string>>{
             {{{"focus", 24.9}, {"work", 25}}, "Работа · подход 0/1 · 24 мин (off)"},
             {{{"rest", INFINITY}}, "Отдых · 9223372036854775807 мин (off)"}}) {
        timer(plan, 0.1);
        EXPECT_EQ(head().at(1), line);
    }
}

// The settings sub-menu with and without an account; a refused launch-at-login switch only logs.
TEST_F(MenuTest, SettingsSubmenu) {
    Rows expected = {"Запускать при входе в систему -> ToggleLogin",
                     "Настройки ORVELA на сайте… -> OpenAppsSettings",
                     "Проверить обновления… -> CheckUpdatesNow", "---",
                     "ORVELA Timer 2.0 (сборка 17) (off)"};
    const auto settings = [this] { return fake.openMenu().end()[-2].submenu.value(); };
    EXPECT_EQ(rows(settings()), expected);
    app->token = "orvela_abc";
    expected.insert(expected.begin() + 3,
                    {"---", "Подключить заново… -> Connect", "Отключить ORVELA… -> Disconnect"});
    EXPECT_EQ(rows(settings()), expected);

    fake.loginStatus = LoginItemStatus::RequiresApproval;
    for (const auto after : {LoginItemStatus::Enabled, LoginItemStatus::NotRegistered}) {
        EXPECT_EQ(settings()[0].checked, after != LoginItemStatus::Enabled);
        fake.choose(settings()[0]);
        EXPECT_EQ(fake.loginStatus, after);
    }
    fake.loginItemError = "нет доступа";
    fake.choose(settings()[0]);
    EXPECT_EQ(fake.logLines, Rows{"ORVELA Timer: автозапуск не переключился: нет доступа"});
    EXPECT_EQ(fake.loginStatus, LoginItemStatus::NotRegistered);
}

// Chosen items open pages under the base URL; a base URL that is not a URL opens
// nothing rather than hand garbage to the desktop.
TEST_F(MenuTest, Links) {
    const auto items = fake.openMenu();
    fake.choose(items.front());
    fake.choose(items.end()[-2].submenu.value().at(1));  // "Настройки ORVELA на сайте…"
    EXPECT_EQ(fake.openedUrls,
              (Rows{"https://orvela.test/planner.html", "https://orvela.test/settings.html#apps"}));

    app.reset();
    fake.openedUrls.clear();
    for (const char* base : {"", "https://orvela.test/a b"}) {
        fake.userDefaults["OrvelaURL"] = base;
        App(fake).openPlanner();
    }
    EXPECT_TRUE(fake.openedUrls.empty());
}

// Today always gets a section, then the first other day with entries, in stored order; the live
// marker goes by the clock (13:00 here, an end is exclusive).
TEST_F(MenuTest, AgendaSections) {
    const std::string free = "Больше ничего не запланировано (off)";
    const auto section = [this] {
        const Rows all = rows(fake.openMenu());
        return Rows(all.begin() + 1, all.end() - 4);
    };
    app->agendaToday = std::nullopt;
    EXPECT_EQ(section(), (Rows{"---", "## Сегодня", free, "---", "## Завтра", free}));
    AgendaItem call = entry("2026-12-05", "Созвон", at(12, 0), at(14, 0));
    call.location = "Зал";
    call.icon = "📞";
    AgendaItem birthday = entry("2026-12-05", "Др", at(0, 0), at(0, 0, 1));
    birthday.allDay = true;
    app->agendaToday = "2026-12-05";
    app->agenda = {entry("2026-12-08", "Лекция", at(10, 0, 3)),
                   entry("2026-12-05", "Обзор", at(12, 0), at(13, 0)), call,
                   entry("2026-12-09", "Не показывать", at(12, 0, 4)), birthday};
    EXPECT_EQ(section(),
              (Rows{"---", "## Сегодня · сб, 5 дек.", "12:00–13:00   Обзор -> OpenDay",
                    "● 12:00–14:00   📞 Созвон -> OpenDay", "весь день   Др -> OpenDay", "---",
                    "## Завтра · вт, 8 дек.", "10:00–10:00   Лекция -> OpenDay"}));
    const auto items = fake.openMenu();
    EXPECT_EQ(items[4].tooltip, "Зал");
    fake.choose(items[4]);
    EXPECT_EQ(fake.openedUrls, Rows{"https://orvela.test/planner.html?date=2026-12-05"});
}

// At most 12 entries today and 6 on the other day; the rest is one line opening that day.
TEST_F(MenuTest, AgendaOverflow) {
    for (int i = 1; i <= 13; ++i) app->agenda.push_back(entry("2026-12-05", "С", at(8, i)));
    for (int i = 1; i <= 7; ++i) app->agenda.push_back(entry("2026-12-06", "З", at(8, i, 1)));
    const auto items = fake.openMenu();
    ASSERT_EQ(items.size(), 1u + 2 + 12 + 1 + 2 + 6 + 1 + 4);
    EXPECT_EQ(rows({&items[14], &items[17]}),
              (Rows{"08:12–08:12   С -> OpenDay", "ещё 1… -> OpenDay", "---"}));
    EXPECT_EQ(rows({&items[23], &items[25]}),
              (Rows{"08:06–08:06   З -> OpenDay", "ещё 1… -> OpenDay"}));
    fake.choose(items[24]);
    EXPECT_EQ(fake.openedUrls, Rows{"https://orvela.test/planner.html?date=2026-12-06"});
}

// Day labels: Russian, the same calendar day in any zone; anything that is not exactly a valid
// date comes back as it is.
TEST(DayLabel, FormatsValidDatesAndKeepsTheRest) {
    for (const char* zone : {"Pacific/Kiritimati", "Pacific/Pago_Pago"}) {
        test::ScopedTimeZone pinned(zone);
        EXPECT_EQ(dayLabel("2026-12-05"), "сб, 5 дек.") << zone;
        EXPECT_EQ(dayLabel("2026-05-09"), "сб, 9 мая") << zone;
    }
    for (const char* text : {"", "2026-02-30", "2026-12-05T10:00", "\xff\xfe"})
        EXPECT_EQ(dayLabel(text), text);
}

}  // namespace
}  // namespace orvela
