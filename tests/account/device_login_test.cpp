// The device login walked through its states on virtual time: the start, the poll loop with its
// waits and expiry, the service's decisions, cancellation and replacement.
#include <gtest/gtest.h>

#include "client/app_harness.hpp"

namespace orvela::test {
namespace {

using Texts = std::vector<std::string>;
const std::string kNoConnection = "Нет связи с ORVELA — проверьте интернет и попробуйте ещё раз";
const std::string kExpired = "Код истёк — попробуйте ещё раз";
const std::string kPending = R"({"status":"pending"})";
const std::string kCodes = R"({"deviceCode":"d","userCode":"u")";  // the start's answer, open

struct LoginHarness : AppHarness {
    // Every poll is answered by `poll`; none: polls are held back for the test to answer.
    explicit LoginHarness(std::optional<HttpResponse> poll = FakePlatform::ok(kPending)) {
        app->item = fake.createStatusItem();
        if (poll) fake.respondTo("POST", "/api/device/poll", *poll);
    }
    // Starts a login answered by `body`; the start reply is processed on return.
    void start(const std::string& body, int status = 200) {
        fake.respondTo("POST", "/api/device/start", FakePlatform::ok(body, status), 1);
        app->startDeviceLogin();
        fake.runPending();
    }
    Texts pollBodies() const {
        Texts bodies;
        for (const auto& sent : fake.requests)
            if (sent.request.url.ends_with("/api/device/poll"))
                bodies.push_back(sent.request.body.value_or(""));
        return bodies;
    }
    std::size_t polls() const { return pollBodies().size(); }
};

TEST(DeviceLogin, StartOpensThePageShowsTheCodeAndPollsOneIntervalLater) {
    LoginHarness h;
    h.fake.hostName.reset();
    h.start(R"({"deviceCode":"dev-1","userCode":"AB-12","expiresIn":120,"interval":5})");
    EXPECT_EQ(h.fake.requests.at(0).request.url, std::string(kBase) + "/api/device/start");
    EXPECT_EQ(h.fake.requests[0].request.body, R"({"client":"mac-timer","deviceName":"Mac"})");
    EXPECT_EQ(h.app->pendingLogin,
              (PendingLogin{"dev-1", "AB-12", h.fake.wallClockMs() / 1000 + 120, 5}));
    EXPECT_EQ(h.fake.statusItem()->plainTitle(), "🔑 AB-12");
    EXPECT_EQ(h.fake.openedUrls, Texts{std::string(kBase) + "/device.html?code=AB-12"});
    h.fake.advance(4.99);
    EXPECT_EQ(h.polls(), 0u);
    h.fake.advance(0.01);
    EXPECT_EQ(h.pollBodies(), Texts{R"({"deviceCode":"dev-1"})"});
    EXPECT_FALSE(h.last().header("Authorization"));
}

// A failed start shows the service's own words when it gave any, whatever the status, leaves a
// login already in progress alone, and "Попробовать снова" goes back to the prompt rather than
// straight into a new login.
TEST(DeviceLogin, FailedStartsShowTheReasonAndOfferThePromptAgain) {
    const std::vector<std::pair<HttpResponse, std::string>> cases = {
        {FakePlatform::ok(R"({"error":"Слишком много попыток"})", 403), "Слишком много попыток"},
        {FakePlatform::ok(R"({"success":false})", 403), kNoConnection},
        {FakePlatform::ok(R"({"deviceCode":"d","error":"Нет кода"})"), "Нет кода"},
        {FakePlatform::ok("<html>"), kNoConnection},
        {FakePlatform::noAnswer(), kNoConnection},
    };
    for (const auto& [answer, message] : cases) {
        LoginHarness h;
        const PendingLogin earlier{"old", "OLD", 1e12, 3};
        h.app->pendingLogin = earlier;
        h.fake.respondTo("POST", "/api/device/start", answer);
        h.fake.alertAnswers.push_back({0, ""});
        h.app->startDeviceLogin();
        h.fake.runPending();
        ASSERT_EQ(h.fake.alerts.size(), 2u) << message;
        EXPECT_EQ(h.fake.alerts[0].message, message);
        EXPECT_EQ(h.fake.alerts[0].style, AlertStyle::Warning);
        EXPECT_EQ(h.fake.alerts[0].buttons, (Texts{"Попробовать снова", "Позже"}));
        EXPECT_EQ(h.fake.alerts[1].message, "Подключите ORVELA");
        EXPECT_EQ(h.fake.requests.size(), 1u) << "no second start";
        EXPECT_EQ(h.app->pendingLogin, earlier);
        EXPECT_TRUE(h.fake.openedUrls.empty());
    }
}

// The loop: the service's interval held within 2 s .. 1 h and its lifetime within 0 .. 1 day
// (1e300 would overflow any timer or poll for ever); answers that decide nothing (only a 200
// with a known "status" does) wait silently for the next turn; past the lifetime the login
// fails once and polls no more.
TEST(DeviceLogin, PollsAtTheBoundedIntervalUntilTheBoundedLifetimeEnds) {
    struct Case {
        std::string extra;
        HttpResponse answer;
        double interval, lifetime;
    };
    const std::vector<Case> cases = {
        {"", FakePlatform::ok(kPending), 3, 600},
        {R"(,"interval":0.5)", FakePlatform::ok(R"({"status":"Approved","token":"t"})"), 2, 600},
        {R"(,"interval":-7,"expiresIn":60)", FakePlatform::ok(R"({"success":true})"), 2, 60},
        {R"(,"interval":10,"expiresIn":60)",
         FakePlatform::ok(R"({"status":"approved","token":"t"})", 500), 10, 60},
        {R"(,"interval":1e300,"expiresIn":1e300)", FakePlatform::noAnswer(), 3600, 86400},
        {R"(,"expiresIn":0)", FakePlatform::ok(kPending), 3, 0},
    };
    for (const Case& c : cases) {
        LoginHarness h(c.answer);
        h.start(kCodes + c.extra + "}");
        if (c.lifetime > 0) {
            h.fake.advance(c.interval - 0.01);
            EXPECT_EQ(h.polls(), 0u) << c.extra;
            h.fake.advance(0.01);
            EXPECT_EQ(h.polls(), 1u) << c.extra;
            h.fake.advance(c.lifetime - 1 - c.interval);
            EXPECT_EQ(h.polls(), static_cast<std::size_t>((c.lifetime - 1) / c.interval));
            EXPECT_TRUE(h.fake.alerts.empty()) << c.extra;
            EXPECT_TRUE(h.app->pendingLogin);
            EXPECT_FALSE(std::filesystem::exists(h.home.tokenPath()));
        }
        h.fake.advance(c.interval + 1);
        ASSERT_EQ(h.fake.alerts.size(), 1u) << c.extra;
        EXPECT_EQ(h.fake.alerts[0].message, kExpired);
        EXPECT_FALSE(h.app->pendingLogin);
        EXPECT_EQ(h.fake.openedUrls.size(), 1u);  // the page was opened before it failed
        const std::size_t polls = h.polls();
        h.fake.advance(100000);
        EXPECT_EQ(h.polls(), polls) << "no poll after the end";
    }
}

// A decision ends the login; only an approval with a real token replaces the stored one, puts
// it to work at once and says so.
TEST(DeviceLogin, DecisionsEndTheLoginAndKeepAnOldTokenUnlessOneIsStored) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"status":"approved","token":"orvela_new"})", ""},
        {R"({"status":"approved"})", ""},
        {R"({"status":"approved","token":" "})", ""},
        {R"({"status":"denied","token":"orvela_new"})", "Вход отклонён на сайте"},
        {R"({"status":"expired"})", kExpired},
    };
    for (const auto& [answer, alert] : cases) {
        LoginHarness h(FakePlatform::ok(answer));
        h.home.putToken("orvela_old\n");
        h.app->token = "orvela_old";
        h.app->problem = "Токен отклонён — создайте новый";
        h.start(kCodes + "}");
        h.fake.advance(30);
        const bool stored = &answer == &cases[0].first;
        const std::string token = stored ? "orvela_new" : "orvela_old";
        EXPECT_FALSE(h.app->pendingLogin) << answer;
        EXPECT_EQ(h.polls(), 1u);
        EXPECT_EQ(TempHome::read(h.home.tokenPath()), token + "\n") << answer;
        EXPECT_EQ(h.app->token, token);
        EXPECT_EQ(h.app->problem.has_value(), !stored);
        Texts alerts;
        for (const Alert& a : h.fake.alerts) alerts.push_back(a.message);
        EXPECT_EQ(alerts, alert.empty() ? Texts{} : Texts{alert}) << answer;
        ASSERT_EQ(h.fake.notifications.size(), stored ? 1u : 0u) << answer;
        if (!stored) continue;
        const Notification& n = h.fake.notifications[0];
        EXPECT_EQ(
            (Texts{n.identifier, n.title, n.body}),
            (Texts{"orvela-connected", "ORVELA подключён", "Таймер и повестка — в строке меню"}));
        EXPECT_FALSE(n.sound);
        Texts fetched;
        for (const auto& sent : h.fake.requests)
            if (sent.header("Authorization") == "Bearer orvela_new")
                fetched.push_back(sent.request.url);
        EXPECT_EQ(fetched, (Texts{std::string(kBase) + "/api/ext/pomodoro",
                                  std::string(kBase) + "/api/ext/agenda"}));
    }
}

TEST(DeviceLogin, ATokenThatCannotBeStoredFailsTheLoginAndKeepsTheOldOne) {
    LoginHarness h(FakePlatform::ok(R"({"status":"approved","token":"orvela_new"})"));
    h.home.put(".config/orvela", "a file where the token folder should be");
    h.app->token = "orvela_old";
    h.start(kCodes + "}");
    h.fake.advance(3);
    ASSERT_EQ(h.fake.alerts.size(), 1u);
    EXPECT_TRUE(h.fake.alerts[0].message.starts_with(
        "Не удалось сохранить токен: " + (h.home.path() / ".config" / "orvela").string() + ": "));
    EXPECT_EQ(h.app->token, "orvela_old");
    EXPECT_TRUE(h.fake.notifications.empty());
}

// A cancel during the wait ends the loop silently; a decision already on its way still counts.
TEST(DeviceLogin, CancellingStopsTheLoopButALateDecisionStillCounts) {
    LoginHarness waiting;
    waiting.start(kCodes + "}");
    waiting.fake.advance(1);
    waiting.app->cancelLogin();
    waiting.fake.advance(60);
    EXPECT_EQ(waiting.polls(), 0u);
    EXPECT_TRUE(waiting.fake.alerts.empty());

    LoginHarness h(std::nullopt);
    h.start(kCodes + "}");
    h.fake.advance(3);
    ASSERT_EQ(h.fake.pendingRequests().size(), 1u);
    h.app->cancelLogin();
    h.fake.answer(h.fake.pendingRequests()[0],
                  FakePlatform::ok(R"({"status":"approved","token":"orvela_late"})"));
    EXPECT_EQ(TempHome::read(h.home.tokenPath()), "orvela_late\n");
    EXPECT_EQ(h.fake.notifications.size(), 1u);
}

// An answer for a login replaced while its poll was on its way must neither end, fail nor
// connect the newer login, which keeps polling on its own.
TEST(DeviceLogin, AnAnswerForAReplacedLoginIsDropped) {
    for (const std::string& answer : Texts{R"({"status":"approved","token":"orvela_stale"})",
                                           R"({"status":"denied"})", kPending}) {
        LoginHarness h(std::nullopt);
        h.start(R"({"deviceCode":"first","userCode":"u1"})");
        h.fake.advance(3);
        const std::size_t stalePoll = h.fake.pendingRequests().at(0);
        h.start(R"({"deviceCode":"second","userCode":"u2"})");
        h.fake.answer(stalePoll, FakePlatform::ok(answer));
        h.fake.respondTo("POST", "/api/device/poll", FakePlatform::ok(kPending));
        h.fake.advance(6);
        ASSERT_TRUE(h.app->pendingLogin) << answer;
        EXPECT_EQ(h.app->pendingLogin->deviceCode, "second");
        EXPECT_TRUE(h.fake.alerts.empty());
        EXPECT_TRUE(h.fake.notifications.empty());
        EXPECT_FALSE(std::filesystem::exists(h.home.tokenPath()));
        EXPECT_EQ(h.pollBodies(), (Texts{R"({"deviceCode":"first"})", R"({"deviceCode":"second"})",
                                         R"({"deviceCode":"second"})"}));
    }
}

}  // namespace
}  // namespace orvela::test
