// Notifications against a notification server played by the test on the private session bus.
#include <gtest/gtest.h>

#include "desktop_notifications.hpp"
#include "fake_panel.hpp"
#include "qt_wait.hpp"

namespace orvela::qt {
namespace {

using orvela::test::waitUntil;

// The same identifier replaces its predecessor, even before the server has answered it; "no
// sound" is suppress-sound, and a sound is hinted only to a server that plays one.
TEST(DesktopNotifications, SameIdentifierReplacesAndSoundIsHintedOnlyWhereItCanPlay) {
    for (const bool canPlay : {true, false}) {
        SCOPED_TRACE(canPlay ? "sound server" : "silent server");
        test::FakeNotifications server(canPlay ? QStringList{"body", "sound"}
                                               : QStringList{"body"});
        ASSERT_TRUE(server.registered);
        DesktopNotifications notifications(QDBusConnection::sessionBus());
        notifications.post({"orvela-pomodoro", "☕ Перерыв 5 мин", "body", "Glass.aiff"});
        notifications.post({"orvela-pomodoro", "🍅 Работаем 25 мин", "body", "Glass"});
        notifications.post({"orvela-update", "update", "body", std::nullopt});
        ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 3; }));
        notifications.post({"orvela-pomodoro", "again", "body", "Glass"});  // server now known
        ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 4; }));
        const QString glass = canPlay ? "complete" : "";
        EXPECT_EQ(server.calls, (QStringList{"ORVELA Timer|0|☕ Перерыв 5 мин|" + glass,
                                             "ORVELA Timer|41|🍅 Работаем 25 мин|" + glass,
                                             "ORVELA Timer|0|update|suppressed",
                                             "ORVELA Timer|41|again|" + glass}));
    }
}

}  // namespace
}  // namespace orvela::qt
