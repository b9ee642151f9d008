// The hand-over script: its text, the environment it gets, and what /bin/sh does with it on a
// bundle in a temporary folder while "the app" (a sleeping child) is alive.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <thread>

#include "client/temp_home.hpp"
#include "update/handover_script.hpp"

namespace orvela {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Env = std::map<std::string, std::string>;

TEST(HandoverScript, TextForProcess4242) {
    EXPECT_EQ(
        handoverScript(4242),
        "while kill -0 4242 2>/dev/null; do sleep 0.2; done\n"
        "# Сначала копия рядом, потом подмена — сбой копирования не оставит без приложения\n"
        R"(rm -rf "$TARGET.new" && cp -a "$FRESH" "$TARGET.new" && rm -rf "$TARGET" && mv "$TARGET.new" "$TARGET")"
        "\n"
        ":\n"
        R"(setsid "$TARGET/bin/orvela-timer" >/dev/null 2>&1 </dev/null &)"
        "\n"
        R"(rm -rf "$WORK")");
}

// The three paths and the set, non-empty session variables; never PATH, LD_PRELOAD, or a
// TARGET of the caller's.
TEST(HandoverScript, EnvironmentIsThePathsAndTheSessionOnly) {
    const Env process = {{"DISPLAY", ":1"},    {"WAYLAND_DISPLAY", ""}, {"XAUTHORITY", "/run/a"},
                         {"PATH", "/usr/bin"}, {"LD_PRELOAD", "/e.so"}, {"TARGET", "/elsewhere"}};
    auto lookup = [&process](const std::string& name) -> std::optional<std::string> {
        return process.contains(name) ? std::optional(process.at(name)) : std::nullopt;
    };
    EXPECT_EQ(handoverEnvironment("/t/ORVELA Timer.app", "/w/ORVELA Timer.app", "/w", lookup),
              (Env{{"TARGET", "/t/ORVELA Timer.app"},
                   {"FRESH", "/w/ORVELA Timer.app"},
                   {"WORK", "/w"},
                   {"DISPLAY", ":1"},
                   {"XAUTHORITY", "/run/a"}}));
}

pid_t spawn(const std::vector<std::string>& argv, const Env& env) {
    std::vector<std::string> pairs;
    for (const auto& [k, v] : env) pairs.push_back(k + "=" + v);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (auto& p : pairs) envp.push_back(p.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = -1;
    return ::posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), envp.data()) ? -1 : pid;
}

bool within(std::chrono::milliseconds limit, const std::function<bool()>& done) {
    for (auto end = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(10ms))
        if (done()) return true;
    return false;
}

// The script run for real: nothing moves while the app lives; then the swap (or, when the copy
// fails, the old bundle kept), the relaunch, and only our own paths removed.
TEST(HandoverScriptRun, WaitsForTheAppThenSwapsRelaunchesAndCleansUp) {
    struct Case {
        const char* name;
        bool staleStaging, freshMissing;
        std::string installed;
    };
    for (const Case& c : {Case{"clean swap", false, false, "new"},
                          Case{"stale staging copy of an interrupted run", true, false, "new"},
                          Case{"copy fails: the old bundle stays", false, true, "old"}}) {
        SCOPED_TRACE(c.name);
        test::TempHome home;
        const fs::path target = home.path() / "Applications/ORVELA Timer.app";
        const fs::path work = home.path() / "run/orvela-update-43";
        // Each bundle's program leaves a file named after its version in $HOME when it starts.
        for (const auto& [bundle, version] :
             {std::pair{target, "old"}, {work / "ORVELA Timer.app", "new"}}) {
            home.put(bundle / "bin/orvela-timer",
                     "#!/bin/sh\ntouch \"$HOME/" + std::string(version) + "\"\n");
            fs::permissions(bundle / "bin/orvela-timer", fs::perms::owner_all);
            home.put(bundle / "version", version);
        }
        if (c.staleStaging) home.put("Applications/ORVELA Timer.app.new/junk", "");
        const fs::path fresh = work / (c.freshMissing ? "missing.app" : "ORVELA Timer.app");
        const pid_t app = spawn({"/bin/sleep", "30"}, {});
        ASSERT_GT(app, 0);
        const Env env = {
            {"TARGET", target}, {"FRESH", fresh}, {"WORK", work}, {"HOME", home.path()}};
        const pid_t script = spawn({"/bin/sh", "-c", handoverScript(app)}, env);
        ASSERT_GT(script, 0);
        auto scriptEnded = [script] { return ::waitpid(script, nullptr, WNOHANG) == script; };

        EXPECT_FALSE(within(600ms, scriptEnded));
        EXPECT_EQ(test::TempHome::read(target / "version"), "old");
        EXPECT_TRUE(fs::exists(work));

        ::kill(app, SIGTERM);
        ::waitpid(app, nullptr, 0);  // reaped, as its parent would: a zombie still "exists"
        ASSERT_TRUE(within(5000ms, scriptEnded));
        EXPECT_EQ(test::TempHome::read(target / "version"), c.installed);
        EXPECT_FALSE(fs::exists(work));
        EXPECT_TRUE(fs::exists(home.path() / "run"));
        EXPECT_TRUE(within(5000ms, [&] { return fs::exists(home.path() / c.installed); }));
        EXPECT_FALSE(fs::exists(home.path() / (c.installed == "new" ? "old" : "new")));
    }
}

}  // namespace
}  // namespace orvela
