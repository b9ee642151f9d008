// The desktop around the app, played by a test on the private session bus: a panel (its
// StatusNotifierWatcher, and a host reading the item and driving its menu over D-Bus), the
// notification server, the browser, and the person at the desk who answers the alerts.
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>
#include <deque>
#include <vector>

#include "dbus_menu_exporter.hpp"
#include "qt_platform.hpp"

namespace orvela::test {

// The panel's watcher: accepts every item and remembers the names it was given.
class FakeWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return registrations; }
    QStringList registrations;

public slots:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString& service) {
        registrations << service;
    }
    Q_SCRIPTABLE void RegisterStatusNotifierHost(const QString&) {}
};

// What a panel receives from the item and its menu.
class SignalLog : public QObject {
    Q_OBJECT

public:
    QStringList names;
    QStringList labels;
    QList<uint> layoutRevisions;
    qt::DBusMenuItemList updatedProps;
    int count(const QString& name) const { return int(names.count(name)); }

public slots:
    void newTitle() { names << "NewTitle"; }
    void newIcon() { names << "NewIcon"; }
    void newToolTip() { names << "NewToolTip"; }
    void newLabel(const QString& label, const QString& guide);
    void layoutUpdated(uint revision, int parent);
    void itemsPropertiesUpdated(const QDBusMessage& message);
};

// A panel on a bus connection of its own. Every call is asynchronous and waited for with the
// event loop turning, because the item answers on this very thread.
class FakePanel {
public:
    FakePanel();
    ~FakePanel();
    FakePanel(const FakePanel&) = delete;
    FakePanel& operator=(const FakePanel&) = delete;

    bool isConnected() const { return bus_.isConnected(); }
    QDBusConnection& bus() { return bus_; }

    bool startWatcher();
    void stopWatcher();
    // Waits for an item to register, then follows its signals and its menu's, as a host does.
    bool attach(int timeoutMs = 5000);

    QDBusMessage call(const QDBusMessage& message);
    QVariant property(const QString& path, const QString& interface, const QString& name);
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

// The desktop's notification server: shows nothing, remembers everything.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        QString summary;
        QString body;
        QVariantMap hints;
    };

    FakeNotifications();
    ~FakeNotifications() override;
    bool isRegistered() const { return registered_; }
    std::vector<Shown> shown;

public slots:
    QStringList GetCapabilities() { return {"body", "sound"}; }
    uint Notify(const QString& appName, uint replacesId, const QString& icon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int timeout);

private:
    QDBusConnection bus_;
    bool registered_ = false;
};

// The user's browser: takes the http and https links handed to the desktop.
class FakeBrowser : public QObject {
    Q_OBJECT

public:
    FakeBrowser();
    ~FakeBrowser() override;
    QStringList opened;

public slots:
    void open(const QUrl& url) { opened << url.toString(); }
};

// The Qt backend with only the person at it scripted: alerts are recorded and answered from a
// list (closed once it runs dry, so a surprise alert fails a check instead of hanging the run),
// and the main loop's ticks are counted. Everything else is the backend as the app uses it.
class ScriptedDesktop : public Platform {
public:
    std::deque<int> answers;  // button indexes, in the order the alerts come
    std::vector<Alert> alerts;
    int ticks = 0;

    void activateApp() override {}
    AlertAnswer runAlert(const Alert& alert) override;
    void startRepeatingTimer(double intervalSeconds, std::function<void()> callback) override;

    double wallClockMs() override;
    double monotonicSeconds() override;
    void runAfter(double delaySeconds, std::function<void()> callback) override;
    void send(const HttpRequest& request, std::function<void(HttpResponse)> done) override;
    void download(const HttpRequest& request, std::function<void(DownloadResult)> done) override;
    StatusItem* createStatusItem() override;
    std::optional<std::string> clipboardText() override;
    void requestNotificationAuthorisation() override;
    void postNotification(const Notification& notification) override;
    void playSound(const std::string& name) override;
    void openUrl(const std::string& url) override;
    void setWakeHandler(std::function<void()> handler) override;
    std::optional<std::string> computerName() override;
    LoginItemStatus loginItemStatus() override;
    std::optional<std::string> registerLoginItem() override;
    std::optional<std::string> unregisterLoginItem() override;
    std::optional<std::string> userDefault(const std::string& key) override;
    std::optional<std::string> bundleInfo(const std::string& key) override;
    std::optional<std::string> bundlePath() override;
    std::int64_t processId() override;
    std::string temporaryDirectory() override;
    std::string homeDirectory() override;
    ProcessResult runAndWait(const std::string& path,
                             const std::vector<std::string>& arguments) override;
    std::optional<std::string> launchDetached(
        const std::string& path, const std::vector<std::string>& arguments,
        const std::map<std::string, std::string>& environment) override;
    void systemLog(const std::string& line) override;
    void terminate() override;

protected:
    qt::QtPlatform real_;
};

}  // namespace orvela::test
