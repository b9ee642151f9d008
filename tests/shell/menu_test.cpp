// The drop-down menu as a tray host sees it: built on opening, items routed back when chosen,
// with its agenda section and the planner links its entries open.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "announce/tips.hpp"
#include "shell/app.hpp"
#include "support/fake_platform.hpp"
#include "support/time_zone.hpp"

namespace orvela {
namespace {

using Rows = std::vector<std::string>;

// One row as the user meets it: "title ^key -> Action (off)", "---", "## header".
std::string row(const MenuItem& item) {
    if (item.kind == MenuItem::Kind::Separator) return "---";
    if (item.kind == MenuItem::Kind::SectionHeader) return "## " + item.title;
    std::istringstream names(
        "None Connect AskToken Disconnect OpenLoginPage CancelLogin Pause Resume Skip Stop Extend "
        "Refresh Quit CheckUpdatesNow InstallUpdate OpenPlanner OpenAppsSettings OpenDay "
        "ToggleLogin");
    std::string name;
    for (int i = 0; i <= static_cast<int>(item.action); ++i) names >> name;
    std::string text = item.title;
    if (!item.key.empty()) text += " ^" + item.key;
    if (item.action != MenuAction::None) text += " -> " + name;
    return item.enabled ? text : text + " (off)";
}

Rows rows(const std::vector<MenuItem>& items) {
    Rows out;
    for (const auto& item : items) out.push_back(row(item));
    return out;
}

const MenuItem& find(const std::vector<MenuItem>& items, const std::string& title) {
    for (const auto& item : items)
        if (item.title == title) return item;
    throw std::runtime_error("no menu item " + title);
}

struct MenuTest : ::testing::Test {
    test::ScopedTimeZone zone{"Europe/Moscow"};
    test::FakePlatform fake;
    std::unique_ptr<App> app;

    // A fresh app; the platform is set up first, since the App reads version, build and base
    // URL when created. One App at a time: each installs, and on leaving removes, the clock.
    App& launch() {
        fake.userDefaults["OrvelaURL"] = "https://orvela.test";
        app.reset();
        app = std::make_unique<App>(fake);
        fake.createStatusItem()->setMenuDelegate(app.get());
        app->agendaToday = "2026-12-05";
        return *app;
    }
    // A timer `minutesIn` minutes into its plan, paused there when asked.
    void timer(std::vector<Phase> plan, double minutesIn, bool paused = false) {
        const double now = fake.wallClockMs();
        app->state = PomodoroState{7, "Отчёт", std::move(plan), now - minutesIn * 60000,
                                   paused ? std::optional(now) : std::nullopt};
    }
    // The menu's rows down to the agenda section (or all of them when there is none).
    Rows head() {
        Rows all = rows(fake.openMenu());
        for (std::size_t i = 1; i < all.size(); ++i) {
            if (all[i].starts_with("## ")) return Rows(all.begin(), all.begin() + i - 1);
        }
        return all;
    }
};

const std::vector<Phase> kPlan = {{"work", 25}, {"rest", 5}, {"work", 25}, {"rest", 15}};

// A login waiting for approval and a problem replace the menu; no timer offers the planner. The
// agenda and the tail follow, except under a problem or a login.
TEST_F(MenuTest, AccountStatesAndNoTimer) {
    const Rows tail = {"---", "Открыть планер ^o -> OpenPlanner", "Настройки", "Выйти ^q -> Quit"};
    launch();
    EXPECT_EQ(rows(fake.openMenu()),
              (Rows{"🍅 Таймер не запущен — взять задачу в работу… -> OpenPlanner", "---",
                    "## Сегодня · сб, 5 дек.", "Больше ничего не запланировано (off)", tail[0],
                    tail[1], tail[2], tail[3]}));
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

// The timer's own items: work, a paused break with its tips, a finished plan. The phase line
// counts only "work" phases, reads any other type as work, and gives bounded whole minutes.
// Break tips rotate with the phase index and wrap around.
TEST_F(MenuTest, TimerItems) {
    const auto off = [](std::string_view tip) { return std::string(tip) + " (off)"; };
    launch();
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
             {{{"rest", INFINITY}}, "Отдых · 9223372036854775807 мин (off)"},
             {{{"work", 1e300}}, "Работа · подход 1/1 · 9223372036854775807 мин (off)"}}) {
        timer(plan, 0.1);
        EXPECT_EQ(head().at(1), line);
    }
}

// The update offer sits just above the planner link; while installing it cannot be chosen.
TEST_F(MenuTest, UpdateItem) {
    launch().update = ReleaseInfo{"1.4.2", 43, std::nullopt, "/x.zip", "ab"};
    for (const auto& [updating, expected] :
         {std::pair{false, "⬆ Обновить до версии 1.4.2… -> InstallUpdate"},
          std::pair{true, "Обновляется до 1.4.2… (off)"}}) {
        app->updating = updating;
        const auto items = fake.openMenu();
        const MenuItem* planner = &find(items, "Открыть планер");
        EXPECT_EQ(rows({planner - 2, planner}), (Rows{"---", expected}));
    }
}

// The settings sub-menu (an item with no action of its own, still enabled) with and without an
// account, and the version line from the bundle.
TEST_F(MenuTest, SettingsSubmenu) {
    fake.bundle = {{"CFBundleShortVersionString", "2.0"}, {"CFBundleVersion", "17"}};
    Rows expected = {"Запускать при входе в систему -> ToggleLogin",
                     "Настройки ORVELA на сайте… -> OpenAppsSettings",
                     "Проверить обновления… -> CheckUpdatesNow", "---",
                     "ORVELA Timer 2.0 (сборка 17) (off)"};
    const auto settings = [this] { return find(fake.openMenu(), "Настройки"); };
    launch();
    EXPECT_TRUE(settings().enabled);
    EXPECT_EQ(rows(settings().submenu.value()), expected);
    app->token = "orvela_abc";
    expected.insert(expected.begin() + 3,
                    {"---", "Подключить заново… -> Connect", "Отключить ORVELA… -> Disconnect"});
    EXPECT_EQ(rows(settings().submenu.value()), expected);
}

// The launch-at-login switch is checked only when enabled, read afresh on every opening, and
// choosing it flips the registration; a refused switch leaves one log line and nothing else.
TEST_F(MenuTest, LaunchAtLoginSwitch) {
    const auto toggle = [this] { return find(fake.openMenu(), "Настройки").submenu->front(); };
    for (const auto& [before, after] :
         {std::pair{LoginItemStatus::Enabled, LoginItemStatus::NotRegistered},
          std::pair{LoginItemStatus::NotRegistered, LoginItemStatus::Enabled},
          std::pair{LoginItemStatus::RequiresApproval, LoginItemStatus::Enabled}}) {
        launch();
        fake.loginStatus = before;
        EXPECT_EQ(toggle().checked, before == LoginItemStatus::Enabled);
        fake.choose(toggle());
        EXPECT_EQ(fake.loginStatus, after);
        EXPECT_EQ(toggle().checked, after == LoginItemStatus::Enabled);
    }
    EXPECT_TRUE(fake.logLines.empty());
    fake.loginItemError = "нет доступа к ~/.config/autostart";
    fake.choose(toggle());
    EXPECT_EQ(fake.logLines, Rows{"ORVELA Timer: автозапуск не переключился: нет доступа к "
                                  "~/.config/autostart"});
    EXPECT_EQ(fake.loginStatus, LoginItemStatus::Enabled);
    EXPECT_TRUE(fake.alerts.empty());
}

// Chosen items open pages under the base URL and quit; a base URL that is not a URL opens
// nothing rather than hand garbage to the desktop.
TEST_F(MenuTest, LinksAndQuit) {
    launch();
    const auto items = fake.openMenu();
    fake.choose(items.front());
    fake.choose(find(items, "Настройки").submenu->at(1));
    EXPECT_EQ(fake.openedUrls,
              (Rows{"https://orvela.test/planner.html", "https://orvela.test/settings.html#apps"}));
    EXPECT_EQ(fake.terminations, 0);
    fake.choose(find(items, "Выйти"));
    EXPECT_EQ(fake.terminations, 1);

    app.reset();
    fake.openedUrls.clear();
    for (const char* base : {"", "orvela test", "https://orvela.test/a b"}) {
        fake.userDefaults["OrvelaURL"] = base;
        App a(fake);
        a.openPlanner();
        a.openAppsSettings();
        MenuItem day;
        day.action = MenuAction::OpenDay;
        day.represented = "2026-12-05";
        a.menuItemChosen(day);
    }
    EXPECT_TRUE(fake.openedUrls.empty());
}

// ---------------------------------------------------------------- agenda section

// 2026-12-05 00:00 in Moscow (UTC+3 all year), plus hours, minutes and days.
double at(int hour, int minute, int day = 0) {
    return 1796418000000.0 + ((day * 24 + hour) * 60 + minute) * 60000.0;
}

AgendaItem entry(std::string date, std::string title, double start,
                 std::optional<double> end = std::nullopt) {
    AgendaItem item;
    item.title = std::move(title);
    item.date = std::move(date);
    item.start = start;
    item.end = end;
    return item;
}

// Which days get a section (today always, if only to say it is free; the first other day with
// entries), with which header, and which entries in their stored order.
TEST_F(MenuTest, AgendaSections) {
    struct Case {
        std::optional<std::string> today;
        std::vector<AgendaItem> agenda;
        Rows expected;
    };
    const std::string free = "Больше ничего не запланировано (off)";
    const std::vector<Case> cases = {
        {std::nullopt, {}, {"---", "## Сегодня", free, "---", "## Завтра", free}},
        {"2026-12-05",
         {entry("2026-12-08", "Лекция", at(10, 0, 3)),
          entry("2026-12-05", "Стендап", at(11, 0), at(11, 15)),
          entry("2026-12-09", "Не показывать", at(12, 0, 4)),
          entry("2026-12-05", "Обзор", at(15, 0), at(16, 0)),
          entry("2026-12-08", "Семинар", at(12, 0, 3), at(13, 30, 3))},
         {"---", "## Сегодня · сб, 5 дек.", "11:00–11:15   Стендап -> OpenDay",
          "15:00–16:00   Обзор -> OpenDay", "---", "## Завтра · вт, 8 дек.",
          "10:00–10:00   Лекция -> OpenDay", "12:00–13:30   Семинар -> OpenDay"}},
        {std::nullopt,
         {entry("2026-12-05", "Стендап", at(11, 0), at(11, 15))},
         {"---", "## Сегодня", free, "---", "## Завтра · сб, 5 дек.",
          "11:00–11:15   Стендап -> OpenDay"}},
    };
    for (const auto& c : cases) {
        launch().agendaToday = c.today;
        app->agenda = c.agenda;
        const Rows all = rows(fake.openMenu());
        EXPECT_EQ(Rows(all.begin() + 1, all.end() - 4), c.expected);
    }
}

// One entry's line: times, the live marker against the clock, all-day, icon; its place as the
// tooltip; its day for the planner link, and the planner's main page for an item without one.
TEST_F(MenuTest, AgendaEntries) {
    AgendaItem call = entry("2026-12-05", "Созвон", at(9, 0), at(9, 30));
    call.location = "Переговорная 3";
    AgendaItem withIcon = call;
    withIcon.icon = "📞";
    AgendaItem birthday = entry("2026-12-05", "Др", at(0, 0), at(0, 0, 1));
    birthday.allDay = true;
    birthday.icon = "🎂";
    const std::vector<std::tuple<double, AgendaItem, std::string>> cases = {
        {at(9, 0), call, "● 09:00–09:30   Созвон"},
        {at(9, 30), call, "09:00–09:30   Созвон"},
        {at(9, 10), withIcon, "● 09:00–09:30   📞 Созвон"},
        {at(14, 0), entry("2026-12-05", "Звонок", at(14, 0)), "14:00–14:00   Звонок"},
        {at(12, 0), birthday, "весь день   🎂 Др"},
    };
    launch();
    for (const auto& [now, item, line] : cases) {
        fake.setWallClockMs(now);
        app->agenda = {item};
        EXPECT_EQ(fake.openMenu().at(3).title, line);
    }
    app->agenda = {call, entry("2026-12-05", "Звонок", at(17, 0))};
    const auto items = fake.openMenu();
    EXPECT_EQ(std::tie(items[3].tooltip, items[4].tooltip), std::tie("Переговорная 3", ""));
    EXPECT_EQ(items[4].represented, "2026-12-05");
    fake.choose(items[3]);
    MenuItem noDay;
    noDay.action = MenuAction::OpenDay;
    fake.choose(noDay);
    EXPECT_EQ(fake.openedUrls, (Rows{"https://orvela.test/planner.html?date=2026-12-05",
                                     "https://orvela.test/planner.html"}));
}

// At most 12 entries today and 6 on the other day; the rest is one line opening that day.
TEST_F(MenuTest, AgendaOverflow) {
    launch();
    for (int i = 1; i <= 15; ++i) app->agenda.push_back(entry("2026-12-05", "С", at(8, i)));
    for (int i = 1; i <= 7; ++i) app->agenda.push_back(entry("2026-12-06", "З", at(8, i, 1)));
    const auto items = fake.openMenu();
    ASSERT_EQ(items.size(), 1u + 2 + 12 + 1 + 2 + 6 + 1 + 4);
    EXPECT_EQ(rows({&items[14], &items[17]}),
              (Rows{"08:12–08:12   С -> OpenDay", "ещё 3… -> OpenDay", "---"}));
    EXPECT_EQ(rows({&items[23], &items[25]}),
              (Rows{"08:06–08:06   З -> OpenDay", "ещё 1… -> OpenDay"}));
    EXPECT_EQ(items[15].represented, "2026-12-05");
    fake.choose(items[24]);
    EXPECT_EQ(fake.openedUrls, Rows{"https://orvela.test/planner.html?date=2026-12-06"});
}

// Day labels: Russian, lower case, the same calendar day in any zone; anything that is not
// exactly a valid date comes back as it is.
TEST(DayLabel, FormatsValidDatesAndKeepsTheRest) {
    for (const auto& [zone, date, label] :
         std::vector<std::tuple<const char*, const char*, const char*>>{
             {"Europe/Moscow", "2026-12-05", "сб, 5 дек."},
             {"Pacific/Kiritimati", "2026-12-05", "сб, 5 дек."},
             {"Pacific/Pago_Pago", "2026-12-05", "сб, 5 дек."},
             {"UTC", "2026-05-09", "сб, 9 мая"}}) {
        test::ScopedTimeZone pinned(zone);
        EXPECT_EQ(dayLabel(date), label) << zone;
    }
    for (const char* text : {"", "2026-02-30", "2026-12-05T10:00", "2026-12-05 ", "\xff\xfe"}) {
        EXPECT_EQ(dayLabel(text), text);
    }
}

}  // namespace
}  // namespace orvela
