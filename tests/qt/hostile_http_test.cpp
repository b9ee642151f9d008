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

}  // namespace
}  // namespace orvela::test
