// The release manifest check: what an automatic and a manual check do with each kind of answer,
// that a release is announced once, and the six-hour cadence driven by the tick.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "client/app_harness.hpp"
#include "model/clock.hpp"

namespace orvela {
namespace {

using test::FakePlatform;

std::string manifest(const std::string& version, long long build, const std::string& notes = "") {
    return R"({"version":")" + version + R"(","build":)" + std::to_string(build) +
           R"(,"zip":"/mac/app.zip","sha256":"ab")" +
           (notes.empty() ? "" : R"(,"notes":")" + notes + "\"") + "}";
}

// Runs one check against `answer` and lets its continuation run.
void check(test::AppHarness& h, bool manual, const HttpResponse& answer) {
    h.fake.clearScripts();
    h.fake.respondTo("GET", "/mac/version.json", answer);
    h.app->checkUpdates(manual);
    h.fake.runPending();
}

// Only the build number decides; a failed check keeps the earlier offer (build 30) and speaks
// only when asked; a manual check with a newer build goes straight to the confirmation.
TEST(UpdateCheck, EachAnswerAutomaticAndManual) {
    test::AppHarness h;  // version 1.0, build 1
    const std::string failed =
        "Не удалось проверить обновления|Нет связи с ORVELA — попробуйте позже.";
    const std::string upToDate = "Установлена последняя версия|ORVELA Timer 1.0 (сборка 1).";
    const std::string restart = "Приложение перезапустится, таймер продолжит идти.";
    struct Case {
        HttpResponse answer;
        std::optional<long long> offerAfter;
        std::string notification;  // automatic: "title|body", or none
        std::string manualAlert;   // manual: "message|informative"
    };
    const std::vector<Case> cases = {
        {FakePlatform::ok(manifest("1.0", 1)), std::nullopt, "", upToDate},
        {FakePlatform::ok(manifest("9.9", 0)), std::nullopt, "", upToDate},
        {FakePlatform::ok(manifest("0.5", 2, "Исправления")), 2,
         "Доступно обновление ORVELA Timer 0.5|Исправления",
         "Обновить ORVELA Timer до 0.5?|Исправления\n\n" + restart},
        {FakePlatform::ok(manifest("2.1", 43)), 43,
         "Доступно обновление ORVELA Timer 2.1|Обновить — в меню приложения",
         "Обновить ORVELA Timer до 2.1?|" + restart},
        {FakePlatform::ok(manifest("2.1", 43), 404), 30, "", failed},
        {FakePlatform::noAnswer(), 30, "", failed},
        {FakePlatform::ok(R"({"version":"2.1","build":"43","zip":"/z","sha256":"ab"})"), 30, "",
         failed},
    };
    for (const bool manual : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.answer.body + (manual ? " (manual)" : " (automatic)"));
            h.app->update = ReleaseInfo{"3.0", 30, {}, "/mac/old.zip", "cd"};
            h.fake.notifications.clear();
            h.fake.alerts.clear();
            check(h, manual, c.answer);

            // The manifest needs no token and must not come from a cache.
            const HttpRequest& sent = h.fake.requests.back().request;
            EXPECT_EQ(sent.url, std::string(test::kBase) + "/mac/version.json");
            EXPECT_TRUE(sent.headers.empty());
            EXPECT_EQ(sent.cache, CachePolicy::IgnoreLocalData);
            EXPECT_EQ(sent.timeoutSeconds, 10.0);

            EXPECT_EQ(h.app->update ? std::optional(h.app->update->build) : std::nullopt,
                      c.offerAfter);
            EXPECT_FALSE(h.app->updating);  // a confirmation, if any, was closed: "Позже"
            std::vector<std::string> shown;
            for (const auto& n : h.fake.notifications)
                shown.push_back("notification " + n.title + "|" + n.body);
            for (const auto& a : h.fake.alerts)
                shown.push_back("alert " + a.message + "|" + a.informative);
            const std::string& text = manual ? c.manualAlert : c.notification;
            EXPECT_EQ(shown, text.empty()
                                 ? std::vector<std::string>{}
                                 : std::vector{(manual ? "alert " : "notification ") + text});
        }
    }
}

// Announced once per build, yet a known release's details follow the manifest; a withdrawn one
// leaves the menu and may be offered anew.
TEST(UpdateCheck, AReleaseIsAnnouncedOnceButItsDetailsFollowTheManifest) {
    test::AppHarness h;
    for (const auto& [body, notifications] :
         std::vector<std::pair<std::string, std::size_t>>{{manifest("1.5", 43), 1},
                                                          {manifest("1.5", 43, "Исправления"), 1},
                                                          {manifest("1.6", 44), 2},
                                                          {manifest("1.0", 1), 2},
                                                          {manifest("1.6", 44), 3}}) {
        SCOPED_TRACE(body);
        check(h, false, FakePlatform::ok(body));
        EXPECT_EQ(h.fake.notifications.size(), notifications);
        if (body.find("Исправления") != std::string::npos) {
            EXPECT_EQ(h.app->update->notes, "Исправления");
        }
    }
    EXPECT_EQ(h.app->update->build, 44);
}

TEST(UpdateCheckCadence, LaunchChecksThenEverySixHoursFromTheTick) {
    test::AppHarness h;
    h.home.putToken("tok");
    auto manifests = [&h] {
        int n = 0;
        for (const auto& r : h.fake.requests) n += r.request.url.ends_with("/version.json");
        return n;
    };
    h.app->applicationDidFinishLaunching();
    EXPECT_EQ(manifests(), 2);  // the launch tick's check and launch's own
    h.fake.advance(21599);
    EXPECT_EQ(manifests(), 2);
    h.fake.advance(1);
    EXPECT_EQ(manifests(), 3);
}

}  // namespace
}  // namespace orvela
