// Notifications against a notification server played by the test on the private session bus.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QStringList>
#include <QVariantMap>
#include <vector>

#include "desktop_notifications.hpp"
#include "qt_wait.hpp"

namespace orvela::qt {
namespace {

using orvela::test::waitUntil;

// Records each call as "app|replacesId|summary|sound" ("suppressed", the hinted name or none).
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit FakeNotificationServer(QStringList capabilities)
        : capabilities_(std::move(capabilities)),
          bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-notifications")) {
        EXPECT_TRUE(bus_.registerObject("/org/freedesktop/Notifications", this,
                                        QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(bus_.registerService("org.freedesktop.Notifications"));
    }
    ~FakeNotificationServer() override {
        bus_.unregisterService("org.freedesktop.Notifications");
        QDBusConnection::disconnectFromBus("fake-notifications");
    }
    std::vector<QString> calls;

public slots:
    QStringList GetCapabilities() { return capabilities_; }
    uint Notify(const QString& appName, uint replacesId, const QString&, const QString& summary,
                const QString&, const QStringList&, const QVariantMap& hints, int) {
        const QString sound = hints.value("suppress-sound").toBool()
                                  ? "suppressed"
                                  : hints.value("sound-name").toString();
        calls.push_back(
            QStringList{appName, QString::number(replacesId), summary, sound}.join('|'));
        return replacesId ? replacesId : nextId_++;
    }

private:
    QStringList capabilities_;
    QDBusConnection bus_;
    uint nextId_ = 41;
};

// The same identifier replaces its predecessor, even before the server has answered it; "no
// sound" is suppress-sound, and a sound is hinted only to a server that plays one.
TEST(DesktopNotifications, SameIdentifierReplacesAndSoundIsHintedOnlyWhereItCanPlay) {
    for (const bool canPlay : {true, false}) {
        SCOPED_TRACE(canPlay ? "sound server" : "silent server");
        FakeNotificationServer server(canPlay ? QStringList{"body", "sound"} : QStringList{"body"});
        DesktopNotifications notifications(QDBusConnection::sessionBus());
        notifications.post({"orvela-pomodoro", "☕ Перерыв 5 мин", "body", "Glass.aiff"});
        notifications.post({"orvela-pomodoro", "🍅 Работаем 25 мин", "body", "Glass"});
        notifications.post({"orvela-update", "update", "body", std::nullopt});
        ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 3; }));
        notifications.post({"orvela-pomodoro", "again", "body", "Glass"});  // server now known
        ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 4; }));
        const QString glass = canPlay ? "complete" : "";
        EXPECT_EQ(server.calls, (std::vector<QString>{"ORVELA Timer|0|☕ Перерыв 5 мин|" + glass,
                                                      "ORVELA Timer|41|🍅 Работаем 25 мин|" + glass,
                                                      "ORVELA Timer|0|update|suppressed",
                                                      "ORVELA Timer|41|again|" + glass}));
    }
}

}  // namespace
}  // namespace orvela::qt

#include "desktop_notifications_test.moc"
