#include "fake_panel.hpp"

#include <gtest/gtest.h>

#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include "qt_wait.hpp"
#include "status_notifier_item.hpp"

namespace orvela::test {

const QString kSni = "org.kde.StatusNotifierItem";
const QString kMenu = "com.canonical.dbusmenu";
const QString kWatcherName = "org.kde.StatusNotifierWatcher";
const QString kWatcherPath = "/StatusNotifierWatcher";

FakePanel::FakePanel() : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "panel")) {
    qt::registerDBusMenuTypes();
    qt::registerStatusNotifierTypes();
}

FakePanel::~FakePanel() {
    stopWatcher();
    QDBusConnection::disconnectFromBus("panel");
}

bool FakePanel::startWatcher() {
    return bus_.registerObject(kWatcherPath, &watcher, QDBusConnection::ExportScriptableContents) &&
           bus_.registerService(kWatcherName);
}

void FakePanel::stopWatcher() {
    bus_.unregisterService(kWatcherName);
    bus_.unregisterObject(kWatcherPath);
}

bool FakePanel::attach() {
    if (!waitUntil([&] { return !watcher.registrations.isEmpty(); })) return false;
    service = watcher.registrations.back();
    const QString path = qt::StatusNotifierItem::kObjectPath;
    bool ok = true;
    for (const char* name : {"NewTitle", "NewIcon", "NewToolTip", "XAyatanaNewLabel"})
        ok = ok && bus_.connect(service, path, kSni, name, &log, SLOT(record(QDBusMessage)));
    menuPath = itemProperty("Menu").value<QDBusObjectPath>().path();
    for (const char* name : {"LayoutUpdated", "ItemsPropertiesUpdated"})
        ok = ok && bus_.connect(service, menuPath, kMenu, name, &log, SLOT(record(QDBusMessage)));
    return ok && !menuPath.isEmpty();
}

QDBusMessage FakePanel::call(const QDBusMessage& message) {
    QDBusPendingCallWatcher pending(bus_.asyncCall(message));
    bool done = false;
    QObject::connect(&pending, &QDBusPendingCallWatcher::finished, [&] { done = true; });
    // Waiting for the answer also lets every signal the item sent before it reach the log.
    EXPECT_TRUE(waitUntil([&] { return done; })) << message.member().toStdString();
    return pending.reply();
}

QVariant FakePanel::itemProperty(const QString& name) {
    auto message = QDBusMessage::createMethodCall(service, qt::StatusNotifierItem::kObjectPath,
                                                  "org.freedesktop.DBus.Properties", "Get");
    message << kSni << name;
    const QDBusMessage reply = call(message);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

QDBusMessage FakePanel::callMenu(const QString& method, const QVariantList& args) {
    auto message = QDBusMessage::createMethodCall(service, menuPath, kMenu, method);
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
    for (const auto& child : parent.children)
        if (child.properties.value("label").toString() == label) return child;
    ADD_FAILURE() << "no item " << label.toStdString();
    return {};
}

}  // namespace orvela::test
