#include <gtest/gtest.h>

#include "client/app_harness.hpp"

namespace orvela {
namespace {

using test::FakePlatform;

std::string manifest(const std::string& version, int build, const std::string& notes = "") {
    return R"({"version":")" + version + R"(","build":)" + std::to_string(build) +
           R"(,"zip":"/z","sha256":"ab")" + (notes.empty() ? "" : R"(,"notes":")" + notes + "\"") +
           "}";
}

// The texts shown (notifications, then alerts) after one check against `answer`.
std::vector<std::string> check(test::AppHarness& h, bool manual, const HttpResponse& answer) {
    h.fake.clearScripts();
    h.fake.notifications.clear();
    h.fake.alerts.clear();
    h.fake.respondTo("GET", "/mac/version.json", answer);
    h.app->checkUpdates(manual);
    h.fake.runPending();
    std::vector<std::string> shown;
    for (const auto& n : h.fake.notifications) shown.push_back(n.title + "|" + n.body);
    for (const auto& a : h.fake.alerts) shown.push_back(a.message + "|" + a.informative);
    return shown;
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
        std::optional<int> offerAfter;
        std::string automatic, manual;  // "title|body" of what each shows, or nothing
    };
    for (const Case& c : std::vector<Case>{
             {FakePlatform::ok(manifest("9.9", 1)), std::nullopt, "", upToDate},
             {FakePlatform::ok(manifest("0.5", 2, "Исправления")), 2,
              "Доступно обновление ORVELA Timer 0.5|Исправления",
              "Обновить ORVELA Timer до 0.5?|Исправления\n\n" + restart},
             {FakePlatform::ok(manifest("2.1", 43)), 43,
              "Доступно обновление ORVELA Timer 2.1|Обновить — в меню приложения",
              "Обновить ORVELA Timer до 2.1?|" + restart},
             {FakePlatform::ok(manifest("2.1", 43), 404), 30, "", failed},
             {FakePlatform::noAnswer(), 30, "", failed},
             {FakePlatform::ok(R"({"version":"2.1","build":"43","zip":"/z","sha256":"ab"})"), 30,
              "", failed}}) {
        for (const bool manual : {false, true}) {
            SCOPED_TRACE(c.answer.body + (manual ? " (manual)" : " (automatic)"));
            h.app->update = ReleaseInfo{"3.0", 30, {}, "/mac/old.zip", "cd", {}};
            const std::string& text = manual ? c.manual : c.automatic;
            EXPECT_EQ(check(h, manual, c.answer),
                      text.empty() ? std::vector<std::string>{} : std::vector{text});
            EXPECT_EQ(h.app->update ? std::optional(h.app->update->build) : std::nullopt,
                      c.offerAfter);
            // The manifest needs no token and must not come from a cache.
            EXPECT_TRUE(h.fake.requests.back().request.headers.empty());
            EXPECT_EQ(h.fake.requests.back().request.cache, CachePolicy::IgnoreLocalData);
        }
    }
}

// Announced once per build, yet a known release's details follow the manifest.
TEST(UpdateCheck, AReleaseIsAnnouncedOnceButItsDetailsFollowTheManifest) {
    test::AppHarness h;
    EXPECT_EQ(check(h, false, FakePlatform::ok(manifest("1.5", 43))).size(), 1u);
    EXPECT_EQ(check(h, false, FakePlatform::ok(manifest("1.5", 43, "Новое"))).size(), 0u);
    EXPECT_EQ(h.app->update->notes, "Новое");
    EXPECT_EQ(check(h, false, FakePlatform::ok(manifest("1.6", 44))).size(), 1u);
}

}  // namespace
}  // namespace orvela
