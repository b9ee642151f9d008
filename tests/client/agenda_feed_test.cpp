#include <gtest/gtest.h>

#include "client/app_harness.hpp"

namespace orvela::test {
namespace {

const std::string kLunch = R"({"today":"2026-12-05","items":[{"id":1,"title":"Обед",)"
                           R"("date":"2026-12-05","start":1,"allDay":false,"kind":"event"}]})";

// Each usable answer replaces the whole list and the day; anything else keeps the last agenda
// exactly and raises no problem (the timer fetch speaks for the connection). The file decides
// whether to ask; the request carries the token kept in memory.
TEST(AgendaFeed, UsableAnswersReplaceTheAgendaOthersKeepIt) {
    AppHarness h;
    h.home.putToken("orvela_file\n");
    h.app->token = "orvela_tok";
    const auto load = [&h](HttpResponse response) {
        h.fake.respondTo("GET", "/api/ext/agenda", std::move(response), 1);
        h.app->fetchAgenda();
        h.fake.runPending();
        return (h.app->agenda.empty() ? "" : h.app->agenda[0].title) + "|" +
               h.app->agendaToday.value_or("-");
    };
    EXPECT_EQ(load(FakePlatform::ok(kLunch)), "Обед|2026-12-05");
    EXPECT_EQ(h.last().header("Authorization"), "Bearer orvela_tok");
    EXPECT_EQ(load(FakePlatform::ok(R"({"today":"2026-12-07"})")), "|2026-12-07");
    EXPECT_EQ(load(FakePlatform::ok(R"({"items":[]})")), "|-");

    load(FakePlatform::ok(kLunch));
    for (const HttpResponse& failure : {FakePlatform::ok(R"({"today":"2026-12-09"})", 401),
                                        FakePlatform::noAnswer(), FakePlatform::ok("<html/>")}) {
        EXPECT_EQ(load(failure), "Обед|2026-12-05") << failure.body;
        EXPECT_EQ(h.app->problem, std::nullopt) << failure.body;
    }

    const std::size_t sent = h.fake.requests.size();
    std::filesystem::remove(h.home.tokenPath());
    h.app->fetchAgenda();
    h.fake.runPending();
    EXPECT_EQ(h.fake.requests.size(), sent);
}

}  // namespace
}  // namespace orvela::test
