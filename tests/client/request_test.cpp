#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/app_harness.hpp"

namespace orvela::test {
namespace {

using Header = std::pair<std::string, std::string>;
using Text = std::optional<std::string>;

// The token travels to base + path in the bearer header alone. Nothing is sent without a token,
// with one unfit for a header (a control byte could forge headers) or without a URL; the answer
// (0, nothing) then still comes later on the loop, never inside the call.
TEST(RequestLayer, SendsOnlyASafeBearerRequestToAValidUrl) {
    const std::vector<std::tuple<std::string, Text, Text, Text>> cases = {
        {kBase, "stored", {}, "Bearer stored"},
        {kBase, "жетон", {}, "Bearer жетон"},  // non-ASCII is no control byte
        {kBase, {}, {}, {}},
        {kBase, "stored", "abc\r\nX-Injected: 1", {}},
        {kBase, std::string("ab\0c", 4), {}, {}},
        {kBase, "ab\x7F", {}, {}},
        {"https://orvela .test", "t", {}, {}},
    };
    for (const auto& [base, stored, passed, header] : cases) {
        AppHarness h(base);
        h.app->token = stored;
        std::optional<int> status;
        h.app->request("/api/ext/pomodoro", "GET", passed,
                       [&](int s, std::optional<Reply> r) { status = r ? -1 : s; });
        ASSERT_EQ(h.fake.requests.size(), header ? 1u : 0u) << base << " " << passed.value_or("");
        if (header) {
            const HttpRequest& sent = h.last().request;
            EXPECT_EQ(sent.url, base + "/api/ext/pomodoro");
            EXPECT_THAT(sent.headers, testing::ElementsAre(Header{"Authorization", *header}));
            EXPECT_TRUE(!sent.body && sent.timeoutSeconds == 10.0);
            continue;
        }
        EXPECT_FALSE(status);
        h.fake.runPending();
        EXPECT_EQ(status, 0) << stored.value_or("");
    }
}

}  // namespace
}  // namespace orvela::test
