// The timer commands from outside the menu: the menu's requests where the menu offers the
// item, a reason and nothing sent where it does not.
#include <gtest/gtest.h>

#include <set>

#include "client/app_harness.hpp"

namespace orvela::test {
namespace {

// The commands from outside, in TimerCommand's order.
const std::vector<std::string> kCommands = {"pause", "resume", "toggle", "skip",
                                            "stop",  "extend", "refresh"};
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

// The service's answer: that timer started now, running or paused.
HttpResponse reply(FakePlatform& fake, bool paused) {
    const std::string now = std::to_string(std::int64_t(fake.wallClockMs()));
    return FakePlatform::ok(
        R"({"state":{"taskId":7,"title":"Отчёт","plan":[{"type":"work","min":25},)"
        R"({"type":"rest","min":5}],"startedAt":)" +
        now + (paused ? R"(,"pausedAt":)" + now : "") + "}}");
}

std::unique_ptr<AppHarness> harness(const Given& setUp) {
    auto h = std::make_unique<AppHarness>();
    h->home.putToken("orvela_tok\n");
    h->app->token = "orvela_tok";
    h->app->item = h->fake.createStatusItem();
    setUp(*h);
    return h;
}

// What one step did: a command from outside ("pause"…"refresh"), a "middle" click, "menu pause"
// or "menu skip", or "<" and the answer given to the oldest waiting request ("paused",
// "running", "409"). It yields the requests sent ("POST pause"), "!" and a refusal's reason,
// "busy", or "-" for nothing.
std::string step(AppHarness& h, const std::string& what) {
    const std::size_t before = h.fake.requests.size();
    const Monotonic lastAction = h.app->lastAction;
    std::optional<ControlRefusal> refused;
    if (what == "middle") {
        h.app->middleClicked();
    } else if (what.starts_with("menu ")) {
        const MenuAction action = what == "menu skip" ? MenuAction::Skip : MenuAction::Pause;
        std::vector<MenuItem> menu;
        h.app->menuNeedsUpdate(menu);
        for (const MenuItem& item : menu)
            if (item.action == action) h.app->menuItemChosen(item);
    } else if (what.starts_with("<")) {
        h.fake.answer(h.fake.pendingRequests().at(0), what == "<409"
                                                          ? FakePlatform::ok("{}", 409)
                                                          : reply(h.fake, what == "<paused"));
    } else {
        const auto name = std::find(kCommands.begin(), kCommands.end(), what);
        refused = h.app->control(TimerCommand(name - kCommands.begin()));
    }
    std::string sent;
    for (std::size_t i = before; i < h.fake.requests.size(); ++i) {
        const std::string& url = h.fake.requests[i].request.url;
        sent += (sent.empty() ? "" : " ") + h.fake.requests[i].request.method + " " +
                url.substr(url.rfind('/') + 1);
    }
    // An action sent silences the announcer as the menu item does; refused, it touches nothing.
    EXPECT_EQ(h.app->lastAction, sent.starts_with("POST") ? h.fake.monotonicSeconds() : lastAction);
    if (refused)
        return refused->busy ? "busy" : (sent.empty() ? "!" : "sent, yet !") + refused->reason;
    return sent.empty() ? "-" : sent;
}

// Every command in every state the menu tells apart; the menu offers exactly what is accepted.
TEST(ControlCommands, DoWhatTheMenuOffersAndRefuseTheRest) {
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
        for (std::size_t i = 0; i < kCommands.size(); ++i) {
            EXPECT_EQ(step(*harness(setUp), kCommands[i]), outcomes[i]) << n << "/" << i;
            if (outcomes[i].starts_with("POST") && kCommands[i] != "toggle")
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

// While any action waits for its answer, every way in from outside sends nothing (the control
// interface says busy, a middle click does nothing) and the menu still sends; once the answer
// is applied (after a conflict, the reload's) the next command goes out. Refresh joins the
// fetches already running and is never busy.
TEST(ControlCommands, OneActionInFlightFromOutside) {
    // clang-format off
    const std::vector<std::vector<std::pair<std::string, std::string>>> stories = {
        {{"toggle", "POST pause"}, {"toggle", "busy"}, {"skip", "busy"}, {"extend", "busy"},
         {"middle", "-"}, {"menu skip", "POST skip"}, {"<paused", "-"}, {"resume", "busy"},
         {"<paused", "-"}, {"pause", "!Таймер уже на паузе"}, {"toggle", "POST resume"}},
        // The reload after a conflict holds the gate; an agenda's answer does not open it.
        {{"menu pause", "POST pause"}, {"middle", "-"}, {"stop", "busy"}, {"<409", "GET pomodoro"},
         {"refresh", "GET agenda"}, {"toggle", "busy"}, {"<paused", "-"}, {"middle", "POST resume"},
         {"<running", "-"}, {"stop", "busy"}, {"<running", "-"}, {"stop", "POST stop"}},
        {{"middle", "POST pause"}, {"<paused", "-"}, {"refresh", "GET pomodoro GET agenda"},
         {"refresh", "-"}, {"<paused", "-"}, {"refresh", "GET pomodoro"}, {"middle", "POST resume"}},
    };
    // clang-format on
    for (std::size_t n = 0; n < stories.size(); ++n) {
        const auto h = harness(timer(1));
        for (std::size_t i = 0; i < stories[n].size(); ++i)
            EXPECT_EQ(step(*h, stories[n][i].first), stories[n][i].second) << n << "/" << i;
    }
}

}  // namespace
}  // namespace orvela::test
