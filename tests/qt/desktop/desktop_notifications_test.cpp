// Notifications against a notification server played by the test on the private session bus.
#include <gtest/gtest.h>

#include <QTextDocument>

#include "desktop/desktop_notifications.hpp"
#include "qt/support/fake_panel.hpp"
#include "qt/support/qt_wait.hpp"

namespace orvela::qt {
namespace {

using orvela::test::spin;
using orvela::test::waitUntil;

// The same identifier replaces its predecessor, even before the server has answered it; "no
// sound" is suppress-sound, and a sound is hinted only to a server that plays one. Text reads as
// typed: a server that lists "body-markup" renders the body as markup (entities decoded, tags
// applied); the summary, plain text everywhere, and a plain server's body go as they are.
TEST(DesktopNotifications, SameIdentifierReplacesSoundIsHintedWhereItPlaysAndTextReadsAsTyped) {
    const QStringList bodies{"R&D <b>", "a_b", "x &amp; y", "\"5 > 3\" & 'q'"};
    for (const bool rich : {true, false}) {
        SCOPED_TRACE(rich ? "sound and markup server" : "plain server");
        test::FakeNotifications server(rich ? QStringList{"body", "body-markup", "sound"}
                                            : QStringList{"body"});
        ASSERT_TRUE(server.registered);
        DesktopNotifications notifications(QDBusConnection::sessionBus(), QString());
        const auto post = [&](const char* id, const char* title, int body, const char* sound) {
            notifications.post({id, title, bodies[body].toStdString(),
                                sound ? std::optional<std::string>(sound) : std::nullopt});
        };
        post("orvela-pomodoro", "☕ Перерыв 5 мин", 0, "Glass.aiff");
        post("orvela-pomodoro", "🍅 Работаем 25 мин", 1, "Glass");
        post("orvela-update", "x &amp; y <b>", 2, nullptr);
        ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 3; }));
        post("orvela-pomodoro", "again", 3, "Glass");  // server now known
        ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 4; }));
        const QString glass = rich ? "complete" : "";
        EXPECT_EQ(server.calls, (QStringList{"ORVELA Timer|0|☕ Перерыв 5 мин|" + glass,
                                             "ORVELA Timer|41|🍅 Работаем 25 мин|" + glass,
                                             "ORVELA Timer|0|x &amp; y <b>|suppressed",
                                             "ORVELA Timer|41|again|" + glass}));
        for (qsizetype i = 0; i < bodies.size(); ++i) {
            QTextDocument rendered;
            rendered.setHtml(server.shown[i][1]);
            EXPECT_EQ(rich ? rendered.toPlainText() : server.shown[i][1], bodies[i]);
        }
    }
}

// A server that closes banners (Plasma after 5 s) and shows nothing for a Notify that replaces a
// closed id: each announcement after a closed one goes out new and is seen. Another app's closed
// ids change nothing, and every notification names the app by its desktop entry and icon.
TEST(DesktopNotifications, AClosedIdIsForgottenAndEveryNotificationNamesTheApp) {
    test::FakeNotifications server;
    const QString icon = "file:///opt/ORVELA%20Timer.app/share/icons/orvela-timer.svg";
    DesktopNotifications notifications(QDBusConnection::sessionBus(), icon);
    const auto post = [&](const char* id, const char* title, qsizetype calls) {
        notifications.post({id, title, "", std::nullopt});
        return waitUntil([&] { return server.calls.size() == calls; });
    };
    ASSERT_TRUE(post("orvela-pomodoro", "1", 1) && post("orvela-update", "u", 2));
    // Closed ids of other apps change nothing; ours, dismissed, is forgotten.
    for (const uint foreign : {7u, 0u, 1000u}) server.close(foreign, 2);
    server.close(41, 2);
    spin(30);
    ASSERT_TRUE(post("orvela-pomodoro", "2", 3));
    ASSERT_TRUE(post("orvela-update", "u again", 4));  // still up: replaced in place
    ASSERT_TRUE(post("orvela-pomodoro", "3", 5));      // replaces 2 while it is up
    server.close(43, 1);                               // expired
    spin(30);
    ASSERT_TRUE(post("orvela-pomodoro", "4", 6));
    EXPECT_EQ(server.calls,
              (QStringList{"ORVELA Timer|0|1|suppressed", "ORVELA Timer|0|u|suppressed",
                           "ORVELA Timer|0|2|suppressed", "ORVELA Timer|42|u again|suppressed",
                           "ORVELA Timer|43|3|suppressed", "ORVELA Timer|0|4|suppressed"}));
    EXPECT_EQ(server.seen, (QStringList{"1", "u", "2", "u again", "3", "4"}));
    EXPECT_EQ(server.icons, QStringList(6, icon));
    for (const QVariantMap& hints : server.hints) EXPECT_EQ(hints["desktop-entry"], "orvela-timer");
}

}  // namespace
}  // namespace orvela::qt
