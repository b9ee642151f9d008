#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "client/app_harness.hpp"

namespace orvela::test {
namespace {

using Header = std::pair<std::string, std::string>;

struct Outcome {
    bool called = false;
    int status = -1;
    std::optional<Reply> reply;
};

App::ReplyHandler record(Outcome& outcome) {
    return [&outcome](int status, std::optional<Reply> reply) {
        outcome = {true, status, std::move(reply)};
    };
}

// Timer calls carry the bearer header and nothing else of ours: no body, no Content-Type.
TEST(RequestLayer, TimerCallsCarryOnlyTheBearerHeader) {
    for (const std::string method : {"GET", "POST"}) {
        AppHarness h;
        h.app->token = "orvela_abc";
        Outcome outcome;
        h.app->request("/api/ext/pomodoro/pause", method, std::nullopt, record(outcome));
        ASSERT_EQ(h.fake.requests.size(), 1u) << method;
        const HttpRequest& sent = h.last().request;
        EXPECT_EQ(sent.method, method);
        EXPECT_EQ(sent.url, "https://orvela.test/api/ext/pomodoro/pause");
        EXPECT_THAT(sent.headers,
                    testing::ElementsAre(Header{"Authorization", "Bearer orvela_abc"}));
        EXPECT_FALSE(sent.body.has_value()) << method;
        EXPECT_EQ(sent.timeoutSeconds, 10.0);
        EXPECT_EQ(sent.cache, CachePolicy::UseProtocolDefault);
    }
}

// Which token travels: the one passed in wins; none, or one unfit for a header, sends nothing.
TEST(RequestLayer, ChoosesTheTokenAndNeverSendsAnUnsafeOne) {
    struct Case {
        const char* name;
        std::optional<std::string> appToken;
        std::optional<std::string> passed;
        std::optional<std::string> header;  // absent: nothing may be sent
    };
    const std::vector<Case> cases = {
        {"app token", "stored", std::nullopt, "Bearer stored"},
        {"passed wins", "stored", "pasted", "Bearer pasted"},
        {"passed alone", std::nullopt, "pasted", "Bearer pasted"},
        {"no token at all", std::nullopt, std::nullopt, std::nullopt},
        {"CR LF in passed", "stored", "abc\r\nX-Injected: 1", std::nullopt},
        {"LF in stored", "abc\nX-Injected: 1", std::nullopt, std::nullopt},
        {"tab", "ab\tc", std::nullopt, std::nullopt},
        {"NUL", std::string("ab\0c", 4), std::nullopt, std::nullopt},
        {"DEL", "ab\x7F", std::nullopt, std::nullopt},
        {"non-ASCII is no control", "жетон", std::nullopt, "Bearer жетон"},
    };
    for (const auto& c : cases) {
        AppHarness h;
        h.app->token = c.appToken;
        Outcome outcome;
        h.app->request("/api/ext/pomodoro", "GET", c.passed, record(outcome));
        if (c.header) {
            ASSERT_EQ(h.fake.requests.size(), 1u) << c.name;
            EXPECT_EQ(h.last().header("Authorization"), c.header) << c.name;
            continue;
        }
        EXPECT_TRUE(h.fake.requests.empty()) << c.name;
        // Even unsent, the answer comes later on the loop, never inside the call.
        EXPECT_FALSE(outcome.called) << c.name;
        h.fake.runPending();
        EXPECT_TRUE(outcome.called) << c.name;
        EXPECT_EQ(outcome.status, 0) << c.name;
        EXPECT_FALSE(outcome.reply) << c.name;
    }
}

// The URL is base + path as text: nothing normalised, and a non-URL is never sent.
TEST(RequestLayer, JoinsBaseAndPathVerbatim) {
    struct Case {
        std::string base;
        std::optional<std::string> url;
    };
    const std::vector<Case> cases = {
        {"https://orvela.test/", "https://orvela.test//api/ext/pomodoro"},
        {"", std::nullopt},
        {"https://orvela .test", std::nullopt},
    };
    for (const auto& c : cases) {
        AppHarness h(c.base);
        h.app->token = "t";
        Outcome outcome;
        h.app->request("/api/ext/pomodoro", "GET", std::nullopt, record(outcome));
        h.fake.runPending();
        if (c.url) {
            ASSERT_EQ(h.fake.requests.size(), 1u) << c.base;
            EXPECT_EQ(h.last().request.url, *c.url);
        } else {
            EXPECT_TRUE(h.fake.requests.empty()) << c.base;
            EXPECT_TRUE(outcome.called && outcome.status == 0 && !outcome.reply) << c.base;
        }
    }
}

// Every answer folds into (status, reply); the body is decoded whatever the status.
TEST(RequestLayer, FoldsAnswersIntoStatusAndReply) {
    struct Case {
        const char* name;
        HttpResponse response;
        int status;
        std::optional<Reply> reply;
    };
    const std::vector<Case> cases = {
        {"refused connection", FakePlatform::noAnswer(), 0, std::nullopt},
        {"401 with a reply", FakePlatform::ok(R"({"success":false,"error":"x"})", 401), 401,
         Reply{false, std::nullopt, "x"}},
        {"200 empty body", FakePlatform::ok(""), 200, std::nullopt},
        {"200 without state", FakePlatform::ok(R"({"success":true})"), 200,
         Reply{true, std::nullopt, std::nullopt}},
        {"200 state without plan",
         FakePlatform::ok(R"({"state":{"taskId":1,"title":"t","startedAt":1}})"), 200,
         std::nullopt},
        {"500 not JSON", FakePlatform::ok("<html>oops</html>", 500), 500, std::nullopt},
    };
    for (const auto& c : cases) {
        AppHarness h;
        h.app->token = "t";
        h.fake.respondTo("GET", "/api/ext/pomodoro", c.response);
        Outcome outcome;
        h.app->request("/api/ext/pomodoro", "GET", std::nullopt, record(outcome));
        EXPECT_FALSE(outcome.called) << c.name;
        h.fake.runPending();
        EXPECT_TRUE(outcome.called) << c.name;
        EXPECT_EQ(outcome.status, c.status) << c.name;
        EXPECT_EQ(outcome.reply, c.reply) << c.name;
    }
}

// The device login's POST: a compact JSON object of strings, JSON content type, no token.
TEST(RequestLayer, PostJsonSendsTheObjectWithoutAuthorization) {
    AppHarness h;
    h.app->token = "orvela_secret";
    std::optional<std::string> body;
    int status = -1;
    h.app->postJSON("/api/device/poll", {{"deviceCode", "abc"}},
                    [&](int s, std::optional<std::string> b) { status = s, body = std::move(b); });
    ASSERT_EQ(h.fake.requests.size(), 1u);
    const HttpRequest& sent = h.last().request;
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.url, "https://orvela.test/api/device/poll");
    EXPECT_EQ(sent.body, R"({"deviceCode":"abc"})");
    EXPECT_THAT(sent.headers, testing::ElementsAre(Header{"Content-Type", "application/json"}));
    EXPECT_EQ(sent.timeoutSeconds, 10.0);

    // Several keys, and text that is not UTF-8, still go out as one parseable object.
    h.app->postJSON("/api/device/start", {{"client", "mac-timer"}, {"deviceName", "Box\xFF"}},
                    [](int, std::optional<std::string>) {});
    const auto sentObject = nlohmann::json::parse(h.last().request.body.value());
    EXPECT_EQ(sentObject.size(), 2u);
    EXPECT_EQ(sentObject.at("client"), "mac-timer");
    EXPECT_EQ(sentObject.at("deviceName"), "Box\xEF\xBF\xBD");
}

// postJSON hands back the bytes as received for every status, and 0 when nothing came back.
TEST(RequestLayer, PostJsonReturnsTheRawAnswer) {
    struct Case {
        const char* name;
        std::string base;
        std::optional<HttpResponse> response;  // absent: nothing may be sent
        int status;
        std::optional<std::string> body;
    };
    const std::vector<Case> cases = {
        {"empty 200", kBase, FakePlatform::ok(""), 200, std::string()},
        {"error status", kBase, FakePlatform::ok("{\"error\": \"no\"}\n", 400), 400,
         "{\"error\": \"no\"}\n"},
        {"transport failure", kBase, FakePlatform::noAnswer(), 0, std::nullopt},
        {"invalid base", "not a url", std::nullopt, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        AppHarness h(c.base);
        if (c.response) h.fake.respondTo("POST", "/api/device/start", *c.response);
        bool called = false;
        int status = -1;
        std::optional<std::string> body;
        h.app->postJSON("/api/device/start", {{"client", "mac-timer"}},
                        [&](int s, std::optional<std::string> b) {
                            called = true, status = s, body = std::move(b);
                        });
        EXPECT_EQ(h.fake.requests.size(), c.response ? 1u : 0u) << c.name;
        h.fake.runPending();
        EXPECT_TRUE(called) << c.name;
        EXPECT_EQ(status, c.status) << c.name;
        EXPECT_EQ(body, c.body) << c.name;
    }
}

}  // namespace
}  // namespace orvela::test
