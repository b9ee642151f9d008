// The HTTP client and the whole app against a service, network and machine that misbehave.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <csignal>
#include <fstream>

#include "net/qt_http.hpp"
#include "qt/support/forwarding_platform.hpp"
#include "qt/support/hostile_server.hpp"
#include "qt/support/qt_wait.hpp"
#include "shell/app.hpp"

namespace orvela::test {
namespace {

using Mode = HostileServer::Mode;

// Every transfer ends within its bounds (1 s of silence, 2 s in all, 64 KiB), all at once:
// twelve stuck trickles go first, and every later request still goes out and ends at once.
TEST(HostileService, EveryTransferEndsWithinItsBoundsAndNoneWaitsForAnother) {
    HostileServer server;
    const std::string full(64 * 1024, 'x');
    struct Case {
        std::string path;
        Mode mode;
        std::string body;
        int status;
        double atLeast, atMost;  // seconds after sending
        std::optional<HttpResponse> answer = {};
        double took = 0;
    };
    std::vector<Case> cases(12, {"/trickle", Mode::Trickle, "", 0, 1.8, 2.6});  // Qt: ±5 %
    cases.insert(cases.end(), {{"/full", Mode::Answer, full, 200, 0, 0.5},
                               {"/over", Mode::Answer, full + "x", 0, 0, 0.5},
                               {"/flood", Mode::Flood, "", 0, 0, 0.5},
                               {"/stall", Mode::Stall, "", 0, 0.9, 1.6},
                               {"/reset", Mode::Reset, "", 0, 0, 0.5},
                               {"/garbage", Mode::Garbage, "", 0, 0, 0.5},
                               {"/announced", Mode::Oversize, "", 0, 0, 0.5}});
    qt::HttpClient client;
    QElapsedTimer clock;
    clock.start();
    for (Case& c : cases) {
        server.behave(c.path, c.mode, c.body);
        if (c.mode != Mode::Trickle && clock.elapsed() < 300) spin(300);  // trickles settle
        HttpRequest request{"GET", server.url(c.path), {}, std::nullopt, 1};
        request.deadlineSeconds = 2;
        request.maxBodyBytes = full.size();
        client.send(request, [&c, &clock, sent = clock.elapsed() / 1000.0](HttpResponse r) {
            c.took = clock.elapsed() / 1000.0 - sent;
            c.answer = std::move(r);
        });
    }
    EXPECT_GT(client.poolCount(), 1u);
    ASSERT_TRUE(waitUntil(
        [&] { return std::all_of(cases.begin(), cases.end(), [](auto& c) { return c.answer; }); }));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(std::tuple(c.answer->status, c.answer->transportOk),
                  std::tuple(c.status, c.status != 0));
        EXPECT_GE(c.took, c.atLeast);
        EXPECT_LE(c.took, c.atMost);
        EXPECT_EQ(c.answer->body, c.status ? c.body : "");
    }
    spin(50);
    EXPECT_EQ(client.poolCount(), 1u);  // the extra pools go once their requests are done
    EXPECT_TRUE(waitUntil([&] { return server.openConnections() == 0; }));
}

// A download keeps its cap; a failing write (a full disk) ends it at once, leaving no file.
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
    EXPECT_EQ(fetch("/flood").error, "Answer longer than 8388608 bytes");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small{1 << 20, old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    const DownloadResult full = fetch("/archive");
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_TRUE(!full.path && !full.error.empty());  // Qt words it, often "File too large"
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
    EXPECT_TRUE(fetch("/archive").path);
}

// The real backend, with the one-second tick timed and nobody at the desk.
class TimedDesk : public ScriptedDesk {
public:
    std::vector<double> ticks;
    void startRepeatingTimer(double s, std::function<void()> tick) override {
        real_.startRepeatingTimer(s, [this, tick = std::move(tick)] {
            ticks.push_back(real_.monotonicSeconds());
            tick();
        });
    }
};

long rssMiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:")) return std::stol(line.substr(6)) / 1024;
    return -1;
}

// ASan keeps freed memory in a quarantine of 256 MiB, so its RSS follows what was allocated
// and freed, not what is held; the sanitizer build checks everything else.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kRssMeaningful = false;
#elif defined(__has_feature)
constexpr bool kRssMeaningful = !__has_feature(address_sanitizer);
#else
constexpr bool kRssMeaningful = true;
#endif

std::string timerReply(bool paused) {
    return R"({"state":{"taskId":1,"title":"Отчёт","plan":[{"type":"work","min":25}],"startedAt":1e12)" +
           std::string(paused ? R"(,"pausedAt":1.1e12}})" : "}}");
}

// The app on the real backend, fetching four times a second, against a 50 MB token file, floods,
// then trickles: it stays small, the tick keeps its pace, a command and the next poll go out.
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
    auto hammer = [&](int ms) {
        for (int waited = 0; waited < ms; waited += 250, spin(250)) app.fetch(), app.fetchAgenda();
    };
    const long launched = rssMiB();
    hammer(2000);
    std::size_t longestHead = 0;
    for (const auto& seen : server.seen()) longestHead = std::max(longestHead, seen.headBytes);
    EXPECT_LT(longestHead, 1024u);
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
    auto pollSent = [&] {
        const auto seen = server.seen();
        return std::any_of(seen.begin(), seen.end(), [&](const auto& s) {
            return s.at >= asked && s.line == "GET /api/ext/pomodoro";
        });
    };
    // Within a second: the command's answer is applied and the next poll has reached the service.
    EXPECT_TRUE(waitUntil([&] { return app.state && app.state->pausedAt && pollSent(); }, 1000));

    double longest = 0;
    for (std::size_t i = 1; i < desk.ticks.size(); ++i)
        longest = std::max(longest, desk.ticks[i] - desk.ticks[i - 1]);
    EXPECT_LT(longest, 1.25);
    std::printf(
        "RSS MiB: launch %ld, 50 MB token %ld, flood %ld; longest request head %zu B; "
        "longest tick gap %.3f s; most connections %d\n",
        launched, withToken, flooded, longestHead, longest, server.mostConnections());
    EXPECT_TRUE(!kRssMeaningful || flooded - launched < 20) << flooded - launched << " MiB more";
}

}  // namespace
}  // namespace orvela::test
