#include <gtest/gtest.h>

#include "client/app_harness.hpp"
#include "model/clock.hpp"

namespace orvela::test {
namespace {

const std::string kNoConnection = "Нет связи с ORVELA";
const std::string kRefused = "Токен отклонён — создайте новый";
const std::string kPomodoro = std::string(kBase) + "/api/ext/pomodoro";

HttpResponse timer(const std::string& title, int status = 200) {
    return FakePlatform::ok(
        R"({"success":true,"state":{"taskId":7,"title":")" + title +
            R"(","plan":[{"type":"work","min":25}],"startedAt":1796464800000}})",
        status);
}

// An app with a stored token, polled one scripted answer at a time.
struct Synced : AppHarness {
    Synced() { home.putToken("orvela_tok\n"); }
    void poll(HttpResponse response) {  // answered and applied before this returns
        fake.respondTo("GET", "/api/ext/pomodoro", std::move(response), 1);
        app->fetch();
        fake.runPending();
    }
    std::optional<std::string> title() const {
        return app->state ? std::optional(app->state->title) : std::nullopt;
    }
};

// (problem, loadedOnce) and the timer held, through sequences of poll answers: before the first
// usable answer every failure says "no connection"; after it only a refusal shows, and any
// decodable 200 is the truth, even one that carries no timer.
TEST(TimerSync, ConnectionStateFollowsTheAnswers) {
    struct Step {
        HttpResponse response;
        std::optional<std::string> problem;
        bool loaded;
        std::optional<std::string> title;
    };
    const auto none = std::nullopt;
    const HttpResponse lost = FakePlatform::noAnswer();
    const HttpResponse e401 = FakePlatform::ok(R"({"success":false,"error":"bad"})", 401);
    const std::vector<std::vector<Step>> stories = {
        {{FakePlatform::ok("{}", 500), kNoConnection, false, none},
         {timer("Отчёт"), none, true, "Отчёт"},
         {FakePlatform::ok("{}", 500), none, true, "Отчёт"},
         {FakePlatform::ok(""), none, true, "Отчёт"},
         {timer("Чужой", 409), none, true, "Отчёт"},
         {e401, kRefused, true, "Отчёт"},
         {lost, kRefused, true, "Отчёт"},
         {timer("Письмо"), none, true, "Письмо"},
         {FakePlatform::ok(R"({"success":false,"error":"x"})"), none, true, none}},
        {{FakePlatform::ok(R"({"state":{}})"), kNoConnection, false, none},
         {e401, kRefused, false, none},
         {lost, kNoConnection, false, none}},
    };
    for (std::size_t s = 0; s < stories.size(); ++s) {
        Synced h;
        for (std::size_t i = 0; i < stories[s].size(); ++i) {
            const Step& step = stories[s][i];
            h.poll(step.response);
            EXPECT_EQ(h.app->problem, step.problem) << "story " << s << " step " << i;
            EXPECT_EQ(h.app->loadedOnce, step.loaded) << "story " << s << " step " << i;
            EXPECT_EQ(h.title(), step.title) << "story " << s << " step " << i;
        }
        EXPECT_EQ(h.fake.requests.size(), stories[s].size());
    }
}

// The file is authoritative: once it is gone the next poll says so and sends nothing, and a
// token written by another program is picked up by the next one.
TEST(TimerSync, TheTokenFileDecidesEachPoll) {
    Synced h;
    h.poll(timer("Отчёт"));
    std::filesystem::remove(h.home.tokenPath());
    h.fake.advance(15);
    h.app->fetch();
    EXPECT_EQ(h.app->lastFetch, nowSeconds());
    EXPECT_EQ(h.app->problem, "Нет токена ORVELA");
    EXPECT_EQ(h.title(), "Отчёт");
    EXPECT_EQ(h.fake.requests.size(), 1u);
    h.home.putToken("  orvela_new\n");
    h.poll(timer("Письмо"));
    EXPECT_EQ(h.last().header("Authorization"), "Bearer orvela_new");
    EXPECT_EQ(h.app->problem, std::nullopt);
}

// Each command is one POST to its own endpoint whose answer is applied; a conflict reloads the
// state at once instead of applying its body.
TEST(TimerSync, CommandsPostTheirActionAndAConflictReloads) {
    Synced h;
    const std::vector<std::pair<void (App::*)(), std::string>> commands = {
        {&App::pause, "pause"},
        {&App::resume, "resume"},
        {&App::skip, "skip"},
        {&App::stop, "stop"},
        {&App::extend, "extend"}};
    for (const auto& [command, action] : commands) {
        h.poll(timer("Отчёт"));
        h.fake.advance(5);
        h.fake.respondTo("POST", "/" + action, FakePlatform::ok(R"({"success":true})"), 1);
        ((*h.app).*command)();
        EXPECT_EQ(h.app->lastAction, nowSeconds());
        EXPECT_EQ(h.last().request.method + " " + h.last().request.url,
                  "POST " + kPomodoro + "/" + action);
        h.fake.runPending();
        EXPECT_FALSE(h.app->state) << action;
    }

    h.poll(timer("Отчёт"));
    const Date polledAt = h.app->lastFetch;
    h.fake.advance(5);
    h.fake.respondTo("POST", "/skip", timer("Чужой", 409), 1);
    h.app->skip();
    EXPECT_EQ(h.app->lastFetch, polledAt);  // an action alone does not restart the poll
    h.fake.runPending();
    EXPECT_EQ(h.last().request.method + " " + h.last().request.url, "GET " + kPomodoro);
    EXPECT_EQ(h.app->lastFetch, nowSeconds());
    EXPECT_EQ(h.title(), "Отчёт");
    h.fake.answer(h.fake.requests.size() - 1, timer("Письмо"));
    EXPECT_EQ(h.title(), "Письмо");
}

// Overlapping answers are applied as they arrive, not as the requests went out.
TEST(TimerSync, OverlappingAnswersApplyInArrivalOrder) {
    Synced h;
    h.app->fetch();
    h.app->pause();
    ASSERT_EQ(h.fake.pendingRequests().size(), 2u);
    h.fake.answer(1, timer("Второй"));
    EXPECT_EQ(h.title(), "Второй");
    h.fake.answer(0, timer("Первый"));
    EXPECT_EQ(h.title(), "Первый");
}

}  // namespace
}  // namespace orvela::test
