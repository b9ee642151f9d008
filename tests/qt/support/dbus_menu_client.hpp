// The com.canonical.dbusmenu structures as a host's QtDBus client reads and writes them: what
// the tests' panels use to talk to the exported menu (the exporter itself writes with sd-bus).
#pragma once

#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

#include "panel/dbus_menu_exporter.hpp"

namespace orvela::qt {

// (ia{sv}av): an item with its children, each child a variant holding the same structure.
struct DBusMenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayoutItem> children;
};

// (isvu): one event of EventGroup.
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DBusMenuEventList = QList<DBusMenuEvent>;

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItem& item);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItem& item);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItemKeys& keys);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItemKeys& keys);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuLayoutItem& item);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuEvent& event);

// Registers the types above with QtDBus; safe to call more than once.
void registerDBusMenuTypes();

}  // namespace orvela::qt

Q_DECLARE_METATYPE(orvela::qt::DBusMenuItem)
Q_DECLARE_METATYPE(orvela::qt::DBusMenuItemKeys)
Q_DECLARE_METATYPE(orvela::qt::DBusMenuLayoutItem)
Q_DECLARE_METATYPE(orvela::qt::DBusMenuEvent)
