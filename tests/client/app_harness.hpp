// An App on the fake platform with a private home: methods are called directly, answers are
// scripted or held back, and the fields are read afterwards.
#pragma once

#include "client/temp_home.hpp"
#include "shell/app.hpp"
#include "support/fake_platform.hpp"

namespace orvela::test {

inline constexpr const char* kBase = "https://orvela.test";

struct AppHarness {
    explicit AppHarness(const std::string& base = kBase) {
        fake.home = home.path().string();
        fake.userDefaults["OrvelaURL"] = base;
        app = std::make_unique<App>(fake);
        App::shared = app.get();
    }
    const SentRequest& last() const { return fake.requests.back(); }

    TempHome home;
    FakePlatform fake;
    std::unique_ptr<App> app;  // destroyed before the platform it uses
};

}  // namespace orvela::test
