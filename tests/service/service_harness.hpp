// A stand-in service on a free loopback port with a clock the test moves, and a client for it.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

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
    // With the demo token unless another (or "": none) is given.
    httplib::Result get(const std::string& path, const std::string& token = kDemoToken) {
        return client->Get(path, headers(token));
    }
    httplib::Result post(const std::string& path, const std::string& body = "",
                         const std::string& token = kDemoToken) {
        return client->Post(path, headers(token), body, "application/json");
    }
    static httplib::Headers headers(const std::string& token) {
        if (token.empty()) return {};
        return {{"Authorization", "Bearer " + token}};
    }

    std::atomic<double> now{kStart};
    std::unique_ptr<DevService> service;
    std::unique_ptr<httplib::Client> client;
};

inline int status(const httplib::Result& res) {
    return res ? res->status : 0;
}

// The JSON body of an answer; fails the test when there is no answer or it is not JSON.
inline json body(const httplib::Result& res) {
    if (!res) {
        ADD_FAILURE() << "no answer";
        return json();
    }
    json parsed = json::parse(res->body, nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << res->body;
    return parsed;
}

// {"success": false, "error": text} with the expected status.
inline void expectFailure(const httplib::Result& res, int expected) {
    EXPECT_EQ(status(res), expected) << (res ? res->body : "no answer");
    const json reply = body(res);
    EXPECT_EQ(reply.value("success", true), false) << reply;
    EXPECT_TRUE(reply.contains("error") && reply["error"].is_string()) << reply;
}

}  // namespace orvela::dev::testing
