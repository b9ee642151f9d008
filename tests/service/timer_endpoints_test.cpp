// The demo timer over HTTP: record shapes, the pause/resume/skip/stop/extend story with a moving
// clock, the actions that do not apply, and the bearer check.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <set>

#include "service_harness.hpp"

namespace orvela::dev::testing {
namespace {

// A state exactly as the client decodes it: these keys, these JSON types, nothing else.
void expectStateShape(const json& state) {
    ASSERT_TRUE(state.is_object()) << state;
    std::set<std::string> keys;
    for (const auto& [key, value] : state.items()) keys.insert(key);
    std::set<std::string> expected = {"taskId", "title", "plan", "startedAt"};
    if (state.contains("pausedAt")) expected.insert("pausedAt");
    EXPECT_EQ(keys, expected) << state;
    EXPECT_TRUE(state["taskId"].is_number_integer());
    EXPECT_TRUE(state["title"].is_string());
    EXPECT_TRUE(state["startedAt"].is_number());
    if (state.contains("pausedAt")) {
        EXPECT_TRUE(state["pausedAt"].is_number());
    }
    ASSERT_TRUE(state["plan"].is_array());
    for (const auto& phase : state["plan"]) {
        EXPECT_TRUE(phase["type"].is_string()) << phase;
        EXPECT_TRUE(phase["min"].is_number()) << phase;
    }
}

// The state carried by a 200 timer answer.
json stateOf(const httplib::Result& res) {
    EXPECT_EQ(status(res), 200);
    const json reply = body(res);
    EXPECT_EQ(reply.value("success", false), true) << reply;
    if (!reply.contains("state")) return json();
    expectStateShape(reply["state"]);
    return reply["state"];
}

TEST(TimerEndpoints, DemoTimerRunsFromStartWithTheConfiguredPlan) {
    Options options;
    options.plan = {{"work", 0.1}, {"rest", 0.1}};
    options.title = "Проверка";
    Harness h(options);
    const json state = stateOf(h.get("/api/ext/pomodoro"));
    EXPECT_EQ(state["title"], "Проверка");
    EXPECT_EQ(state["plan"],
              json::parse(R"([{"type":"work","min":0.1},{"type":"rest","min":0.1}])"));
    EXPECT_DOUBLE_EQ(state["startedAt"].get<double>(), kStart);
    EXPECT_FALSE(state.contains("pausedAt"));
}

TEST(TimerEndpoints, PauseFreezesAndResumeShiftsTheStartByThePause) {
    Harness h;
    h.advance(10 * kMinute);
    json state = stateOf(h.post("/api/ext/pomodoro/pause"));
    EXPECT_DOUBLE_EQ(state["pausedAt"].get<double>(), kStart + 10 * kMinute);
    expectFailure(h.post("/api/ext/pomodoro/pause"), 409);

    h.advance(7 * kMinute);
    state = stateOf(h.post("/api/ext/pomodoro/resume"));
    EXPECT_FALSE(state.contains("pausedAt"));
    EXPECT_DOUBLE_EQ(state["startedAt"].get<double>(), kStart + 7 * kMinute);
    expectFailure(h.post("/api/ext/pomodoro/resume"), 409);
    // The service keeps the same state between answers.
    EXPECT_EQ(stateOf(h.get("/api/ext/pomodoro")), state);
}

// Where the client places `now` in the plan: elapsed seconds against the running sum, strictly.
std::size_t clientIndex(const json& state, double now) {
    const double reference = state.contains("pausedAt") ? state["pausedAt"].get<double>() : now;
    const double elapsed = (reference - state["startedAt"].get<double>()) / 1000;
    double sum = 0;
    std::size_t i = 0;
    for (; i < state["plan"].size(); ++i) {
        sum += state["plan"][i]["min"].get<double>() * 60;
        if (sum > elapsed) break;
    }
    return i;
}

TEST(TimerEndpoints, SkipStartsTheNextPhaseNowAndKeepsAPause) {
    Options options;
    // 0.13 min is 7.800000000000001 s in the running sum: a naive start lands a hair short.
    options.plan = {{"work", 0.13}, {"rest", 0.7}, {"work", 0.3}};
    Harness h(options);
    h.advance(1234.567);
    json state = stateOf(h.post("/api/ext/pomodoro/skip"));
    // The rest begins exactly now, not a rounding step later: the client must already see it.
    EXPECT_EQ(clientIndex(state, h.now), 1u);
    EXPECT_NEAR(state["startedAt"].get<double>(), h.now - 7800, 0.01);

    h.advance(3000);
    stateOf(h.post("/api/ext/pomodoro/pause"));
    h.advance(60 * kMinute);
    state = stateOf(h.post("/api/ext/pomodoro/skip"));
    ASSERT_TRUE(state.contains("pausedAt"));
    EXPECT_EQ(clientIndex(state, h.now), 2u);
    // After the pause the last phase runs its full length from the resume.
    h.advance(5 * kMinute);
    state = stateOf(h.post("/api/ext/pomodoro/resume"));
    EXPECT_EQ(clientIndex(state, h.now), 2u);
    EXPECT_NEAR(state["startedAt"].get<double>(), h.now - 49800, 0.01);

    state = stateOf(h.post("/api/ext/pomodoro/skip"));
    EXPECT_EQ(clientIndex(state, h.now), 3u);
    expectFailure(h.post("/api/ext/pomodoro/skip"), 409);
    expectFailure(h.post("/api/ext/pomodoro/pause"), 409);
}

TEST(TimerEndpoints, ExtendAddsWorkThatStartsNowOnAFinishedPlan) {
    Options options;
    options.plan = {{"work", 1}};
    Harness h(options);

    json state = stateOf(h.post("/api/ext/pomodoro/extend"));  // still running: appended
    EXPECT_EQ(state["plan"].size(), 2u);
    EXPECT_DOUBLE_EQ(state["startedAt"].get<double>(), kStart);

    h.advance(3 * 60 * kMinute);  // long past the end of both
    state = stateOf(h.post("/api/ext/pomodoro/extend"));
    ASSERT_EQ(state["plan"].size(), 3u);
    EXPECT_EQ(state["plan"][2], json::parse(R"({"type":"work","min":45})"));
    EXPECT_EQ(clientIndex(state, h.now), 2u);
    EXPECT_EQ(clientIndex(state, h.now + 44 * kMinute), 2u);
}

TEST(TimerEndpoints, StopClearsTheTimerAndNothingElseAppliesAfterwards) {
    Harness h;
    const json reply = body(h.post("/api/ext/pomodoro/stop"));
    EXPECT_EQ(reply, json::parse(R"({"success":true})"));
    EXPECT_EQ(body(h.get("/api/ext/pomodoro")), json::parse(R"({"success":true})"));
    for (const char* action : {"pause", "resume", "skip", "stop", "extend"}) {
        SCOPED_TRACE(action);
        expectFailure(h.post(std::string("/api/ext/pomodoro/") + action), 409);
    }
    expectFailure(h.post("/api/ext/pomodoro/launch"), 404);
}

TEST(TimerEndpoints, StartBeginsANewTimerAndRefusesMalformedBodies) {
    Options options;
    options.demoTimer = false;
    Harness h(options);
    EXPECT_FALSE(body(h.get("/api/ext/pomodoro")).contains("state"));

    json state = stateOf(h.post("/api/ext/pomodoro/start"));
    EXPECT_EQ(state["plan"].size(), 4u);
    EXPECT_DOUBLE_EQ(state["startedAt"].get<double>(), kStart);

    state = stateOf(h.post("/api/ext/pomodoro/start",
                           R"({"taskId":77,"title":"Отчёт","plan":[{"type":"rest","min":2.5}]})"));
    EXPECT_EQ(state["taskId"], 77);
    EXPECT_EQ(state["title"], "Отчёт");
    EXPECT_EQ(state["plan"], json::parse(R"([{"type":"rest","min":2.5}])"));

    for (const char* bad :
         {"{", "[]", R"({"taskId":"7"})", R"({"title":5})", R"({"plan":[{"type":"work"}]})",
          R"({"plan":[{"type":"work","min":-1}]})", R"({"plan":[{"type":"work","min":1e9}]})",
          R"({"plan":{}})"}) {
        SCOPED_TRACE(bad);
        expectFailure(h.post("/api/ext/pomodoro/start", bad), 400);
    }
    EXPECT_EQ(stateOf(h.get("/api/ext/pomodoro"))["taskId"], 77);  // unchanged by the refusals
}

TEST(TimerEndpoints, EveryBearerEndpointRefusesAMissingOrUnknownToken) {
    Harness h;
    const std::vector<std::pair<std::string, httplib::Headers>> credentials = {
        {"none", {}},
        {"unknown token", {{"Authorization", "Bearer orvela_nope"}}},
        {"other scheme", {{"Authorization", "Basic " + kDemoToken}}},
        {"token alone", {{"Authorization", kDemoToken}}},
        {"empty bearer", {{"Authorization", "Bearer "}}},
    };
    for (const auto& [name, headers] : credentials) {
        SCOPED_TRACE(name);
        expectFailure(h.client->Get("/api/ext/pomodoro", headers), 401);
        expectFailure(h.client->Get("/api/ext/agenda", headers), 401);
        for (const char* action : {"pause", "stop", "start", "launch"}) {
            expectFailure(h.client->Post((std::string("/api/ext/pomodoro/") + action).c_str(),
                                         headers, "", "application/json"),
                          401);
        }
    }
    // Refused requests changed nothing.
    EXPECT_FALSE(stateOf(h.get("/api/ext/pomodoro")).contains("pausedAt"));
}

// One request written by hand, the way a client that sends no Content-Length for an empty
// POST writes it; returns the whole answer (the service closes after it).
std::string rawExchange(int port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval wait{2, 0};  // well under the server's 5 s read timeout
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, n);
    }
    close(fd);
    return answer;
}

TEST(TimerEndpoints, ACommandWithoutContentLengthIsAnsweredAtOnce) {
    Harness h;
    const std::string answer =
        rawExchange(h.service->port(),
                    "POST /api/ext/pomodoro/pause HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                    "Authorization: Bearer " +
                        kDemoToken + "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
    EXPECT_NE(answer.find("\"pausedAt\""), std::string::npos) << answer;
}

}  // namespace
}  // namespace orvela::dev::testing
