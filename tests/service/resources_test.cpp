// The agenda record, the placeholder pages, the release folder and the command line.

#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>

#include "dev-service/options.hpp"
#include "service_harness.hpp"

namespace orvela::dev::testing {
namespace {

namespace fs = std::filesystem;

std::string localDay(double ms, int dayOffset) {
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    parts.tm_mday += dayOffset;
    parts.tm_hour = 12;
    parts.tm_isdst = -1;
    seconds = std::mktime(&parts);
    localtime_r(&seconds, &parts);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
    return text;
}

TEST(Agenda, ItemsHaveTheClientsShapeForTodayAndTomorrow) {
    Harness h;
    const auto res = h.get("/api/ext/agenda");
    ASSERT_EQ(status(res), 200);
    const json reply = body(res);
    EXPECT_EQ(reply.value("success", false), true);
    EXPECT_EQ(reply.value("today", ""), localDay(h.now, 0));
    ASSERT_TRUE(reply["items"].is_array());
    ASSERT_GE(reply["items"].size(), 3u);

    const std::set<std::string> allowed = {"id",     "title", "date", "start",   "end",
                                           "allDay", "kind",  "icon", "location"};
    const std::set<std::string> days = {localDay(h.now, 0), localDay(h.now, 1)};
    bool allDayWithIcon = false, withLocation = false, startOnly = false;
    for (const json& item : reply["items"]) {
        SCOPED_TRACE(item.dump());
        for (const auto& [key, value] : item.items()) EXPECT_TRUE(allowed.count(key)) << key;
        EXPECT_TRUE(item["id"].is_number_integer());
        EXPECT_TRUE(item["title"].is_string());
        EXPECT_TRUE(item["start"].is_number());
        EXPECT_TRUE(item["allDay"].is_boolean());
        EXPECT_TRUE(item["kind"].is_string());
        for (const char* optional : {"end", "icon", "location"}) {
            if (item.contains(optional)) {
                EXPECT_FALSE(item[optional].is_null());
            }
        }
        EXPECT_TRUE(item.contains("end") ? item["end"].is_number() : true);
        ASSERT_TRUE(item["date"].is_string());
        const std::string date = item["date"];
        EXPECT_TRUE(days.count(date));
        // The date is the local day the entry starts on.
        EXPECT_EQ(date, localDay(item["start"].get<double>(), 0));
        allDayWithIcon |= item["allDay"].get<bool>() && item.contains("icon");
        withLocation |= item.contains("location") && item["location"].is_string();
        startOnly |= !item.contains("end") && !item["allDay"].get<bool>();
    }
    EXPECT_TRUE(allDayWithIcon);
    EXPECT_TRUE(withLocation);
    EXPECT_TRUE(startOnly);
}

TEST(Pages, PlaceholdersAreUtf8HtmlThatSayWhatTheyAre) {
    Harness h;
    struct Case {
        std::string path;
        std::string mustShow;
    };
    const std::vector<Case> cases = {
        {"/planner.html", "Планировщик"},
        {"/planner.html?date=2026-12-05", "2026-12-05"},
        {"/planner.html?date=%3Cscript%3E", "&lt;script&gt;"},
        {"/settings.html", "id=\"mac-app\""},
        {"/settings.html", "id=\"apps\""},
        {"/device.html", "Вход с устройства"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto res = h.get(c.path, "");
        ASSERT_EQ(status(res), 200);
        EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
        EXPECT_NE(res->body.find("Локальная замена сервиса ORVELA"), std::string::npos);
        EXPECT_NE(res->body.find(c.mustShow), std::string::npos);
        EXPECT_EQ(res->body.find("<script>"), std::string::npos);
    }
}

TEST(Releases, WithoutAFolderTheManifestOffersNothing) {
    Harness h;
    const auto res = h.get("/mac/version.json", "");
    ASSERT_EQ(status(res), 200);
    const json manifest = body(res);
    EXPECT_TRUE(manifest["version"].is_string());
    EXPECT_EQ(manifest["build"], 0);
    EXPECT_TRUE(manifest["build"].is_number_integer());
    EXPECT_TRUE(manifest["zip"].is_string());
    EXPECT_TRUE(manifest["sha256"].is_string());
    EXPECT_EQ(status(h.get("/mac/app-13.zip", "")), 404);
}

TEST(Releases, FilesOfTheFolderAreServedAndNothingOutsideIt) {
    const fs::path root =
        fs::temp_directory_path() / ("orvela-releases-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "site" / "mac");
    auto write = [](const fs::path& file, const std::string& bytes) {
        std::ofstream(file, std::ios::binary) << bytes;
    };
    const std::string manifest =
        R"({"version":"1.3","build":13,"zip":"/mac/app-13.zip","sha256":"ab"})";
    static constexpr char kArchive[] = "PK\x03\x04\0\x01\xff binary";
    const std::string archive(kArchive, sizeof kArchive - 1);
    write(root / "site" / "version.json", manifest);
    write(root / "site" / "mac" / "app-13.zip", archive);
    write(root / "secret.txt", "secret");
    fs::create_symlink(root / "secret.txt", root / "site" / "mac" / "link.zip");

    Options options;
    options.releaseDir = root / "site";
    Harness h(options);
    auto res = h.get("/mac/version.json", "");
    ASSERT_EQ(status(res), 200);
    EXPECT_EQ(res->body, manifest);
    res = h.get("/mac/app-13.zip", "");
    ASSERT_EQ(status(res), 200);
    EXPECT_EQ(res->body, archive);
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/zip");

    for (const char* outside : {"/../secret.txt", "/mac/../../secret.txt", "/%2e%2e/secret.txt",
                                "/mac/link.zip", "/mac", "/mac/missing.zip"}) {
        SCOPED_TRACE(outside);
        res = h.get(outside, "");
        EXPECT_EQ(status(res), 404);
        if (res) {
            EXPECT_EQ(res->body.find("secret"), std::string::npos);
        }
    }
    fs::remove_all(root);
}

TEST(Listening, ABusyPortIsRefusedNotShared) {
    Harness first;
    Options options;
    options.port = first.service->port();
    DevService second(options);
    EXPECT_THROW(second.start(), std::runtime_error);
    EXPECT_EQ(status(first.get("/api/ext/pomodoro")), 200);
}

TEST(CommandLine, OptionsAndPlans) {
    struct Case {
        std::vector<std::string> args;
        bool ok;
    };
    const std::vector<Case> cases = {
        {{}, true},
        {{"--port", "0", "--no-timer", "--title", "Задача"}, true},
        {{"--plan", "work:0.1,rest:0.1", "--auto-approve", "2.5"}, true},
        {{"--port", "65536"}, false},
        {{"--port", "80x"}, false},
        {{"--port"}, false},
        {{"--token", "two words"}, false},
        {{"--auto-approve", "601"}, false},
        {{"--plan", "work:25,,rest:5"}, false},
        {{"--plan", "work:-1"}, false},
        {{"--plan", "work:inf"}, false},
        {{"--plan", ":5"}, false},
        {{"--plan", "work"}, false},
        {{"--release-dir", "/nonexistent/orvela"}, false},
        {{"--verbose"}, false},
    };
    for (const auto& c : cases) {
        const CommandLine line = parseCommandLine(c.args);
        EXPECT_EQ(line.options.has_value(), c.ok) << ::testing::PrintToString(c.args);
        EXPECT_EQ(line.error.empty(), c.ok) << line.error;
    }
    const CommandLine line = parseCommandLine({"--plan", "work:0.1,rest:5", "--port", "0"});
    ASSERT_TRUE(line.options);
    EXPECT_EQ(line.options->port, 0);
    EXPECT_EQ(line.options->plan, (std::vector<PlanPhase>{{"work", 0.1}, {"rest", 5}}));
    EXPECT_TRUE(parseCommandLine({"--port", "1", "--help"}).help);
}

}  // namespace
}  // namespace orvela::dev::testing
