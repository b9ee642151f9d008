// The Qt HTTP client against a real server on 127.0.0.1: the wire, every answer and failure.
#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>
#include <thread>

#include "net/qt_http.hpp"
#include "qt/support/qt_wait.hpp"

namespace orvela::qt {
namespace {

using orvela::test::waitUntil;
using Headers = std::vector<std::pair<std::string, std::string>>;
const std::string kErrorBody = R"({"success":false,"error":"x"})";

// Records every request. /status/N[?empty=1] answers N; anything else echoes and sets a cookie.
// Slow, endless and broken answers are the hostile server's (hostile_http_test.cpp).
struct LoopbackServer {
    httplib::Server server;
    std::thread thread;
    int port = server.bind_to_any_port("127.0.0.1");
    std::mutex mutex;
    std::vector<httplib::Request> requests;

    LoopbackServer() {
        server.Get(".*", [this](const httplib::Request& q, httplib::Response& r) { serve(q, r); });
        server.Post(".*", [this](const httplib::Request& q, httplib::Response& r) { serve(q, r); });
        thread = std::thread([this] { server.listen_after_bind(); });
    }
    ~LoopbackServer() {
        server.stop();
        thread.join();
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port) + path;
    }
    std::vector<httplib::Request> seen() {
        std::lock_guard lock(mutex);
        return requests;
    }
    void serve(const httplib::Request& q, httplib::Response& r) {
        std::lock_guard lock(mutex);  // released before any body is sent
        requests.push_back(q);
        if (q.path.starts_with("/status/")) {
            r.status = std::stoi(q.path.substr(8));
            if (!q.has_param("empty")) r.set_content(kErrorBody, "application/json");
        } else {
            r.set_header("Set-Cookie", "session=abc; Path=/");
            r.set_content("echo", "text/plain");
        }
    }
};

// Sends and waits; fails the test unless done() runs once, and never inside send().
HttpResponse exchange(HttpClient& client, const HttpRequest& request) {
    std::vector<HttpResponse> answers;
    client.send(request, [&](HttpResponse response) { answers.push_back(std::move(response)); });
    EXPECT_TRUE(answers.empty()) << "answered inside send()";
    EXPECT_TRUE(waitUntil([&] { return !answers.empty(); }));
    orvela::test::spin(20);
    EXPECT_EQ(answers.size(), 1u);
    return answers.empty() ? HttpResponse{} : answers[0];
}

HttpRequest get(std::string url, Headers headers = {}) {
    return {"GET", std::move(url), std::move(headers), std::nullopt, 1};
}

// Exactly the given method, headers and body go out: no Content-Type of Qt's making on a
// body-less POST (the timer commands), no cookie kept from an earlier answer. Every status is an
// answer, with its body or none; failures are status 0, and a request with a line break in a
// header (a forged token) is refused before it reaches the wire.
TEST(QtHttp, PutsExactlyTheGivenRequestOnTheWireAndReturnsEveryAnswer) {
    LoopbackServer server;
    HttpClient client;
    const std::string echo = server.url("/echo"), json = R"({"deviceCode":"abc"})";
    std::vector<std::tuple<std::string, HttpRequest, int, std::string>> cases = {
        {"GET", {"GET", echo, {{"Authorization", "Bearer orvela_1"}}, std::nullopt}, 200, "echo"},
        {"POST", {"POST", echo, {{"Authorization", "Bearer orvela_2"}}, std::nullopt}, 200, "echo"},
        {"JSON", {"POST", echo, {{"Content-Type", "application/json"}}, json}, 200, "echo"},
        {"refused", get("http://127.0.0.1:1/echo"), 0, ""},  // nothing listens on port 1
        {"CR LF", get(echo, {{"Authorization", "Bearer x\r\nX: 1"}}), 0, ""},
        {"LF", get(echo, {{"Authorization", "Bearer x\nX: 1"}}), 0, ""},
    };
    // Qt maps these to error codes of all its families (400 and 418: protocol, 407: proxy,
    // 404 and 409: content, 500 and 503: server); each is still the service's answer.
    for (const int status : {200, 400, 401, 404, 407, 409, 418, 422, 429, 500, 503}) {
        const std::string path = "/status/" + std::to_string(status);
        cases.emplace_back(path, get(server.url(path)), status, kErrorBody);
        cases.emplace_back(path + " empty", get(server.url(path + "?empty=1")), status, "");
    }
    for (const auto& [name, sent, status, body] : cases) {
        SCOPED_TRACE(name);
        const std::size_t before = server.seen().size();
        const HttpResponse response = exchange(client, sent);
        EXPECT_EQ(std::tuple(response.transportOk, response.error.empty(), response.status,
                             response.body),
                  std::tuple(status != 0, status != 0, status, body))
            << response.error;
        const auto seen = server.seen();
        ASSERT_EQ(seen.size(), before + (status != 0));
        if (status == 0) continue;
        EXPECT_EQ(
            seen.back().method + " " + seen.back().target + " " + seen.back().body,
            sent.method + " " + sent.url.substr(echo.find("/echo")) + " " + sent.body.value_or(""));
        Headers got;
        for (const char* header : {"Authorization", "Content-Type", "Cookie"})
            if (seen.back().has_header(header))
                got.emplace_back(header, seen.back().get_header_value(header));
        EXPECT_EQ(got, sent.headers);
    }
}

}  // namespace
}  // namespace orvela::qt
