// The desktop around the app, played on the private session bus: a panel (watcher and host
// driving the item and its menu over D-Bus), the notification server and the browser.
#pragma once

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

#include "dbus_menu_client.hpp"
#include "panel/status_notifier_item.hpp"
#include "qt_wait.hpp"

namespace orvela::test {

// The panel's watcher: accepts every item and remembers the names it was given; it lists them
// all but the first `lose` (a host that dropped an item it had accepted). Whether a host shows
// its items (`host`) is served only where the panel is told to (not every watcher has it).
class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems MEMBER listed)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostShown SCRIPTABLE false)

public:
    QStringList registrations;
    QStringList listed;
    int lose = 0;
    bool host = true;
    mutable int hostReads = 0;
    bool hostShown() const { return ++hostReads, host; }

public slots:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString& service) {
        registrations << service;
        if (lose > 0)
            --lose;
        else
            listed << service + "/StatusNotifierItem";
    }
};

// Every signal the item and its menu send, in order.
class SignalLog : public QObject {
    Q_OBJECT

public:
    QList<QDBusMessage> received;
    // The first argument of each signal called `name`: the label, the layout revision...
    QVariantList firstArgs(const QString& name) const {
        QVariantList result;
        for (const auto& m : received)
            if (m.member() == name) result << m.arguments().value(0);
        return result;
    }

public slots:
    void record(const QDBusMessage& message) { received << message; }
};

// A panel on a bus connection of its own. Every call is asynchronous and waited for with the
// event loop turning, because the item answers on this very thread.
class FakePanel {
public:
    FakePanel() : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "panel")) {
        qt::registerDBusMenuTypes();
        qt::registerStatusNotifierTypes();
    }
    ~FakePanel() {
        stopWatcher();
        QDBusConnection::disconnectFromBus("panel");
    }
    bool isConnected() const { return bus_.isConnected(); }
    bool startWatcher(bool hostProperty = false) {
        return bus_.registerObject(
                   kWatcherPath, &watcher,
                   QDBusConnection::ExportScriptableContents |
                       (hostProperty ? QDBusConnection::ExportNonScriptableProperties
                                     : QDBusConnection::ExportScriptableContents)) &&
               bus_.registerService(kWatcherName);
    }
    // A host registers with the watcher, which says so by its signal or by the property's change.
    void hostCame(bool bySignal) {
        watcher.host = true;
        bus_.send(bySignal
                      ? QDBusMessage::createSignal(kWatcherPath, kWatcherName,
                                                   "StatusNotifierHostRegistered")
                      : QDBusMessage::createSignal(kWatcherPath, "org.freedesktop.DBus.Properties",
                                                   "PropertiesChanged")
                            << kWatcherName << QVariantMap{{"IsStatusNotifierHostRegistered", true}}
                            << QStringList());
    }
    void stopWatcher() {
        bus_.unregisterService(kWatcherName);
        bus_.unregisterObject(kWatcherPath);
    }
    // Follows the item's change signals from `sender`, or from anyone on the bus when empty.
    bool followItem(const QString& sender) {
        bool ok = true;
        for (const char* name : {"NewTitle", "NewIcon", "NewToolTip", "XAyatanaNewLabel"})
            ok =
                ok && bus_.connect(sender, kItemPath, kSni, name, &log, SLOT(record(QDBusMessage)));
        return ok;
    }
    // Waits for an item to register, then follows its signals and its menu's, as a host does.
    bool attach() {
        if (!waitUntil([&] { return !watcher.registrations.isEmpty(); })) return false;
        service = watcher.registrations.back();
        bool ok = followItem(service);
        menuPath = itemProperty("Menu").value<QDBusObjectPath>().path();
        for (const char* name : {"LayoutUpdated", "ItemsPropertiesUpdated"})
            ok = ok &&
                 bus_.connect(service, menuPath, kMenu, name, &log, SLOT(record(QDBusMessage)));
        return ok && !menuPath.isEmpty();
    }
    QDBusMessage call(const QDBusMessage& message) {
        QDBusPendingCallWatcher pending(bus_.asyncCall(message));
        bool done = false;
        QObject::connect(&pending, &QDBusPendingCallWatcher::finished, [&] { done = true; });
        // Waiting for the answer also lets every signal the item sent before it reach the log.
        EXPECT_TRUE(waitUntil([&] { return done; })) << message.member().toStdString();
        return pending.reply();
    }
    QVariant itemProperty(const QString& name) {
        auto message = QDBusMessage::createMethodCall(service, kItemPath,
                                                      "org.freedesktop.DBus.Properties", "Get");
        const QDBusMessage reply = call(message << kSni << name);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    QDBusMessage callMenu(const QString& method, const QVariantList& args) {
        auto message = QDBusMessage::createMethodCall(service, menuPath, kMenu, method);
        message.setArguments(args);
        return call(message);
    }
    // Opens the menu the way hosts do: AboutToShow on the root, then the whole layout.
    qt::DBusMenuLayoutItem openMenu() {
        callMenu("AboutToShow", {0});
        const QDBusMessage reply = callMenu("GetLayout", {0, -1, QStringList()});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return qdbus_cast<qt::DBusMenuLayoutItem>(reply.arguments().value(1));
    }
    QDBusMessage click(int id) {
        return callMenu("Event", {id, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
    }

    FakeWatcher watcher;
    SignalLog log;
    QString service;   // the item's bus name, once attached
    QString menuPath;  // its dbusmenu object

private:
    inline static const QString kSni = "org.kde.StatusNotifierItem",
                                kMenu = "com.canonical.dbusmenu",
                                kWatcherName = "org.kde.StatusNotifierWatcher",
                                kWatcherPath = "/StatusNotifierWatcher",
                                kItemPath = qt::StatusNotifierItem::kObjectPath;
    QDBusConnection bus_;
};

// The child of `parent` with this label; a failure is recorded when there is none.
inline qt::DBusMenuLayoutItem childLabelled(const qt::DBusMenuLayoutItem& parent,
                                            const QString& label) {
    for (const auto& child : parent.children)
        if (child.properties.value("label").toString() == label) return child;
    ADD_FAILURE() << "no item " << label.toStdString();
    return {};
}

// The notification server: keeps summary and body, the actions, icon and hints, and each call
// as "app|replacesId|summary|sound" (sound: "suppressed", the hinted name or none); closes on
// request and plays the user's click on an action. As Plasma does, it shows nothing for a
// Notify that replaces an id it has closed; `seen` lists the summaries it did show.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit FakeNotifications(QStringList capabilities = {"body", "sound"})
        : capabilities_(std::move(capabilities)),
          bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "notifications")) {
        registered = bus_.registerObject("/org/freedesktop/Notifications", this,
                                         QDBusConnection::ExportAllSlots) &&
                     bus_.registerService("org.freedesktop.Notifications");
    }
    ~FakeNotifications() override {
        bus_.unregisterService("org.freedesktop.Notifications");
        QDBusConnection::disconnectFromBus("notifications");
    }
    bool registered = false;
    QList<QStringList> shown;
    QList<QStringList> actions;
    QStringList icons;
    QList<QVariantMap> hints;
    QStringList calls;
    QStringList seen;
    QList<uint> closed;
    QList<uint> open;
    void invoke(uint id, const QString& key) {
        bus_.send(QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                             "org.freedesktop.Notifications", "ActionInvoked")
                  << id << key);
    }
    // A banner goes away (1 expired, 2 dismissed by the user, 3 closed by a call); an id that
    // is not open stands for another app's notification.
    void close(uint id, uint reason) {
        open.removeOne(id);
        bus_.send(QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                             "org.freedesktop.Notifications", "NotificationClosed")
                  << id << reason);
    }
    bool critical(qsizetype call) const { return hints.value(call).value("urgency").toInt() == 2; }

public slots:
    QStringList GetCapabilities() { return capabilities_; }
    uint Notify(const QString& app, uint replacesId, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actionList, const QVariantMap& hintMap,
                int) {
        const QString sound = hintMap.value("suppress-sound").toBool()
                                  ? "suppressed"
                                  : hintMap.value("sound-name").toString();
        shown << QStringList{summary, body};
        actions << actionList;
        icons << icon;
        hints << hintMap;
        calls << QStringList{app, QString::number(replacesId), summary, sound}.join('|');
        if (replacesId != 0 && !open.contains(replacesId)) return replacesId;
        const uint id = replacesId ? replacesId : nextId_++;
        seen << summary;
        if (!open.contains(id)) open << id;
        return id;
    }
    void CloseNotification(uint id) {
        closed << id;
        if (open.contains(id)) close(id, 3);
    }

private:
    QStringList capabilities_;
    QDBusConnection bus_;
    uint nextId_ = 41;
};

// The user's browser: takes the http and https links handed to the desktop.
class FakeBrowser : public QObject {
    Q_OBJECT

public:
    FakeBrowser() {
        for (const char* scheme : {"http", "https"})
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~FakeBrowser() override {
        for (const char* scheme : {"http", "https"}) QDesktopServices::unsetUrlHandler(scheme);
    }
    QStringList opened;
    QStringList tokens;  // XDG_ACTIVATION_TOKEN as each opening saw it

public slots:
    void open(const QUrl& url) {
        opened << url.toString();
        tokens << qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    }
};

}  // namespace orvela::test
