// The timer commands from outside the menu: the menu's requests where the menu offers the
// item, a reason and nothing sent where it does not.
#include <gtest/gtest.h>

#include <set>

#include "client/app_harness.hpp"
#include "model/clock.hpp"

namespace orvela::test {
namespace {

using C = TimerCommand;
using Given = std::function<void(AppHarness&)>;

const std::vector<Phase> kPlan = {{"work", 25}, {"rest", 5}};

// A timer `minutesIn` its plan; a login pending or a problem shown over it.
Given timer(double minutesIn, bool paused = false, bool login = false, std::string problem = {}) {
    return [=](AppHarness& h) {
        const double now = h.fake.wallClockMs();
        h.app->state = PomodoroState{7, "Отчёт", kPlan, now - minutesIn * 60000,
                                     paused ? std::optional(now) : std::nullopt};
        if (login) h.app->pendingLogin = PendingLogin{"dev", "ABCD-1234", 0, 3};
        if (!problem.empty()) h.app->problem = problem;
    };
}

std::unique_ptr<AppHarness> harness(const Given& setUp) {
    auto h = std::make_unique<AppHarness>();
    h->home.putToken("orvela_tok\n");
    h->app->token = "orvela_tok";
    h->app->item = h->fake.createStatusItem();
    setUp(*h);
    return h;
}

// What one command did: the requests it sent ("POST pause") or "!reason".
std::string outcome(AppHarness& h, C command) {
    const Date lastAction = h.app->lastAction;
    const auto refused = h.app->control(command);
    std::string sent;
    for (const auto& r : h.fake.requests)
        sent += (sent.empty() ? "" : " ") + r.request.method + " " +
                r.request.url.substr(r.request.url.rfind('/') + 1);
    // Sent, it silences the announcer as the menu item does; refused, it touches nothing.
    EXPECT_EQ(h.app->lastAction, sent.starts_with("POST") ? nowSeconds() : lastAction);
    return refused ? (sent.empty() ? "!" : "sent and refused ") + *refused : sent;
}

// Every command in every state the menu tells apart; the menu offers exactly what is accepted.
TEST(ControlCommands, DoWhatTheMenuOffersAndRefuseTheRest) {
    const std::vector<C> commands = {C::Pause, C::Resume, C::Toggle, C::Skip,
                                     C::Stop,  C::Extend, C::Refresh};
    const std::string refresh = "GET pomodoro GET agenda";
    const auto all = [&](const std::string& why) {
        return std::vector<std::string>{why, why, why, why, why, why, refresh};
    };
    const std::vector<std::pair<Given, std::vector<std::string>>> cases = {
        {timer(1, false, true), all("!Сначала завершите вход в ORVELA")},
        {timer(1, false, false, "Токен отклонён — создайте новый"),
         all("!Токен отклонён — создайте новый")},
        {[](AppHarness&) {}, all("!Таймер не запущен")},
        {timer(1),
         {"POST pause", "!Таймер не на паузе", "POST pause", "POST skip", "POST stop",
          "!Время задачи ещё не вышло", refresh}},
        {timer(26, true),
         {"!Таймер уже на паузе", "POST resume", "POST resume", "POST skip", "POST stop",
          "!Время задачи ещё не вышло", refresh}},
        {timer(31, true),
         {"!Время задачи вышло", "!Время задачи вышло", "!Время задачи вышло",
          "!Время задачи вышло", "POST stop", "POST extend", refresh}},
    };
    for (std::size_t n = 0; n < cases.size(); ++n) {
        const auto& [setUp, outcomes] = cases[n];
        std::set<std::string> accepted, offered;
        for (std::size_t i = 0; i < commands.size(); ++i) {
            EXPECT_EQ(outcome(*harness(setUp), commands[i]), outcomes[i]) << n << "/" << i;
            if (outcomes[i].starts_with("POST") && commands[i] != C::Toggle)
                accepted.insert(outcomes[i].substr(5));
        }
        std::vector<MenuItem> menu;
        harness(setUp)->app->menuNeedsUpdate(menu);
        static const char* const names[] = {"pause", "resume", "skip", "stop", "extend"};
        for (const auto& item : menu)
            if (item.action >= MenuAction::Pause && item.action <= MenuAction::Extend)
                offered.insert(names[int(item.action) - int(MenuAction::Pause)]);
        EXPECT_EQ(offered, accepted) << "case " << n;
    }
}

}  // namespace
}  // namespace orvela::test
