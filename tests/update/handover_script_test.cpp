// The hand-over script, also run by /bin/sh while "the app" (a sleeping child) is alive.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "client/temp_home.hpp"
#include "update/handover_script.hpp"

namespace orvela {
namespace {

namespace fs = std::filesystem;
using Env = std::map<std::string, std::string>;

pid_t spawn(std::vector<std::string> argv, const Env& env) {
    std::vector<std::string> entries;
    for (const auto& [name, value] : env) entries.push_back(name + "=" + value);
    std::vector<char*> args, envp;
    for (auto& a : argv) args.push_back(a.data());
    for (auto& e : entries) envp.push_back(e.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = -1;
    return ::posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), envp.data()) ? -1 : pid;
}

bool endsWithin(pid_t pid, int ms) {
    for (int i = 0; i < ms / 10; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return true;
    return false;
}

// The script run for real: nothing moves while the app lives; then a stale staging copy goes,
// the swap follows (or, when the copy fails, the old bundle stays), only our paths go, and the
// relaunched build starts with the app's own set-up.
TEST(HandoverScriptRun, WaitsForTheAppThenSwapsAndCleansUp) {
    for (const bool copyFails : {false, true}) {
        SCOPED_TRACE(copyFails ? "copy fails" : "swap");
        test::TempHome home;
        const fs::path target = home.path() / "Applications/ORVELA Timer.app";
        const fs::path work = home.path() / "run/orvela-update-43";
        home.put(target / "version", "old");
        home.put(work / "ORVELA Timer.app/version", "new");
        // Each build, once relaunched, writes down the environment it got.
        const char* relaunch =
            "#!/bin/sh\n/usr/bin/env > \"$ORVELA_TEST_OUT.tmp\"\n"
            "/bin/mv \"$ORVELA_TEST_OUT.tmp\" \"$ORVELA_TEST_OUT\"\n";
        for (const fs::path& app : {target, work / "ORVELA Timer.app"}) {
            home.put(app / "bin/orvela-timer", relaunch);
            fs::permissions(app / "bin/orvela-timer", fs::perms::owner_all);
        }
        for (const char* leftover : {".new", ".old"})  // of an interrupted run
            home.put(target.string() + leftover + "/junk", "");
        const fs::path fresh = work / (copyFails ? "missing.app" : "ORVELA Timer.app");
        const pid_t app = spawn({"/bin/sleep", "30"}, {});
        ASSERT_GT(app, 0);
        const fs::path out = home.path() / "relaunched-env";
        const Env user = {{"XDG_CONFIG_HOME", "/home/u/.cfg"},
                          {"SSL_CERT_FILE", "/etc/corp.pem"},
                          {"TZ", "Asia/Yekaterinburg"},
                          {"LANG", "ru_RU.UTF-8"},
                          {"PATH", "/usr/local/bin:/usr/bin:/bin"},
                          {"ORVELA_TEST_OUT", out}};
        const pid_t script = spawn({"/bin/sh", "-c", handoverScript(app)},
                                   handoverEnvironment(target, fresh, work, user));
        ASSERT_GT(script, 0);

        EXPECT_FALSE(endsWithin(script, 600));
        EXPECT_EQ(test::TempHome::read(target / "version"), "old");
        ::kill(app, SIGTERM);
        ::waitpid(app, nullptr, 0);  // reaped, as its parent would: a zombie still "exists"
        ASSERT_TRUE(endsWithin(script, 5000));
        EXPECT_EQ(test::TempHome::read(target / "version"), copyFails ? "old" : "new");
        EXPECT_FALSE(fs::exists(target.string() + ".new") || fs::exists(target.string() + ".old"));
        EXPECT_FALSE(fs::exists(work));
        EXPECT_TRUE(fs::exists(home.path() / "run"));
        for (int i = 0; i < 500 && !fs::exists(out); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(fs::exists(out)) << "nothing was relaunched";
        const std::string env = "\n" + test::TempHome::read(out);
        for (const auto& [name, value] : user)
            EXPECT_NE(env.find("\n" + name + "=" + value + "\n"), std::string::npos) << name << '\n'
                                                                                     << env;
    }
}

}  // namespace
}  // namespace orvela
