// The demo timer over HTTP: the state record as the client decodes it, the pause/resume/skip/
// stop/extend story on a moving clock, the actions that do not apply, and the bearer check.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include "service_harness.hpp"

namespace orvela::dev::testing {
namespace {

// The state carried by a 200 timer answer (null without one), checked to have exactly the keys
// and JSON types the client decodes.
json stateOf(const httplib::Result& res) {
    EXPECT_EQ(status(res), 200);
    const json reply = body(res);
    EXPECT_EQ(reply.value("success", false), true) << reply;
    if (!reply.contains("state")) return json();
    const json& state = reply["state"];
    std::string shape;  // keys come in order
    for (const auto& [key, value] : state.items()) shape += key + ":" + value.type_name() + " ";
    EXPECT_EQ(shape, std::string(state.contains("pausedAt") ? "pausedAt:number " : "") +
                         "plan:array startedAt:number taskId:number title:string ");
    EXPECT_TRUE(state["taskId"].is_number_integer());
    for (const auto& phase : state["plan"])
        EXPECT_TRUE(phase["type"].is_string() && phase["min"].is_number()) << phase;
    return state;
}

// Where the client places `now` in the plan: elapsed seconds against the running sum, strictly.
std::size_t clientIndex(const json& state, double now) {
    const double elapsed = (state.value("pausedAt", now) - state["startedAt"].get<double>()) / 1000;
    double sum = 0;
    for (std::size_t i = 0; i < state["plan"].size(); ++i)
        if ((sum += state["plan"][i]["min"].get<double>() * 60) > elapsed) return i;
    return state["plan"].size();
}

// The whole story on a moving clock, each answer in the client's shape: a skipped phase ends
// exactly now (not a rounding step later), a pause shifts the start by its length, extra work on
// a finished plan starts now instead of being swallowed at once, and stop clears the timer.
TEST(TimerEndpoints, PauseSkipExtendAndStopOnAMovingClock) {
    Options options;
    // 0.13 min is 7.800000000000001 s in the running sum: a naive start lands a hair short.
    options.plan = {{"work", 0.13}, {"rest", 0.7}, {"work", 0.3}};
    options.title = "Проверка";
    Harness h(options);
    json state = stateOf(h.get("/api/ext/pomodoro"));
    EXPECT_EQ(state["title"], "Проверка");
    EXPECT_EQ(state["startedAt"], kStart);
    h.advance(1234.567);
    state = stateOf(h.post("/api/ext/pomodoro/skip"));
    EXPECT_EQ(clientIndex(state, h.now), 1u);
    EXPECT_NEAR(state["startedAt"].get<double>(), h.now - 7800, 0.01);

    EXPECT_EQ(stateOf(h.post("/api/ext/pomodoro/pause"))["pausedAt"], h.now.load());
    expectFailure(h.post("/api/ext/pomodoro/pause"), 409);
    h.advance(7 * kMinute);
    const json resumed = stateOf(h.post("/api/ext/pomodoro/resume"));
    EXPECT_FALSE(resumed.contains("pausedAt"));
    EXPECT_NEAR(resumed["startedAt"].get<double>(), state["startedAt"].get<double>() + 7 * kMinute,
                0.01);
    expectFailure(h.post("/api/ext/pomodoro/resume"), 409);
    EXPECT_EQ(stateOf(h.get("/api/ext/pomodoro")), resumed);  // kept between answers

    EXPECT_EQ(clientIndex(stateOf(h.post("/api/ext/pomodoro/skip")), h.now), 2u);
    EXPECT_EQ(clientIndex(stateOf(h.post("/api/ext/pomodoro/skip")), h.now), 3u);
    expectFailure(h.post("/api/ext/pomodoro/skip"), 409);
    expectFailure(h.post("/api/ext/pomodoro/pause"), 409);
    h.advance(60 * kMinute);
    state = stateOf(h.post("/api/ext/pomodoro/extend"));
    EXPECT_EQ(state["plan"].back(), json::parse(R"({"type":"work","min":45})"));
    EXPECT_EQ(clientIndex(state, h.now + 44 * kMinute), 3u);
    EXPECT_EQ(body(h.post("/api/ext/pomodoro/stop")), json::parse(R"({"success":true})"));
    EXPECT_EQ(body(h.get("/api/ext/pomodoro")), json::parse(R"({"success":true})"));
}

// Without a timer no action applies; start takes an optional body and refuses a malformed one
// (huge or negative lengths included).
TEST(TimerEndpoints, StartWithAndWithoutABody) {
    Options options;
    options.demoTimer = false;
    Harness h(options);
    EXPECT_EQ(body(h.get("/api/ext/pomodoro")), json::parse(R"({"success":true})"));
    for (const char* action : {"pause", "resume", "skip", "stop", "extend"})
        expectFailure(h.post(std::string("/api/ext/pomodoro/") + action), 409);
    expectFailure(h.post("/api/ext/pomodoro/launch"), 404);
    EXPECT_EQ(stateOf(h.post("/api/ext/pomodoro/start"))["plan"].size(), 4u);
    const json state =
        stateOf(h.post("/api/ext/pomodoro/start",
                       R"({"taskId":77,"title":"Отчёт","plan":[{"type":"rest","min":2.5}]})"));
    EXPECT_EQ(state["taskId"], 77);
    EXPECT_EQ(state["title"], "Отчёт");
    EXPECT_EQ(state["plan"], json::parse(R"([{"type":"rest","min":2.5}])"));
    for (const char* bad :
         {"[]", R"({"taskId":"7"})", R"({"title":5})", R"({"plan":[{"type":"work"}]})",
          R"({"plan":[{"type":"work","min":-1}]})", R"({"plan":[{"type":"work","min":1e9}]})"})
        expectFailure(h.post("/api/ext/pomodoro/start", bad), 400);
    EXPECT_EQ(stateOf(h.get("/api/ext/pomodoro")), state);  // unchanged by the refusals
}

TEST(TimerEndpoints, EveryBearerEndpointRefusesAMissingOrUnknownToken) {
    Harness h;
    for (const std::string& auth : std::vector<std::string>{
             "", "Bearer orvela_nope", "Basic " + kDemoToken, kDemoToken, "Bearer "}) {
        SCOPED_TRACE(auth);
        const auto headers =
            auth.empty() ? httplib::Headers{} : httplib::Headers{{"Authorization", auth}};
        for (const char* path : {"/api/ext/pomodoro", "/api/ext/agenda"})
            expectFailure(h.client->Get(path, headers), 401);
        for (const char* path :
             {"/api/ext/pomodoro/pause", "/api/ext/pomodoro/start", "/api/ext/pomodoro/launch"})
            expectFailure(h.client->Post(path, headers, "", "application/json"), 401);
    }
    EXPECT_FALSE(stateOf(h.get("/api/ext/pomodoro")).contains("pausedAt"));  // nothing changed
}

// Some clients post a command with no Content-Length at all; it has no body and must be
// answered at once, not after the connection closes. Written by hand, as such a client does.
TEST(TimerEndpoints, ACommandWithoutContentLengthIsAnsweredAtOnce) {
    Harness h;
    const std::string request = "POST /api/ext/pomodoro/pause HTTP/1.1\r\nAuthorization: Bearer " +
                                kDemoToken + "\r\nConnection: close\r\n\r\n";
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(h.service->port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval wait{2, 0};  // well under the server's 5 s read timeout
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::string answer;
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, n);
    close(fd);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
    EXPECT_NE(answer.find("\"pausedAt\""), std::string::npos) << answer;
}

}  // namespace
}  // namespace orvela::dev::testing
