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

using test::AppHarness;
using test::FakePlatform;

std::string manifest(const std::string& version, long long build, const std::string& notes = "") {
    return R"({"version":")" + version + R"(","build":)" + std::to_string(build) +
           R"(,"zip":"/mac/app.zip","sha256":"ab")" +
           (notes.empty() ? "" : R"(,"notes":")" + notes + "\"") + "}";
}

// The app runs version 2.0, build 17, and already offers build 30 from an earlier check.
class UpdateCheck : public ::testing::Test {
protected:
    UpdateCheck() {
        h.fake.bundle = {{"CFBundleShortVersionString", "2.0"}, {"CFBundleVersion", "17"}};
        h.app.reset();  // before the next one installs its clock
        h.app = std::make_unique<App>(h.fake);
        App::shared = h.app.get();
    }
    App& app() { return *h.app; }
    static ReleaseInfo offer(long long build) { return {"3.0", build, {}, "/mac/old.zip", "cd"}; }

    // Runs one check against `answer` and lets its continuation run.
    void check(bool manual, const HttpResponse& answer) {
        h.fake.clearScripts();
        h.fake.respondTo("GET", "/mac/version.json", answer);
        app().checkUpdates(manual);
        h.fake.runPending();
    }

    AppHarness h;
};

TEST_F(UpdateCheck, EachAnswerAutomaticAndManual) {
    const std::string failed =
        "Не удалось проверить обновления|Нет связи с ORVELA — попробуйте позже.";
    const std::string upToDate = "Установлена последняя версия|ORVELA Timer 2.0 (сборка 17).";
    const std::string restart = "Приложение перезапустится, таймер продолжит идти.";
    struct Case {
        const char* name;
        HttpResponse answer;
        std::optional<long long> offerAfter;  // 30: the earlier offer untouched
        std::string notification;             // automatic: "title|body", or none
        std::string manualAlert;              // manual: "message|informative"
    };
    const std::vector<Case> cases = {
        {"same build", FakePlatform::ok(manifest("2.0", 17)), std::nullopt, "", upToDate},
        {"lower build, higher version text", FakePlatform::ok(manifest("9.9", 16)), std::nullopt,
         "", upToDate},
        {"higher build, lower version text", FakePlatform::ok(manifest("1.5", 18, "Исправления")),
         18, "Доступно обновление ORVELA Timer 1.5|Исправления",
         "Обновить ORVELA Timer до 1.5?|Исправления\n\n" + restart},
        {"no notes", FakePlatform::ok(manifest("2.1", 43)), 43,
         "Доступно обновление ORVELA Timer 2.1|Обновить — в меню приложения",
         "Обновить ORVELA Timer до 2.1?|" + restart},
        {"not found", FakePlatform::ok(manifest("2.1", 43), 404), 30, "", failed},
        {"server error", FakePlatform::ok(manifest("2.1", 43), 500), 30, "", failed},
        {"no connection", FakePlatform::noAnswer(), 30, "", failed},
        {"build as text",
         FakePlatform::ok(R"({"version":"2.1","build":"43","zip":"/z","sha256":"ab"})"), 30, "",
         failed},
        {"no checksum", FakePlatform::ok(R"({"version":"2.1","build":43,"zip":"/z"})"), 30, "",
         failed},
    };
    for (const bool manual : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (manual ? " (manual)" : " (automatic)"));
            app().update = offer(30);
            h.fake.notifications.clear();
            h.fake.alerts.clear();
            check(manual, c.answer);

            // The manifest needs no token and must not come from a cache.
            const HttpRequest& sent = h.fake.requests.back().request;
            EXPECT_EQ(sent.url, std::string(test::kBase) + "/mac/version.json");
            EXPECT_TRUE(sent.headers.empty());
            EXPECT_EQ(sent.cache, CachePolicy::IgnoreLocalData);
            EXPECT_EQ(sent.timeoutSeconds, 10.0);

            EXPECT_EQ(app().update ? std::optional<long long>(app().update->build) : std::nullopt,
                      c.offerAfter);
            EXPECT_FALSE(app().updating);  // a confirmation, if any, was closed: "Позже"
            std::vector<std::string> notes, alerts;
            for (const auto& n : h.fake.notifications) {
                EXPECT_EQ(n.identifier, "orvela-update");
                EXPECT_FALSE(n.sound);
                notes.push_back(n.title + "|" + n.body);
            }
            for (const auto& a : h.fake.alerts) alerts.push_back(a.message + "|" + a.informative);
            const std::string expected = manual ? c.manualAlert : c.notification;
            EXPECT_EQ(manual ? alerts : notes,
                      expected.empty() ? std::vector<std::string>{} : std::vector{expected});
            EXPECT_TRUE((manual ? notes : alerts).empty());
        }
    }
}

TEST_F(UpdateCheck, AReleaseIsAnnouncedOnceButItsDetailsFollowTheManifest) {
    const std::vector<std::pair<std::string, std::size_t>> steps = {
        {manifest("1.5", 43), 1},                 // new: announced
        {manifest("1.5", 43, "Исправления"), 1},  // known: silent, but the notes are taken
        {manifest("1.6", 44), 2},                 // a newer build again: announced
        {manifest("1.0", 17), 2},                 // withdrawn: offer gone, nothing said
        {manifest("1.6", 44), 3},                 // offered anew after the withdrawal
    };
    for (const auto& [body, notifications] : steps) {
        SCOPED_TRACE(body);
        check(false, FakePlatform::ok(body));
        EXPECT_EQ(h.fake.notifications.size(), notifications);
        if (body.find("Исправления") != std::string::npos) {
            EXPECT_EQ(app().update->notes, "Исправления");
        }
    }
}

TEST_F(UpdateCheck, ManualCheckDuringAnInstallationShowsNothing) {
    app().updating = true;
    check(true, FakePlatform::ok(manifest("1.5", 43)));
    EXPECT_TRUE(h.fake.alerts.empty());
    EXPECT_TRUE(h.fake.notifications.empty());
    EXPECT_EQ(app().update->build, 43);
}

TEST(UpdateCheckAddress, AnInvalidManifestAddressEndsSilentlyButCounts) {
    for (const bool manual : {false, true}) {
        AppHarness h("not a url");
        h.app->checkUpdates(manual);
        h.fake.runPending();
        EXPECT_TRUE(h.fake.requests.empty());
        EXPECT_TRUE(h.fake.alerts.empty());
        EXPECT_EQ(h.app->lastUpdateCheck, nowSeconds());
    }
}

TEST(UpdateCheckCadence, LaunchChecksThenEverySixHoursFromTheTick) {
    AppHarness h;
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
