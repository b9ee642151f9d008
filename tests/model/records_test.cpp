#include <gtest/gtest.h>

#include <limits>

#include "model/records.hpp"

namespace orvela {
namespace {

const std::string kState =
    R"({"taskId":7,"title":"Отчёт","plan":[{"type":"work","min":25},{"type":"rest","min":0.5}],)"
    R"("startedAt":1700000000000.5)";
const std::string kItem =
    R"({"id":3,"title":"Созвон","date":"2024-03-10","start":1710054000000,"end":null,)"
    R"("allDay":false,"kind":"event","icon":null,"location":null,"colour":"blue"})";

// Every record decodes into exactly the values sent; an optional key absent or null means the
// same, and unknown keys are ignored.
TEST(DecodeRecords, ReadsExactlyTheValuesSent) {
    const PomodoroState running{7, "Отчёт", {{"work", 25}, {"rest", 0.5}}, 1700000000000.5, {}};
    PomodoroState paused = running;
    paused.pausedAt = 1700000060000;
    const std::vector<std::pair<std::string, Reply>> cases = {
        {R"({"success":null,"state":null,"error":null})", {}},
        {R"({"success":false,"error":"нет задачи"})", {false, {}, "нет задачи"}},
        {R"({"state":)" + kState + R"(,"pausedAt":null}})", {{}, running, {}}},
        {R"({"state":)" + kState + R"(,"pausedAt":1700000060000}})", {{}, paused, {}}},
        {R"({"x":[1,{"y":null}],"state":)" + kState + R"(,"colour":"red"},"v":2})",
         {{}, running, {}}},
    };
    for (const auto& [body, expected] : cases) EXPECT_EQ(decodeReply(body), expected) << body;

    const AgendaItem item{3, "Созвон", "2024-03-10", 1710054000000, {}, false, "event", {}, {}};
    EXPECT_EQ(decodeAgendaReply(R"({"today":"2024-03-10","items":[)" + kItem + "]}"),
              (AgendaReply{{}, "2024-03-10", std::vector{item}}));
    EXPECT_EQ(decodeAgendaReply(R"({"success":true,"items":null})"), (AgendaReply{true, {}, {}}));
    EXPECT_EQ(decodeDeviceStart(R"({"deviceCode":"d","userCode":"U-1","expiresIn":600,)"
                                R"("interval":2.5,"success":null,"other":1})"),
              (DeviceStart{{}, "d", "U-1", 600.0, 2.5, {}}));
    EXPECT_EQ(decodeDevicePoll(R"({"status":"approved","token":"orvela_x","success":true})"),
              (DevicePoll{true, "approved", "orvela_x", {}}));
    EXPECT_EQ(
        decodeReleaseInfo(R"({"version":"1.2","build":12,"notes":"Новое","zip":"/z","sha256":"ab",)"
                          R"("signature":"c2ln"})"),
        (ReleaseInfo{"1.2", 12, "Новое", "/z", "ab", "c2ln"}));
}

// One missing, null or mistyped required key anywhere inside, or one mistyped optional key,
// spoils the whole record; a body that is not one JSON object never decodes.
TEST(DecodeRecords, RejectsTheWholeRecordOnAnyBadField) {
    const auto state = [](const std::string& s) { return R"({"state":{"taskId":7,)" + s + "}}"; };
    const auto item = [](const std::string& bad) {
        return R"({"items":[)" + kItem + R"(,{"title":"a","date":"d","start":1,)" + bad + "}]}";
    };
    for (const std::string& body :
         {std::string(), std::string("{}x"), std::string(R"({"success":1})"),
          R"({"state":)" + kState + R"(,"pausedAt":"later"}})",
          std::string(R"({"state":{"title":"a","plan":[],"startedAt":0}})"),
          state(R"("title":null,"plan":[],"startedAt":0)"),
          state(R"("title":"a","plan":{},"startedAt":0)"),
          state(R"("title":"a","plan":[{"type":"work","min":"5"}],"startedAt":0)"),
          state(R"("title":"a","plan":[{"type":"work","min":5},7],"startedAt":0)")})
        EXPECT_EQ(decodeReply(body), std::nullopt) << body;
    for (const std::string& body :
         {std::string(R"({"items":{}})"), std::string(R"({"today":20240310})"),
          R"({"items":[)" + kItem + ",null]}", item(R"("id":3,"allDay":false)"),
          item(R"("id":3,"allDay":0,"kind":"k")"), item(R"("id":3.5,"allDay":false,"kind":"k")"),
          item(R"("id":3,"allDay":false,"kind":"k","icon":1)")})
        EXPECT_EQ(decodeAgendaReply(body), std::nullopt) << body;
    for (const char* body : {"[]", R"({"interval":"3"})", R"({"userCode":12})"})
        EXPECT_EQ(decodeDeviceStart(body), std::nullopt) << body;
    EXPECT_EQ(decodeDevicePoll(R"({"token":["t"]})"), std::nullopt);
    for (const char* body : {R"({"version":"1.2","build":12,"sha256":"ab"})",
                             R"({"version":1.2,"build":12,"zip":"/z","sha256":"ab"})",
                             R"({"version":"1","build":1,"notes":5,"zip":"/z","sha256":"ab"})"})
        EXPECT_EQ(decodeReleaseInfo(body), std::nullopt) << body;
}

// Whole-number fields (a release's build, a timer's task id) take a JSON integer or an integral
// float within signed 64 bits; no fractions, texts, booleans or values past the range.
TEST(DecodeRecords, IntegerFieldsAreStrict) {
    using Int = std::optional<std::int64_t>;
    const auto read = [](const std::string& v) {
        const auto info =
            decodeReleaseInfo(R"({"version":"1","zip":"/z","sha256":"ab","build":)" + v + "}");
        const auto reply =
            decodeReply(R"({"state":{"title":"t","plan":[],"startedAt":0,"taskId":)" + v + "}}");
        return std::pair{info ? Int(info->build) : std::nullopt,
                         reply && reply->state ? Int(reply->state->taskId) : std::nullopt};
    };
    const auto both = [](Int n) { return std::pair{n, n}; };
    EXPECT_EQ(read("12.0"), both(12));
    EXPECT_EQ(read("9223372036854775807"), both(std::numeric_limits<std::int64_t>::max()));
    EXPECT_EQ(read("-9.223372036854775808e18"), both(std::numeric_limits<std::int64_t>::min()));
    for (const char* v : {"9223372036854775808", "9.3e18", "12.5", R"("12")", "true"})
        EXPECT_EQ(read(v), both(std::nullopt)) << v;
}

}  // namespace
}  // namespace orvela
