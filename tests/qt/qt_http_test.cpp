// The Qt HTTP client against a real server on 127.0.0.1: what goes on the wire, and how every
// kind of answer and failure comes back.
#include <gtest/gtest.h>
#include <httplib.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
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
using Headers = std::vector<std::pair<std::string, std::string>>;
const std::string kErrorBody = R"({"success":false,"error":"x"})";

std::string largeBody() {
    std::string body(1 << 20, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 % 251);
    return body;
}

// A loopback server on its own thread that records every request. Paths: /status/N[?empty=1],
// /drip?n=&gap= (the headers, then n bytes each after gap ms of silence), /large (1 MiB);
// anything else echoes, setting a cookie.
class LoopbackServer {
public:
    LoopbackServer() {
        auto handle = [this](const httplib::Request& q, httplib::Response& r) { serve(q, r); };
        server_.Get(".*", handle);
        server_.Post(".*", handle);
        server_.Put(".*", handle);
        server_.Delete(".*", handle);
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
    std::vector<httplib::Request> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    void serve(const httplib::Request& q, httplib::Response& r) {
        {
            std::lock_guard lock(mutex_);
            seen_.push_back(q);
        }
        // Chunked bodies are not text: httplib would compress text and hold it back.
        const char* binary = "application/octet-stream";
        if (q.path.starts_with("/status/")) {
            r.status = std::stoi(q.path.substr(8));
            if (!q.has_param("empty")) r.set_content(kErrorBody, "application/json");
        } else if (q.path == "/drip") {
            const int bytes = std::stoi(q.get_param_value("n"));
            const int gap = std::stoi(q.get_param_value("gap"));
            r.set_chunked_content_provider(binary, [=, this](size_t sent, httplib::DataSink& s) {
                pause(gap);
                if (sent < static_cast<size_t>(bytes)) return s.write("d", 1);
                s.done();
                return true;
            });
        } else if (q.path == "/large") {
            r.set_content(largeBody(), "application/zip");
        } else {
            r.set_header("Set-Cookie", "session=abc; Path=/");
            r.set_content("echo", "text/plain");
        }
    }
    void pause(int ms) {
        for (int waited = 0; waited < ms && !stopping_; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<httplib::Request> seen_;
};

// Sends and waits; fails the test unless done() runs exactly once, and never inside send().
HttpResponse exchange(HttpClient& client, const HttpRequest& request) {
    int calls = 0;
    HttpResponse answer;
    client.send(request, [&](HttpResponse response) {
        ++calls;
        answer = std::move(response);
    });
    EXPECT_EQ(calls, 0) << "answered inside send()";
    EXPECT_TRUE(waitUntil([&] { return calls > 0; }));
    spin(20);
    EXPECT_EQ(calls, 1);
    return answer;
}

HttpRequest get(std::string url, Headers headers = {}) {
    return {"GET", std::move(url), std::move(headers), std::nullopt, 1};
}

// Exactly the given method, headers and body: no Content-Type of Qt's making on a body-less
// POST (the timer commands), no cookie kept from an earlier answer, and no-cache only when local
// data is to be ignored.
TEST(QtHttp, PutsExactlyTheGivenRequestOnTheWire) {
    LoopbackServer server;
    HttpClient client;
    const std::string echo = server.url("/echo");
    const std::vector<HttpRequest> cases = {
        {"GET", echo, {{"Authorization", "Bearer orvela_1"}}, std::nullopt},
        {"POST", echo, {{"Authorization", "Bearer orvela_2"}}, std::nullopt},
        {"POST", echo, {{"Content-Type", "application/json"}}, R"({"deviceCode":"abc"})"},
        {"PUT", echo, {{"Content-Type", "text/plain"}}, "put body"},
        {"DELETE", echo, {{"Authorization", "Bearer x"}}, std::nullopt},
        {"GET", echo, {}, std::nullopt, 10, CachePolicy::IgnoreLocalData},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const HttpRequest& sent = cases[i];
        SCOPED_TRACE(sent.method + " case " + std::to_string(i));
        EXPECT_EQ(exchange(client, sent).body, "echo");
        const httplib::Request seen = server.seen().at(i);
        EXPECT_EQ(seen.method + " " + seen.path + " " + seen.body,
                  sent.method + " /echo " + sent.body.value_or(""));
        Headers expected = sent.headers, got;
        if (sent.cache == CachePolicy::IgnoreLocalData)
            expected.emplace_back("Cache-Control", "no-cache");
        for (const char* name : {"Authorization", "Content-Type", "Cookie", "Cache-Control"})
            if (seen.has_header(name)) got.emplace_back(name, seen.get_header_value(name));
        EXPECT_EQ(got, expected);
    }
}

// Every status is an answer with its body or none, and the 1 s timeout counts silence, so a slow
// but steady body arrives whole. Failures are status 0 with an error text (a stall ends at the
// timeout, long before the server would finish); a header with a line break (a forged token) never
// reaches the server.
TEST(QtHttp, StatusesAreAnswersAndFailuresHaveNoStatus) {
    LoopbackServer server;
    HttpClient client;
    const Headers forged = {{"Authorization", "Bearer x\r\nX: 1"}};
    const Headers bareLf = {{"Authorization", "Bearer x\nX: 1"}};
    std::vector<std::tuple<std::string, HttpRequest, int, std::string>> cases = {
        {"steady drip", get(server.url("/drip?n=5&gap=400")), 200, "ddddd"},
        {"silent after the status line", get(server.url("/drip?n=1&gap=4000")), 0, ""},
        {"refused", get("http://127.0.0.1:1/echo"), 0, ""},  // nothing listens on port 1
        {"not a URL", get("http://exa mple.com/"), 0, ""},
        {"CR LF in a header", get(server.url("/echo"), forged), 0, ""},
        {"LF in a header", get(server.url("/echo"), bareLf), 0, ""},
    };
    for (const int status : {200, 401, 404, 409, 500, 503}) {
        const std::string path = "/status/" + std::to_string(status);
        cases.emplace_back(path, get(server.url(path)), status, kErrorBody);
        cases.emplace_back(path + " empty", get(server.url(path + "?empty=1")), status, "");
    }
    for (const auto& [name, request, status, body] : cases) {
        SCOPED_TRACE(name);
        const HttpResponse response = exchange(client, request);
        EXPECT_EQ(response.transportOk, status != 0) << response.error;
        EXPECT_EQ(response.error.empty(), status != 0);
        EXPECT_EQ(response.status, status);
        EXPECT_EQ(response.body, body);
    }
    for (const httplib::Request& seen : server.seen())
        EXPECT_FALSE(seen.has_header("Authorization")) << "the forged header went out";
}

// A download lands whole in the given folder; a failed one leaves an error and no file.
TEST(QtHttp, DownloadsIntoAFileOfTheGivenFolder) {
    LoopbackServer server;
    HttpClient client;
    QTemporaryDir folder;
    auto download = [&](const std::string& url, const QString& into) {
        std::optional<DownloadResult> result;
        client.download(get(url), into, [&](DownloadResult r) { result = r; });
        EXPECT_FALSE(result) << "answered inside download()";
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        return result.value_or(DownloadResult{});
    };

    const DownloadResult ok = download(server.url("/large"), folder.path());
    ASSERT_TRUE(ok.path) << ok.error;
    EXPECT_EQ(QFileInfo(QString::fromStdString(*ok.path)).absolutePath(), folder.path());
    QFile file(QString::fromStdString(*ok.path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().toStdString() == largeBody()) << "the file differs";

    for (const auto& [url, into] : {std::pair{std::string("http://127.0.0.1:1/x"), folder.path()},
                                    {server.url("/drip?n=1&gap=4000"), folder.path()},
                                    {server.url("/large"), folder.path() + "/absent"}}) {
        const DownloadResult failed = download(url, into);
        EXPECT_FALSE(failed.path) << url;
        EXPECT_FALSE(failed.error.empty()) << url;
    }
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 1) << "a stray file was left";
}

// The request layer's own 10 s inactivity timeout, end to end through the App on this backend.
TEST(QtHttp, AppRequestGivesUpOnASilentServiceAfterTenSeconds) {
    LoopbackServer server;
    QTemporaryDir config;
    orvela::test::ScopedEnv configHome("XDG_CONFIG_HOME", config.path());
    ASSERT_TRUE(orvela::test::writeFile(config.path() + "/orvela/orvela-timer.conf",
                                        QByteArray::fromStdString("OrvelaURL=" + server.url(""))));
    QtPlatform platform;
    App app(platform);
    ASSERT_EQ(app.base, server.url(""));
    std::optional<int> status;
    QElapsedTimer clock;
    clock.start();
    app.request("/drip?n=1&gap=13000", "GET", std::string("orvela_t"),
                [&](int s, std::optional<Reply>) { status = s; });
    ASSERT_TRUE(waitUntil([&] { return status.has_value(); }, 15000));
    EXPECT_EQ(*status, 0);
    EXPECT_GE(clock.elapsed(), 9000);  // Qt times it coarsely, to within 5 %
    EXPECT_LT(clock.elapsed(), 12000);
}

}  // namespace
}  // namespace orvela::qt
