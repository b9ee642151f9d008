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

using orvela::test::spin;
using orvela::test::waitUntil;

class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString appName;
        uint replacesId;
        QString summary, body;
        QVariantMap hints;
        // What the hints say about sound: "suppressed", the sound's name, or nothing.
        std::string sound() const {
            const std::string name = hints.value("sound-name").toString().toStdString();
            return hints.value("suppress-sound").toBool() ? "suppressed" + name : name;
        }
    };

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

    std::vector<Call> calls;

public slots:
    QStringList GetCapabilities() { return capabilities_; }
    uint Notify(const QString& appName, uint replacesId, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int) {
        calls.push_back({appName, replacesId, summary, body, hints});
        return replacesId ? replacesId : nextId_++;
    }

private:
    QStringList capabilities_;
    QDBusConnection bus_;
    uint nextId_ = 41;
};

Notification note(std::string identifier, std::string title, std::optional<std::string> sound) {
    return {std::move(identifier), title, "body of " + title, std::move(sound)};
}

// The same identifier replaces its predecessor, even posted back to back before the server has
// answered the one before; "no sound" is suppress-sound, and a sound is hinted only to a server
// that plays one.
TEST(DesktopNotifications, SameIdentifierReplacesAndSoundIsHintedOnlyWhereItCanPlay) {
    for (const bool canPlay : {true, false}) {
        SCOPED_TRACE(canPlay ? "sound server" : "silent server");
        FakeNotificationServer server(canPlay ? QStringList{"body", "sound"} : QStringList{"body"});
        DesktopNotifications notifications(QDBusConnection::sessionBus());
        notifications.post(note("orvela-pomodoro", "☕ Перерыв 5 мин", "Glass.aiff"));
        notifications.post(note("orvela-pomodoro", "🍅 Работаем 25 мин", "Glass"));
        notifications.post(note("orvela-update", "update", std::nullopt));
        ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 3; }));
        // And again once the server is known, under a fresh identifier.
        notifications.post(note("orvela-task", "✅ Время задачи вышло", "Glass.aiff"));
        notifications.post(note("orvela-task", "✅ Время задачи вышло", "Glass.aiff"));
        ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 5; }));

        const auto& c = server.calls;
        EXPECT_EQ(c[0].appName, "ORVELA Timer");
        EXPECT_EQ(c[0].summary, QString::fromUtf8("☕ Перерыв 5 мин"));
        EXPECT_EQ(c[0].body, QString::fromUtf8("body of ☕ Перерыв 5 мин"));
        std::vector<std::pair<uint, std::string>> replacedAndSound;
        for (const auto& call : c) replacedAndSound.emplace_back(call.replacesId, call.sound());
        const std::string glass = canPlay ? "complete" : "";
        EXPECT_EQ(replacedAndSound,
                  (std::vector<std::pair<uint, std::string>>{
                      {0, glass}, {41, glass}, {0, "suppressed"}, {0, glass}, {43, glass}}));
    }
}

// Without a server nothing happens; one that appears later gets the next notifications, and
// its capabilities are learnt from then on.
TEST(DesktopNotifications, SilentWithoutAServerAndReadyForOneThatAppearsLater) {
    DesktopNotifications notifications(QDBusConnection::sessionBus());
    notifications.post(note("orvela-connected", "early", "Glass"));
    spin(300);

    FakeNotificationServer server({"sound"});
    notifications.post(note("orvela-connected", "first", "Glass"));
    ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 1; }));
    notifications.post(note("orvela-connected", "second", "Glass"));
    ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 2; }));
    EXPECT_EQ(server.calls[0].summary + " " + server.calls[1].summary, "first second");
    EXPECT_EQ(server.calls[1].sound(), "complete");
    EXPECT_EQ(server.calls[1].replacesId, 41u);
}

}  // namespace
}  // namespace orvela::qt

#include "desktop_notifications_test.moc"
