// Device-code login over HTTP: the start and poll records, the confirmation page and its two
// buttons, expiry on the service's clock, and automatic approval.
#include <regex>

#include "service_harness.hpp"

namespace orvela::dev::testing {
namespace {

struct Login {
    std::string deviceCode, userCode;
};

Login start(Harness& h, const std::string& deviceName = "Рабочий ноутбук") {
    const json reply = body(h.post(
        "/api/device/start", json{{"client", "mac-timer"}, {"deviceName", deviceName}}.dump(), ""));
    EXPECT_EQ(reply.value("success", false), true);
    EXPECT_EQ(reply.value("expiresIn", 0), 600);
    EXPECT_EQ(reply.value("interval", 0), 2);
    const Login login{reply.value("deviceCode", ""), reply.value("userCode", "")};
    EXPECT_TRUE(std::regex_match(login.userCode, std::regex("[A-Z]{4}-[0-9]{4}"))) << reply;
    return login;
}

json poll(Harness& h, const Login& login) {
    return body(h.post("/api/device/poll", json{{"deviceCode", login.deviceCode}}.dump(), ""));
}

// What the page's buttons send: a urlencoded form with the code.
int press(Harness& h, const std::string& button, const std::string& code) {
    return status(h.client->Post("/device/" + button, httplib::Params{{"code", code}}));
}

const json kPending = {{"success", true}, {"status", "pending"}};

TEST(DeviceLogin, ApprovalOnThePageHandsOutAWorkingToken) {
    Harness h;
    const Login login = start(h, "<b>Mac & Co</b>");
    EXPECT_EQ(poll(h, login), kPending);
    const auto page = h.get("/device.html?code=" + login.userCode, "");
    ASSERT_EQ(status(page), 200);
    for (const std::string part : {"action=\"/device/approve\"", "action=\"/device/deny\"",
                                   "&lt;b&gt;Mac &amp; Co&lt;/b&gt;", login.userCode.c_str()})
        EXPECT_NE(page->body.find(part), std::string::npos) << part;
    EXPECT_EQ(page->body.find("<b>Mac"), std::string::npos);  // the device name is escaped

    EXPECT_EQ(press(h, "approve", login.userCode), 200);
    const std::string token = poll(h, login).value("token", "");
    EXPECT_TRUE(std::regex_match(token, std::regex("orvela_[0-9a-f]{40}"))) << token;
    EXPECT_EQ(status(h.get("/api/ext/pomodoro", token)), 200);
    // Decided once; the demo token keeps working beside the new one.
    EXPECT_EQ(press(h, "deny", login.userCode), 409);
    EXPECT_EQ(poll(h, login).value("token", ""), token);
    EXPECT_EQ(status(h.get("/api/ext/pomodoro")), 200);
}

// Refused (with the code typed loosely), expired on the service's clock, or approved by itself:
// each outcome is final and only an approval carries a token.
TEST(DeviceLogin, RefusalExpiryAndAutoApproval) {
    Harness h;
    Login login = start(h);
    std::string typed = " " + login.userCode;
    for (char& c : typed) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(press(h, "deny", typed), 200);
    EXPECT_EQ(poll(h, login), (json{{"success", true}, {"status", "denied"}}));
    EXPECT_EQ(press(h, "approve", login.userCode), 409);

    login = start(h);
    h.advance(600 * 1000.0);
    EXPECT_EQ(poll(h, login), kPending);
    h.advance(1);
    EXPECT_EQ(poll(h, login), (json{{"success", true}, {"status", "expired"}}));
    EXPECT_EQ(press(h, "approve", login.userCode), 409);

    Options options;
    options.autoApproveSeconds = 5;
    Harness automatic(options);
    login = start(automatic);
    automatic.advance(4999);
    EXPECT_EQ(poll(automatic, login), kPending);
    automatic.advance(1);
    EXPECT_EQ(status(automatic.get("/api/ext/pomodoro", poll(automatic, login).value("token", ""))),
              200);
}

TEST(DeviceLogin, MalformedRequestsAndUnknownCodes) {
    Harness h;
    for (const char* bad :
         {"", "not json", "[]", R"({"client":"mac-timer"})", R"({"client":1,"deviceName":"Mac"})"})
        expectFailure(h.post("/api/device/start", bad, ""), 400);
    for (const char* bad : {"", "{}", R"({"deviceCode":7})"})
        expectFailure(h.post("/api/device/poll", bad, ""), 400);
    const auto unknown = h.post("/api/device/poll", R"({"deviceCode":"0123456789abcdef"})", "");
    expectFailure(unknown, 404);
    EXPECT_EQ(body(unknown).value("status", ""), "expired");
    EXPECT_EQ(status(h.get("/device.html?code=ZZZZ-0000", "")), 404);
    EXPECT_EQ(press(h, "approve", "ZZZZ-0000"), 404);
    EXPECT_NE(h.get("/device.html", "")->body.find("name=\"code\""), std::string::npos);  // asks
}

}  // namespace
}  // namespace orvela::dev::testing
