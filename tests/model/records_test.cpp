#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "model/records.hpp"

namespace orvela {
namespace {

const std::string kState =
    R"({"taskId":7,"title":"Отчёт","plan":[{"type":"work","min":25},{"type":"rest","min":0.5}],)"
    R"("startedAt":1700000000000.5)";

// A whole timer answer decodes into exactly the values sent, with optional keys absent or null
// meaning the same and unknown keys ignored.
TEST(DecodeReply, ReadsEveryField) {
    const PomodoroState running{7, "Отчёт", {{"work", 25}, {"rest", 0.5}}, 1700000000000.5, {}};
    PomodoroState paused = running;
    paused.pausedAt = 1700000060000;

    struct Case {
        std::string body;
        Reply expected;
    };
    const std::vector<Case> cases = {
        {R"({"success":true})", {true, {}, {}}},
        {R"({"success":null,"state":null,"error":null})", {}},
        {R"({"success":false,"error":"нет задачи"})", {false, {}, "нет задачи"}},
        {R"({"state":)" + kState + "}}", {{}, running, {}}},
        {R"({"state":)" + kState + R"(,"pausedAt":null}})", {{}, running, {}}},
        {R"({"state":)" + kState + R"(,"pausedAt":1700000060000}})", {{}, paused, {}}},
        {R"({"extra":[1,{"x":null}],"state":)" + kState + R"(,"colour":"red"},"v":2})",
         {{}, running, {}}},
        {R"({"state":{"taskId":1,"title":"","plan":[],"startedAt":0}})",
         {{}, PomodoroState{1, "", {}, 0, {}}, {}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeReply(c.body), c.expected) << c.body;
    }
}

// One missing, null or mistyped required key anywhere inside spoils the whole answer, and so
// does a mistyped optional one; bodies that are not a JSON object never decode.
TEST(DecodeReply, RejectsWholeAnswerOnAnyBadField) {
    const std::vector<std::string> bodies = {
        "",
        "[]",
        "{}x",
        R"({"success":1})",
        R"({"error":5})",
        R"({"state":[]})",
        R"({"state":)" + kState + R"(,"pausedAt":"later"}})",
        R"({"state":{"title":"a","plan":[],"startedAt":0}})",
        R"({"state":{"taskId":"7","title":"a","plan":[],"startedAt":0}})",
        R"({"state":{"taskId":7,"title":null,"plan":[],"startedAt":0}})",
        R"({"state":{"taskId":7,"title":"a","plan":{},"startedAt":0}})",
        R"({"state":{"taskId":7,"title":"a","plan":[],"startedAt":"0"}})",
        R"({"state":{"taskId":7,"title":"a","plan":[{"type":"work"}],"startedAt":0}})",
        R"({"state":{"taskId":7,"title":"a","plan":[{"type":"work","min":"5"}],"startedAt":0}})",
        R"({"state":{"taskId":7,"title":"a","plan":[{"type":"work","min":5},7],"startedAt":0}})",
    };
    for (const auto& body : bodies) {
        EXPECT_EQ(decodeReply(body), std::nullopt) << body;
    }
}

// Whole-number fields take a JSON integer or an integral float within signed 64 bits, and
// nothing else: no fractions, texts, booleans or values past the range.
TEST(DecodeRecords, IntegerFieldsAreStrict) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    struct Case {
        std::string value;
        std::optional<std::int64_t> expected;
    };
    const std::vector<Case> cases = {
        {"12", 12},
        {"12.0", 12},
        {"1.2e1", 12},
        {"9223372036854775807", kMax},
        {"-9223372036854775808", kMin},
        {"-9.223372036854775808e18", kMin},
        {"9223372036854775808", std::nullopt},
        {"18446744073709551616", std::nullopt},
        {"9.3e18", std::nullopt},
        {"1e30", std::nullopt},
        {"12.5", std::nullopt},
        {R"("12")", std::nullopt},
        {"true", std::nullopt},
        {"null", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto release = decodeReleaseInfo(R"({"version":"1.2","zip":"/a.zip","sha256":"ab",)"
                                               R"("build":)" +
                                               c.value + "}");
        EXPECT_EQ(release ? std::optional(release->build) : std::nullopt, c.expected) << c.value;

        const auto reply = decodeReply(
            R"({"state":{"title":"t","plan":[],"startedAt":0,"taskId":)" + c.value + "}}");
        const auto taskId =
            reply && reply->state ? std::optional(reply->state->taskId) : std::nullopt;
        EXPECT_EQ(taskId, c.expected) << c.value;
    }
}

// One undecodable agenda entry loses the whole agenda; optional entry keys may be null.
TEST(DecodeAgendaReply, ItemsDecodeWholeOrNotAtAll) {
    const std::string good =
        R"({"id":3,"title":"Созвон","date":"2024-03-10","start":1710054000000,"end":null,)"
        R"("allDay":false,"kind":"event","icon":null,"location":null,"colour":"blue"})";
    const AgendaItem item{3, "Созвон", "2024-03-10", 1710054000000, {}, false, "event", {}, {}};

    EXPECT_EQ(decodeAgendaReply(R"({"items":[]})"),
              (AgendaReply{{}, {}, std::vector<AgendaItem>{}}));
    EXPECT_EQ(decodeAgendaReply(R"({"today":"2024-03-10","items":[)" + good + "]}"),
              (AgendaReply{{}, "2024-03-10", std::vector{item}}));
    EXPECT_EQ(decodeAgendaReply(R"({"success":true,"items":null})"), (AgendaReply{true, {}, {}}));

    const std::vector<std::string> badItems = {
        R"({"id":3,"title":"a","date":"d","start":1,"allDay":false})",
        R"({"id":3,"title":"a","date":"d","start":"1","allDay":false,"kind":"k"})",
        R"({"id":3,"title":"a","date":"d","start":1,"allDay":0,"kind":"k"})",
        R"({"id":3.5,"title":"a","date":"d","start":1,"allDay":false,"kind":"k"})",
        R"({"id":3,"title":"a","date":"d","start":1,"allDay":false,"kind":"k","icon":1})",
        "null",
    };
    for (const auto& bad : badItems) {
        EXPECT_EQ(decodeAgendaReply(R"({"items":[)" + good + "," + bad + "]}"), std::nullopt)
            << bad;
    }
    EXPECT_EQ(decodeAgendaReply(R"({"items":{}})"), std::nullopt);
    EXPECT_EQ(decodeAgendaReply(R"({"today":20240310})"), std::nullopt);
}

// Device-login replies have only optional keys, but a key of the wrong type is not ignored.
TEST(DecodeDeviceLogin, AllOptionalButTyped) {
    EXPECT_EQ(decodeDeviceStart("{}"), DeviceStart{});
    EXPECT_EQ(decodeDeviceStart(R"({"deviceCode":"d","userCode":"U-1","expiresIn":600,)"
                                R"("interval":2.5,"success":null,"other":1})"),
              (DeviceStart{{}, "d", "U-1", 600.0, 2.5, {}}));
    EXPECT_EQ(decodeDevicePoll(R"({"status":"approved","token":"orvela_x","success":true})"),
              (DevicePoll{true, "approved", "orvela_x", {}}));
    for (const auto* body : {R"({"interval":"3"})", R"({"expiresIn":true})", R"({"userCode":12})",
                             R"({"success":"yes"})", "[]"}) {
        EXPECT_EQ(decodeDeviceStart(body), std::nullopt) << body;
    }
    for (const auto* body : {R"({"status":1})", R"({"token":["t"]})", R"({"error":{}})"}) {
        EXPECT_EQ(decodeDevicePoll(body), std::nullopt) << body;
    }
}

// The release manifest needs every key but the notes.
TEST(DecodeReleaseInfo, RequiredKeys) {
    EXPECT_EQ(decodeReleaseInfo(R"({"version":"1.2","build":12,"zip":"/z.zip","sha256":"AB"})"),
              (ReleaseInfo{"1.2", 12, {}, "/z.zip", "AB"}));
    EXPECT_EQ(decodeReleaseInfo(
                  R"({"version":"1.2","build":12,"notes":"Новое","zip":"/z","sha256":"ab"})"),
              (ReleaseInfo{"1.2", 12, "Новое", "/z", "ab"}));
    for (const auto* body :
         {R"({"version":"1.2","build":12,"sha256":"ab"})",
          R"({"version":"1.2","build":12,"zip":"/z"})",
          R"({"version":1.2,"build":12,"zip":"/z","sha256":"ab"})",
          R"({"version":"1.2","build":12,"notes":5,"zip":"/z","sha256":"ab"})"}) {
        EXPECT_EQ(decodeReleaseInfo(body), std::nullopt) << body;
    }
}

}  // namespace
}  // namespace orvela
