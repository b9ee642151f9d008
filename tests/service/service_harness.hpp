// A stand-in service on a free loopback port with a clock the test moves, and a client for it.
#pragma once

#include <httplib.h>

#include <atomic>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "dev-service/service.hpp"

namespace orvela::dev::testing {

using nlohmann::json;

// 2025-12-05 10:00:00 UTC plus an awkward fraction, so that rounding at phase boundaries shows.
inline constexpr double kStart = 1764928800000.0 + 123.456;
inline constexpr double kMinute = 60000.0;
inline const std::string kDemoToken = "orvela_demo_token";

struct Harness {
    explicit Harness(Options options = {}) {
        options.port = 0;
        service = std::make_unique<DevService>(options, [this] { return now.load(); });
        client = std::make_unique<httplib::Client>("127.0.0.1", service->start());
    }

    void advance(double ms) { now = now.load() + ms; }

    httplib::Result get(const std::string& path, const std::string& token = kDemoToken) {
        return client->Get(path.c_str(), headers(token));
    }
    httplib::Result post(const std::string& path, const std::string& body = "",
                         const std::string& token = kDemoToken,
                         const char* type = "application/json") {
        return client->Post(path.c_str(), headers(token), body, type);
    }

    static httplib::Headers headers(const std::string& token) {
        if (token.empty()) return {};
        return {{"Authorization", "Bearer " + token}};
    }

    std::atomic<double> now{kStart};
    std::unique_ptr<DevService> service;
    std::unique_ptr<httplib::Client> client;
};

// The JSON body of an answer; fails the test when there is no answer or it is not JSON.
inline json body(const httplib::Result& res) {
    if (!res) {
        ADD_FAILURE() << "no answer: " << httplib::to_string(res.error());
        return json();
    }
    json parsed = json::parse(res->body, nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << res->body;
    return parsed;
}

inline int status(const httplib::Result& res) {
    return res ? res->status : 0;
}

// {"success": false, "error": text}
inline void expectFailure(const httplib::Result& res, int expected) {
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, expected) << res->body;
    const json reply = body(res);
    EXPECT_EQ(reply.value("success", true), false) << res->body;
    ASSERT_TRUE(reply.contains("error")) << res->body;
    EXPECT_TRUE(reply["error"].is_string());
}

}  // namespace orvela::dev::testing
