// The stand-in service over loopback, on a clock the test moves, answering in exactly the keys
// and JSON types the client decodes.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "dev-service/service.hpp"

namespace orvela::dev {
namespace {

using nlohmann::json;

// 2025-12-05 10:00:00 UTC plus an awkward fraction, so that rounding at phase boundaries shows.
constexpr double kStart = 1764928800000.0 + 123.456, kMinute = 60000.0;
const std::string kDemoToken = "orvela_demo_token";

struct Harness {
    explicit Harness(Options options = {}) {
        options.port = 0;
        service = std::make_unique<DevService>(options, [this] { return now.load(); });
        client = std::make_unique<httplib::Client>("127.0.0.1", service->start());
    }
    void advance(double ms) { now = now.load() + ms; }
    httplib::Result get(const std::string& path, const std::string& token = kDemoToken) {
        return client->Get(path, {{"Authorization", "Bearer " + token}});
    }
    httplib::Result post(const std::string& path, const std::string& body = "",
                         const std::string& token = kDemoToken) {
        return client->Post(path, {{"Authorization", "Bearer " + token}}, body, "application/json");
    }
    std::atomic<double> now{kStart};
    std::unique_ptr<DevService> service;
    std::unique_ptr<httplib::Client> client;
};

int status(const httplib::Result& res) {
    return res ? res->status : 0;
}
json body(const httplib::Result& res) {
    return json::parse(res ? res->body : "", nullptr, false);
}
// {"success": false, "error": text} with the expected status.
void expectFailure(const httplib::Result& res, int expected) {
    const json reply = body(res);
    EXPECT_EQ(status(res), expected) << reply;
    EXPECT_TRUE(reply.is_object() && reply.value("success", true) == false &&
                reply.value("error", json()).is_string())
        << reply;
}
// "key:type " for each key, in order.
std::string shape(const json& record) {
    std::string text;
    for (const auto& [key, value] : record.items()) text += key + ":" + value.type_name() + " ";
    return text;
}

// The state carried by a 200 timer answer (null without one), in the client's shape.
json stateOf(const httplib::Result& res) {
    const json reply = body(res);
    EXPECT_EQ(status(res), 200) << reply;
    if (!reply.contains("state")) return json();
    const json& state = reply["state"];
    EXPECT_EQ(shape(state), std::string(state.contains("pausedAt") ? "pausedAt:number " : "") +
                                "plan:array startedAt:number taskId:number title:string ");
    for (const auto& phase : state["plan"]) EXPECT_EQ(shape(phase), "min:number type:string ");
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

// A skipped phase ends exactly now (not a rounding step later); extra work on a finished plan
// starts now instead of being swallowed at once.
TEST(TimerEndpoints, PauseSkipExtendAndStopOnAMovingClock) {
    Options options;
    // 0.13 min is 7.800000000000001 s in the running sum: a naive start lands a hair short.
    options.plan = {{"work", 0.13}, {"rest", 0.7}, {"work", 0.3}};
    Harness h(options);
    h.advance(1234.567);
    const json skipped = stateOf(h.post("/api/ext/pomodoro/skip"));
    EXPECT_EQ(clientIndex(skipped, h.now), 1u);
    EXPECT_EQ(stateOf(h.post("/api/ext/pomodoro/pause"))["pausedAt"], h.now.load());
    expectFailure(h.post("/api/ext/pomodoro/pause"), 409);
    h.advance(7 * kMinute);
    const json resumed = stateOf(h.post("/api/ext/pomodoro/resume"));
    EXPECT_NEAR(resumed["startedAt"].get<double>(),
                skipped["startedAt"].get<double>() + 7 * kMinute, 0.01);
    EXPECT_EQ(clientIndex(stateOf(h.post("/api/ext/pomodoro/skip")), h.now), 2u);
    EXPECT_EQ(clientIndex(stateOf(h.post("/api/ext/pomodoro/skip")), h.now), 3u);
    expectFailure(h.post("/api/ext/pomodoro/skip"), 409);
    h.advance(60 * kMinute);
    const json extended = stateOf(h.post("/api/ext/pomodoro/extend"));
    EXPECT_EQ(clientIndex(extended, h.now + 44 * kMinute), 3u);
    EXPECT_EQ(body(h.post("/api/ext/pomodoro/stop")), json::parse(R"({"success":true})"));
    EXPECT_EQ(body(h.get("/api/ext/pomodoro")), json::parse(R"({"success":true})"));
}

// Without a timer no action applies; start refuses a malformed body; only the demo bearer passes.
TEST(TimerEndpoints, StartRefusalsAndTheBearerCheck) {
    Options options;
    options.demoTimer = false;
    Harness h(options);
    for (const char* action : {"pause", "resume", "skip", "stop", "extend"})
        expectFailure(h.post(std::string("/api/ext/pomodoro/") + action), 409);
    const json state = stateOf(
        h.post("/api/ext/pomodoro/start", R"({"taskId":77,"plan":[{"type":"rest","min":2.5}]})"));
    EXPECT_EQ(std::tuple(state["taskId"], state["plan"][0]["min"]),
              std::tuple(json(77), json(2.5)));
    for (const char* bad :
         {"[]", R"({"taskId":"7"})", R"({"title":5})", R"({"plan":[{"type":"work"}]})",
          R"({"plan":[{"type":"work","min":-1}]})", R"({"plan":[{"type":"work","min":1e9}]})"})
        expectFailure(h.post("/api/ext/pomodoro/start", bad), 400);
    for (const std::string& auth : std::vector<std::string>{
             "", "Bearer orvela_nope", "Basic " + kDemoToken, kDemoToken, "Bearer "}) {
        const auto headers = httplib::Headers{{"Authorization", auth}};
        expectFailure(h.client->Get("/api/ext/agenda", headers), 401);
        expectFailure(h.client->Post("/api/ext/pomodoro/stop", headers, "", "text/plain"), 401);
    }
    EXPECT_EQ(stateOf(h.get("/api/ext/pomodoro")), state);  // unchanged by the refusals
}

std::string localDate(double ms) {
    const auto seconds = static_cast<std::time_t>(ms / 1000);
    std::tm parts{};
    char text[16];
    std::strftime(text, sizeof text, "%F", localtime_r(&seconds, &parts));
    return text;
}

// Each entry is dated by the local day it starts on; all three shapes the client draws occur.
TEST(Agenda, ItemsHaveTheClientsShapeForTodayAndTomorrow) {
    Harness h;
    const json reply = body(h.get("/api/ext/agenda"));
    EXPECT_EQ(reply.value("today", ""), localDate(h.now));
    std::set<std::string> shapes;
    for (const json& item : reply.at("items")) {
        shapes.insert(shape(item));
        EXPECT_EQ(item.value("date", ""), localDate(item["start"].get<double>())) << item;
    }
    EXPECT_EQ(shapes,
              (std::set<std::string>{
                  "allDay:boolean date:string end:number icon:string id:number "
                  "kind:string start:number title:string ",
                  "allDay:boolean date:string end:number id:number kind:string "
                  "location:string start:number title:string ",
                  "allDay:boolean date:string id:number kind:string start:number title:string "}));
}

// Device login approved (the page escapes the device name), denied or expired; each outcome final.
TEST(DeviceLogin, StartPageDecisionsAndExpiry) {
    Harness h;
    std::string device, code;
    auto start = [&] {
        const json reply = body(h.post("/api/device/start",
                                       R"({"client":"mac-timer","deviceName":"<b>Mac & Co</b>"})"));
        EXPECT_EQ(std::tuple(reply.value("success", false), reply.value("expiresIn", 0),
                             reply.value("interval", 0)),
                  std::tuple(true, 600, 2))
            << reply;
        device = reply.value("deviceCode", ""), code = reply.value("userCode", "");
        EXPECT_TRUE(std::regex_match(code, std::regex("[A-Z]{4}-[0-9]{4}"))) << reply;
    };
    auto poll = [&] {
        return body(h.post("/api/device/poll", json{{"deviceCode", device}}.dump()));
    };
    auto press = [&](const std::string& button, const std::string& typed) {
        return status(h.client->Post("/device/" + button, httplib::Params{{"code", typed}}));
    };
    auto outcome = [](const char* status) { return json{{"success", true}, {"status", status}}; };

    start();
    EXPECT_EQ(poll(), outcome("pending"));
    EXPECT_NE(h.get("/device.html?code=" + code)->body.find("&lt;b&gt;Mac &amp; Co&lt;/b&gt;"),
              std::string::npos);
    EXPECT_EQ(press("approve", code), 200);
    const std::string token = poll().value("token", "");
    EXPECT_TRUE(std::regex_match(token, std::regex("orvela_[0-9a-f]{40}"))) << token;
    EXPECT_EQ(status(h.get("/api/ext/pomodoro", token)), 200);
    EXPECT_EQ(press("deny", code), 409);  // decided once

    start();
    std::string typed = " " + code;
    for (char& c : typed) c = static_cast<char>(std::tolower(c));
    EXPECT_EQ(press("deny", typed), 200);
    EXPECT_EQ(poll(), outcome("denied"));

    start();
    h.advance(600 * 1000.0);
    EXPECT_EQ(poll(), outcome("pending"));
    h.advance(1);
    EXPECT_EQ(poll(), outcome("expired"));
    EXPECT_EQ(press("approve", code), 409);

    expectFailure(h.post("/api/device/start", R"({"client":1,"deviceName":"Mac"})"), 400);
    expectFailure(h.post("/api/device/poll", R"({"deviceCode":"0123456789abcdef"})"), 404);
}

}  // namespace
}  // namespace orvela::dev
