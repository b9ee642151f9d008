// Device-code login over HTTP: the start and poll records, the confirmation page and its two
// buttons, expiry on the service's clock, and automatic approval.

#include <cctype>
#include <regex>

#include "service_harness.hpp"

namespace orvela::dev::testing {
namespace {

struct Login {
    std::string deviceCode;
    std::string userCode;
};

Login startLogin(Harness& h, const std::string& deviceName = "Рабочий ноутбук") {
    const json request = {{"client", "mac-timer"}, {"deviceName", deviceName}};
    const auto res = h.post("/api/device/start", request.dump(), "");
    EXPECT_EQ(status(res), 200);
    const json reply = body(res);
    EXPECT_EQ(reply.value("success", false), true);
    EXPECT_EQ(reply.value("expiresIn", 0.0), 600);
    EXPECT_EQ(reply.value("interval", 0.0), 2);
    const std::string userCode = reply.value("userCode", "");
    EXPECT_TRUE(std::regex_match(userCode, std::regex("[A-Z]{4}-[0-9]{4}"))) << userCode;
    return {reply.value("deviceCode", ""), userCode};
}

json poll(Harness& h, const Login& login, int expectedStatus = 200) {
    const auto res = h.post("/api/device/poll", json{{"deviceCode", login.deviceCode}}.dump(), "");
    EXPECT_EQ(status(res), expectedStatus);
    return body(res);
}

// What the page's button sends: a urlencoded form with the code.
httplib::Result press(Harness& h, const std::string& button, const std::string& code) {
    return h.client->Post(("/device/" + button).c_str(), httplib::Params{{"code", code}});
}

TEST(DeviceLogin, ApprovalOnThePageHandsOutAWorkingToken) {
    Harness h;
    const Login login = startLogin(h, "<b>Mac & Co</b>");
    EXPECT_EQ(poll(h, login), json::parse(R"({"success":true,"status":"pending"})"));
    EXPECT_EQ(status(h.get("/api/ext/pomodoro", "orvela_" + login.deviceCode)), 401);

    const auto page = h.get("/device.html?code=" + login.userCode, "");
    ASSERT_EQ(status(page), 200);
    for (const char* part : {"Подтвердить", "Отклонить", "action=\"/device/approve\"",
                             "action=\"/device/deny\"", "&lt;b&gt;Mac &amp; Co&lt;/b&gt;"}) {
        EXPECT_NE(page->body.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(page->body.find("<b>Mac"), std::string::npos);  // the device name is escaped
    EXPECT_NE(page->body.find(login.userCode), std::string::npos);

    h.advance(30000);
    EXPECT_EQ(status(press(h, "approve", login.userCode)), 200);
    const json approved = poll(h, login);
    EXPECT_EQ(approved.value("status", ""), "approved");
    const std::string token = approved.value("token", "");
    EXPECT_EQ(token.rfind("orvela_", 0), 0u) << token;
    EXPECT_EQ(status(h.get("/api/ext/pomodoro", token)), 200);
    EXPECT_EQ(status(h.get("/api/ext/agenda", token)), 200);

    // A decided login cannot be decided again, and the demo token still works beside the new one.
    EXPECT_EQ(status(press(h, "deny", login.userCode)), 409);
    EXPECT_EQ(poll(h, login).value("token", ""), token);
    EXPECT_EQ(status(h.get("/api/ext/pomodoro")), 200);
    EXPECT_NE(startLogin(h).userCode, login.userCode);
}

TEST(DeviceLogin, RefusalOnThePageIsFinal) {
    Harness h;
    const Login login = startLogin(h);
    std::string typed = " " + login.userCode;  // as a person might type it
    for (char& c : typed) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(status(press(h, "deny", typed)), 200);
    EXPECT_EQ(poll(h, login), json::parse(R"({"success":true,"status":"denied"})"));
    EXPECT_EQ(status(press(h, "approve", login.userCode)), 409);
    EXPECT_FALSE(poll(h, login).contains("token"));
}

TEST(DeviceLogin, CodesExpireAfterTheirLifetimeOnTheServiceClock) {
    Harness h;
    const Login login = startLogin(h);
    h.advance(600 * 1000.0);
    EXPECT_EQ(poll(h, login).value("status", ""), "pending");
    h.advance(1);
    EXPECT_EQ(poll(h, login), json::parse(R"({"success":true,"status":"expired"})"));
    EXPECT_EQ(status(press(h, "approve", login.userCode)), 409);
    EXPECT_EQ(poll(h, login).value("status", ""), "expired");
}

TEST(DeviceLogin, AutoApprovalNeedsNoPage) {
    Options options;
    options.autoApproveSeconds = 5;
    Harness h(options);
    const Login login = startLogin(h);
    h.advance(4999);
    EXPECT_EQ(poll(h, login).value("status", ""), "pending");
    h.advance(1);
    const json approved = poll(h, login);
    EXPECT_EQ(approved.value("status", ""), "approved");
    EXPECT_EQ(status(h.get("/api/ext/pomodoro", approved.value("token", ""))), 200);
}

TEST(DeviceLogin, MalformedRequestsAndUnknownCodes) {
    Harness h;
    for (const char* bad : {"", "not json", "[]", R"({"client":"mac-timer"})",
                            R"({"client":1,"deviceName":"Mac"})"}) {
        SCOPED_TRACE(bad);
        expectFailure(h.post("/api/device/start", bad, ""), 400);
    }
    for (const char* bad : {"", "{}", R"({"deviceCode":7})"}) {
        SCOPED_TRACE(bad);
        expectFailure(h.post("/api/device/poll", bad, ""), 400);
    }
    const json unknown = poll(h, {"0123456789abcdef", ""}, 404);
    EXPECT_EQ(unknown.value("success", true), false);
    EXPECT_EQ(unknown.value("status", ""), "expired");
    EXPECT_EQ(status(h.get("/device.html?code=ZZZZ-0000", "")), 404);
    EXPECT_EQ(status(press(h, "approve", "ZZZZ-0000")), 404);
    // Without a code the page asks for one.
    const auto ask = h.get("/device.html", "");
    ASSERT_EQ(status(ask), 200);
    EXPECT_NE(ask->body.find("name=\"code\""), std::string::npos);
}

}  // namespace
}  // namespace orvela::dev::testing
