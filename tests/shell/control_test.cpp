// The timer commands from outside the menu (the control interface, the command line): the
// menu's requests where the menu offers the item, a reason and nothing sent where it does not,
// and the status they report, as the panel shows it.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "client/app_harness.hpp"
#include "model/clock.hpp"

namespace orvela::test {
namespace {

using C = TimerCommand;

struct Control : AppHarness {
    Control() {
        home.putToken("orvela_tok\n");
        app->token = "orvela_tok";
        app->item = fake.createStatusItem();
    }
    void timer(std::vector<Phase> plan, double minutesIn, bool paused = false) {
        const double now = fake.wallClockMs();
        app->state = PomodoroState{7, "Отчёт", std::move(plan), now - minutesIn * 60000,
                                   paused ? std::optional(now) : std::nullopt};
    }
    // What one command did: "POST pause" (the requests it sent, space-joined) or "!reason".
    std::string outcome(C command) {
        const std::size_t before = fake.requests.size();
        const Date lastAction = app->lastAction;
        const auto refused = app->control(command);
        std::string sent;
        for (std::size_t i = before; i < fake.requests.size(); ++i) {
            const HttpRequest& r = fake.requests[i].request;
            sent += (sent.empty() ? "" : " ") + r.method + " " + r.url.substr(r.url.rfind('/') + 1);
        }
        if (refused) {
            EXPECT_EQ(sent, "") << "a refused command sent something";
            EXPECT_EQ(app->lastAction, lastAction);
            return "!" + *refused;
        }
        // A sent command silences the announcer, exactly as the menu item does.
        if (sent.starts_with("POST")) {
            EXPECT_EQ(app->lastAction, nowSeconds());
        }
        return sent;
    }
    // The timer actions the menu offers right now.
    std::set<MenuAction> menuControls() {
        std::set<MenuAction> actions;
        std::vector<MenuItem> items;
        app->menuNeedsUpdate(items);
        for (const auto& item : items)
            if (item.action >= MenuAction::Pause && item.action <= MenuAction::Extend)
                actions.insert(item.action);
        return actions;
    }
};

const std::vector<Phase> kPlan = {{"work", 25}, {"rest", 5}};

// Every command in every state the menu distinguishes: what the menu offers is sent, the rest is
// refused with a reason; Refresh always fetches, as the poll would.
TEST(ControlCommands, DoWhatTheMenuOffersAndRefuseTheRest) {
    const std::vector<C> commands = {C::Pause, C::Resume, C::Toggle, C::Skip,
                                     C::Stop,  C::Extend, C::Refresh};
    const std::string refresh = "GET pomodoro GET agenda";
    struct Case {
        std::string name;
        std::function<void(Control&)> setUp;
        std::vector<std::string> outcomes;  // in the order of `commands`
    };
    const auto all = [&](const std::string& why) {
        return std::vector<std::string>{why, why, why, why, why, why, refresh};
    };
    const std::vector<Case> cases = {
        {"login pending",
         [](Control& c) {
             c.timer(kPlan, 1);
             c.app->pendingLogin = PendingLogin{"dev", "ABCD-1234", 0, 3};
         },
         all("!Сначала завершите вход в ORVELA")},
        {"problem",
         [](Control& c) {
             c.timer(kPlan, 1);
             c.app->problem = "Токен отклонён — создайте новый";
         },
         all("!Токен отклонён — создайте новый")},
        {"no timer", [](Control&) {}, all("!Таймер не запущен")},
        {"work",
         [](Control& c) { c.timer(kPlan, 1); },
         {"POST pause", "!Таймер не на паузе", "POST pause", "POST skip", "POST stop",
          "!Время задачи ещё не вышло", refresh}},
        {"paused break",
         [](Control& c) { c.timer(kPlan, 26, true); },
         {"!Таймер уже на паузе", "POST resume", "POST resume", "POST skip", "POST stop",
          "!Время задачи ещё не вышло", refresh}},
        {"finished",
         [](Control& c) { c.timer(kPlan, 31, true); },
         {"!Время задачи вышло", "!Время задачи вышло", "!Время задачи вышло",
          "!Время задачи вышло", "POST stop", "POST extend", refresh}},
    };
    const std::map<C, MenuAction> menuAction = {{C::Pause, MenuAction::Pause},
                                                {C::Resume, MenuAction::Resume},
                                                {C::Skip, MenuAction::Skip},
                                                {C::Stop, MenuAction::Stop},
                                                {C::Extend, MenuAction::Extend}};
    for (const auto& [name, setUp, outcomes] : cases) {
        SCOPED_TRACE(name);
        std::set<MenuAction> accepted;
        for (std::size_t i = 0; i < commands.size(); ++i) {
            Control c;
            setUp(c);
            EXPECT_EQ(c.outcome(commands[i]), outcomes[i]) << "command " << i;
            if (!outcomes[i].starts_with("!") && menuAction.contains(commands[i]))
                accepted.insert(menuAction.at(commands[i]));
        }
        Control c;
        setUp(c);
        EXPECT_EQ(c.menuControls(), accepted);
    }
}

// What outside readers are told, per state, and that they are told only of changes.
TEST(ControlStatus, FollowsEveryRenderAndSignalsOnlyChanges) {
    struct Case {
        std::string name;
        std::function<void(Control&)> setUp;
        StatusReport expected;
    };
    const std::vector<Case> cases = {
        {"work",
         [](Control& c) { c.timer(kPlan, 10); },
         {"🍅 15:00 · Отчёт", "Отчёт", "work", 900, 40}},
        {"rest",
         [](Control& c) { c.timer(kPlan, 26); },
         {"☕ 04:00 · Отчёт", "Отчёт", "rest", 240, 20}},
        {"paused",
         [](Control& c) { c.timer(kPlan, 1, true); },
         {"⏸ 24:00 · Отчёт", "Отчёт", "paused", 1440, 4}},
        {"finished",
         [](Control& c) { c.timer(kPlan, 31); },
         {"✅ Отчёт", "Отчёт", "finished", 0, 100}},
        {"idle", [](Control&) {}, {"🍅", "Таймер не запущен", "idle", 0, 0}},
        {"event",
         [](Control& c) {
             const double now = c.fake.wallClockMs();
             c.app->agenda = {{1, "Созвон", "d", now + 600000, now + 1200000, false, "", {}, {}}};
         },
         {"Созвон · через 10 мин", "Созвон", "event", 0, 0}},
        {"problem",
         [](Control& c) { c.app->problem = "Нет связи с ORVELA"; },
         {"🍅 ?", "Нет связи с ORVELA", "problem", 0, 0}},
        {"login",
         [](Control& c) {
             c.app->pendingLogin = PendingLogin{"d", "AB-12", 0, 3};
         },
         {"🔑 AB-12", "Подтвердите этот код на сайте ORVELA", "login", 0, 0}},
    };
    for (const auto& [name, setUp, expected] : cases) {
        SCOPED_TRACE(name);
        Control c;
        setUp(c);
        int told = 0;
        c.app->statusChanged = [&] { ++told; };
        c.app->render();
        // The tooltip's first line: an event's second one is a local time of day.
        const StatusReport& shown = c.app->shownStatus;
        EXPECT_EQ(std::tuple(shown.title, shown.tooltip.substr(0, shown.tooltip.find('\n')),
                             shown.phase, shown.secondsLeft, shown.progress),
                  std::tuple(expected.title, expected.tooltip, expected.phase, expected.secondsLeft,
                             expected.progress));
        c.app->render();
        EXPECT_EQ(told, 1) << "a render that changed nothing told again";
    }
    // A running countdown tells every second.
    Control c;
    c.timer(kPlan, 10);
    int told = 0;
    c.app->statusChanged = [&] { ++told; };
    for (int i = 0; i < 5; ++i) {
        c.app->render();
        c.fake.advance(1);
    }
    EXPECT_EQ(told, 5);
}

// The numbers stay whole and bounded whatever the plan holds.
TEST(ControlStatus, CountdownAndProgressAreBounded) {
    const double inf = INFINITY, nan = NAN;
    for (const auto& [left, phase, seconds, progress] :
         std::vector<std::tuple<double, double, std::int64_t, int>>{
             {59.2, 60, 60, 1},
             {0, 60, 0, 100},
             {-5, 60, 0, 100},
             {90, 60, 90, 0},
             {nan, 60, 0, 0},
             {inf, inf, 1000000000, 0},
             {30, 0, 30, 0},
             {30, -60, 30, 0},
             {1e300, 1e300, 1000000000, 0}}) {
        EXPECT_EQ(countdownSeconds(left), seconds) << left;
        EXPECT_EQ(phaseProgress(left, phase), progress) << left << " of " << phase;
    }
}

}  // namespace
}  // namespace orvela::test
