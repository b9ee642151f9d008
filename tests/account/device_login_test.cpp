#include <gtest/gtest.h>

#include "client/app_harness.hpp"

namespace orvela::test {
namespace {

using Texts = std::vector<std::string>;
const std::string kExpired = "Код истёк — попробуйте ещё раз";
const std::string kPending = R"({"status":"pending"})";
const std::string kCodes = R"({"deviceCode":"d","userCode":"u")";  // the start's answer, open
HttpResponse approve(const std::string& token, int status = 200) {
    return FakePlatform::ok(R"({"status":"approved","token":")" + token + "\"}", status);
}

struct LoginHarness : AppHarness {
    // Every poll is answered by `poll`; none: polls are held back for the test to answer.
    explicit LoginHarness(std::optional<HttpResponse> poll = FakePlatform::ok(kPending)) {
        if (poll) fake.respondTo("POST", "/api/device/poll", *poll);
    }
    void start(const std::string& body, int status = 200) {  // the answer is processed on return
        fake.respondTo("POST", "/api/device/start", FakePlatform::ok(body, status), 1);
        app->startDeviceLogin();
        fake.runPending();
    }
    Texts polls() const {  // the bodies of the polls sent
        Texts out;
        for (const auto& s : fake.requests)
            if (s.request.url.ends_with("/poll")) out.push_back(s.request.body.value_or(""));
        return out;
    }
    Texts alerts() const {
        Texts out;
        for (const Alert& a : fake.alerts) out.push_back(a.message);
        return out;
    }
};

// The start: compact JSON (a non-UTF-8 host name mended, not lost), the page opened with the user
// code, the first poll one interval later and never with a token. A failed one shows the
// service's own words, and "Попробовать снова" goes back to the prompt.
TEST(DeviceLogin, StartOpensThePageAndPollsOneIntervalLaterOrShowsWhyItFailed) {
    LoginHarness h;
    h.fake.hostName = "Box\xFF";
    h.start(R"({"deviceCode":"dev-1","userCode":"AB-12","expiresIn":120,"interval":5})");
    EXPECT_EQ(h.fake.requests[0].request.body,
              "{\"client\":\"mac-timer\",\"deviceName\":\"Box\xEF\xBF\xBD\"}");
    EXPECT_EQ(h.fake.requests[0].header("Content-Type"), "application/json");
    EXPECT_EQ(h.fake.openedUrls, Texts{std::string(kBase) + "/device.html?code=AB-12"});
    h.app->token = "orvela_old";
    h.fake.advance(5);
    EXPECT_EQ(h.polls(), Texts{R"({"deviceCode":"dev-1"})"});
    EXPECT_FALSE(h.last().header("Authorization"));
    LoginHarness failed;
    failed.fake.alertAnswers.push_back({0, ""});
    failed.start(R"({"error":"Слишком много попыток"})", 400);
    EXPECT_EQ(failed.alerts(), (Texts{"Слишком много попыток", "Подключите ORVELA"}));
    EXPECT_EQ(failed.fake.alerts[0].buttons, (Texts{"Попробовать снова", "Позже"}));
}

// Interval held in 2 s .. 1 h, lifetime in 0 .. 1 day (1e300 would overflow a timer); only a 200
// with a known "status" decides; the lifetime's end fails the login for good.
TEST(DeviceLogin, PollsAtTheBoundedIntervalUntilTheBoundedLifetimeEnds) {
    for (const auto& [extra, answer, interval, lifetime] :
         std::vector<std::tuple<std::string, HttpResponse, double, double>>{
             {"", FakePlatform::ok(R"({"status":"Approved"})"), 3, 600},
             {R"(,"interval":0.5,"expiresIn":60)", approve("t", 500), 2, 60},
             {R"(,"interval":1e300,"expiresIn":1e300)", FakePlatform::noAnswer(), 3600, 86400},
             {R"(,"expiresIn":0)", FakePlatform::ok(kPending), 3, 0}}) {
        LoginHarness h(answer);
        h.start(kCodes + extra + "}");
        if (lifetime > 0) {
            h.fake.advance(interval - 0.01);
            EXPECT_TRUE(h.polls().empty()) << extra;
            h.fake.advance(lifetime - 1 - interval + 0.01);
            EXPECT_EQ(h.polls().size(), static_cast<std::size_t>((lifetime - 1) / interval));
            EXPECT_TRUE(h.fake.alerts.empty() && h.app->pendingLogin) << extra;
        }
        h.fake.advance(interval + 1);
        EXPECT_EQ(h.alerts(), Texts{kExpired}) << extra;
        const std::size_t polls = h.polls().size();
        h.fake.advance(100000);
        EXPECT_EQ(h.polls().size(), polls) << "no poll after the end";
    }
}

// A decision ends the login; only a real token that is stored replaces the old one, at work at
// once.
TEST(DeviceLogin, DecisionsEndTheLoginAndKeepTheOldTokenUnlessOneIsStored) {
    const std::string blocked = "Не удалось сохранить токен: ";
    for (const auto& [answer, alert] : std::vector<std::pair<HttpResponse, std::string>>{
             {approve(" orvela_new\\n"), ""},
             {approve(" "), ""},
             {FakePlatform::ok(R"({"status":"denied","token":"orvela_new"})"),
              "Вход отклонён на сайте"},
             {FakePlatform::ok(R"({"status":"expired"})"), kExpired},
             {approve("orvela_new"), blocked},
             // Tokens no request could carry are refused before anything is stored.
             {approve("orvela_\\u0007new"), blocked + "в токене недопустимые символы"},
             {approve("orvela_new" + std::string(4087, 'x')), blocked + "токен длиннее 4 КБ"}}) {
        LoginHarness h(answer);
        h.home.put(alert == blocked ? ".config/orvela" : ".config/orvela/token", "orvela_old\n");
        h.app->token = "orvela_old";
        h.start(kCodes + "}");
        h.fake.advance(30);
        const bool stored = alert.empty() && answer.body.find("orvela_new") != std::string::npos;
        EXPECT_EQ(h.app->token, stored ? "orvela_new" : "orvela_old") << answer.body.substr(0, 40);
        EXPECT_EQ(h.alerts().empty() ? "" : h.alerts()[0].substr(0, alert.size()), alert);
        EXPECT_EQ(h.fake.requests.size(), stored ? 4u : 2u) << "then the timer and the agenda";
        if (alert != blocked) {
            EXPECT_EQ(TempHome::read(h.home.tokenPath()), stored ? "orvela_new\n" : "orvela_old\n");
        }
        const std::vector<Notification> connected{
            // only a stored token is announced
            {"orvela-connected", "ORVELA подключён", "Таймер и повестка — на панели", {}}};
        EXPECT_EQ(h.fake.notifications, stored ? connected : std::vector<Notification>{});
    }
}

// An answer for a login replaced while its poll was on its way neither ends, fails nor connects
// the newer one, which polls on until a cancel ends it silently.
TEST(DeviceLogin, AnAnswerForAReplacedLoginIsDroppedAndACancelStopsTheLoop) {
    LoginHarness h(std::nullopt);
    h.start(R"({"deviceCode":"first","userCode":"u1"})");
    h.fake.advance(3);
    const std::size_t stalePoll = h.fake.pendingRequests().at(0);
    h.start(R"({"deviceCode":"second","userCode":"u2"})");
    h.fake.answer(stalePoll, approve("orvela_stale"));
    h.fake.respondTo("POST", "/api/device/poll", FakePlatform::ok(kPending));
    h.fake.advance(4);
    h.app->cancelLogin();
    h.fake.advance(60);
    EXPECT_TRUE(h.fake.alerts.empty() && !h.app->token);
    EXPECT_EQ(h.polls(), (Texts{R"({"deviceCode":"first"})", R"({"deviceCode":"second"})"}));
}

}  // namespace
}  // namespace orvela::test
