// The Qt HTTP client against a real server on 127.0.0.1: the wire, every answer and failure.
#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>
#include <thread>

#include "qt_http.hpp"
#include "qt_wait.hpp"

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
// body-less POST (the timer commands), and no cookie kept from an earlier answer.
TEST(QtHttp, PutsExactlyTheGivenRequestOnTheWireAndReturnsEveryAnswer) {
    LoopbackServer server;
    HttpClient client;
    const std::string echo = server.url("/echo");
    const std::vector<HttpRequest> wire = {
        {"GET", echo, {{"Authorization", "Bearer orvela_1"}}, std::nullopt},
        {"POST", echo, {{"Authorization", "Bearer orvela_2"}}, std::nullopt},
        {"POST", echo, {{"Content-Type", "application/json"}}, R"({"deviceCode":"abc"})"},
    };
    for (std::size_t i = 0; i < wire.size(); ++i) {
        const HttpRequest& sent = wire[i];
        SCOPED_TRACE(sent.method + " case " + std::to_string(i));
        EXPECT_EQ(exchange(client, sent).body, "echo");
        const httplib::Request seen = server.seen().at(i);
        EXPECT_EQ(seen.method + " " + seen.path + " " + seen.body,
                  sent.method + " /echo " + sent.body.value_or(""));
        Headers got;
        for (const char* name : {"Authorization", "Content-Type", "Cookie"})
            if (seen.has_header(name)) got.emplace_back(name, seen.get_header_value(name));
        EXPECT_EQ(got, sent.headers);
    }

    // Every status is an answer, with its body or none. Failures are status 0; a header with a
    // line break (a forged token) never goes out.
    std::vector<std::tuple<std::string, HttpRequest, int, std::string>> cases = {
        {"refused", get("http://127.0.0.1:1/echo"), 0, ""},  // nothing listens on port 1
        {"CR LF", get(server.url("/echo"), {{"Authorization", "Bearer x\r\nX: 1"}}), 0, ""},
        {"LF", get(server.url("/echo"), {{"Authorization", "Bearer x\nX: 1"}}), 0, ""},
    };
    for (const int status : {200, 401, 503}) {
        const std::string path = "/status/" + std::to_string(status);
        cases.emplace_back(path, get(server.url(path)), status, kErrorBody);
        cases.emplace_back(path + " empty", get(server.url(path + "?empty=1")), status, "");
    }
    for (const auto& [name, request, status, body] : cases) {
        SCOPED_TRACE(name);
        const HttpResponse response = exchange(client, request);
        EXPECT_EQ(std::tuple(response.transportOk, response.error.empty(), response.status,
                             response.body),
                  std::tuple(status != 0, status != 0, status, body))
            << response.error;
    }
    for (std::size_t i = wire.size(); i < server.seen().size(); ++i)
        EXPECT_FALSE(server.seen()[i].has_header("Authorization")) << "the forged header went out";
}

}  // namespace
}  // namespace orvela::qt
