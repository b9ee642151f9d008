// Installing a release on the fake platform with real files: every failure must leave the app as
// it was (offer kept, no installation running) and say why in one alert.
#include <gtest/gtest.h>

#include "client/app_harness.hpp"
#include "support/release_key.hpp"
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
        h.home.put(bundle / "bin/orvela-timer", "old");
        h.fake.bundleLocation = bundle.string();
        h.fake.tempDir = root.string();
        h.app->update = ReleaseInfo{"1.5", 43, {}, "/mac/app-43.zip", *sha256Hex(kArchive), {}};
        h.fake.downloadHandler = [this](const HttpRequest& r) {
            asked.push_back(r);
            if (!downloadError.empty()) return DownloadResult{std::nullopt, downloadError};
            h.home.put("downloads/1", served);
            return DownloadResult{(root / "downloads/1").string(), {}};
        };
        h.fake.runHandler = [this](const std::string&, const std::vector<std::string>&) {
            h.home.put(work / (linkedApp ? "README" : "ORVELA Timer.app/bin/orvela-timer"), "new");
            if (linkedApp) fs::create_directory_symlink(root, work / "ORVELA Timer.app");
            return unzipStopped ? ProcessResult{{}, {}, true} : ProcessResult{unzipStatus, {}};
        };
    }
    // A build that carries `key`'s public half, offered a release signed by `signer`.
    void carryKey(const test::ReleaseKey& signer) {
        h.fake.bundle["OrvelaReleasePublicKey"] = key.publicBase64();
        h.app->update->signature = signer.sign(h.app->update->sha256);
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
    bool linkedApp = false, unzipStopped = false;
    test::ReleaseKey key;
};

// With the app's own environment handed on; a build without a release key ignores a signature,
// one with a key installs what its key signed.
TEST(Installer, ConfirmedInstallationHandsOverAndQuits) {
    for (const bool signedBuild : {false, true}) {
        SCOPED_TRACE(signedBuild ? "signed build" : "build without a key");
        Machine m;
        m.h.app->update->signature = "not a signature";
        if (signedBuild) m.carryKey(m.key);
        m.h.fake.environment["TARGET"] = "/elsewhere";  // the user's own, never the swap's
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
        auto environment = fake.environment;  // the app's own, the three paths set over it
        environment.insert({{"FRESH", m.work / kBundleName}, {"WORK", m.work}});
        environment["TARGET"] = m.bundle;
        EXPECT_EQ(fake.detachedLaunches[0].environment, environment);
        EXPECT_EQ(fake.terminations, 1);
        EXPECT_TRUE(m.h.app->updating);
    }
}

// "Выйти" while the archive unpacks: the half-unpacked copy is never handed over, and the user,
// who is leaving, gets no alert; the offer stays for the next launch.
TEST(Installer, QuittingDuringTheUnpackAbandonsTheInstallation) {
    Machine m;
    m.unzipStopped = true;
    m.confirmAndRun();
    EXPECT_TRUE(m.h.fake.detachedLaunches.empty());
    EXPECT_EQ(m.h.fake.terminations, 0);
    EXPECT_EQ(m.h.fake.alerts.size(), 1u);
    EXPECT_TRUE(!m.h.app->updating && m.h.app->update);
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
    const std::string elsewhere =
        "архив обновления лежит не на сервере ORVELA (другой адрес, порт или протокол)";
    const std::string badSignature = "подпись обновления не подошла — архив подменён";
    // What goes wrong, the alert's text (or its beginning, where the system's words follow),
    // and whether the archive was fetched at all.
    for (const auto& [arrange, description, fetched] :
         std::vector<std::tuple<void (*)(Machine&), std::string, bool>>{
             {[](Machine& m) { m.downloadError = "Connection refused"; }, "Connection refused", 1},
             {[](Machine& m) { m.served = "<html>404</html>"; },
              "архив повреждён (контрольная сумма не совпала)", 1},
             {[](Machine& m) { m.unzipStatus = 9; }, "/usr/bin/unzip завершился с ошибкой", 1},
             {[](Machine& m) { m.linkedApp = true; }, "в архиве нет приложения", 1},
             {[](Machine& m) { m.h.fake.launchError = "Resource unavailable"; },
              "Resource unavailable", 1},
             // The script deletes its target: only an absolute path named like our bundle will do.
             {[](Machine& m) { m.h.fake.bundleLocation = m.root; }, noBundle, 0},
             {[](Machine& m) { m.h.fake.bundleLocation = "ORVELA Timer.app"; }, noBundle, 0},
             {[](Machine& m) { m.h.fake.bundleLocation.reset(); }, noBundle, 0},
             // A folder nobody may change, root included (install_folder_test has the rest).
             {[](Machine& m) { m.h.fake.bundleLocation = "/sys/ORVELA Timer.app"; },
              "папку «/sys» нельзя изменить (", 0},
             {[](Machine& m) { m.h.app->update->zip = "@evil.test/mac/app-43.zip"; }, elsewhere, 0},
             // A build with a release key: unsigned, signed by another key, an archive swapped
             // together with its checksum, a broken key in the build.
             {[](Machine& m) { m.carryKey(m.key), m.h.app->update->signature.reset(); },
              "обновление не подписано", 0},
             {[](Machine& m) { m.carryKey(test::ReleaseKey()); }, badSignature, 1},
             {[](Machine& m) {
                  m.carryKey(m.key);
                  m.served = kArchive + " and a payload";
                  m.h.app->update->sha256 = *sha256Hex(m.served);
              },
              badSignature, 1},
             {[](Machine& m) {
                  m.carryKey(m.key);
                  m.h.fake.bundle["OrvelaReleasePublicKey"] = "AAAA";
              },
              "в этой сборке испорчен ключ проверки обновлений", 1}}) {
        SCOPED_TRACE(description);
        Machine m;
        arrange(m);
        m.confirmAndRun();
        const auto& fake = m.h.fake;
        ASSERT_EQ(fake.alerts.size(), 2u);
        EXPECT_EQ(fake.alerts[1].message, "Обновление не установилось");
        EXPECT_TRUE(fake.alerts[1].informative.starts_with(description))
            << fake.alerts[1].informative;
        EXPECT_TRUE(!m.h.app->updating && m.h.app->update && fake.terminations == 0);
        EXPECT_EQ(m.asked.size(), fetched ? 1u : 0u);
        EXPECT_TRUE(fake.detachedLaunches.empty());
        // Nothing is written before the archive is known good.
        EXPECT_EQ(fs::exists(m.work), !fake.processRuns.empty());
    }
}

}  // namespace
}  // namespace orvela
