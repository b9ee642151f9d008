// The panel's activation token: kept for the action its click starts, once and briefly.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "desktop/activation_token.hpp"
#include "qt/support/fake_panel.hpp"
#include "qt_platform.hpp"

namespace orvela::qt {
namespace {

// What a panel may send: only a token that can go into an environment is kept; one is given
// once, within its lifetime, and a newer click's token (even a bad one) replaces it.
TEST(ActivationTokens, KeepsAUsableTokenOnceAndBriefly) {
    double now = 100;
    ActivationTokens tokens([&now] { return now; });
    const std::string gnome = "gnome-shell/orvela-timer/2361-3-host_TIME1234";
    // Sent, seconds until taken, what the first and the second take give.
    for (const auto& [sent, after, first] :
         std::vector<std::tuple<std::string, double, std::string>>{
             {gnome, 0, gnome},
             {"kwin-7c9e-токен", ActivationTokens::kLifetimeSeconds, "kwin-7c9e-токен"},
             {"late", ActivationTokens::kLifetimeSeconds + 0.01, ""},
             {"gnome-shell/ORVELA Timer/1-2", 0, ""},  // white space
             {"a\nb", 0, ""},
             {"\x1b[31m", 0, ""},
             {"bad\xff", 0, ""},
             {std::string(ActivationTokens::kMaxBytes, 'x'), 0, std::string(1024, 'x')},
             {std::string(ActivationTokens::kMaxBytes + 1, 'x'), 0, ""},
             {"", 0, ""}}) {
        tokens.provide("an earlier click's");
        tokens.provide(sent);
        now += after;
        EXPECT_EQ(tokens.take().value_or(""), first) << sent.substr(0, 30);
        EXPECT_EQ(tokens.take(), std::nullopt) << "given twice";
    }
}

// Over the bus, as GNOME's extension sends it: the browser started for the click gets the
// token, once; an alert the click opened uses it up, one that opened by itself does not.
TEST(ActivationTokens, TheClickTokenReachesTheOpenerOnceOrTheAlertItOpened) {
    test::FakePanel panel;
    ASSERT_TRUE(panel.startWatcher());
    QtPlatform platform;
    platform.createStatusItem();
    ASSERT_TRUE(panel.attach());
    test::FakeBrowser browser;
    const auto provide = [&panel](const QString& token) {
        auto call = QDBusMessage::createMethodCall(panel.service, StatusNotifierItem::kObjectPath,
                                                   StatusNotifierItem::kInterface,
                                                   "ProvideXdgActivationToken");
        const QDBusMessage reply = panel.call(call << token);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    };
    const auto alert = [&platform](bool unrequested) {
        QTimer::singleShot(50, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->close();
        });
        Alert shown;
        shown.buttons = {"OK"};
        shown.unrequested = unrequested;
        platform.runAlert(shown);
    };
    const std::string page = "https://orvela.test/settings.html";
    provide("click-1");
    platform.openUrl(page);
    platform.openUrl(page);
    provide("click-2");
    alert(false);
    platform.openUrl(page);
    provide("click-3");
    alert(true);
    platform.openUrl(page);
    EXPECT_EQ(browser.tokens, (QStringList{"click-1", "", "", "click-3"}));
    EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN")) << "left behind";
}

}  // namespace
}  // namespace orvela::qt
