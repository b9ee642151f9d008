// Notifications against a notification server played by the test on the private session bus.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QStringList>
#include <QVariantMap>
#include <vector>

#include "desktop_notifications.hpp"
#include "qt_wait.hpp"

namespace orvela::qt {
namespace {

using orvela::test::spin;
using orvela::test::waitUntil;

class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString appName;
        uint replacesId;
        QString summary;
        QString body;
        QVariantMap hints;
        int timeout;
    };

    explicit FakeNotificationServer(QStringList capabilities)
        : capabilities_(std::move(capabilities)),
          bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                             QStringLiteral("fake-notification-server"))) {
        EXPECT_TRUE(bus_.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                        QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(bus_.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }
    ~FakeNotificationServer() override {
        bus_.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        bus_.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-notification-server"));
    }

    std::vector<Call> calls;
    std::vector<uint> returned;
    int capabilityQueries = 0;

public slots:
    QStringList GetCapabilities() {
        ++capabilityQueries;
        return capabilities_;
    }
    uint Notify(const QString& appName, uint replacesId, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int timeout) {
        calls.push_back({appName, replacesId, summary, body, hints, timeout});
        returned.push_back(replacesId ? replacesId : nextId_++);
        return returned.back();
    }

private:
    QStringList capabilities_;
    QDBusConnection bus_;
    uint nextId_ = 41;
};

Notification note(std::string identifier, std::string title, std::optional<std::string> sound) {
    const std::string body = "body of " + title;
    return {std::move(identifier), std::move(title), body, std::move(sound)};
}

TEST(DesktopNotifications, SameIdentifierReplacesAndTheSoundIsHintedWhereItCanPlay) {
    FakeNotificationServer server({"body", "sound"});
    DesktopNotifications notifications(QDBusConnection::sessionBus());
    // Back to back, before any answer: the second must still learn the first one's id.
    notifications.post(note("orvela-pomodoro", "☕ Перерыв 5 мин", "Glass.aiff"));
    notifications.post(note("orvela-pomodoro", "🍅 Работаем 25 мин", "Glass"));
    notifications.post(note("orvela-update", "update", std::nullopt));
    ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 3; }));
    notifications.post(note("orvela-pomodoro", "✅ Время задачи вышло", "Glass.aiff"));
    ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 4; }));

    const auto& c = server.calls;
    EXPECT_EQ(c[0].appName, "ORVELA Timer");
    EXPECT_EQ(c[0].summary, QString::fromUtf8("☕ Перерыв 5 мин"));
    EXPECT_EQ(c[0].body, QString::fromUtf8("body of ☕ Перерыв 5 мин"));
    EXPECT_EQ(c[0].timeout, -1);
    EXPECT_EQ(c[0].replacesId, 0u);
    EXPECT_EQ(c[1].replacesId, server.returned[0]);
    EXPECT_EQ(c[2].replacesId, 0u) << "another identifier replaces nothing";
    EXPECT_EQ(c[3].replacesId, server.returned[0]);

    for (int i : {0, 1, 3}) {
        EXPECT_EQ(c[i].hints.value("sound-name").toString(), "complete") << i;
        EXPECT_FALSE(c[i].hints.contains("suppress-sound")) << i;
    }
    EXPECT_TRUE(c[2].hints.value("suppress-sound").toBool());
    EXPECT_FALSE(c[2].hints.contains("sound-name"));
    EXPECT_EQ(server.capabilityQueries, 1);
}

TEST(DesktopNotifications, NoSoundHintForAServerThatPlaysNoSounds) {
    FakeNotificationServer server({"body", "persistence"});
    DesktopNotifications notifications(QDBusConnection::sessionBus());
    notifications.probe();
    notifications.post(note("orvela-pomodoro", "t", "Glass.aiff"));
    ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 1; }));
    EXPECT_FALSE(server.calls[0].hints.contains("sound-name"));
    EXPECT_FALSE(server.calls[0].hints.contains("suppress-sound"));
}

TEST(DesktopNotifications, SilentWithoutAServerAndReadyForOneThatAppearsLater) {
    DesktopNotifications notifications(QDBusConnection::sessionBus());
    notifications.post(note("orvela-connected", "early", "Glass"));
    spin(300);

    FakeNotificationServer server({"sound"});
    notifications.post(note("orvela-connected", "first", "Glass"));
    ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 1; }));
    EXPECT_EQ(server.calls[0].summary, "first");
    // Once the server answers, its capabilities are learnt and the sound is hinted.
    notifications.post(note("orvela-connected", "second", "Glass"));
    ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 2; }));
    EXPECT_EQ(server.calls[1].hints.value("sound-name").toString(), "complete");
    EXPECT_EQ(server.calls[1].replacesId, server.returned[0]);
}

TEST(DesktopNotifications, SoundNamesFollowTheFreedesktopTheme) {
    EXPECT_EQ(freedesktopSoundName("Glass"), "complete");
    EXPECT_EQ(freedesktopSoundName("Glass.aiff"), "complete");
    EXPECT_EQ(freedesktopSoundName("bell"), "bell");
    EXPECT_EQ(freedesktopSoundName("message-new-instant.oga"), "message-new-instant");
    // Unknown names play nothing, and never fail.
    EventSounds sounds;
    sounds.play("no-such-sound-anywhere");
}

}  // namespace
}  // namespace orvela::qt

#include "desktop_notifications_test.moc"
