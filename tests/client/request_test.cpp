#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/app_harness.hpp"

namespace orvela::test {
namespace {

using Header = std::pair<std::string, std::string>;
const std::optional<std::string> none;

// What reached a continuation, if it ran at all.
template <class T>
struct Outcome {
    bool called = false;
    int status = -1;
    std::optional<T> value;
    auto handler() {
        return [this](int s, std::optional<T> v) { *this = {true, s, std::move(v)}; };
    }
};

// Which token travels (the one passed in wins) and where: base + path as plain text. A request
// goes out with the bearer header alone and no body. Nothing is sent without a token, with one
// unfit for a header (a control byte could forge headers) or without a URL; the answer (0,
// nothing) still comes later on the loop, never inside the call.
TEST(RequestLayer, SendsOnlyASafeBearerRequestToAValidUrl) {
    struct Case {
        std::string base;
        std::optional<std::string> appToken, passed, header;  // header absent: nothing sent
    };
    const std::vector<Case> cases = {
        {kBase, "stored", none, "Bearer stored"},
        {kBase, "stored", "pasted", "Bearer pasted"},
        {kBase, "жетон", none, "Bearer жетон"},             // non-ASCII is no control byte
        {std::string(kBase) + "/", "t", none, "Bearer t"},  // joined as it is
        {kBase, none, none, none},
        {kBase, "stored", "abc\r\nX-Injected: 1", none},
        {kBase, "abc\nX-Injected: 1", none, none},
        {kBase, std::string("ab\0c", 4), none, none},
        {kBase, "ab\x7F", none, none},
        {"", "t", none, none},
        {"https://orvela .test", "t", none, none},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const std::string method = c.passed ? "POST" : "GET";
        AppHarness h(c.base);
        h.app->token = c.appToken;
        Outcome<Reply> got;
        h.app->request("/api/ext/pomodoro", method, c.passed, got.handler());
        ASSERT_EQ(h.fake.requests.size(), c.header ? 1u : 0u) << i;
        if (c.header) {
            const HttpRequest& sent = h.last().request;
            EXPECT_EQ(sent.method, method);
            EXPECT_EQ(sent.url, c.base + "/api/ext/pomodoro") << i;
            EXPECT_THAT(sent.headers, testing::ElementsAre(Header{"Authorization", *c.header}));
            EXPECT_FALSE(sent.body) << i;
            EXPECT_EQ(sent.timeoutSeconds, 10.0);
            EXPECT_EQ(sent.cache, CachePolicy::UseProtocolDefault);
            continue;
        }
        EXPECT_FALSE(got.called) << i;
        h.fake.runPending();
        EXPECT_TRUE(got.called && got.status == 0 && !got.value) << i;
    }
}

// The device login's POST: a compact JSON object (text that is not UTF-8 replaced, not lost),
// JSON content type, never the token. Without a URL nothing is sent and (0, nothing) comes
// later on the loop. (The login's own tests cover the answers.)
TEST(RequestLayer, PostJsonSendsTheObjectWithoutTheToken) {
    for (const std::string base : {kBase, "not a url"}) {
        AppHarness h(base);
        h.app->token = "orvela_secret";
        Outcome<std::string> got;
        h.app->postJSON("/api/device/start", {{"client", "mac-timer"}, {"deviceName", "Box\xFF"}},
                        got.handler());
        if (base == kBase) {
            ASSERT_EQ(h.fake.requests.size(), 1u);
            const HttpRequest& sent = h.last().request;
            EXPECT_EQ(sent.method + " " + sent.url, "POST " + base + "/api/device/start");
            EXPECT_EQ(sent.body, "{\"client\":\"mac-timer\",\"deviceName\":\"Box\xEF\xBF\xBD\"}");
            EXPECT_THAT(sent.headers,
                        testing::ElementsAre(Header{"Content-Type", "application/json"}));
            EXPECT_EQ(sent.timeoutSeconds, 10.0);
            continue;
        }
        EXPECT_TRUE(h.fake.requests.empty());
        EXPECT_FALSE(got.called);
        h.fake.runPending();
        EXPECT_TRUE(got.called && got.status == 0 && !got.value);
    }
}

}  // namespace
}  // namespace orvela::test
