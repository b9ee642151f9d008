// The hand-over script: its text, the environment it gets, and what it does when /bin/sh runs
// it for real on a bundle in a temporary folder while "the app" (a sleeping child) is alive.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/temp_home.hpp"
#include "update/handover_script.hpp"

extern char** environ;

namespace orvela {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::string::size_type from = 0;
    for (;;) {
        const auto feed = text.find('\n', from);
        result.push_back(text.substr(from, feed - from));
        if (feed == std::string::npos) return result;
        from = feed + 1;
    }
}

TEST(HandoverScript, TextForProcess4242) {
    const std::string script = handoverScript(4242);
    EXPECT_NE(script.back(), '\n');
    EXPECT_EQ(
        lines(script),
        (std::vector<std::string>{
            "while kill -0 4242 2>/dev/null; do sleep 0.2; done",
            "# Сначала копия рядом, потом подмена — сбой копирования не оставит без приложения",
            R"(rm -rf "$TARGET.new" && cp -a "$FRESH" "$TARGET.new" && rm -rf "$TARGET" && mv "$TARGET.new" "$TARGET")",
            ":",
            R"(setsid "$TARGET/bin/orvela-timer" >/dev/null 2>&1 </dev/null &)",
            R"(rm -rf "$WORK")",
        }));
}

TEST(HandoverScript, EnvironmentIsThePathsAndTheSessionOnly) {
    const std::map<std::string, std::string> process = {
        {"DISPLAY", ":1"},
        {"WAYLAND_DISPLAY", ""},  // set but empty: not passed on
        {"XDG_RUNTIME_DIR", "/run/user/1000"},
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus"},
        {"HOME", "/home/u"},
        {"PATH", "/usr/bin"},
        {"LD_PRELOAD", "/tmp/evil.so"},
        {"TARGET", "/somewhere/else"},
    };
    const auto environment = handoverEnvironment(
        "/home/u/Applications/ORVELA Timer.app", "/run/user/1000/orvela-update-43/ORVELA Timer.app",
        "/run/user/1000/orvela-update-43", [&process](const std::string& name) {
            const auto found = process.find(name);
            return found == process.end() ? std::nullopt
                                          : std::optional<std::string>(found->second);
        });
    EXPECT_EQ(environment, (std::map<std::string, std::string>{
                               {"TARGET", "/home/u/Applications/ORVELA Timer.app"},
                               {"FRESH", "/run/user/1000/orvela-update-43/ORVELA Timer.app"},
                               {"WORK", "/run/user/1000/orvela-update-43"},
                               {"DISPLAY", ":1"},
                               {"XDG_RUNTIME_DIR", "/run/user/1000"},
                               {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus"},
                               {"HOME", "/home/u"},
                           }));
}

// ---------------------------------------------------------------- run for real

pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            bool inherit = false) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> pairs;
    for (const auto& [k, v] : env) pairs.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& p : pairs) envp.push_back(p.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, args[0], nullptr, nullptr, args.data(),
                      inherit ? environ : envp.data()) != 0)
        return -1;
    return pid;
}

bool exitedWithin(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

bool appears(const fs::path& path, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (fs::exists(path)) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A bundle whose program writes `marker` into $HOME when it starts.
void makeBundle(const fs::path& bundle, const std::string& marker) {
    fs::create_directories(bundle / "bin");
    const fs::path program = bundle / "bin" / "orvela-timer";
    std::ofstream(program) << "#!/bin/sh\necho started > \"$HOME/" << marker << "\"\n";
    fs::permissions(program, fs::perms::owner_all);
    std::ofstream(bundle / "version") << marker;
}

struct Stage {
    test::TempHome home;
    const fs::path target = home.path() / "Applications" / "ORVELA Timer.app";
    const fs::path work = home.path() / "run" / "orvela-update-43";
    fs::path fresh = work / "ORVELA Timer.app";

    Stage() {
        makeBundle(target, "old");
        makeBundle(fresh, "new");
        std::ofstream(work / "app.zip") << "zip";
    }
    // Runs the script as the app would hand it over; returns the script's process.
    pid_t handOver(pid_t waitFor) {
        return spawn({"/bin/sh", "-c", handoverScript(waitFor)}, {{"TARGET", target.string()},
                                                                  {"FRESH", fresh.string()},
                                                                  {"WORK", work.string()},
                                                                  {"HOME", home.path().string()}});
    }
};

TEST(HandoverScriptRun, WaitsForTheAppThenSwapsRelaunchesAndCleansUp) {
    struct Case {
        const char* name;
        std::function<void(Stage&)> arrange;
        std::string installed;  // the bundle's version afterwards, and the one that started
    };
    const std::vector<Case> cases = {
        {"clean swap", [](Stage&) {}, "new"},
        {"stale staging copy from an interrupted run",
         [](Stage& s) { fs::create_directories(fs::path(s.target.string() + ".new") / "junk"); },
         "new"},
        {"copy fails: the old bundle stays and starts again",
         [](Stage& s) { s.fresh = s.work / "missing.app"; }, "old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Stage stage;
        c.arrange(stage);
        const pid_t app = spawn({"/bin/sleep", "30"}, {}, true);
        ASSERT_GT(app, 0);
        const pid_t script = stage.handOver(app);
        ASSERT_GT(script, 0);

        // While the app lives, nothing is touched.
        EXPECT_FALSE(exitedWithin(script, 600ms));
        EXPECT_EQ(slurp(stage.target / "version"), "old");
        EXPECT_TRUE(fs::exists(stage.work));

        // The app quits (and is reaped, as its parent would).
        ::kill(app, SIGTERM);
        ::waitpid(app, nullptr, 0);
        ASSERT_TRUE(exitedWithin(script, 5000ms));

        EXPECT_EQ(slurp(stage.target / "version"), c.installed);
        EXPECT_FALSE(fs::exists(stage.target / "junk"));
        EXPECT_FALSE(fs::exists(stage.target / "ORVELA Timer.app"));
        EXPECT_FALSE(fs::exists(stage.target.string() + ".new"));
        EXPECT_FALSE(fs::exists(stage.work));
        EXPECT_TRUE(appears(stage.home.path() / c.installed, 5000ms));
        EXPECT_FALSE(fs::exists(stage.home.path() / (c.installed == "new" ? "old" : "new")));
        // Nothing outside the bundle, its staging name and the work directory was removed.
        EXPECT_TRUE(fs::exists(stage.home.path() / "Applications"));
        EXPECT_TRUE(fs::exists(stage.home.path() / "run"));
    }
}

}  // namespace
}  // namespace orvela
