// Notifications against a notification server played by the test on the private session bus.
#include <gtest/gtest.h>

#include <QTextDocument>

#include "desktop/desktop_notifications.hpp"
#include "qt/support/fake_panel.hpp"
#include "qt/support/qt_wait.hpp"

namespace orvela::qt {
namespace {

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
        DesktopNotifications notifications(QDBusConnection::sessionBus());
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

}  // namespace
}  // namespace orvela::qt
