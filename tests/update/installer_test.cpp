// Installing a release on the fake platform with real files: the one path that ends in the
// hand-over, and every failure, each of which must leave the app as it was (offer kept, no
// installation running) and say why in one alert.
#include <gtest/gtest.h>

#include <cstring>

#include "client/app_harness.hpp"
#include "update/handover_script.hpp"
#include "update/installer.hpp"
#include "update/sha256.hpp"

namespace orvela {
namespace {

namespace fs = std::filesystem;

const std::string kArchive = "PK\x03\x04 the bytes of release 43";

// The digest itself, and the manifest's text matched in either case but never tidied.
TEST(Checksum, HexDigestAndManifestComparison) {
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string digest = *sha256Hex(kArchive);
    std::string upper = digest;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const auto& [manifest, matches] : std::vector<std::pair<std::string, bool>>{
             {digest, true}, {upper, true}, {digest + " ", false}, {digest.substr(1), false}})
        EXPECT_EQ(checksumMatches(kArchive, manifest), matches) << "[" << manifest << "]";
}

// A user's machine in a temporary folder: the installed bundle, the private temporary
// directory, a download that yields `served` (nothing: no file) and an unpacker that lays out
// `unpacked`, exits with `unzipStatus` (none: cannot start) and may plant a link as the app.
struct Machine {
    Machine() {
        h.fake.bundleLocation = bundle.string();
        h.fake.tempDir = (root / "run").string();
        fs::create_directories(root / "run");
        h.home.put(bundle / "bin/orvela-timer", "old");
        h.app->update = ReleaseInfo{"1.5", 43, {}, "/mac/app-43.zip", *sha256Hex(kArchive)};
        h.fake.downloadHandler = [this](const HttpRequest& r) {
            asked.push_back(r);
            if (!downloadError.empty()) return DownloadResult{std::nullopt, downloadError};
            if (served) h.home.put("downloads/1", *served);
            return DownloadResult{(root / "downloads/1").string(), {}};
        };
        h.fake.runHandler = [this](const std::string&, const std::vector<std::string>&) {
            h.home.put(work / unpacked, "new");
            if (linkedApp) fs::create_directory_symlink(root, work / "ORVELA Timer.app");
            if (!unzipStatus) return ProcessResult{std::nullopt, "No such file or directory"};
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
    const fs::path work = root / "run/orvela-update-43";
    std::vector<HttpRequest> asked;
    std::string downloadError;
    std::optional<std::string> served = kArchive;
    fs::path unpacked = "ORVELA Timer.app/bin/orvela-timer";
    std::optional<int> unzipStatus = 0;
    bool linkedApp = false;
};

TEST(Installer, ConfirmedInstallationHandsOverAndQuits) {
    Machine m;
    m.h.home.put(m.work / "leftover.txt", "from an earlier attempt");
    m.h.app->token = "secret";
    m.confirmAndRun();
    const auto& fake = m.h.fake;
    ASSERT_EQ(fake.alerts.size(), 1u);
    EXPECT_EQ(fake.alerts[0].buttons, (std::vector<std::string>{"Обновить", "Позже"}));
    EXPECT_EQ(fake.activations, 1);
    ASSERT_EQ(m.asked.size(), 1u);
    EXPECT_EQ(m.asked[0].url, std::string(test::kBase) + "/mac/app-43.zip");
    EXPECT_TRUE(m.asked[0].headers.empty());  // the archive needs no token

    // The archive checked, written into a fresh private work directory and unpacked there.
    ASSERT_EQ(fake.processRuns.size(), 1u);
    EXPECT_EQ(fake.processRuns[0].path, "/usr/bin/unzip");
    EXPECT_EQ(fake.processRuns[0].arguments,
              (std::vector<std::string>{"-q", "-o", m.work / "app.zip", "-d", m.work}));
    EXPECT_EQ(test::TempHome::read(m.work / "app.zip"), kArchive);
    EXPECT_FALSE(fs::exists(m.work / "leftover.txt"));
    EXPECT_EQ(fs::status(m.work).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_FALSE(fs::exists(m.root / "downloads/1"));

    ASSERT_EQ(fake.detachedLaunches.size(), 1u);
    const auto& launch = fake.detachedLaunches[0];
    EXPECT_EQ(launch.path, "/bin/sh");
    EXPECT_EQ(launch.arguments, (std::vector<std::string>{"-c", handoverScript(4242)}));
    EXPECT_EQ(launch.environment.at("TARGET"), m.bundle);
    EXPECT_EQ(launch.environment.at("FRESH"), m.work / "ORVELA Timer.app");
    EXPECT_EQ(launch.environment.at("WORK"), m.work);
    EXPECT_FALSE(launch.environment.contains("PATH"));
    EXPECT_EQ(fake.terminations, 1);
    EXPECT_TRUE(m.h.app->updating);
    // The installed bundle is the script's business, after we are gone.
    EXPECT_EQ(test::TempHome::read(m.bundle / "bin/orvela-timer"), "old");
}

// Nothing is fetched or written without a confirmed offer that makes an address.
TEST(Installer, NothingHappensWithoutAConfirmableOffer) {
    for (const auto& [arrange, alerts] : std::vector<std::pair<void (*)(App&), std::size_t>>{
             {[](App& a) { a.update.reset(); }, 0},
             {[](App& a) { a.updating = true; }, 0},
             {[](App& a) { a.update->zip = "/mac/app 43.zip"; }, 0},
             {[](App&) {}, 1}}) {  // the confirmation closed: "Позже"
        Machine m;
        arrange(*m.h.app);
        const bool wasUpdating = m.h.app->updating;
        m.h.app->installUpdate();
        m.h.fake.runPending();
        EXPECT_EQ(m.h.fake.alerts.size(), alerts);
        EXPECT_EQ(m.h.app->updating, wasUpdating);
        EXPECT_TRUE(m.asked.empty());
    }
}

TEST(Installer, EveryFailureIsOneAlertAndLeavesTheOfferInPlace) {
    const std::string corrupt = "архив повреждён (контрольная сумма не совпала)";
    const std::string noApp = "в архиве нет приложения";
    const std::string noBundle = "приложение запущено не из установленной папки «ORVELA Timer.app»";
    for (const auto& [arrange, description] :
         std::vector<std::pair<void (*)(Machine&), std::string>>{
             {[](Machine& m) { m.downloadError = "Connection refused"; }, "Connection refused"},
             {[](Machine& m) { m.served.reset(); }, std::strerror(ENOENT)},
             {[](Machine& m) { m.served = "<html>404</html>"; }, corrupt},
             {[](Machine& m) { fs::remove(m.root / "run"), m.h.home.put("run", "a file"); },
              std::strerror(ENOTDIR)},
             {[](Machine& m) { m.unzipStatus = 9; }, "/usr/bin/unzip завершился с ошибкой"},
             {[](Machine& m) { m.unzipStatus.reset(); }, "No such file or directory"},
             {[](Machine& m) { m.unpacked = "release/ORVELA Timer.app/bin/orvela-timer"; }, noApp},
             {[](Machine& m) { m.unpacked = "README", m.linkedApp = true; }, noApp},
             {[](Machine& m) { m.h.fake.launchError = "Resource unavailable"; },
              "Resource unavailable"},
             {[](Machine& m) { m.h.fake.bundleLocation.reset(); }, noBundle},
             // The script deletes its target: only an absolute path named like our bundle will do.
             {[](Machine& m) { m.h.fake.bundleLocation = m.root; }, noBundle},
             {[](Machine& m) { m.h.fake.bundleLocation = "ORVELA Timer.app"; }, noBundle},
             {[](Machine& m) { m.h.fake.bundleLocation = m.bundle / ".."; }, noBundle}}) {
        SCOPED_TRACE(description);
        Machine m;
        arrange(m);
        m.confirmAndRun();
        const auto& fake = m.h.fake;
        ASSERT_EQ(fake.alerts.size(), 2u);
        EXPECT_EQ(fake.alerts[1].message, "Обновление не установилось");
        EXPECT_EQ(fake.alerts[1].informative, description);
        EXPECT_FALSE(m.h.app->updating);
        EXPECT_EQ(m.h.app->update.value_or(ReleaseInfo{}).build, 43);
        EXPECT_EQ(fake.terminations, 0);
        EXPECT_TRUE(fake.detachedLaunches.empty());
        EXPECT_EQ(m.asked.size(), description == noBundle ? 0u : 1u);
        EXPECT_EQ(test::TempHome::read(m.bundle / "bin/orvela-timer"), "old");
        // Nothing is written before the archive is known good and a bundle of ours exists.
        EXPECT_EQ(fs::exists(m.work), !fake.processRuns.empty());
    }
}

}  // namespace
}  // namespace orvela
