// Installing a release on the fake platform with real files: the confirmation, the one path
// that ends in the hand-over, and every failure, each of which must leave the app as it was
// (offer in the menu, no installation running) and say why in one alert.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "client/app_harness.hpp"
#include "update/handover_script.hpp"
#include "update/installer.hpp"
#include "update/sha256.hpp"

namespace orvela {
namespace {

namespace fs = std::filesystem;
using test::AppHarness;

const std::string kArchive = "PK\x03\x04 the bytes of release 43";

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(Checksum, HexDigestAndManifestComparison) {
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string digest = *sha256Hex(kArchive);
    std::string upper = digest;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::vector<std::pair<std::string, bool>> manifests = {
        {digest, true},        {upper, true},          {digest + " ", false},
        {" " + digest, false}, {digest + "\n", false}, {digest.substr(0, 63), false},
        {"", false},
    };
    for (const auto& [manifest, matches] : manifests) {
        SCOPED_TRACE("[" + manifest + "]");
        EXPECT_EQ(checksumMatches(kArchive, manifest), matches);
    }
}

TEST(Bundle, OnlyAnAbsoluteOrvelaBundleMayBeReplaced) {
    const std::string installed = "/home/u/Applications/ORVELA Timer.app";
    const std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>> cases = {
        {installed, installed},
        {"/home/u/x/../Applications/ORVELA Timer.app", installed},
        {std::nullopt, std::nullopt},
        {"ORVELA Timer.app", std::nullopt},
        {"/home/u/ORVELA Timer.app/..", std::nullopt},
    };
    for (const auto& [given, accepted] : cases) {
        const auto result = replaceableBundle(given);
        EXPECT_EQ(result ? std::optional(result->string()) : std::nullopt, accepted)
            << given.value_or("(none)");
    }
}

// A user's machine in a temporary folder: the installed bundle, the private temporary
// directory, a download that yields the archive, and an unpacker that lays out `unpacked`.
struct Machine {
    Machine() {
        fake().bundleLocation = bundle.string();
        fake().tempDir = temp.string();
        fs::create_directories(temp);
        write(bundle / "bin" / "orvela-timer", "old");
        app().update =
            ReleaseInfo{"1.5", 43, std::nullopt, "/mac/app-43.zip", *sha256Hex(kArchive)};
        fake().downloadHandler = [this](const HttpRequest&) {
            write(downloaded, served);
            return DownloadResult{downloaded.string(), {}};
        };
        fake().runHandler = [this](const std::string&, const std::vector<std::string>& args) {
            const fs::path into = args.back();
            for (const auto& relative : unpacked) write(into / relative, "new");
            return ProcessResult{unzipStatus, {}};
        };
    }

    test::FakePlatform& fake() { return h.fake; }
    App& app() { return *h.app; }

    // Chooses "Обновить" and lets the download's continuation run.
    void confirmAndRun() {
        fake().alertAnswers.push_back({0, {}});
        app().installUpdate();
        fake().runPending();
    }

    // The update item as the menu shows it now.
    std::optional<MenuItem> updateItem() {
        std::vector<MenuItem> items;
        app().menuNeedsUpdate(items);
        for (const auto& item : items)
            if (item.title.find("1.5") != std::string::npos) return item;
        return std::nullopt;
    }

    AppHarness h;
    const fs::path root = h.home.path();
    const fs::path bundle = root / "Applications" / "ORVELA Timer.app";
    const fs::path temp = root / "run";
    const fs::path work = temp / "orvela-update-43";
    const fs::path downloaded = root / "downloads" / "orvela-download-1";
    std::string served = kArchive;
    std::vector<fs::path> unpacked = {fs::path("ORVELA Timer.app") / "bin" / "orvela-timer"};
    int unzipStatus = 0;
};

class Installer : public ::testing::Test, protected Machine {};

TEST_F(Installer, ConfirmedInstallationHandsOverAndQuits) {
    write(work / "leftover.txt", "from an earlier attempt");
    app().token = "secret";
    std::vector<HttpRequest> asked;
    auto download = fake().downloadHandler;
    fake().downloadHandler = [&](const HttpRequest& r) {
        asked.push_back(r);
        return download(r);
    };
    confirmAndRun();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].url, std::string(test::kBase) + "/mac/app-43.zip");
    EXPECT_TRUE(asked[0].headers.empty());  // the archive needs no token

    ASSERT_EQ(fake().alerts.size(), 1u);
    EXPECT_EQ(fake().alerts[0].message, "Обновить ORVELA Timer до 1.5?");
    EXPECT_EQ(fake().alerts[0].informative, "Приложение перезапустится, таймер продолжит идти.");
    EXPECT_EQ(fake().alerts[0].buttons, (std::vector<std::string>{"Обновить", "Позже"}));
    EXPECT_EQ(fake().activations, 1);

    ASSERT_EQ(fake().processRuns.size(), 1u);
    EXPECT_EQ(fake().processRuns[0].path, "/usr/bin/unzip");
    EXPECT_EQ(
        fake().processRuns[0].arguments,
        (std::vector<std::string>{"-q", "-o", (work / "app.zip").string(), "-d", work.string()}));
    EXPECT_EQ(slurp(work / "app.zip"), kArchive);
    EXPECT_FALSE(fs::exists(work / "leftover.txt"));
    EXPECT_EQ(fs::status(work).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_FALSE(fs::exists(downloaded));

    ASSERT_EQ(fake().detachedLaunches.size(), 1u);
    const auto& launch = fake().detachedLaunches[0];
    EXPECT_EQ(launch.path, "/bin/sh");
    EXPECT_EQ(launch.arguments, (std::vector<std::string>{"-c", handoverScript(4242)}));
    EXPECT_EQ(launch.environment.at("TARGET"), bundle.string());
    EXPECT_EQ(launch.environment.at("FRESH"), (work / "ORVELA Timer.app").string());
    EXPECT_EQ(launch.environment.at("WORK"), work.string());
    EXPECT_EQ(launch.environment.count("PATH"), 0u);
    EXPECT_EQ(fake().terminations, 1);
    EXPECT_TRUE(app().updating);
    // The installed bundle is the script's business, after we are gone.
    EXPECT_EQ(slurp(bundle / "bin" / "orvela-timer"), "old");
}

TEST_F(Installer, NothingHappensWithoutAConfirmableOffer) {
    struct Case {
        const char* name;
        std::function<void(App&)> arrange;
        std::size_t alerts;
    };
    const std::vector<Case> cases = {
        {"no offer", [](App& a) { a.update.reset(); }, 0},
        {"already installing", [](App& a) { a.updating = true; }, 0},
        {"archive path makes no URL", [](App& a) { a.update->zip = "/mac/app 43.zip"; }, 0},
        {"later", [](App&) {}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool wasUpdating = c.name == std::string("already installing");
        app().update =
            ReleaseInfo{"1.5", 43, std::nullopt, "/mac/app-43.zip", *sha256Hex(kArchive)};
        app().updating = false;
        fake().alerts.clear();
        c.arrange(app());
        app().installUpdate();  // the alert, if any, is closed: "Позже"
        fake().runPending();
        EXPECT_EQ(fake().alerts.size(), c.alerts);
        EXPECT_EQ(app().updating, wasUpdating);
        EXPECT_TRUE(fake().processRuns.empty());
        EXPECT_FALSE(fs::exists(work));
    }
    app().updating = false;
    ASSERT_TRUE(updateItem());
    EXPECT_EQ(updateItem()->action, MenuAction::InstallUpdate);
}

TEST(InstallerFailures, EveryFailureIsOneAlertAndLeavesTheOfferInPlace) {
    const std::string noBundle = "приложение запущено не из установленной папки «ORVELA Timer.app»";
    struct Case {
        const char* name;
        std::function<void(Machine&)> arrange;
        std::string description;
        bool downloads = true;
    };
    const std::vector<Case> cases = {
        {"download fails",
         [](Machine& t) {
             t.fake().downloadHandler = [](const HttpRequest&) {
                 return DownloadResult{std::nullopt, "Connection refused"};
             };
         },
         "Connection refused"},
        {"downloaded file unreadable",
         [](Machine& t) {
             t.fake().downloadHandler = [&t](const HttpRequest&) {
                 return DownloadResult{(t.temp / "vanished").string(), {}};
             };
         },
         std::strerror(ENOENT)},
        {"an error page instead of the archive",
         [](Machine& t) { t.served = "<html>404 Not Found</html>"; },
         "архив повреждён (контрольная сумма не совпала)"},
        {"manifest checksum with a trailing blank",
         [](Machine& t) { t.app().update->sha256 += " "; },
         "архив повреждён (контрольная сумма не совпала)"},
        {"temporary directory is a file",
         [](Machine& t) {
             fs::remove_all(t.temp);
             write(t.temp, "not a folder");
         },
         std::error_code(ENOTDIR, std::generic_category()).message()},
        {"unpacker fails", [](Machine& t) { t.unzipStatus = 9; },
         "/usr/bin/unzip завершился с ошибкой"},
        {"unpacker cannot start",
         [](Machine& t) {
             t.fake().runHandler = [](const std::string&, const std::vector<std::string>&) {
                 return ProcessResult{std::nullopt, "No such file or directory"};
             };
         },
         "No such file or directory"},
        {"application one folder down",
         [](Machine& t) {
             t.unpacked = {fs::path("release") / "ORVELA Timer.app" / "bin" / "orvela-timer"};
         },
         "в архиве нет приложения"},
        {"leftover application from an earlier attempt is not taken for the new one",
         [](Machine& t) {
             write(t.work / "ORVELA Timer.app" / "bin" / "orvela-timer", "stale");
             t.unpacked = {"README"};
         },
         "в архиве нет приложения"},
        {"application is a link",
         [](Machine& t) {
             t.unpacked = {"elsewhere/bin/orvela-timer"};
             auto unzip = t.fake().runHandler;
             t.fake().runHandler = [unzip](const std::string& p,
                                           const std::vector<std::string>& a) {
                 ProcessResult r = unzip(p, a);
                 fs::create_directory_symlink("elsewhere", fs::path(a.back()) / "ORVELA Timer.app");
                 return r;
             };
         },
         "в архиве нет приложения"},
        {"script cannot start",
         [](Machine& t) { t.fake().launchError = "Resource temporarily unavailable"; },
         "Resource temporarily unavailable"},
        {"running from the build tree", [](Machine& t) { t.fake().bundleLocation.reset(); },
         noBundle, false},
        {"running from a folder of another name",
         [](Machine& t) { t.fake().bundleLocation = t.root.string(); }, noBundle, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Machine t;  // a fresh machine per case
        c.arrange(t);
        std::size_t downloads = 0;
        auto download = t.fake().downloadHandler;
        t.fake().downloadHandler = [&](const HttpRequest& r) {
            ++downloads;
            return download(r);
        };
        const std::string beforeSha = t.app().update->sha256;
        t.confirmAndRun();

        ASSERT_EQ(t.fake().alerts.size(), 2u);
        EXPECT_EQ(t.fake().alerts[1].message, "Обновление не установилось");
        EXPECT_EQ(t.fake().alerts[1].informative, c.description);
        EXPECT_EQ(t.fake().alerts[1].buttons.size(), 1u);
        EXPECT_FALSE(t.app().updating);
        ASSERT_TRUE(t.app().update);
        EXPECT_EQ(t.app().update->build, 43);
        EXPECT_EQ(t.app().update->sha256, beforeSha);
        EXPECT_EQ(t.fake().terminations, 0);
        EXPECT_TRUE(t.fake().detachedLaunches.empty());
        EXPECT_EQ(downloads, c.downloads ? 1u : 0u);
        EXPECT_EQ(slurp(t.bundle / "bin" / "orvela-timer"), "old");
        const auto item = t.updateItem();
        ASSERT_TRUE(item);
        EXPECT_EQ(item->title, "⬆ Обновить до версии 1.5…");
        EXPECT_TRUE(item->enabled);
        if (!c.downloads) {
            EXPECT_FALSE(fs::exists(t.work));
        }
    }
}

}  // namespace
}  // namespace orvela
