#include "fake_panel.hpp"

#include <gtest/gtest.h>

#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDesktopServices>

#include "qt_wait.hpp"
#include "status_notifier_item.hpp"

namespace orvela::test {

namespace {

const QString kSniInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString kWatcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kPanelConnection = QStringLiteral("fake-panel");
const QString kNotificationsName = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kNotificationsConnection = QStringLiteral("fake-notifications");

}  // namespace

void SignalLog::newLabel(const QString& label, const QString& guide) {
    names << "XAyatanaNewLabel";
    labels << label;
    EXPECT_FALSE(guide.isEmpty());
}

void SignalLog::layoutUpdated(uint revision, int parent) {
    layoutRevisions << revision;
    EXPECT_EQ(parent, 0);
}

void SignalLog::itemsPropertiesUpdated(const QDBusMessage& message) {
    updatedProps += qdbus_cast<qt::DBusMenuItemList>(message.arguments().value(0));
}

FakePanel::FakePanel()
    : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, kPanelConnection)) {
    qt::registerDBusMenuTypes();
    qt::registerStatusNotifierTypes();
}

FakePanel::~FakePanel() {
    stopWatcher();
    QDBusConnection::disconnectFromBus(kPanelConnection);
}

bool FakePanel::startWatcher() {
    return bus_.registerObject(kWatcherPath, &watcher, QDBusConnection::ExportScriptableContents) &&
           bus_.registerService(kWatcherName);
}

void FakePanel::stopWatcher() {
    bus_.unregisterService(kWatcherName);
    bus_.unregisterObject(kWatcherPath);
}

bool FakePanel::attach(int timeoutMs) {
    if (!waitUntil([&] { return !watcher.registrations.isEmpty(); }, timeoutMs)) return false;
    service = watcher.registrations.back();
    const QString path = qt::StatusNotifierItem::kObjectPath;
    bool ok = true;
    for (const char* name : {"NewTitle", "NewIcon", "NewToolTip"}) {
        // SLOT() spelled out: "1" marks a slot, and NewTitle is followed by newTitle().
        const QByteArray slot = QByteArray("1") + QByteArray(name).replace("New", "new") + "()";
        ok = ok && bus_.connect(service, path, kSniInterface, name, &log, slot);
    }
    ok = ok && bus_.connect(service, path, kSniInterface, "XAyatanaNewLabel", &log,
                            SLOT(newLabel(QString, QString)));
    menuPath = itemProperty("Menu").value<QDBusObjectPath>().path();
    ok = ok && !menuPath.isEmpty();
    ok = ok && bus_.connect(service, menuPath, kMenuInterface, "LayoutUpdated", &log,
                            SLOT(layoutUpdated(uint, int)));
    ok = ok && bus_.connect(service, menuPath, kMenuInterface, "ItemsPropertiesUpdated", &log,
                            SLOT(itemsPropertiesUpdated(QDBusMessage)));
    return ok;
}

QDBusMessage FakePanel::call(const QDBusMessage& message) {
    QDBusPendingCallWatcher pending(bus_.asyncCall(message));
    bool done = false;
    QObject::connect(&pending, &QDBusPendingCallWatcher::finished, [&] { done = true; });
    // Waiting for the answer also lets every signal the item sent before it reach the log.
    EXPECT_TRUE(waitUntil([&] { return done; })) << message.member().toStdString();
    return pending.reply();
}

QVariant FakePanel::property(const QString& path, const QString& interface, const QString& name) {
    auto message =
        QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Properties", "Get");
    message << interface << name;
    const QDBusMessage reply = call(message);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

QVariant FakePanel::itemProperty(const QString& name) {
    return property(qt::StatusNotifierItem::kObjectPath, kSniInterface, name);
}

QDBusMessage FakePanel::callMenu(const QString& method, const QVariantList& args) {
    auto message = QDBusMessage::createMethodCall(service, menuPath, kMenuInterface, method);
    message.setArguments(args);
    return call(message);
}

qt::DBusMenuLayoutItem FakePanel::openMenu() {
    callMenu("AboutToShow", {0});
    const QDBusMessage reply = callMenu("GetLayout", {0, -1, QStringList()});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    return qdbus_cast<qt::DBusMenuLayoutItem>(reply.arguments().value(1));
}

QDBusMessage FakePanel::click(int id) {
    return callMenu("Event", {id, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
}

qt::DBusMenuLayoutItem childLabelled(const qt::DBusMenuLayoutItem& parent, const QString& label) {
    for (const auto& child : parent.children) {
        if (child.properties.value("label").toString() == label) return child;
    }
    ADD_FAILURE() << "no item " << label.toStdString();
    return {};
}

FakeNotifications::FakeNotifications()
    : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, kNotificationsConnection)) {
    registered_ = bus_.registerObject(kNotificationsPath, this, QDBusConnection::ExportAllSlots) &&
                  bus_.registerService(kNotificationsName);
}

FakeNotifications::~FakeNotifications() {
    bus_.unregisterService(kNotificationsName);
    bus_.unregisterObject(kNotificationsPath);
    QDBusConnection::disconnectFromBus(kNotificationsConnection);
}

uint FakeNotifications::Notify(const QString&, uint, const QString&, const QString& summary,
                               const QString& body, const QStringList&, const QVariantMap& hints,
                               int) {
    shown.push_back({summary, body, hints});
    return uint(shown.size());
}

FakeBrowser::FakeBrowser() {
    for (const char* scheme : {"http", "https"})
        QDesktopServices::setUrlHandler(scheme, this, "open");
}

FakeBrowser::~FakeBrowser() {
    for (const char* scheme : {"http", "https"}) QDesktopServices::unsetUrlHandler(scheme);
}

AlertAnswer ScriptedDesktop::runAlert(const Alert& alert) {
    alerts.push_back(alert);
    int button = static_cast<int>(alert.buttons.size()) - 1;
    if (!answers.empty()) {
        button = answers.front();
        answers.pop_front();
    }
    return AlertAnswer{button, {}};
}

void ScriptedDesktop::startRepeatingTimer(double intervalSeconds, std::function<void()> callback) {
    real_.startRepeatingTimer(intervalSeconds, [this, callback = std::move(callback)] {
        callback();
        ++ticks;
    });
}

double ScriptedDesktop::wallClockMs() {
    return real_.wallClockMs();
}
double ScriptedDesktop::monotonicSeconds() {
    return real_.monotonicSeconds();
}
void ScriptedDesktop::runAfter(double delaySeconds, std::function<void()> callback) {
    real_.runAfter(delaySeconds, std::move(callback));
}
void ScriptedDesktop::send(const HttpRequest& request, std::function<void(HttpResponse)> done) {
    real_.send(request, std::move(done));
}
void ScriptedDesktop::download(const HttpRequest& request,
                               std::function<void(DownloadResult)> done) {
    real_.download(request, std::move(done));
}
StatusItem* ScriptedDesktop::createStatusItem() {
    return real_.createStatusItem();
}
std::optional<std::string> ScriptedDesktop::clipboardText() {
    return real_.clipboardText();
}
void ScriptedDesktop::requestNotificationAuthorisation() {
    real_.requestNotificationAuthorisation();
}
void ScriptedDesktop::postNotification(const Notification& notification) {
    real_.postNotification(notification);
}
void ScriptedDesktop::playSound(const std::string& name) {
    real_.playSound(name);
}
void ScriptedDesktop::openUrl(const std::string& url) {
    real_.openUrl(url);
}
void ScriptedDesktop::setWakeHandler(std::function<void()> handler) {
    real_.setWakeHandler(std::move(handler));
}
std::optional<std::string> ScriptedDesktop::computerName() {
    return real_.computerName();
}
LoginItemStatus ScriptedDesktop::loginItemStatus() {
    return real_.loginItemStatus();
}
std::optional<std::string> ScriptedDesktop::registerLoginItem() {
    return real_.registerLoginItem();
}
std::optional<std::string> ScriptedDesktop::unregisterLoginItem() {
    return real_.unregisterLoginItem();
}
std::optional<std::string> ScriptedDesktop::userDefault(const std::string& key) {
    return real_.userDefault(key);
}
std::optional<std::string> ScriptedDesktop::bundleInfo(const std::string& key) {
    return real_.bundleInfo(key);
}
std::optional<std::string> ScriptedDesktop::bundlePath() {
    return real_.bundlePath();
}
std::int64_t ScriptedDesktop::processId() {
    return real_.processId();
}
std::string ScriptedDesktop::temporaryDirectory() {
    return real_.temporaryDirectory();
}
std::string ScriptedDesktop::homeDirectory() {
    return real_.homeDirectory();
}
ProcessResult ScriptedDesktop::runAndWait(const std::string& path,
                                          const std::vector<std::string>& arguments) {
    return real_.runAndWait(path, arguments);
}
std::optional<std::string> ScriptedDesktop::launchDetached(
    const std::string& path, const std::vector<std::string>& arguments,
    const std::map<std::string, std::string>& environment) {
    return real_.launchDetached(path, arguments, environment);
}
void ScriptedDesktop::systemLog(const std::string& line) {
    real_.systemLog(line);
}
void ScriptedDesktop::terminate() {
    real_.terminate();
}

}  // namespace orvela::test
