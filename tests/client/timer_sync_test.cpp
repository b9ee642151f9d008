#include <gtest/gtest.h>

#include <filesystem>

#include "client/app_harness.hpp"
#include "model/clock.hpp"

namespace orvela::test {
namespace {

const std::string kNoToken = "Нет токена ORVELA";
const std::string kRefused = "Токен отклонён — создайте новый";
const std::string kNoConnection = "Нет связи с ORVELA";

std::string timerBody(const std::string& title) {
    return R"({"success":true,"state":{"taskId":7,"title":")" + title +
           R"(","plan":[{"type":"work","min":25}],"startedAt":1796464800000}})";
}

std::optional<std::string> stateTitle(const App& app) {
    if (!app.state) return std::nullopt;
    return app.state->title;
}

struct TimerSync : testing::Test {
    TimerSync() { h.home.putToken("orvela_tok\n"); }

    // One poll answered with `response`, applied before this returns.
    void poll(HttpResponse response) {
        h.fake.respondTo("GET", "/api/ext/pomodoro", std::move(response), 1);
        h.app->fetch();
        h.fake.runPending();
    }

    AppHarness h;
    App& app = *h.app;
};

// The (problem, loadedOnce) pair through sequences of poll answers.
TEST(TimerSyncStories, ConnectionStateFollowsTheAnswers) {
    struct Step {
        HttpResponse response;
        std::optional<std::string> problem;
        bool loaded;
        std::optional<std::string> title;  // of the timer held afterwards
    };
    const HttpResponse lost = FakePlatform::noAnswer();
    const HttpResponse e500 = FakePlatform::ok("{}", 500);
    const HttpResponse e401 = FakePlatform::ok(R"({"success":false,"error":"bad"})", 401);
    const HttpResponse s1 = FakePlatform::ok(timerBody("Отчёт"));
    const HttpResponse s2 = FakePlatform::ok(timerBody("Письмо"));
    const std::vector<std::pair<const char*, std::vector<Step>>> stories = {
        {"500 before any success",
         {{e500, kNoConnection, false, std::nullopt}, {s1, std::nullopt, true, "Отчёт"}}},
        {"500 after a success",
         {{s1, std::nullopt, true, "Отчёт"}, {e500, std::nullopt, true, "Отчёт"}}},
        {"undecodable 200 before and after",
         {{FakePlatform::ok("{\"state\":{}}"), kNoConnection, false, std::nullopt},
          {s1, std::nullopt, true, "Отчёт"},
          {FakePlatform::ok(""), std::nullopt, true, "Отчёт"}}},
        {"401 after a success, then lost",
         {{s1, std::nullopt, true, "Отчёт"},
          {e401, kRefused, true, "Отчёт"},
          {lost, kRefused, true, "Отчёт"},
          {s2, std::nullopt, true, "Письмо"}}},
        {"401 with no success, then lost",
         {{e401, kRefused, false, std::nullopt}, {lost, kNoConnection, false, std::nullopt}}},
        {"a refusal in a 200 is still the truth",
         {{s1, std::nullopt, true, "Отчёт"},
          {FakePlatform::ok(R"({"success":false,"error":"x"})"), std::nullopt, true,
           std::nullopt}}},
    };
    for (const auto& [name, steps] : stories) {
        AppHarness fresh;
        fresh.home.putToken("orvela_tok\n");
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Step& step = steps[i];
            fresh.fake.respondTo("GET", "/api/ext/pomodoro", step.response, 1);
            fresh.app->fetch();
            fresh.fake.runPending();
            EXPECT_EQ(fresh.app->problem, step.problem) << name << " step " << i;
            EXPECT_EQ(fresh.app->loadedOnce, step.loaded) << name << " step " << i;
            EXPECT_EQ(stateTitle(*fresh.app), step.title) << name << " step " << i;
        }
        EXPECT_EQ(fresh.fake.requests.size(), steps.size()) << name;
    }
}

// The file is authoritative: once it is gone the next poll says so and sends nothing.
TEST_F(TimerSync, RemovedTokenFileStopsPollingButKeepsTheTimer) {
    poll(FakePlatform::ok(timerBody("Отчёт")));
    std::filesystem::remove(h.home.tokenPath());
    h.fake.advance(15);
    app.fetch();
    EXPECT_EQ(app.lastFetch, nowSeconds());
    EXPECT_FALSE(app.token);
    EXPECT_EQ(app.problem, kNoToken);
    EXPECT_TRUE(app.loadedOnce);
    EXPECT_EQ(stateTitle(app), "Отчёт");
    EXPECT_EQ(h.fake.requests.size(), 1u);

    // A token written by another program is picked up by the next poll.
    h.home.putToken("  orvela_new\n");
    poll(FakePlatform::ok(timerBody("Письмо")));
    EXPECT_EQ(h.last().header("Authorization"), "Bearer orvela_new");
    EXPECT_EQ(app.problem, std::nullopt);
}

// Each command is one POST; a conflict reloads the state instead of applying its body.
TEST_F(TimerSync, ConflictAnswerTriggersAFreshFetch) {
    poll(FakePlatform::ok(timerBody("Отчёт")));
    const Date polledAt = app.lastFetch;
    h.fake.advance(5);
    h.fake.respondTo("POST", "/api/ext/pomodoro/skip", FakePlatform::ok(timerBody("Чужой"), 409));
    app.skip();
    EXPECT_EQ(app.lastAction, nowSeconds());
    EXPECT_EQ(app.lastFetch, polledAt);  // an action alone does not restart the poll
    ASSERT_EQ(h.fake.requests.size(), 2u);
    EXPECT_EQ(h.last().request.method, "POST");
    EXPECT_EQ(h.last().request.url, "https://orvela.test/api/ext/pomodoro/skip");

    h.fake.runPending();  // the 409 arrives; a GET must follow at once
    ASSERT_EQ(h.fake.requests.size(), 3u);
    EXPECT_EQ(h.last().request.method, "GET");
    EXPECT_EQ(h.last().request.url, "https://orvela.test/api/ext/pomodoro");
    EXPECT_EQ(app.lastFetch, nowSeconds());
    EXPECT_EQ(stateTitle(app), "Отчёт");  // the conflict's body is ignored

    h.fake.answer(2, FakePlatform::ok(timerBody("Письмо")));
    EXPECT_EQ(stateTitle(app), "Письмо");
}

// Every command reaches its own endpoint; a stop answered without a state ends the timer.
TEST_F(TimerSync, CommandsPostTheirActionAndApplyTheAnswer) {
    const std::vector<std::pair<std::function<void()>, std::string>> commands = {
        {[&] { app.pause(); }, "pause"},   {[&] { app.resume(); }, "resume"},
        {[&] { app.skip(); }, "skip"},     {[&] { app.stop(); }, "stop"},
        {[&] { app.extend(); }, "extend"},
    };
    for (const auto& [command, action] : commands) {
        poll(FakePlatform::ok(timerBody("Отчёт")));
        h.fake.respondTo("POST", "/api/ext/pomodoro/" + action,
                         FakePlatform::ok(R"({"success":true})"), 1);
        command();
        EXPECT_EQ(h.last().request.url, "https://orvela.test/api/ext/pomodoro/" + action);
        EXPECT_EQ(h.last().header("Authorization"), "Bearer orvela_tok");
        EXPECT_FALSE(h.last().request.body);
        h.fake.runPending();
        EXPECT_FALSE(app.state) << action;
        EXPECT_EQ(app.problem, std::nullopt) << action;
    }
}

// Overlapping answers are applied as they arrive, not as the requests went out.
TEST_F(TimerSync, OverlappingAnswersApplyInArrivalOrder) {
    app.fetch();
    app.pause();
    ASSERT_EQ(h.fake.pendingRequests().size(), 2u);
    h.fake.answer(1, FakePlatform::ok(timerBody("Второй")));
    EXPECT_EQ(stateTitle(app), "Второй");
    h.fake.answer(0, FakePlatform::ok(timerBody("Первый")));
    EXPECT_EQ(stateTitle(app), "Первый");
}

// A command with no token in memory sends nothing and counts as no answer.
TEST_F(TimerSync, CommandWithoutTokenSendsNothing) {
    ASSERT_FALSE(app.token);  // the file holds one, but no fetch has read it yet
    app.stop();
    EXPECT_EQ(app.lastAction, nowSeconds());
    h.fake.runPending();
    EXPECT_TRUE(h.fake.requests.empty());
    EXPECT_EQ(app.problem, kNoConnection);
    EXPECT_FALSE(app.loadedOnce);
}

}  // namespace
}  // namespace orvela::test
