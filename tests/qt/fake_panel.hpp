// The desktop around the app, played by a test on the private session bus: a panel (its
// StatusNotifierWatcher, and a host reading the item and driving its menu over D-Bus), the
// notification server and the browser.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

#include "dbus_menu_exporter.hpp"

namespace orvela::test {

// The panel's watcher: accepts every item and remembers the names it was given.
class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")

public:
    QStringList registrations;

public slots:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString& service) {
        registrations << service;
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
    FakePanel();
    ~FakePanel();

    bool isConnected() const { return bus_.isConnected(); }
    bool startWatcher();
    void stopWatcher();
    // Waits for an item to register, then follows its signals and its menu's, as a host does.
    bool attach();

    QDBusMessage call(const QDBusMessage& message);
    QVariant itemProperty(const QString& name);
    QDBusMessage callMenu(const QString& method, const QVariantList& args);
    // Opens the menu the way hosts do: AboutToShow on the root, then the whole layout.
    qt::DBusMenuLayoutItem openMenu();
    QDBusMessage click(int id);

    FakeWatcher watcher;
    SignalLog log;
    QString service;   // the item's bus name, once attached
    QString menuPath;  // its dbusmenu object

private:
    QDBusConnection bus_;
};

// The child of `parent` with this label; a failure is recorded when there is none.
qt::DBusMenuLayoutItem childLabelled(const qt::DBusMenuLayoutItem& parent, const QString& label);

// The desktop's notification server: shows nothing, remembers summary and body of each.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    FakeNotifications()
        : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "notifications")) {
        registered = bus_.registerObject("/org/freedesktop/Notifications", this,
                                         QDBusConnection::ExportAllSlots) &&
                     bus_.registerService("org.freedesktop.Notifications");
    }
    ~FakeNotifications() override { QDBusConnection::disconnectFromBus("notifications"); }
    bool registered = false;
    QList<QStringList> shown;

public slots:
    QStringList GetCapabilities() { return {"body", "sound"}; }
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        shown << QStringList{summary, body};
        return uint(shown.size());
    }

private:
    QDBusConnection bus_;
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

public slots:
    void open(const QUrl& url) { opened << url.toString(); }
};

}  // namespace orvela::test
