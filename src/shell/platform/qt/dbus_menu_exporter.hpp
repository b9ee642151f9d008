// The status item's menu exported over com.canonical.dbusmenu, the protocol StatusNotifierItem
// hosts (GNOME's AppIndicator extension, KDE, Xfce, waybar...) use to show an application's menu.
//
// The model is the core's: asked for afresh each time a host is about to show the menu, served
// as a tree of numbered items, and a click comes back as the MenuItem that was shown.
#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusVariant>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <vector>

#include "shell/platform/platform.hpp"

namespace orvela::qt {

// (ia{sv}): one item's id and properties.
struct DBusMenuItem {
    int id = 0;
    QVariantMap properties;
};
using DBusMenuItemList = QList<DBusMenuItem>;

// (ias): one item's id and the names of properties it no longer has.
struct DBusMenuItemKeys {
    int id = 0;
    QStringList properties;
};
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;

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

// aas: key combinations, each a list of modifier names followed by the key.
using DBusMenuShortcut = QList<QStringList>;

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

// The dbusmenu label of a title: '_' marks a mnemonic in the protocol, so a literal one doubles.
QString dbusMenuLabel(const std::string& title);

class DBusMenuExporter : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"com.canonical.dbusmenu\">\n"
                "    <property name=\"Version\" type=\"u\" access=\"read\"/>\n"
                "    <property name=\"TextDirection\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Status\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"IconThemePath\" type=\"as\" access=\"read\"/>\n"
                "    <method name=\"GetLayout\">\n"
                "      <arg type=\"i\" name=\"parentId\" direction=\"in\"/>\n"
                "      <arg type=\"i\" name=\"recursionDepth\" direction=\"in\"/>\n"
                "      <arg type=\"as\" name=\"propertyNames\" direction=\"in\"/>\n"
                "      <arg type=\"u\" name=\"revision\" direction=\"out\"/>\n"
                "      <arg type=\"(ia{sv}av)\" name=\"layout\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"GetGroupProperties\">\n"
                "      <arg type=\"ai\" name=\"ids\" direction=\"in\"/>\n"
                "      <arg type=\"as\" name=\"propertyNames\" direction=\"in\"/>\n"
                "      <arg type=\"a(ia{sv})\" name=\"properties\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"GetProperty\">\n"
                "      <arg type=\"i\" name=\"id\" direction=\"in\"/>\n"
                "      <arg type=\"s\" name=\"name\" direction=\"in\"/>\n"
                "      <arg type=\"v\" name=\"value\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"Event\">\n"
                "      <arg type=\"i\" name=\"id\" direction=\"in\"/>\n"
                "      <arg type=\"s\" name=\"eventId\" direction=\"in\"/>\n"
                "      <arg type=\"v\" name=\"data\" direction=\"in\"/>\n"
                "      <arg type=\"u\" name=\"timestamp\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"EventGroup\">\n"
                "      <arg type=\"a(isvu)\" name=\"events\" direction=\"in\"/>\n"
                "      <arg type=\"ai\" name=\"idErrors\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"AboutToShow\">\n"
                "      <arg type=\"i\" name=\"id\" direction=\"in\"/>\n"
                "      <arg type=\"b\" name=\"needUpdate\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"AboutToShowGroup\">\n"
                "      <arg type=\"ai\" name=\"ids\" direction=\"in\"/>\n"
                "      <arg type=\"ai\" name=\"updatesNeeded\" direction=\"out\"/>\n"
                "      <arg type=\"ai\" name=\"idErrors\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <signal name=\"ItemsPropertiesUpdated\">\n"
                "      <arg type=\"a(ia{sv})\" name=\"updatedProps\" direction=\"out\"/>\n"
                "      <arg type=\"a(ias)\" name=\"removedProps\" direction=\"out\"/>\n"
                "    </signal>\n"
                "    <signal name=\"LayoutUpdated\">\n"
                "      <arg type=\"u\" name=\"revision\" direction=\"out\"/>\n"
                "      <arg type=\"i\" name=\"parent\" direction=\"out\"/>\n"
                "    </signal>\n"
                "    <signal name=\"ItemActivationRequested\">\n"
                "      <arg type=\"i\" name=\"id\" direction=\"out\"/>\n"
                "      <arg type=\"u\" name=\"timestamp\" direction=\"out\"/>\n"
                "    </signal>\n"
                "  </interface>\n")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    // Fills the model from scratch; called whenever a host is about to show the menu.
    using Build = std::function<std::vector<MenuItem>()>;
    // Told which item of the shown model the user chose (while the D-Bus call is still open).
    using Chosen = std::function<void(const MenuItem&)>;

    DBusMenuExporter(QDBusConnection connection, QString path, Build build, Chosen chosen,
                     QObject* parent = nullptr);
    ~DBusMenuExporter() override;

    const QString& path() const { return path_; }
    bool isExported() const { return exported_; }
    uint revision() const { return revision_; }

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public slots:
    Q_SCRIPTABLE uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                orvela::qt::DBusMenuLayoutItem& layout);
    Q_SCRIPTABLE orvela::qt::DBusMenuItemList GetGroupProperties(const QList<int>& ids,
                                                                 const QStringList& propertyNames);
    Q_SCRIPTABLE QDBusVariant GetProperty(int id, const QString& name);
    Q_SCRIPTABLE void Event(int id, const QString& eventId, const QDBusVariant& data,
                            uint timestamp);
    Q_SCRIPTABLE QList<int> EventGroup(const orvela::qt::DBusMenuEventList& events);
    Q_SCRIPTABLE bool AboutToShow(int id);
    Q_SCRIPTABLE QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    Q_SCRIPTABLE void ItemsPropertiesUpdated(const orvela::qt::DBusMenuItemList& updatedProps,
                                             const orvela::qt::DBusMenuItemKeysList& removedProps);
    Q_SCRIPTABLE void LayoutUpdated(uint revision, int parent);
    Q_SCRIPTABLE void ItemActivationRequested(int id, uint timestamp);

private:
    struct Node {
        MenuItem item;
        std::vector<int> children;
    };

    // Asks for a fresh model and renumbers it. With `announce` the hosts are told even when
    // nothing changed (a host that asked with AboutToShow waits for LayoutUpdated).
    void rebuild(bool announce);
    void ensureBuilt();
    void addNodes(const std::vector<MenuItem>& items, int parent);
    bool known(int id) const { return id >= 0 && static_cast<std::size_t>(id) < nodes_.size(); }
    QVariantMap properties(int id) const;
    DBusMenuLayoutItem layout(int id, int depth, const QStringList& names) const;
    // Runs a host event; false when the id is unknown.
    bool handleEvent(int id, const QString& eventId);
    void unknownId(int id);

    QDBusConnection connection_;
    QString path_;
    Build build_;
    Chosen chosen_;
    bool exported_ = false;
    bool built_ = false;
    uint revision_ = 1;
    std::vector<MenuItem> model_;
    std::vector<Node> nodes_;  // indexed by item id; 0 is the invisible root
};

}  // namespace orvela::qt

Q_DECLARE_METATYPE(orvela::qt::DBusMenuItem)
Q_DECLARE_METATYPE(orvela::qt::DBusMenuItemKeys)
Q_DECLARE_METATYPE(orvela::qt::DBusMenuLayoutItem)
Q_DECLARE_METATYPE(orvela::qt::DBusMenuEvent)
