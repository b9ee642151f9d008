// The Qt HTTP client against a real server on 127.0.0.1: what goes on the wire, and how every
// kind of answer and failure comes back.
#include <gtest/gtest.h>
#include <httplib.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "qt_http.hpp"
#include "qt_platform.hpp"
#include "qt_wait.hpp"
#include "shell/app.hpp"

namespace orvela::qt {
namespace {

using orvela::test::spin;
using orvela::test::waitUntil;

struct Seen {
    std::string method;
    std::string path;
    httplib::Headers headers;
    std::string body;

    std::optional<std::string> header(const std::string& name) const {
        auto found = headers.find(name);
        if (found == headers.end()) return std::nullopt;
        return found->second;
    }
};

// A loopback server on its own thread, recording every request it sees.
class LoopbackServer {
public:
    LoopbackServer() {
        auto record = [this](const httplib::Request& request) {
            std::lock_guard lock(mutex_);
            seen_.push_back({request.method, request.path, request.headers, request.body});
        };
        auto echo = [record](const httplib::Request& request, httplib::Response& response) {
            record(request);
            response.set_content("echo", "text/plain");
        };
        server_.Get("/echo", echo);
        server_.Post("/echo", echo);
        server_.Put("/echo", echo);
        server_.Delete("/echo", echo);
        server_.Get(R"(/status/(\d+))", [record](const httplib::Request& request,
                                                 httplib::Response& response) {
            record(request);
            response.status = std::stoi(request.matches[1]);
            if (!request.has_param("empty"))
                response.set_content("{\"success\":false,\"error\":\"x\"}", "application/json");
        });
        server_.Get("/cookie",
                    [record](const httplib::Request& request, httplib::Response& response) {
                        record(request);
                        response.set_header("Set-Cookie", "session=abc; Path=/");
                        response.set_content("cookie", "text/plain");
                    });
        // Says nothing for ?ms= (3 s by default: longer than the 1 s most tests allow).
        server_.Get("/stall", [this](const httplib::Request& request, httplib::Response& response) {
            pause(request.has_param("ms") ? std::stoi(request.get_param_value("ms")) : 3000);
            response.set_content("late", "text/plain");
        });
        // A byte every 400 ms for 2 s: slow, but never silent for long. (Not text: httplib
        // would compress a text stream and hold it back until the end.)
        server_.Get("/drip", [this](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("application/octet-stream",
                                                  [this](size_t offset, httplib::DataSink& sink) {
                                                      if (offset > 0) pause(400);
                                                      if (offset == 5) {
                                                          sink.done();
                                                          return true;
                                                      }
                                                      return sink.write("d", 1);
                                                  });
        });
        // Sends the status and part of the body, then falls silent.
        server_.Get("/stall-body", [this](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("application/octet-stream",
                                                  [this](size_t offset, httplib::DataSink& sink) {
                                                      if (offset == 0) return sink.write("part", 4);
                                                      pause(3000);
                                                      sink.done();
                                                      return true;
                                                  });
        });
        server_.Get("/large", [](const httplib::Request&, httplib::Response& response) {
            std::string body(1 << 20, '\0');
            for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 % 251);
            response.set_content(body, "application/zip");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~LoopbackServer() {
        stopping_ = true;
        server_.stop();
        thread_.join();
    }

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<Seen> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    void pause(int ms) {
        for (int waited = 0; waited < ms && !stopping_; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<Seen> seen_;
};

// Sends and waits; fails the test when done() is not called exactly once.
HttpResponse exchange(HttpClient& client, const HttpRequest& request, int timeoutMs = 5000) {
    int calls = 0;
    HttpResponse answer;
    client.send(request, [&](HttpResponse response) {
        ++calls;
        answer = std::move(response);
    });
    EXPECT_EQ(calls, 0) << "answered inside send()";
    EXPECT_TRUE(waitUntil([&] { return calls > 0; }, timeoutMs));
    spin(20);
    EXPECT_EQ(calls, 1);
    return answer;
}

HttpRequest requestFor(std::string method, std::string url) {
    HttpRequest request;
    request.method = std::move(method);
    request.url = std::move(url);
    request.timeoutSeconds = 1;
    return request;
}

TEST(QtHttp, PutsExactlyTheGivenMethodHeadersAndBodyOnTheWire) {
    LoopbackServer server;
    HttpClient client;
    struct Case {
        std::string method;
        std::vector<std::pair<std::string, std::string>> headers;
        std::optional<std::string> body;
    };
    const std::vector<Case> cases = {
        {"GET", {{"Authorization", "Bearer orvela_1"}}, std::nullopt},
        // The timer commands: a POST with no body must carry no Content-Type of Qt's making.
        {"POST", {{"Authorization", "Bearer orvela_2"}}, std::nullopt},
        {"POST", {{"Content-Type", "application/json"}}, std::string(R"({"deviceCode":"abc"})")},
        {"PUT", {{"Content-Type", "text/plain"}}, std::string("put body")},
        {"DELETE", {{"Authorization", "Bearer x"}}, std::nullopt},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.method + " case " + std::to_string(i));
        HttpRequest request = requestFor(c.method, server.url("/echo"));
        request.headers = c.headers;
        request.body = c.body;
        const HttpResponse response = exchange(client, request);
        EXPECT_TRUE(response.transportOk) << response.error;
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(response.body, "echo");

        const Seen seen = server.seen().at(i);
        EXPECT_EQ(seen.method, c.method);
        EXPECT_EQ(seen.path, "/echo");
        EXPECT_EQ(seen.body, c.body.value_or(""));
        for (const char* name : {"Authorization", "Content-Type", "Cookie", "Cache-Control"}) {
            std::optional<std::string> given;
            for (const auto& [key, value] : c.headers)
                if (key == name) given = value;
            EXPECT_EQ(seen.header(name), given) << name;
        }
    }
}

TEST(QtHttp, ErrorStatusesAreAnswersWithTheirBodies) {
    LoopbackServer server;
    HttpClient client;
    const std::string reply = R"({"success":false,"error":"x"})";
    for (const int status : {200, 401, 404, 409, 500, 503}) {
        for (const bool empty : {false, true}) {
            SCOPED_TRACE(std::to_string(status) + (empty ? " empty" : " with body"));
            const std::string path =
                "/status/" + std::to_string(status) + (empty ? "?empty=1" : "");
            const HttpResponse response = exchange(client, requestFor("GET", server.url(path)));
            EXPECT_TRUE(response.transportOk) << response.error;
            EXPECT_EQ(response.status, status);
            EXPECT_EQ(response.body, empty ? "" : reply);
        }
    }
}

TEST(QtHttp, FailedTransfersHaveNoStatus) {
    LoopbackServer server;
    HttpClient client;
    struct Case {
        const char* name;
        HttpRequest request;
    };
    HttpRequest injected = requestFor("GET", server.url("/echo"));
    injected.headers = {{"Authorization", "Bearer x\r\nX-Forged: 1"}};
    const std::vector<Case> cases = {
        {"silent server", requestFor("GET", server.url("/stall"))},
        {"silent after the status line", requestFor("GET", server.url("/stall-body"))},
        // Port 1 on loopback: nothing listens there.
        {"refused", requestFor("GET", "http://127.0.0.1:1/echo")},
        {"not a URL", requestFor("GET", "http://exa mple.com/")},
        {"header with a line break", injected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QElapsedTimer clock;
        clock.start();
        const HttpResponse response = exchange(client, c.request);
        EXPECT_FALSE(response.transportOk);
        EXPECT_EQ(response.status, 0);
        EXPECT_FALSE(response.error.empty());
        // The 1 s inactivity timeout ends the silent transfers well before the server speaks.
        EXPECT_LT(clock.elapsed(), 2500);
    }
    EXPECT_TRUE(server.seen().empty()) << "the forged header reached the server";
}

TEST(QtHttp, TheTimeoutCountsSilenceNotTheWholeTransfer) {
    LoopbackServer server;
    HttpClient client;
    const HttpResponse response = exchange(client, requestFor("GET", server.url("/drip")));
    EXPECT_TRUE(response.transportOk) << response.error;
    EXPECT_EQ(response.body, "ddddd");
}

TEST(QtHttp, NoCookiesAreKeptAndIgnoringLocalDataAsksCachesToRevalidate) {
    LoopbackServer server;
    HttpClient client;
    HttpRequest fresh = requestFor("GET", server.url("/echo"));
    fresh.cache = CachePolicy::IgnoreLocalData;
    exchange(client, requestFor("GET", server.url("/cookie")));
    exchange(client, requestFor("GET", server.url("/echo")));
    exchange(client, fresh);
    const auto seen = server.seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].header("Cookie"), std::nullopt);
    EXPECT_EQ(seen[1].header("Cache-Control"), std::nullopt);
    EXPECT_EQ(seen[2].header("Cookie"), std::nullopt);
    EXPECT_EQ(seen[2].header("Cache-Control"), "no-cache");
}

TEST(QtHttp, DownloadsTheBodyIntoAFileOfTheGivenFolder) {
    LoopbackServer server;
    HttpClient client;
    QTemporaryDir folder;
    auto download = [&](const std::string& url) {
        std::optional<DownloadResult> result;
        client.download(requestFor("GET", url), folder.path(),
                        [&](DownloadResult r) { result = r; });
        EXPECT_FALSE(result) << "answered inside download()";
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        return result.value_or(DownloadResult{});
    };

    const DownloadResult ok = download(server.url("/large"));
    ASSERT_TRUE(ok.path) << ok.error;
    EXPECT_EQ(QFileInfo(QString::fromStdString(*ok.path)).absolutePath(), folder.path());
    QFile file(QString::fromStdString(*ok.path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_EQ(bytes.size(), 1 << 20);
    for (int i = 0; i < bytes.size(); i += 4093)
        ASSERT_EQ(static_cast<unsigned char>(bytes[i]), i * 7 % 251) << "at " << i;
    file.close();

    // A failed transfer leaves an error and no stray file behind.
    const auto before = QDir(folder.path()).entryList(QDir::Files).size();
    for (const std::string& url :
         {std::string("http://127.0.0.1:1/x"), server.url("/stall-body")}) {
        const DownloadResult failed = download(url);
        EXPECT_FALSE(failed.path);
        EXPECT_FALSE(failed.error.empty());
    }
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), before);

    // Into a folder that does not exist: an error, later, not a crash.
    std::optional<DownloadResult> missing;
    client.download(requestFor("GET", server.url("/large")), folder.path() + "/absent",
                    [&](DownloadResult r) { missing = r; });
    ASSERT_TRUE(waitUntil([&] { return missing.has_value(); }));
    EXPECT_FALSE(missing->path);
    EXPECT_FALSE(missing->error.empty());
}

// The request layer's own 10 s inactivity timeout, end to end through the App on this backend.
TEST(QtHttp, AppRequestGivesUpOnASilentServiceAfterTenSeconds) {
    LoopbackServer server;
    QTemporaryDir config;
    orvela::test::ScopedEnv configHome("XDG_CONFIG_HOME", config.path());
    QDir().mkpath(config.path() + "/orvela");
    QFile ini(config.path() + "/orvela/orvela-timer.conf");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(("OrvelaURL=" + server.url("")).c_str());
    ini.close();

    QtPlatform platform;
    App app(platform);
    ASSERT_EQ(app.base, server.url(""));
    std::optional<int> status;
    QElapsedTimer clock;
    clock.start();
    app.request("/stall?ms=13000", "GET", std::string("orvela_t"),
                [&](int s, std::optional<Reply>) { status = s; });
    ASSERT_TRUE(waitUntil([&] { return status.has_value(); }, 15000));
    EXPECT_EQ(*status, 0);
    EXPECT_GE(clock.elapsed(), 9000);  // Qt times it coarsely, to within 5 %
    EXPECT_LT(clock.elapsed(), 12000);
}

}  // namespace
}  // namespace orvela::qt
