#include <gtest/gtest.h>

#include "client/app_harness.hpp"
#include "model/clock.hpp"

namespace orvela::test {
namespace {

using Texts = std::vector<std::string>;

HttpResponse agenda(const std::string& today, const Texts& titles, int status = 200) {
    std::string items;
    for (const auto& title : titles)
        items += std::string(items.empty() ? "" : ",") + R"({"id":1,"title":")" + title +
                 R"(","date":"2026-12-05","start":1796464800000,"end":null,"allDay":false,)" +
                 R"("kind":"event","icon":null,"location":null})";
    return FakePlatform::ok(
        R"({"success":true,"today":")" + today + R"(","items":[)" + items + "]}", status);
}

// An app holding a token in the file and in memory, fetching one scripted answer at a time.
struct Feed : AppHarness {
    Feed() {
        home.putToken("orvela_tok\n");
        app->token = "orvela_tok";
    }
    void load(HttpResponse response) {
        fake.respondTo("GET", "/api/ext/agenda", std::move(response), 1);
        app->fetchAgenda();
        fake.runPending();
    }
    Texts titles() const {
        Texts out;
        for (const auto& i : app->agenda) out.push_back(i.title);
        return out;
    }
};

// Each usable answer replaces the whole list and the day, nothing merged; anything else keeps
// the last agenda exactly and raises no problem (the timer fetch speaks for the connection).
TEST(AgendaFeed, UsableAnswersReplaceTheAgendaOthersKeepIt) {
    Feed h;
    h.load(agenda("2026-12-05", {"Планёрка", "Обед"}));
    EXPECT_EQ(h.app->lastAgendaFetch, nowSeconds());
    EXPECT_EQ(h.last().request.url, std::string(kBase) + "/api/ext/agenda");
    EXPECT_EQ(h.last().header("Authorization"), "Bearer orvela_tok");
    EXPECT_EQ(h.titles(), (Texts{"Планёрка", "Обед"}));
    h.load(FakePlatform::ok(R"({"success":true,"today":"2026-12-07"})"));
    EXPECT_TRUE(h.app->agenda.empty());
    EXPECT_EQ(h.app->agendaToday, "2026-12-07");
    h.load(FakePlatform::ok(R"({"items":[]})"));
    EXPECT_EQ(h.app->agendaToday, std::nullopt);

    h.load(agenda("2026-12-05", {"Планёрка"}));
    const std::string textStart =
        R"({"id":9,"title":"x","date":"d","start":"1","allDay":false,"kind":"k"})";
    for (const HttpResponse& failure :
         {agenda("2026-12-09", {}, 401), agenda("2026-12-09", {}, 500), FakePlatform::noAnswer(),
          FakePlatform::ok(R"({"today":"2026-12-09","items":[)" + textStart + "]}"),
          FakePlatform::ok("<html/>")}) {
        h.load(failure);
        EXPECT_EQ(h.titles(), Texts{"Планёрка"}) << failure.body;
        EXPECT_EQ(h.app->agendaToday, "2026-12-05") << failure.body;
        EXPECT_EQ(h.app->problem, std::nullopt) << failure.body;
    }
}

// The file decides whether to ask; the request carries the token the timer fetch keeps, and a
// token unfit for a header is never sent.
TEST(AgendaFeed, AsksOnlyWithATokenInTheFileAndInMemory) {
    Feed h;
    std::filesystem::remove(h.home.tokenPath());
    h.app->fetchAgenda();
    EXPECT_EQ(h.app->lastAgendaFetch, nowSeconds());
    h.home.putToken("orvela_newer\n");
    for (const auto& token :
         {std::optional<std::string>(), std::optional<std::string>("a\nX: 1")}) {
        h.app->token = token;
        h.app->fetchAgenda();
    }
    h.fake.runPending();
    EXPECT_TRUE(h.fake.requests.empty());
    h.app->token = "orvela_tok";
    h.load(agenda("2026-12-05", {}));
    EXPECT_EQ(h.last().header("Authorization"), "Bearer orvela_tok");
}

}  // namespace
}  // namespace orvela::test
