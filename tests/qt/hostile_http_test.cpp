// The HTTP client and the whole app against a service, network and machine that misbehave.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <fstream>

#include "qt/forwarding_platform.hpp"
#include "qt/hostile_server.hpp"
#include "qt/qt_wait.hpp"
#include "qt_http.hpp"
#include "shell/app.hpp"

namespace orvela::test {
namespace {

using Mode = HostileServer::Mode;

// Each transfer ends within its bounds however the service behaves, all at once: twelve stuck
// trickles first, and still every later request goes out and is answered at once.
TEST(HostileService, EveryTransferEndsWithinItsBoundsAndNoneWaitsForAnother) {
    HostileServer server;
    const std::string full(64 * 1024, 'x');
    for (auto [path, mode, body] : {std::tuple{"/ok", Mode::Answer, std::string("{}")},
                                    {"/full", Mode::Answer, full},
                                    {"/over", Mode::Answer, full + "x"},
                                    {"/trickle", Mode::Trickle, ""},
                                    {"/flood", Mode::Flood, ""},
                                    {"/stall", Mode::Stall, ""},
                                    {"/reset", Mode::Reset, ""},
                                    {"/garbage", Mode::Garbage, ""},
                                    {"/announced", Mode::Oversize, ""}})
        server.behave(path, mode, body);
    qt::HttpClient client;
    struct Case {
        std::string path;
        int status;
        double atLeast, atMost;  // seconds after sending
        std::optional<HttpResponse> answer = {};
        double took = 0;
    };
    std::vector<Case> cases;
    for (int i = 0; i < 12; ++i) cases.push_back({"/trickle", 0, 1.9, 2.6});  // the deadline
    for (Case c : std::vector<Case>{{"/ok", 200, 0, 0.5},
                                    {"/full", 200, 0, 0.5},  // exactly at the cap
                                    {"/over", 0, 0, 0.5},
                                    {"/flood", 0, 0, 0.5},
                                    {"/stall", 0, 0.9, 1.6},  // the inactivity timeout
                                    {"/reset", 0, 0, 0.5},
                                    {"/garbage", 0, 0, 0.5},
                                    {"/announced", 0, 0, 0.5}})
        cases.push_back(c);
    QElapsedTimer clock;
    clock.start();
    for (Case& c : cases) {
        if (c.path != "/trickle" && clock.elapsed() < 300) spin(300);  // trickles settle first
        HttpRequest request{"GET", server.url(c.path), {}, std::nullopt, 1};
        request.deadlineSeconds = 2;
        request.maxBodyBytes = full.size();
        const double sent = clock.elapsed() / 1000.0;
        client.send(request, [&c, &clock, sent](HttpResponse r) {
            c.took = clock.elapsed() / 1000.0 - sent;
            c.answer = std::move(r);
        });
    }
    EXPECT_GT(client.poolCount(), 1u);
    ASSERT_TRUE(waitUntil(
        [&] {
            return std::all_of(cases.begin(), cases.end(),
                               [](auto& c) { return c.answer.has_value(); });
        },
        5000));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.answer->status, c.status) << c.answer->error;
        EXPECT_EQ(c.answer->transportOk, c.status != 0);
        EXPECT_GE(c.took, c.atLeast);
        EXPECT_LE(c.took, c.atMost);
    }
    EXPECT_EQ(cases[13].answer->body, full);
    spin(50);
    EXPECT_EQ(client.poolCount(), 1u);  // the extra pools go once their requests are done
    EXPECT_TRUE(waitUntil([&] { return server.openConnections() == 0; }));
}

// A download keeps its own cap, and a write that fails (a full disk, played by a file size
// limit) ends it at once with the system's reason and no file left behind.
TEST(HostileService, ADownloadStopsAtItsCapAndAtAFullDisk) {
    HostileServer server;
    server.behave("/flood", Mode::Flood);
    server.behave("/archive", Mode::Answer, std::string(4 << 20, 'z'));
    QTemporaryDir folder;
    qt::HttpClient client;
    auto fetch = [&](const std::string& path) {
        std::optional<DownloadResult> result;
        HttpRequest request;
        request.url = server.url(path);
        request.maxBodyBytes = 8 << 20;
        client.download(request, folder.path(), [&](DownloadResult r) { result = r; });
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        return result.value_or(DownloadResult{});
    };
    EXPECT_NE(fetch("/flood").error.find("8388608"), std::string::npos);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 1 << 20;
    setrlimit(RLIMIT_FSIZE, &small);
    const DownloadResult full = fetch("/archive");
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(full.path);
    EXPECT_EQ(full.error, "File too large");
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
    EXPECT_TRUE(fetch("/archive").path);
}

// The real backend, with the one-second tick timed and no person at the desk.
class TimedDesk : public ForwardingPlatform {
public:
    std::vector<double> ticks;
    void startRepeatingTimer(double s, std::function<void()> tick) override {
        real_.startRepeatingTimer(s, [this, tick = std::move(tick)] {
            ticks.push_back(real_.monotonicSeconds());
            tick();
        });
    }
    AlertAnswer runAlert(const Alert& a) override { return {int(a.buttons.size()) - 1, {}}; }
    void activateApp() override {}
};

long rssMiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:")) return std::stol(line.substr(6)) / 1024;
    return -1;
}

// ASan keeps freed memory in quarantine (256 MiB) and its shadow grows with every allocation,
// so RSS says nothing about a leak or a flood there; the sanitizer build checks the rest.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kRssMeaningful = false;
#elif defined(__has_feature)
constexpr bool kRssMeaningful = !__has_feature(address_sanitizer);
#else
constexpr bool kRssMeaningful = true;
#endif

std::string timerReply(bool paused) {
    return R"({"success":true,"state":{"taskId":1,"title":"Отчёт","plan":[{"type":"work","min":25}],"startedAt":1e12)" +
           std::string(paused ? R"(,"pausedAt":1.1e12}})" : "}}");
}

// The whole app on the real backend: a 50 MB file in the token's place, then a flood on the
// timer and the agenda, then a service that trickles every poll. The app stays small, the
// countdown ticks every second, and the next command and poll still reach the service at once.
TEST(HostileService, TheAppStaysSmallAndOnTimeAndItsCommandsGetThrough) {
    HostileServer server;
    QTemporaryDir root;
    ScopedEnv home("HOME", root.path() + "/home"),
        config("XDG_CONFIG_HOME", root.path() + "/config");
    ASSERT_TRUE(writeFile(root.path() + "/config/orvela/orvela-timer.conf",
                          QByteArray::fromStdString("[General]\nOrvelaURL=" + server.url())));
    const QString tokenFile = root.path() + "/home/.config/orvela/token";
    ASSERT_TRUE(writeFile(tokenFile, QByteArray(50 << 20, 'a')));
    server.behave("/api/ext/pomodoro", Mode::Answer, timerReply(false));
    server.behave("/api/ext/agenda", Mode::Answer, R"({"items":[]})");
    TimedDesk desk;
    App app(desk);
    App::shared = &app;
    app.applicationDidFinishLaunching();
    auto hammer = [&](int ms) {  // a fetch of both kinds every 100 ms, far more than the ticks
        for (int waited = 0; waited < ms; waited += 100) {
            app.fetch();
            app.fetchAgenda();
            spin(100);
        }
    };
    const long before = rssMiB();
    hammer(2000);
    for (const auto& seen : server.seen()) EXPECT_LT(seen.headBytes, 1024u) << seen.line;
    EXPECT_EQ(app.problem, "Нет связи с ORVELA");
    const long withToken = rssMiB();

    ASSERT_TRUE(writeFile(tokenFile, "orvela_good\n"));
    server.behave("/api/ext/pomodoro", Mode::Flood);
    server.behave("/api/ext/agenda", Mode::Flood);
    hammer(3000);
    const long flooded = rssMiB();
    server.behave("/api/ext/pomodoro", Mode::Answer, timerReply(false));
    app.fetch();
    ASSERT_TRUE(waitUntil([&] { return app.state.has_value(); }, 2000));

    server.behave("/api/ext/pomodoro", Mode::Trickle);
    server.behave("/api/ext/pomodoro/pause", Mode::Answer, timerReply(true));
    for (int i = 0; i < 8; ++i) app.fetch();
    spin(500);
    const double asked = server.now();
    app.pause();
    app.fetch();
    ASSERT_TRUE(waitUntil([&] { return app.state && app.state->pausedAt; }, 1000));
    const auto seen = server.seen();
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                            [&](const auto& s) {
                                return s.at >= asked && s.line == "GET /api/ext/pomodoro";
                            }),
              1);
    EXPECT_LT(server.now() - asked, 1.0);

    double longest = 0;
    for (std::size_t i = 1; i < desk.ticks.size(); ++i)
        longest = std::max(longest, desk.ticks[i] - desk.ticks[i - 1]);
    EXPECT_LT(longest, 1.25);
    std::printf("RSS MiB: launch %ld, 50 MB token %ld, flood %ld; longest tick gap %.3f s\n",
                before, withToken, flooded, longest);
    if (kRssMeaningful) {
        EXPECT_LT(flooded - before, 20);
    }
}

// The trickle on the production schedule and bounds (a poll every 15 s, 30 s deadline), for
// measuring, not for every run (it takes 100 s): --gtest_also_run_disabled_tests.
TEST(HostileService, DISABLED_MeasureATrickleOnTheRealSchedule) {
    HostileServer server;
    QTemporaryDir root;
    ScopedEnv home("HOME", root.path() + "/home"),
        config("XDG_CONFIG_HOME", root.path() + "/config");
    ASSERT_TRUE(writeFile(root.path() + "/config/orvela/orvela-timer.conf",
                          QByteArray::fromStdString("[General]\nOrvelaURL=" + server.url())));
    ASSERT_TRUE(writeFile(root.path() + "/home/.config/orvela/token", "orvela_good\n"));
    server.behave("/api/ext/", Mode::Trickle);
    TimedDesk desk;
    App app(desk);
    App::shared = &app;
    app.applicationDidFinishLaunching();
    spin(95000);
    app.pause();
    spin(15000);
    for (const auto& seen : server.seen()) std::printf("%7.2f s  %s\n", seen.at, seen.line.c_str());
    std::printf("most connections open at once: %d\n", server.mostConnections());
}

}  // namespace
}  // namespace orvela::test
