#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/app_harness.hpp"

namespace orvela::test {
namespace {

using Header = std::pair<std::string, std::string>;
using Text = std::optional<std::string>;

// Nothing is sent without a token, with one unfit for a header (a control byte could forge
// headers) or without a URL; the answer (0, nothing) then comes later, never inside the call.
TEST(RequestLayer, SendsOnlyASafeBearerRequestToAValidUrl) {
    const std::vector<std::tuple<std::string, Text, Text, Text>> cases = {
        {kBase, "жетон", {}, "Bearer жетон"},  // non-ASCII is no control byte
        {kBase, {}, {}, {}},
        {kBase, "stored", "abc\r\nX-Injected: 1", {}},
        {kBase, std::string("ab\0c", 4), {}, {}},
        {kBase, "ab\x7F", {}, {}},
        {kBase, std::string(4096, 't'), {}, "Bearer " + std::string(4096, 't')},
        {kBase, std::string(4097, 't'), {}, {}},  // what a token file over 4 KiB yields
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

// Every request the app makes is bounded for the answer it expects: seconds in all, body bytes.
TEST(RequestLayer, EveryEndpointIsBoundedInTimeAndSize) {
    AppHarness h;
    h.home.putToken("orvela_t\n");
    h.home.put("Apps/ORVELA Timer.app/bin/orvela-timer", "");  // one the update may replace
    h.fake.bundleLocation = (h.home.path() / "Apps/ORVELA Timer.app").string();
    h.app->applicationDidFinishLaunching();
    h.app->pause();
    h.app->startDeviceLogin();
    h.app->update = ReleaseInfo{"2.0", 2, {}, "/mac/app-2.zip", "ab", {}};
    h.fake.alertAnswers.push_back({0, {}});
    h.app->installUpdate();
    std::map<std::string, std::pair<double, std::uint64_t>> bounds;
    auto note = [&](const std::string& what, const HttpRequest& r) {
        bounds[what + " " + r.url.substr(std::string(kBase).size())] = {r.deadlineSeconds,
                                                                        r.maxBodyBytes};
    };
    for (const SentRequest& sent : h.fake.requests) note(sent.request.method, sent.request);
    for (const auto& download : h.fake.downloads) note("download", download.request);
    const std::map<std::string, std::pair<double, std::uint64_t>> expected = {
        {"GET /api/ext/pomodoro", {30, 1048576}}, {"POST /api/ext/pomodoro/pause", {30, 1048576}},
        {"GET /api/ext/agenda", {30, 1048576}},   {"POST /api/device/start", {30, 65536}},
        {"GET /mac/version.json", {30, 262144}},  {"download /mac/app-2.zip", {900, 67108864}},
    };
    EXPECT_EQ(bounds, expected);
}

}  // namespace
}  // namespace orvela::test
