// The device login walked through its states on virtual time: the start, the poll loop with its
// waits and expiry, the service's decisions, cancellation and replacement.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "client/app_harness.hpp"

namespace orvela::test {
namespace {

const std::string kNoConnection = "Нет связи с ORVELA — проверьте интернет и попробуйте ещё раз";
const std::string kExpired = "Код истёк — попробуйте ещё раз";

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct LoginHarness : AppHarness {
    LoginHarness() { app->item = fake.createStatusItem(); }

    // Starts a login answered by `body`; the start reply is processed on return.
    void start(const std::string& body, int status = 200) {
        fake.respondTo("POST", "/api/device/start", FakePlatform::ok(body, status), 1);
        app->startDeviceLogin();
        fake.runPending();
    }
    void pollAnswer(HttpResponse response) {
        fake.clearScripts();
        fake.respondTo("POST", "/api/device/poll", std::move(response));
    }
    std::vector<std::string> pollBodies() const {
        std::vector<std::string> bodies;
        for (const auto& sent : fake.requests)
            if (sent.request.url == std::string(kBase) + "/api/device/poll")
                bodies.push_back(sent.request.body.value_or(""));
        return bodies;
    }
    std::size_t polls() const { return pollBodies().size(); }
};

TEST(DeviceLogin, StartOpensThePageShowsTheCodeAndPollsOneIntervalLater) {
    LoginHarness h;
    h.fake.hostName.reset();
    h.pollAnswer(FakePlatform::ok(R"({"status":"pending"})"));
    h.start(R"({"deviceCode":"dev-1","userCode":"AB-12","expiresIn":120,"interval":5})");

    const SentRequest& startRequest = h.fake.requests.at(0);
    EXPECT_EQ(startRequest.request.url, std::string(kBase) + "/api/device/start");
    EXPECT_EQ(startRequest.request.body, R"({"client":"mac-timer","deviceName":"Mac"})");
    ASSERT_TRUE(h.app->pendingLogin);
    EXPECT_EQ(*h.app->pendingLogin,
              (PendingLogin{"dev-1", "AB-12", h.fake.wallClockMs() / 1000 + 120, 5}));
    EXPECT_EQ(h.fake.statusItem()->plainTitle(), "🔑 AB-12");
    EXPECT_EQ(h.fake.openedUrls,
              std::vector<std::string>{std::string(kBase) + "/device.html?code=AB-12"});

    h.fake.advance(4.99);
    EXPECT_EQ(h.polls(), 0u);
    h.fake.advance(0.01);
    EXPECT_EQ(h.pollBodies(), std::vector<std::string>{R"({"deviceCode":"dev-1"})"});
    EXPECT_FALSE(h.fake.requests.back().header("Authorization"));
}

// Every way a start can go wrong ends in the failure alert, with the service's own words when
// it gave any; the pending login and a stored token are left alone.
TEST(DeviceLogin, FailedStartsShowTheReasonAndTouchNothing) {
    struct Case {
        HttpResponse answer;
        std::string message;
    };
    const std::vector<Case> cases = {
        {FakePlatform::ok(R"({"success":false,"error":"Слишком много попыток"})", 403),
         "Слишком много попыток"},
        {FakePlatform::ok(R"({"success":false})", 403), kNoConnection},
        {FakePlatform::ok(R"({"deviceCode":"d","error":"Нет кода"})"), "Нет кода"},
        {FakePlatform::ok(R"({"deviceCode":"d"})"), kNoConnection},
        {FakePlatform::ok(R"({"deviceCode":"d","userCode":"u","interval":"3"})"), kNoConnection},
        {FakePlatform::ok("<html>"), kNoConnection},
        {FakePlatform::noAnswer(), kNoConnection},
    };
    for (const Case& c : cases) {
        LoginHarness h;
        h.home.putToken("orvela_old\n");
        const PendingLogin earlier{"old", "OLD", 1e12, 3};
        h.app->pendingLogin = earlier;
        h.fake.respondTo("POST", "/api/device/start", c.answer);
        h.app->startDeviceLogin();
        h.fake.runPending();

        ASSERT_EQ(h.fake.alerts.size(), 1u) << c.message;
        EXPECT_EQ(h.fake.alerts[0].message, c.message);
        EXPECT_EQ(h.fake.alerts[0].style, AlertStyle::Warning);
        EXPECT_EQ(h.fake.alerts[0].buttons,
                  (std::vector<std::string>{"Попробовать снова", "Позже"}));
        EXPECT_EQ(h.app->pendingLogin, earlier);
        EXPECT_TRUE(h.fake.openedUrls.empty());
        EXPECT_EQ(fileText(h.home.tokenPath()), "orvela_old\n");
    }
}

TEST(DeviceLogin, PollsAtTheBoundedInterval) {
    struct Case {
        std::string interval;  // JSON text, or empty for none
        double seconds;
    };
    // 1e300 would overflow any timer; it is held at one hour.
    const std::vector<Case> cases = {{"", 3},   {"0.5", 2}, {"0", 2},
                                     {"-7", 2}, {"10", 10}, {"1e300", 3600}};
    for (const Case& c : cases) {
        LoginHarness h;
        h.pollAnswer(FakePlatform::ok(R"({"status":"pending"})"));
        h.start(R"({"deviceCode":"d","userCode":"u","expiresIn":86400)" +
                (c.interval.empty() ? "" : ",\"interval\":" + c.interval) + "}");
        h.fake.advance(c.seconds - 0.01);
        EXPECT_EQ(h.polls(), 0u) << c.interval;
        h.fake.advance(0.01);
        EXPECT_EQ(h.polls(), 1u) << c.interval;
        h.fake.advance(c.seconds);
        EXPECT_EQ(h.polls(), 2u) << c.interval;
        EXPECT_TRUE(h.fake.alerts.empty());
    }
}

TEST(DeviceLogin, ExpiresAfterTheBoundedLifetime) {
    struct Case {
        std::string extra;
        double quietUntil;  // no alert yet at this point
        double failedBy;
        std::size_t maxPolls;
    };
    const std::vector<Case> cases = {
        {"", 599, 603, 200},
        {R"(,"expiresIn":0)", 0, 0, 0},
        {R"(,"expiresIn":-30)", 0, 0, 0},
        // A day at the most, whatever the service says.
        {R"(,"expiresIn":1e300,"interval":1e300)", 86000, 86400 + 3601, 25},
    };
    for (const Case& c : cases) {
        LoginHarness h;
        h.pollAnswer(FakePlatform::ok(R"({"status":"pending"})"));
        h.start(R"({"deviceCode":"d","userCode":"u")" + c.extra + "}");
        if (c.quietUntil > 0) {
            h.fake.advance(c.quietUntil);
            EXPECT_TRUE(h.fake.alerts.empty()) << c.extra;
            EXPECT_TRUE(h.app->pendingLogin);
        }
        h.fake.advance(c.failedBy - c.quietUntil);
        ASSERT_EQ(h.fake.alerts.size(), 1u) << c.extra;
        EXPECT_EQ(h.fake.alerts[0].message, kExpired);
        EXPECT_FALSE(h.app->pendingLogin);
        EXPECT_EQ(h.fake.openedUrls.size(), 1u);  // the page was opened before it failed
        const std::size_t polls = h.polls();
        EXPECT_LE(polls, c.maxPolls) << c.extra;
        h.fake.advance(100000);
        EXPECT_EQ(h.polls(), polls) << "no poll after the end";
    }
}

// Only a 200 with a readable "status" decides; everything else waits for the next interval.
TEST(DeviceLogin, UndecidedAnswersKeepPollingSilently) {
    for (const HttpResponse& answer :
         {FakePlatform::ok(R"({"status":"pending"})"),
          FakePlatform::ok(R"({"status":"Approved","token":"orvela_x"})"),
          FakePlatform::ok(R"({"status":"approved","token":"orvela_x"})", 500),
          FakePlatform::ok(R"({"status":5})"), FakePlatform::ok(R"({"success":true})"),
          FakePlatform::ok(""), FakePlatform::noAnswer()}) {
        LoginHarness h;
        h.pollAnswer(answer);
        h.start(R"({"deviceCode":"d","userCode":"u"})");
        h.fake.advance(9);
        EXPECT_EQ(h.polls(), 3u) << answer.body;
        EXPECT_TRUE(h.fake.alerts.empty());
        EXPECT_TRUE(h.app->pendingLogin);
        EXPECT_FALSE(std::filesystem::exists(h.home.tokenPath()));
    }
}

TEST(DeviceLogin, DecisionsEndTheLoginAndKeepAnOldTokenUnlessOneIsStored) {
    struct Case {
        std::string answer;
        std::optional<std::string> alert;
        std::string file;  // the token file afterwards
    };
    const std::vector<Case> cases = {
        {R"({"status":"approved","token":"orvela_new"})", std::nullopt, "orvela_new\n"},
        {R"({"status":"approved"})", std::nullopt, "orvela_old\n"},
        {R"({"status":"approved","token":" "})", std::nullopt, "orvela_old\n"},
        {R"({"status":"denied","token":"orvela_new"})", "Вход отклонён на сайте", "orvela_old\n"},
        {R"({"status":"expired"})", kExpired, "orvela_old\n"},
    };
    for (const Case& c : cases) {
        LoginHarness h;
        h.home.putToken("orvela_old\n");
        h.app->token = "orvela_old";
        h.app->problem = "Токен отклонён — создайте новый";
        h.pollAnswer(FakePlatform::ok(c.answer));
        h.start(R"({"deviceCode":"d","userCode":"u"})");
        h.fake.advance(3);

        EXPECT_FALSE(h.app->pendingLogin) << c.answer;
        EXPECT_EQ(h.polls(), 1u);
        EXPECT_EQ(fileText(h.home.tokenPath()), c.file);
        const bool stored = c.file != "orvela_old\n";
        EXPECT_EQ(h.app->token, stored ? "orvela_new" : "orvela_old");
        EXPECT_EQ(h.app->problem.has_value(), !stored);
        EXPECT_EQ(h.fake.notifications.size(), stored ? 1u : 0u);
        if (stored) {
            const Notification& n = h.fake.notifications[0];
            EXPECT_EQ(n.identifier, "orvela-connected");
            EXPECT_EQ(n.title, "ORVELA подключён");
            EXPECT_EQ(n.body, "Таймер и повестка — в строке меню");
            EXPECT_FALSE(n.sound);
            // The timer and the agenda are fetched at once with the new token.
            std::vector<std::string> fetched;
            for (const auto& sent : h.fake.requests)
                if (sent.header("Authorization") == "Bearer orvela_new")
                    fetched.push_back(sent.request.url);
            EXPECT_EQ(fetched, (std::vector<std::string>{std::string(kBase) + "/api/ext/pomodoro",
                                                         std::string(kBase) + "/api/ext/agenda"}));
        }
        ASSERT_EQ(h.fake.alerts.size(), c.alert ? 1u : 0u) << c.answer;
        if (c.alert) {
            EXPECT_EQ(h.fake.alerts[0].message, *c.alert);
        }
        h.fake.advance(30);
        EXPECT_EQ(h.polls(), 1u);
    }
}

TEST(DeviceLogin, ATokenThatCannotBeStoredFailsTheLoginAndKeepsTheOldOne) {
    LoginHarness h;
    h.home.put(".config/orvela", "a file where the token folder should be");
    h.app->token = "orvela_old";
    h.pollAnswer(FakePlatform::ok(R"({"status":"approved","token":"orvela_new"})"));
    h.start(R"({"deviceCode":"d","userCode":"u"})");
    h.fake.advance(3);

    ASSERT_EQ(h.fake.alerts.size(), 1u);
    EXPECT_TRUE(h.fake.alerts[0].message.starts_with("Не удалось сохранить токен: "));
    EXPECT_GT(h.fake.alerts[0].message.size(), std::string("Не удалось сохранить токен: ").size());
    EXPECT_EQ(h.app->token, "orvela_old");
    EXPECT_TRUE(h.fake.notifications.empty());
}

TEST(DeviceLogin, CancellingStopsTheLoopButALateDecisionStillCounts) {
    {  // cancelled during the wait: nothing more is sent or shown
        LoginHarness h;
        h.pollAnswer(FakePlatform::ok(R"({"status":"pending"})"));
        h.start(R"({"deviceCode":"d","userCode":"u"})");
        h.fake.advance(1);
        h.app->cancelLogin();
        h.fake.advance(60);
        EXPECT_EQ(h.polls(), 0u);
        EXPECT_TRUE(h.fake.alerts.empty());
    }
    {  // cancelled while a poll was on its way: its approval is still stored
        LoginHarness h;
        h.start(R"({"deviceCode":"d","userCode":"u"})");
        h.fake.advance(3);
        ASSERT_EQ(h.fake.pendingRequests().size(), 1u);
        h.app->cancelLogin();
        h.fake.answer(h.fake.pendingRequests()[0],
                      FakePlatform::ok(R"({"status":"approved","token":"orvela_late"})"));
        EXPECT_EQ(fileText(h.home.tokenPath()), "orvela_late\n");
        EXPECT_EQ(h.fake.notifications.size(), 1u);
    }
}

// A newer login replaces an older one while the older one's poll is on its way: whatever that
// answer says, it must neither end, fail nor connect the newer login.
TEST(DeviceLogin, AnAnswerForAReplacedLoginIsDropped) {
    for (const std::string answer : {R"({"status":"approved","token":"orvela_stale"})",
                                     R"({"status":"denied"})", R"({"status":"pending"})"}) {
        LoginHarness h;
        h.start(R"({"deviceCode":"first","userCode":"u1"})");
        h.fake.advance(3);
        const std::size_t stalePoll = h.fake.pendingRequests().at(0);
        h.start(R"({"deviceCode":"second","userCode":"u2"})");
        h.fake.answer(stalePoll, FakePlatform::ok(answer));
        h.fake.runPending();

        ASSERT_TRUE(h.app->pendingLogin) << answer;
        EXPECT_EQ(h.app->pendingLogin->deviceCode, "second");
        EXPECT_TRUE(h.fake.alerts.empty());
        EXPECT_TRUE(h.fake.notifications.empty());
        EXPECT_FALSE(std::filesystem::exists(h.home.tokenPath()));
        h.pollAnswer(FakePlatform::ok(R"({"status":"pending"})"));
        h.fake.advance(6);
        const auto bodies = h.pollBodies();
        EXPECT_EQ(bodies, (std::vector<std::string>{R"({"deviceCode":"first"})",
                                                    R"({"deviceCode":"second"})",
                                                    R"({"deviceCode":"second"})"}));
    }
}

TEST(DeviceLogin, TryingAgainOpensThePromptNotANewLogin) {
    for (int button : {0, 1}) {
        LoginHarness h;
        h.fake.alertAnswers.push_back({button, ""});
        h.start(R"({"error":"Сервис занят"})", 503);
        h.fake.advance(10);
        ASSERT_EQ(h.fake.alerts.size(), button == 0 ? 2u : 1u);
        if (button == 0) {
            EXPECT_EQ(h.fake.alerts[1].message, "Подключите ORVELA");
        }
        EXPECT_EQ(h.fake.requests.size(), 1u) << "no second start";
    }
}

}  // namespace
}  // namespace orvela::test
