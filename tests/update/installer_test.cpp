// Installing a release on the fake platform with real files: every failure must leave the app as
// it was (offer kept, no installation running) and say why in one alert.
#include <gtest/gtest.h>

#include "client/app_harness.hpp"
#include "update/handover_script.hpp"
#include "update/installer.hpp"
#include "update/sha256.hpp"

namespace orvela {
namespace {

namespace fs = std::filesystem;

const std::string kArchive = "PK\x03\x04 the bytes of release 43";

// A machine in a temporary folder: a download yields `served`, the unpacker lays out the app (or a
// link named like it) and exits with `unzipStatus`.
struct Machine {
    Machine() {
        h.fake.bundleLocation = bundle.string();
        h.fake.tempDir = root.string();
        h.app->update = ReleaseInfo{"1.5", 43, {}, "/mac/app-43.zip", *sha256Hex(kArchive)};
        h.fake.downloadHandler = [this](const HttpRequest& r) {
            asked.push_back(r);
            if (!downloadError.empty()) return DownloadResult{std::nullopt, downloadError};
            h.home.put("downloads/1", served);
            return DownloadResult{(root / "downloads/1").string(), {}};
        };
        h.fake.runHandler = [this](const std::string&, const std::vector<std::string>&) {
            h.home.put(work / (linkedApp ? "README" : "ORVELA Timer.app/bin/orvela-timer"), "new");
            if (linkedApp) fs::create_directory_symlink(root, work / "ORVELA Timer.app");
            return ProcessResult{unzipStatus, {}};
        };
    }
    // Chooses "Обновить" and lets the download's continuation run.
    void confirmAndRun() {
        h.fake.alertAnswers.push_back({0, {}});
        h.app->installUpdate();
        h.fake.runPending();
    }

    test::AppHarness h;
    const fs::path root = h.home.path();
    const fs::path bundle = root / "Applications/ORVELA Timer.app";
    const fs::path work = root / "orvela-update-43";
    std::vector<HttpRequest> asked;
    std::string downloadError, served = kArchive;
    int unzipStatus = 0;
    bool linkedApp = false;
};

TEST(Installer, ConfirmedInstallationHandsOverAndQuits) {
    Machine m;
    m.h.home.put(m.work / "leftover.txt", "from an earlier attempt");
    m.confirmAndRun();
    const auto& fake = m.h.fake;
    ASSERT_EQ(fake.processRuns.size(), 1u);
    EXPECT_EQ(fake.processRuns[0].arguments,
              (std::vector<std::string>{"-q", "-o", m.work / "app.zip", "-d", m.work}));
    EXPECT_EQ(test::TempHome::read(m.work / "app.zip"), kArchive);
    EXPECT_FALSE(fs::exists(m.work / "leftover.txt"));
    EXPECT_EQ(fs::status(m.work).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_FALSE(fs::exists(m.root / "downloads/1"));
    ASSERT_EQ(fake.detachedLaunches.size(), 1u);
    EXPECT_EQ(fake.detachedLaunches[0].arguments[1], handoverScript(4242));
    EXPECT_EQ(fake.detachedLaunches[0].environment.at("TARGET"), m.bundle);
    EXPECT_EQ(fake.terminations, 1);
    EXPECT_TRUE(m.h.app->updating);
}

// Nothing is fetched without a confirmed offer that makes a valid address.
TEST(Installer, NothingHappensWithoutAConfirmableOffer) {
    for (const auto& [arrange, alerts] : std::vector<std::pair<void (*)(App&), std::size_t>>{
             {[](App& a) { a.update.reset(); }, 0},
             {[](App& a) { a.updating = true; }, 0},
             {[](App& a) { a.update->zip = "/mac/app 43.zip"; }, 0},
             {[](App&) {}, 1}}) {  // the confirmation closed: "Позже"
        Machine m;
        arrange(*m.h.app);
        m.h.app->installUpdate();
        m.h.fake.runPending();
        EXPECT_EQ(m.h.fake.alerts.size(), alerts);
        EXPECT_TRUE(m.asked.empty());
    }
}

TEST(Installer, EveryFailureIsOneAlertAndLeavesTheOfferInPlace) {
    const std::string noBundle = "приложение запущено не из установленной папки «ORVELA Timer.app»";
    for (const auto& [arrange, description] :
         std::vector<std::pair<void (*)(Machine&), std::string>>{
             {[](Machine& m) { m.downloadError = "Connection refused"; }, "Connection refused"},
             {[](Machine& m) { m.served = "<html>404</html>"; },
              "архив повреждён (контрольная сумма не совпала)"},
             {[](Machine& m) { m.unzipStatus = 9; }, "/usr/bin/unzip завершился с ошибкой"},
             {[](Machine& m) { m.linkedApp = true; }, "в архиве нет приложения"},
             {[](Machine& m) { m.h.fake.launchError = "Resource unavailable"; },
              "Resource unavailable"},
             // The script deletes its target: only an absolute path named like our bundle will do.
             {[](Machine& m) { m.h.fake.bundleLocation = m.root; }, noBundle},
             {[](Machine& m) { m.h.fake.bundleLocation = "ORVELA Timer.app"; }, noBundle},
             {[](Machine& m) { m.h.fake.bundleLocation.reset(); }, noBundle}}) {
        SCOPED_TRACE(description);
        Machine m;
        arrange(m);
        m.confirmAndRun();
        const auto& fake = m.h.fake;
        ASSERT_EQ(fake.alerts.size(), 2u);
        EXPECT_EQ(fake.alerts[1].message, "Обновление не установилось");
        EXPECT_EQ(fake.alerts[1].informative, description);
        EXPECT_TRUE(!m.h.app->updating && m.h.app->update && fake.terminations == 0);
        EXPECT_EQ(m.asked.size(), description == noBundle ? 0u : 1u);
        // Nothing is written before the archive is known good.
        EXPECT_EQ(fs::exists(m.work), !fake.processRuns.empty());
    }
}

}  // namespace
}  // namespace orvela
