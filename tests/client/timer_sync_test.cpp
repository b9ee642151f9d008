#include <gtest/gtest.h>

#include "client/app_harness.hpp"
#include "model/clock.hpp"

namespace orvela::test {
namespace {

const std::string kNoConnection = "Нет связи с ORVELA";
const std::string kRefused = "Токен отклонён — создайте новый";

HttpResponse timer(const std::string& title, int status = 200) {
    return FakePlatform::ok(R"({"success":true,"state":{"taskId":7,"title":")" + title +
                                R"(","plan":[{"type":"work","min":25}],"startedAt":1}})",
                            status);
}

// An app with a stored token, polled one scripted answer at a time.
struct Synced : AppHarness {
    Synced() { home.putToken("orvela_tok\n"); }
    void poll(HttpResponse response) {
        fake.respondTo("GET", "/api/ext/pomodoro", std::move(response), 1);
        app->fetch();
        fake.runPending();
    }
    std::string title() const { return app->state ? app->state->title : "-"; }
};

// (problem, loadedOnce, timer) through sequences of poll answers: before the first usable answer
// every failure says "no connection"; after it only a refusal shows, and any decodable 200 is
// the truth, even one that carries no timer.
TEST(TimerSync, ConnectionStateFollowsTheAnswers) {
    using Step = std::tuple<HttpResponse, std::optional<std::string>, std::string, bool>;
    const std::optional<std::string> none;
    const HttpResponse lost = FakePlatform::noAnswer(),
                       e401 = FakePlatform::ok(R"({"success":false,"error":"bad"})", 401);
    const std::vector<std::vector<Step>> stories = {
        {{FakePlatform::ok("{}", 500), kNoConnection, "-", false},
         {timer("Отчёт"), none, "Отчёт", true},
         {FakePlatform::ok(""), none, "Отчёт", true},
         {timer("Чужой", 409), none, "Отчёт", true},
         {e401, kRefused, "Отчёт", true},
         {lost, kRefused, "Отчёт", true},
         {timer("Письмо"), none, "Письмо", true},
         {FakePlatform::ok(R"({"success":false,"error":"x"})"), none, "-", true}},
        {{e401, kRefused, "-", false}, {lost, kNoConnection, "-", false}},
    };
    for (const auto& story : stories) {
        Synced h;
        for (const auto& [response, problem, title, loaded] : story) {
            h.poll(response);
            EXPECT_EQ(std::tuple(h.app->problem, h.title(), h.app->loadedOnce),
                      std::tuple(problem, title, loaded))
                << "step " << h.fake.requests.size() << " of " << story.size();
        }
    }
}

// The token file is read at each poll. A conflict reloads the timer at once instead of applying
// its body; answers apply in arrival order.
TEST(TimerSync, CommandsPostTheirActionAndAConflictReloads) {
    Synced h;
    std::filesystem::remove(h.home.tokenPath());
    h.app->fetch();
    EXPECT_EQ(h.app->problem, "Нет токена ORVELA");
    EXPECT_TRUE(h.fake.requests.empty());
    h.home.putToken("  orvela_new\n");
    // One command for the wire; each command's path and its sending: shell/control_test.cpp.
    h.poll(timer("Отчёт"));
    h.fake.respondTo("POST", "/stop", timer("После"), 1);
    h.app->stop();
    EXPECT_EQ(h.last().request.method + " " + h.last().request.url + " " +
                  h.last().header("Authorization").value_or(""),
              "POST " + std::string(kBase) + "/api/ext/pomodoro/stop Bearer orvela_new");
    h.fake.runPending();
    EXPECT_EQ(h.title(), "После");

    h.fake.respondTo("POST", "/skip", timer("Чужой", 409), 1);
    h.app->skip();
    h.fake.runPending();
    EXPECT_EQ(h.last().request.url, std::string(kBase) + "/api/ext/pomodoro");
    EXPECT_EQ(h.title(), "После");
    h.app->pause();
    ASSERT_EQ(h.fake.pendingRequests().size(), 2u);  // the reload and the pause
    h.fake.answer(h.fake.pendingRequests()[1], timer("Пауза"));
    h.fake.answer(h.fake.pendingRequests()[0], timer("Письмо"));
    EXPECT_EQ(h.title(), "Письмо");
}

}  // namespace
}  // namespace orvela::test
