// The agenda record, the placeholder pages, the release folder, the listening port and the
// command line.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "dev-service/options.hpp"
#include "service_harness.hpp"

namespace orvela::dev::testing {
namespace {

namespace fs = std::filesystem;

std::string localDate(double ms) {
    const auto seconds = static_cast<std::time_t>(ms / 1000);
    std::tm parts{};
    char text[16];
    std::strftime(text, sizeof text, "%F", localtime_r(&seconds, &parts));
    return text;
}

// Entries for today and tomorrow, each dated by the local day it starts on, with exactly the
// keys and JSON types the client decodes, and the three shapes it draws differently.
TEST(Agenda, ItemsHaveTheClientsShapeForTodayAndTomorrow) {
    Harness h;
    const json reply = body(h.get("/api/ext/agenda"));
    EXPECT_EQ(reply.value("success", false), true);
    EXPECT_EQ(reply.value("today", ""), localDate(h.now));
    const std::set<std::string> days = {localDate(h.now), localDate(h.now + 24 * 60 * kMinute)};
    std::set<std::string> shapes;
    for (const json& item : reply.at("items")) {
        SCOPED_TRACE(item.dump());
        std::string shape;
        for (const auto& [key, value] : item.items()) shape += key + ":" + value.type_name() + " ";
        shapes.insert(shape);
        EXPECT_TRUE(item["id"].is_number_integer());
        EXPECT_TRUE(days.contains(item.value("date", "")));
        EXPECT_EQ(item.value("date", ""), localDate(item["start"].get<double>()));
    }
    EXPECT_EQ(shapes,
              (std::set<std::string>{
                  "allDay:boolean date:string end:number icon:string id:number kind:string "
                  "start:number title:string ",
                  "allDay:boolean date:string end:number id:number kind:string location:string "
                  "start:number title:string ",
                  "allDay:boolean date:string id:number kind:string start:number title:string "}));
}

TEST(Pages, PlaceholdersAreUtf8HtmlThatSayWhatTheyAre) {
    Harness h;
    for (const auto& [path, mustShow] : std::vector<std::pair<std::string, std::string>>{
             {"/planner.html?date=%3Cscript%3E", "&lt;script&gt;"},
             {"/settings.html", "id=\"mac-app\""},
             {"/device.html", "Вход с устройства"}}) {
        SCOPED_TRACE(path);
        const auto res = h.get(path, "");
        ASSERT_EQ(status(res), 200);
        EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
        EXPECT_NE(res->body.find("Локальная замена сервиса ORVELA"), std::string::npos);
        EXPECT_NE(res->body.find(mustShow), std::string::npos);
        EXPECT_EQ(res->body.find("<script>"), std::string::npos);
    }
}

// Without a folder the manifest offers build 0; with one, its files are served byte for byte
// and nothing outside it, whatever the path or a link inside says.
TEST(Releases, FilesOfTheFolderAreServedAndNothingOutsideIt) {
    Harness none;
    const json offered = body(none.get("/mac/version.json", ""));
    EXPECT_TRUE(offered["build"].is_number_integer() && offered["build"] == 0) << offered;
    EXPECT_TRUE(offered["zip"].is_string() && offered["sha256"].is_string()) << offered;

    const fs::path root =
        fs::temp_directory_path() / ("orvela-releases-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "site/mac");
    const std::string archive("PK\x03\x04\0\x01\xff binary", 14);
    std::ofstream(root / "site/mac/13.zip", std::ios::binary) << archive;
    std::ofstream(root / "secret.txt") << "secret";
    fs::create_symlink(root / "secret.txt", root / "site/mac/link.zip");
    Options options;
    options.releaseDir = root / "site";
    Harness h(options);
    EXPECT_EQ(h.get("/mac/13.zip", "")->body, archive);
    for (const char* outside : {"/../secret.txt", "/mac/../../secret.txt", "/%2e%2e/secret.txt",
                                "/mac/link.zip", "/mac", "/mac/missing.zip"})
        expectFailure(h.get(outside, ""), 404);
    fs::remove_all(root);
}

TEST(Listening, ABusyPortIsRefusedNotShared) {
    Harness first;
    Options options;
    options.port = first.service->port();
    EXPECT_THROW(DevService(options).start(), std::runtime_error);
    EXPECT_EQ(status(first.get("/api/ext/pomodoro")), 200);
}

// Arguments split at blanks; the token's tab stays inside it.
TEST(CommandLine, OptionsAndPlans) {
    auto parse = [](const std::string& line) {
        std::vector<std::string> args;
        for (std::istringstream in(line); in.good();) in >> args.emplace_back();
        return parseCommandLine(args);
    };
    EXPECT_TRUE(parse("--port 0 --no-timer --title Задача --auto-approve 2.5").options);
    for (const char* bad :
         {"--port 65536", "--port 80x", "--port", "--token two\x01words", "--auto-approve 601",
          "--plan work:25,,rest:5", "--plan work:-1", "--plan work:inf", "--plan :5",
          "--release-dir /nonexistent/orvela", "--verbose"}) {
        const CommandLine line = parse(bad);
        EXPECT_FALSE(line.options) << bad;
        EXPECT_FALSE(line.error.empty()) << bad;
    }
    const CommandLine line = parse("--plan work:0.1,rest:5");
    ASSERT_TRUE(line.options);
    EXPECT_EQ(line.options->plan, (std::vector<PlanPhase>{{"work", 0.1}, {"rest", 5}}));
    EXPECT_TRUE(parse("--port 1 --help").help);
}

}  // namespace
}  // namespace orvela::dev::testing
