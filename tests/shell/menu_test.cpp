// The drop-down menu as a tray host sees it: built on opening, items routed back when chosen.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "announce/tips.hpp"
#include "shell/app.hpp"
#include "support/fake_platform.hpp"
#include "support/time_zone.hpp"

namespace orvela {
namespace {

using test::FakePlatform;

constexpr double kMinuteMs = 60000;

// One row of a menu as the user meets it: what it says, its shortcut, what it does, and
// whether it can be chosen.
std::string row(const MenuItem& item) {
    static const char* const names[] = {"None",        "Connect",          "AskToken",
                                        "Disconnect",  "OpenLoginPage",    "CancelLogin",
                                        "Pause",       "Resume",           "Skip",
                                        "Stop",        "Extend",           "Refresh",
                                        "Quit",        "CheckUpdatesNow",  "InstallUpdate",
                                        "OpenPlanner", "OpenAppsSettings", "OpenDay",
                                        "ToggleLogin"};
    if (item.kind == MenuItem::Kind::Separator) return "---";
    if (item.kind == MenuItem::Kind::SectionHeader) return "## " + item.title;
    std::string text = item.title;
    if (!item.key.empty()) text += " ^" + item.key;
    if (item.action != MenuAction::None) text += " -> " + std::string(names[int(item.action)]);
    if (!item.enabled) text += " (off)";
    return text;
}

std::vector<std::string> rows(const std::vector<MenuItem>& items) {
    std::vector<std::string> out;
    for (const auto& item : items) out.push_back(row(item));
    return out;
}

const MenuItem* find(const std::vector<MenuItem>& items, const std::string& title) {
    for (const auto& item : items)
        if (item.title == title) return &item;
    return nullptr;
}

struct MenuTest : ::testing::Test {
    FakePlatform fake;
    test::ScopedTimeZone zone{"Europe/Moscow"};
    std::unique_ptr<App> app;

    // Configure the platform first: the App reads version, build and base URL when created.
    App& launch() {
        fake.userDefaults["OrvelaURL"] = "https://orvela.test";
        app.reset();  // one App at a time: each installs, and on leaving removes, the clock
        app = std::make_unique<App>(fake);
        fake.createStatusItem()->setMenuDelegate(app.get());
        app->agendaToday = "2026-12-05";
        return *app;
    }

    // A timer `minutesIn` minutes into its plan; paused there when asked.
    PomodoroState timer(std::vector<Phase> plan, double minutesIn, bool paused = false) {
        PomodoroState s{7, "Отчёт", std::move(plan), fake.wallClockMs() - minutesIn * kMinuteMs,
                        std::nullopt};
        if (paused) {
            s.startedAt -= 120 * kMinuteMs;  // paused long ago: the position must not move
            s.pausedAt = s.startedAt + minutesIn * kMinuteMs;
        }
        return s;
    }
};

const std::vector<std::string> kAgendaToday = {"---", "## Сегодня · сб, 5 дек.",
                                               "Больше ничего не запланировано (off)"};
const std::vector<std::string> kTail = {"---", "Открыть планер ^o -> OpenPlanner", "Настройки",
                                        "Выйти ^q -> Quit"};

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const std::vector<Phase> kPlan = {{"work", 25}, {"rest", 5}, {"work", 25}, {"rest", 15}};

// Each variant, its precedence over the later ones, and its exact items in order.
TEST_F(MenuTest, VariantsListExactlyTheirItems) {
    struct Case {
        const char* name;
        std::function<void(MenuTest&, App&)> setup;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"pending login hides problem and timer",
         [](MenuTest& t, App& a) {
             a.pendingLogin = PendingLogin{"dev", "ABCD-1234", 0, 3};
             a.problem = "Нет связи";
             a.state = t.timer(kPlan, 1);
         },
         {"Код для входа: ABCD-1234 (off)", "Подтвердите его на сайте ORVELA… -> OpenLoginPage",
          "Отменить вход -> CancelLogin", "---", "Выйти ^q -> Quit"}},
        {"problem hides the timer and the agenda",
         [](MenuTest& t, App& a) {
             a.problem = "Нет связи с ORVELA";
             a.state = t.timer(kPlan, 1);
         },
         join({{"Нет связи с ORVELA (off)", "Войти через браузер… -> Connect",
                "Вставить токен вручную… -> AskToken", "Обновить ^r -> Refresh"},
               kTail})},
        {"no timer", [](MenuTest&, App&) {},
         join({{"🍅 Таймер не запущен — взять задачу в работу… -> OpenPlanner"},
               kAgendaToday,
               kTail})},
        {"third phase running", [](MenuTest& t, App& a) { a.state = t.timer(kPlan, 31); },
         join({{"Отчёт -> OpenPlanner", "Работа · подход 2/2 · 25 мин (off)", "---",
                "⏸ Пауза ^p -> Pause", "⏭ К отдыху -> Skip", "■ Остановить -> Stop"},
               kAgendaToday,
               kTail})},
        {"second phase paused", [](MenuTest& t, App& a) { a.state = t.timer(kPlan, 26, true); },
         join({{"Отчёт -> OpenPlanner", "Отдых · 5 мин · на паузе (off)", "---",
                "▶ Продолжить ^p -> Resume", "⏭ К работе -> Skip", "■ Остановить -> Stop", "---",
                "Что сделать в перерыв (off)", std::string(eyeTips[0]) + " (off)",
                std::string(eyeTips[1]) + " (off)", std::string(bodyTips[0]) + " (off)"},
               kAgendaToday,
               kTail})},
        {"plan run out, paused: no pause suffix",
         [](MenuTest& t, App& a) { a.state = t.timer(kPlan, 90, true); },
         join({{"Отчёт -> OpenPlanner", "Время задачи вышло (off)", "---", "+45 минут -> Extend",
                "■ Остановить -> Stop"},
               kAgendaToday,
               kTail})},
        {"empty plan", [](MenuTest& t, App& a) { a.state = t.timer({}, 0); },
         join({{"Отчёт -> OpenPlanner", "Время задачи вышло (off)", "---", "+45 минут -> Extend",
                "■ Остановить -> Stop"},
               kAgendaToday,
               kTail})},
        {"unknown phase type reads as work, counts as none",
         [](MenuTest& t, App& a) {
             a.state = t.timer({{"focus", 24.9}, {"work", 25}}, 1);
         },
         join({{"Отчёт -> OpenPlanner", "Работа · подход 0/1 · 24 мин (off)", "---",
                "⏸ Пауза ^p -> Pause", "⏭ К отдыху -> Skip", "■ Остановить -> Stop"},
               kAgendaToday,
               kTail})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        App& a = launch();
        c.setup(*this, a);
        EXPECT_EQ(rows(fake.openMenu()), c.expected);
    }
}

// Phase lengths: truncated minutes, and lengths no clock can reach still build a menu.
TEST_F(MenuTest, PhaseLineMinutes) {
    struct Case {
        double min;
        const char* expected;
    };
    const double inf = std::numeric_limits<double>::infinity();
    for (const Case& c : std::vector<Case>{
             {24.9, "Отдых · 24 мин"}, {0.5, "Отдых · 0 мин"}, {1e300, nullptr}, {inf, nullptr}}) {
        SCOPED_TRACE(c.min);
        App& a = launch();
        a.state = timer({{"rest", c.min}}, 0.1);
        const auto items = fake.openMenu();
        ASSERT_GT(items.size(), 2u);
        if (c.expected) {
            EXPECT_EQ(items[1].title, c.expected);
        } else {
            EXPECT_EQ(items[1].title.rfind("Отдых · ", 0), 0u) << items[1].title;
        }
    }
}

// Break tips rotate every second phase: eye tips k and k+1, body tip k, k = (index / 2) % 4.
TEST_F(MenuTest, BreakTipsFollowThePhaseIndex) {
    const int expected[9][3] = {{0, 1, 0}, {0, 1, 0}, {1, 2, 1}, {1, 2, 1}, {2, 3, 2},
                                {2, 3, 2}, {3, 0, 3}, {3, 0, 3}, {0, 1, 0}};
    for (int index = 0; index < 9; ++index) {
        SCOPED_TRACE(index);
        App& a = launch();
        a.state = timer(std::vector<Phase>(9, {"rest", 5}), index * 5 + 1);
        const auto items = fake.openMenu();
        const MenuItem* header = find(items, "Что сделать в перерыв");
        ASSERT_NE(header, nullptr);
        const auto at = header - items.data();
        EXPECT_EQ(items[at + 1].title, eyeTips[expected[index][0]]);
        EXPECT_EQ(items[at + 2].title, eyeTips[expected[index][1]]);
        EXPECT_EQ(items[at + 3].title, bodyTips[expected[index][2]]);
    }
}

// The update offer sits between the tail's separator and the planner link.
TEST_F(MenuTest, UpdateItem) {
    struct Case {
        bool offered;
        bool updating;
        const char* expected;
    };
    for (const Case& c : std::vector<Case>{
             {true, false, "⬆ Обновить до версии 1.4.2… -> InstallUpdate"},
             {true, true, "Обновляется до 1.4.2… (off)"},
             {false, false, "---"},
         }) {
        App& a = launch();
        if (c.offered) a.update = ReleaseInfo{"1.4.2", 43, std::nullopt, "/x.zip", "ab"};
        a.updating = c.updating;
        const auto items = fake.openMenu();
        const MenuItem* planner = find(items, "Открыть планер");
        ASSERT_NE(planner, nullptr);
        EXPECT_EQ(row(planner[-1]), c.expected);
        if (c.offered) {
            EXPECT_EQ(row(planner[-2]), "---");
        }
    }
}

// The settings sub-menu with and without an account, and the version line from the bundle.
TEST_F(MenuTest, SettingsSubmenu) {
    fake.bundle = {{"CFBundleShortVersionString", "2.0"}, {"CFBundleVersion", "17"}};
    const std::vector<std::string> head = {"Запускать при входе в систему -> ToggleLogin",
                                           "Настройки ORVELA на сайте… -> OpenAppsSettings",
                                           "Проверить обновления… -> CheckUpdatesNow"};
    const std::vector<std::string> account = {"---", "Подключить заново… -> Connect",
                                              "Отключить ORVELA… -> Disconnect"};
    const std::vector<std::string> foot = {"---", "ORVELA Timer 2.0 (сборка 17) (off)"};
    for (bool withToken : {false, true}) {
        App& a = launch();
        if (withToken) a.token = "orvela_abc";
        const auto items = fake.openMenu();
        const MenuItem* settings = find(items, "Настройки");
        ASSERT_NE(settings, nullptr);
        EXPECT_TRUE(settings->enabled);
        EXPECT_EQ(settings->action, MenuAction::None);
        ASSERT_TRUE(settings->submenu);
        EXPECT_EQ(rows(*settings->submenu),
                  withToken ? join({head, account, foot}) : join({head, foot}));
    }
}

// The launch-at-login switch: checked only for "enabled", and choosing it flips registration.
TEST_F(MenuTest, LaunchAtLoginSwitch) {
    struct Case {
        LoginItemStatus before;
        bool checked;
        LoginItemStatus after;
    };
    for (const Case& c : std::vector<Case>{
             {LoginItemStatus::Enabled, true, LoginItemStatus::NotRegistered},
             {LoginItemStatus::NotRegistered, false, LoginItemStatus::Enabled},
             {LoginItemStatus::RequiresApproval, false, LoginItemStatus::Enabled},
             {LoginItemStatus::NotFound, false, LoginItemStatus::Enabled},
         }) {
        SCOPED_TRACE(int(c.before));
        launch();
        fake.loginStatus = c.before;
        const MenuItem toggle = find(fake.openMenu(), "Настройки")->submenu->front();
        EXPECT_EQ(toggle.checked, c.checked);
        fake.choose(toggle);
        EXPECT_EQ(fake.loginStatus, c.after);
        // Read again on the next opening, never remembered.
        EXPECT_EQ(find(fake.openMenu(), "Настройки")->submenu->front().checked,
                  c.after == LoginItemStatus::Enabled);
        EXPECT_TRUE(fake.logLines.empty());
    }
}

// A refused switch leaves one log line and nothing else.
TEST_F(MenuTest, LaunchAtLoginFailureIsLogged) {
    launch();
    fake.loginStatus = LoginItemStatus::Enabled;
    fake.loginItemError = "нет доступа к ~/.config/autostart";
    fake.choose(find(fake.openMenu(), "Настройки")->submenu->front());
    EXPECT_EQ(fake.logLines,
              std::vector<std::string>{"ORVELA Timer: автозапуск не переключился: нет доступа к "
                                       "~/.config/autostart"});
    EXPECT_EQ(fake.loginStatus, LoginItemStatus::Enabled);
    EXPECT_TRUE(fake.alerts.empty());
    EXPECT_TRUE(fake.notifications.empty());
}

// Chosen items reach their commands: web links under the base URL, and quitting.
TEST_F(MenuTest, ChosenItemsOpenPagesAndQuit) {
    launch();
    const auto items = fake.openMenu();
    fake.choose(*find(items, "🍅 Таймер не запущен — взять задачу в работу…"));
    fake.choose(*find(items, "Открыть планер"));
    fake.choose(find(items, "Настройки")->submenu->at(1));
    EXPECT_EQ(fake.openedUrls,
              (std::vector<std::string>{"https://orvela.test/planner.html",
                                        "https://orvela.test/planner.html",
                                        "https://orvela.test/settings.html#apps"}));
    EXPECT_EQ(fake.terminations, 0);
    fake.choose(*find(items, "Выйти"));
    EXPECT_EQ(fake.terminations, 1);
}

// A base URL that is not a URL: the links do nothing rather than hand garbage to the desktop.
TEST_F(MenuTest, InvalidBaseUrlOpensNothing) {
    for (const char* base : {"", "orvela test", "https://orvela.test/a b", "::"}) {
        fake.userDefaults["OrvelaURL"] = base;
        App a(fake);
        a.openPlanner();
        a.openAppsSettings();
        MenuItem day;
        day.action = MenuAction::OpenDay;
        day.represented = "2026-12-05";
        a.menuItemChosen(day);
        EXPECT_TRUE(fake.openedUrls.empty()) << base;
    }
}

}  // namespace
}  // namespace orvela
