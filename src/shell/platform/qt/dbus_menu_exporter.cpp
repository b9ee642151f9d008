#include "dbus_menu_exporter.hpp"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <algorithm>
#include <optional>
#include <utility>

namespace orvela::qt {

// ---------------------------------------------------------------- marshalling

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItem& item) {
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItem& item) {
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItemKeys& keys) {
    arg.beginStructure();
    arg << keys.id << keys.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItemKeys& keys) {
    arg.beginStructure();
    arg >> keys.id >> keys.properties;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuLayoutItem& item) {
    arg.beginStructure();
    arg << item.id << item.properties;
    // The protocol nests children as variants ("av"), each holding an (ia{sv}av) of its own.
    arg.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const DBusMenuLayoutItem& child : item.children)
        arg << QDBusVariant(QVariant::fromValue(child));
    arg.endArray();
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuLayoutItem& item) {
    arg.beginStructure();
    arg >> item.id >> item.properties;
    item.children.clear();
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant variant;
        arg >> variant;
        DBusMenuLayoutItem child;
        const QVariant value = variant.variant();
        if (value.canConvert<QDBusArgument>())
            value.value<QDBusArgument>() >> child;
        else if (value.canConvert<DBusMenuLayoutItem>())
            child = value.value<DBusMenuLayoutItem>();
        item.children.push_back(std::move(child));
    }
    arg.endArray();
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuEvent& event) {
    arg.beginStructure();
    arg << event.id << event.eventId << event.data << event.timestamp;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuEvent& event) {
    arg.beginStructure();
    arg >> event.id >> event.eventId >> event.data >> event.timestamp;
    arg.endStructure();
    return arg;
}

void registerDBusMenuTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<DBusMenuItem>();
        qDBusRegisterMetaType<DBusMenuItemList>();
        qDBusRegisterMetaType<DBusMenuItemKeys>();
        qDBusRegisterMetaType<DBusMenuItemKeysList>();
        qDBusRegisterMetaType<DBusMenuLayoutItem>();
        qDBusRegisterMetaType<DBusMenuEvent>();
        qDBusRegisterMetaType<DBusMenuEventList>();
        qDBusRegisterMetaType<DBusMenuShortcut>();
        qDBusRegisterMetaType<QList<int>>();
        // QtDBus finds signal and slot parameter types by the names written in the header.
        qRegisterMetaType<DBusMenuItemList>("orvela::qt::DBusMenuItemList");
        qRegisterMetaType<DBusMenuItemKeysList>("orvela::qt::DBusMenuItemKeysList");
        qRegisterMetaType<DBusMenuEventList>("orvela::qt::DBusMenuEventList");
        return true;
    }();
    (void)registered;
}

QString dbusMenuLabel(const std::string& title) {
    return QString::fromStdString(title).replace(QLatin1Char('_'), QStringLiteral("__"));
}

// ---------------------------------------------------------------- the exported menu

namespace {

// Items whose check mark is a setting show an empty box when off, as desktop menus do; other
// items show one only while checked.
bool checkable(const MenuItem& item) {
    return item.action == MenuAction::ToggleLogin || item.checked;
}

std::optional<QString> shortcutKey(const std::string& key) {
    if (key.size() != 1) return std::nullopt;
    const char c = key.front();
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return QString(QLatin1Char(c));
    return std::nullopt;
}

QVariantMap filtered(const QVariantMap& all, const QStringList& names) {
    if (names.isEmpty()) return all;
    QVariantMap result;
    for (const QString& name : names) {
        if (auto it = all.find(name); it != all.end()) result.insert(name, it.value());
    }
    return result;
}

}  // namespace

DBusMenuExporter::DBusMenuExporter(QDBusConnection connection, QString path, Build build,
                                   Chosen chosen, QObject* parent)
    : QObject(parent),
      connection_(std::move(connection)),
      path_(std::move(path)),
      build_(std::move(build)),
      chosen_(std::move(chosen)) {
    registerDBusMenuTypes();
    nodes_.push_back(Node{});
    exported_ = connection_.isConnected() &&
                connection_.registerObject(path_, this, QDBusConnection::ExportScriptableContents);
}

DBusMenuExporter::~DBusMenuExporter() {
    if (exported_) connection_.unregisterObject(path_);
}

void DBusMenuExporter::addNodes(const std::vector<MenuItem>& items, int parent) {
    for (const MenuItem& item : items) {
        const int id = static_cast<int>(nodes_.size());
        nodes_.push_back(Node{item, {}});
        nodes_[static_cast<std::size_t>(parent)].children.push_back(id);
        if (item.submenu) addNodes(*item.submenu, id);
    }
}

void DBusMenuExporter::rebuild(bool announce) {
    std::vector<MenuItem> items = build_ ? build_() : std::vector<MenuItem>{};
    const bool changed = !built_ || items != model_;
    built_ = true;

    // Ids are positions in the tree, so an unchanged model keeps its ids and a host's open view
    // stays valid; what changed under an id it already knows is told as property updates.
    std::vector<QVariantMap> before;
    before.reserve(nodes_.size());
    for (std::size_t id = 0; id < nodes_.size(); ++id) before.push_back(properties(int(id)));

    model_ = std::move(items);
    nodes_.clear();
    nodes_.push_back(Node{});
    addNodes(model_, 0);

    if (!changed && !announce) return;
    ++revision_;
    if (!exported_) return;
    emit LayoutUpdated(revision_, 0);

    DBusMenuItemList updated;
    DBusMenuItemKeysList removed;
    const std::size_t common = std::min(before.size(), nodes_.size());
    for (std::size_t id = 1; id < common; ++id) {
        const QVariantMap now = properties(int(id));
        if (now == before[id]) continue;
        updated.push_back({int(id), now});
        QStringList gone;
        for (auto it = before[id].cbegin(); it != before[id].cend(); ++it) {
            if (!now.contains(it.key())) gone.push_back(it.key());
        }
        if (!gone.isEmpty()) removed.push_back({int(id), gone});
    }
    if (!updated.isEmpty() || !removed.isEmpty()) emit ItemsPropertiesUpdated(updated, removed);
}

void DBusMenuExporter::ensureBuilt() {
    if (!built_) rebuild(false);
}

QVariantMap DBusMenuExporter::properties(int id) const {
    QVariantMap props;
    if (!known(id)) return props;
    if (id == 0) {
        props.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        return props;
    }
    const MenuItem& item = nodes_[static_cast<std::size_t>(id)].item;
    props.insert(QStringLiteral("visible"), true);
    switch (item.kind) {
        case MenuItem::Kind::Separator:
            props.insert(QStringLiteral("type"), QStringLiteral("separator"));
            return props;
        case MenuItem::Kind::SectionHeader:
            // The protocol has no headers: a disabled line reads as one.
            props.insert(QStringLiteral("label"), dbusMenuLabel(item.title));
            props.insert(QStringLiteral("enabled"), false);
            return props;
        case MenuItem::Kind::Item:
            break;
    }
    props.insert(QStringLiteral("label"), dbusMenuLabel(item.title));
    props.insert(QStringLiteral("enabled"), item.enabled);
    if (auto key = shortcutKey(item.key)) {
        const DBusMenuShortcut shortcut{{QStringLiteral("Control"), *key}};
        props.insert(QStringLiteral("shortcut"), QVariant::fromValue(shortcut));
    }
    if (checkable(item)) {
        props.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
        props.insert(QStringLiteral("toggle-state"), item.checked ? 1 : 0);
    }
    if (item.submenu) props.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    return props;
}

DBusMenuLayoutItem DBusMenuExporter::layout(int id, int depth, const QStringList& names) const {
    DBusMenuLayoutItem result;
    result.id = id;
    result.properties = filtered(properties(id), names);
    if (depth == 0) return result;
    for (int child : nodes_[static_cast<std::size_t>(id)].children)
        result.children.push_back(layout(child, depth < 0 ? -1 : depth - 1, names));
    return result;
}

void DBusMenuExporter::unknownId(int id) {
    if (calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("Unknown menu item id %1").arg(id));
}

uint DBusMenuExporter::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                 DBusMenuLayoutItem& layoutOut) {
    ensureBuilt();
    if (!known(parentId)) {
        unknownId(parentId);
        return revision_;
    }
    layoutOut = layout(parentId, recursionDepth, propertyNames);
    return revision_;
}

DBusMenuItemList DBusMenuExporter::GetGroupProperties(const QList<int>& ids,
                                                      const QStringList& propertyNames) {
    ensureBuilt();
    DBusMenuItemList result;
    for (int id : ids) {
        if (known(id)) result.push_back({id, filtered(properties(id), propertyNames)});
    }
    return result;
}

QDBusVariant DBusMenuExporter::GetProperty(int id, const QString& name) {
    ensureBuilt();
    if (!known(id)) {
        unknownId(id);
        return QDBusVariant(QVariant(QString()));
    }
    const QVariantMap props = properties(id);
    if (auto it = props.find(name); it != props.end()) return QDBusVariant(it.value());
    if (calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("No property %1").arg(name));
    return QDBusVariant(QVariant(QString()));
}

bool DBusMenuExporter::handleEvent(int id, const QString& eventId) {
    ensureBuilt();
    if (!known(id)) return false;
    if (id == 0 && eventId == QLatin1String("opened")) {
        // Hosts that skip AboutToShow still get a menu of this instant.
        rebuild(false);
    } else if (id != 0 && eventId == QLatin1String("clicked")) {
        const MenuItem& item = nodes_[static_cast<std::size_t>(id)].item;
        // Only what a desktop menu would let the user choose: no headers, lines or
        // disabled items, and a submenu's own line only opens it.
        if (item.kind == MenuItem::Kind::Item && item.enabled && !item.submenu && chosen_)
            chosen_(item);
    }
    return true;
}

void DBusMenuExporter::Event(int id, const QString& eventId, const QDBusVariant& data,
                             uint timestamp) {
    (void)data;
    (void)timestamp;
    if (!handleEvent(id, eventId)) unknownId(id);
}

QList<int> DBusMenuExporter::EventGroup(const DBusMenuEventList& events) {
    QList<int> idErrors;
    for (const DBusMenuEvent& event : events) {
        if (!handleEvent(event.id, event.eventId)) idErrors.push_back(event.id);
    }
    if (!events.isEmpty() && idErrors.size() == events.size() && calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("No known menu item ids"));
    return idErrors;
}

bool DBusMenuExporter::AboutToShow(int id) {
    if (id == 0) {
        rebuild(true);
        return true;
    }
    ensureBuilt();
    // Submenus are built with the whole menu, so they are already current.
    if (!known(id)) unknownId(id);
    return false;
}

QList<int> DBusMenuExporter::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    QList<int> updatesNeeded;
    if (ids.contains(0)) {
        rebuild(true);
        updatesNeeded.push_back(0);
    }
    ensureBuilt();
    for (int id : ids) {
        if (!known(id)) idErrors.push_back(id);
    }
    return updatesNeeded;
}

}  // namespace orvela::qt
