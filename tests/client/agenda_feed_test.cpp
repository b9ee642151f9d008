#include <gtest/gtest.h>

#include <filesystem>

#include "client/app_harness.hpp"
#include "model/clock.hpp"

namespace orvela::test {
namespace {

std::string item(int id, const std::string& title) {
    return R"({"id":)" + std::to_string(id) + R"(,"title":")" + title +
           R"(","date":"2026-12-05","start":1796464800000,"end":null,"allDay":false,)" +
           R"("kind":"event","icon":null,"location":null})";
}

std::string agendaBody(const std::string& today, const std::vector<std::string>& items) {
    std::string joined;
    for (const auto& i : items) joined += (joined.empty() ? "" : ",") + i;
    return R"({"success":true,"today":")" + today + R"(","items":[)" + joined + "]}";
}

std::vector<std::string> titles(const App& app) {
    std::vector<std::string> out;
    for (const auto& i : app.agenda) out.push_back(i.title);
    return out;
}

struct AgendaFeed : testing::Test {
    AgendaFeed() {
        h.home.putToken("orvela_tok\n");
        h.app->token = "orvela_tok";
    }
    void load(HttpResponse response) {
        h.fake.respondTo("GET", "/api/ext/agenda", std::move(response), 1);
        h.app->fetchAgenda();
        h.fake.runPending();
    }
    AppHarness h;
    App& app = *h.app;
};

// Each usable answer replaces the whole list and the day; nothing is merged.
TEST_F(AgendaFeed, UsableAnswersReplaceTheWholeAgenda) {
    load(FakePlatform::ok(agendaBody("2026-12-05", {item(1, "Планёрка"), item(2, "Обед")})));
    EXPECT_EQ(app.lastAgendaFetch, nowSeconds());
    EXPECT_EQ(h.last().request.url, "https://orvela.test/api/ext/agenda");
    EXPECT_EQ(h.last().header("Authorization"), "Bearer orvela_tok");
    EXPECT_EQ(h.last().request.timeoutSeconds, 10.0);
    EXPECT_EQ(titles(app), (std::vector<std::string>{"Планёрка", "Обед"}));
    EXPECT_EQ(app.agendaToday, "2026-12-05");
    EXPECT_FALSE(app.agenda.front().end);

    load(FakePlatform::ok(agendaBody("2026-12-06", {item(3, "Спорт")})));
    EXPECT_EQ(titles(app), (std::vector<std::string>{"Спорт"}));
    EXPECT_EQ(app.agendaToday, "2026-12-06");

    load(FakePlatform::ok(R"({"success":true,"today":"2026-12-07"})"));
    EXPECT_TRUE(app.agenda.empty());
    EXPECT_EQ(app.agendaToday, "2026-12-07");

    load(FakePlatform::ok(agendaBody("x", {item(4, "Снова")})));
    load(FakePlatform::ok(R"({"items":[]})"));
    EXPECT_TRUE(app.agenda.empty());
    EXPECT_EQ(app.agendaToday, std::nullopt);
}

// Whatever goes wrong, the last agenda stays and no problem is raised.
TEST_F(AgendaFeed, KeepsTheAgendaThroughFailures) {
    const std::string kindless = R"({"id":9,"title":"x","date":"d","start":1,"allDay":false})";
    const std::string textStart =
        R"({"id":9,"title":"x","date":"d","start":"1","allDay":false,"kind":"k"})";
    const std::vector<std::pair<const char*, HttpResponse>> failures = {
        {"401", FakePlatform::ok(agendaBody("2026-12-09", {}), 401)},
        {"500", FakePlatform::ok(agendaBody("2026-12-09", {}), 500)},
        {"lost", FakePlatform::noAnswer()},
        {"item without kind", FakePlatform::ok(agendaBody("2026-12-09", {item(2, "y"), kindless}))},
        {"start as text", FakePlatform::ok(agendaBody("2026-12-09", {textStart}))},
        {"not JSON", FakePlatform::ok("<html/>")},
    };
    load(FakePlatform::ok(agendaBody("2026-12-05", {item(1, "Планёрка")})));
    for (const auto& [name, response] : failures) {
        load(response);
        EXPECT_EQ(titles(app), std::vector<std::string>{"Планёрка"}) << name;
        EXPECT_EQ(app.agendaToday, "2026-12-05") << name;
        EXPECT_EQ(app.problem, std::nullopt) << name;
    }
}

// The file decides whether to ask; the request carries the token the timer fetch keeps.
TEST_F(AgendaFeed, AsksOnlyWithATokenInTheFileAndInMemory) {
    load(FakePlatform::ok(agendaBody("2026-12-05", {item(1, "Планёрка")})));
    const std::size_t sent = h.fake.requests.size();

    std::filesystem::remove(h.home.tokenPath());
    app.fetchAgenda();  // App.token still set, but the file says no
    EXPECT_EQ(app.lastAgendaFetch, nowSeconds());

    h.home.putToken("orvela_tok\n");
    app.token.reset();
    app.fetchAgenda();  // the file has one, memory has none

    app.token = "orvela_a\nX-Injected: 1";
    app.fetchAgenda();  // unfit for a header

    h.fake.runPending();
    EXPECT_EQ(h.fake.requests.size(), sent);
    EXPECT_EQ(titles(app), std::vector<std::string>{"Планёрка"});

    h.home.putToken("orvela_newer\n");
    app.token = "orvela_tok";
    load(FakePlatform::ok(agendaBody("2026-12-05", {})));
    EXPECT_EQ(h.last().header("Authorization"), "Bearer orvela_tok");
}

}  // namespace
}  // namespace orvela::test
