#include "dbus_menu_marshal.hpp"

#include <cerrno>
#include <cstdint>

#include "dbus_menu_exporter.hpp"

namespace orvela::qt {

int appendStrings(sd_bus_message* message, const QStringList& strings) {
    int r = sd_bus_message_open_container(message, 'a', "s");
    for (const QString& string : strings) {
        if (r >= 0) r = sd_bus_message_append(message, "s", string.toUtf8().constData());
    }
    return r < 0 ? r : sd_bus_message_close_container(message);
}

int appendMenuValue(sd_bus_message* message, const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::Bool:
            return sd_bus_message_append(message, "v", "b", int(value.toBool()));
        case QMetaType::Int:
            return sd_bus_message_append(message, "v", "i", int32_t(value.toInt()));
        case QMetaType::QString:
            return sd_bus_message_append(message, "v", "s", value.toString().toUtf8().constData());
        default:
            break;
    }
    if (value.metaType() != QMetaType::fromType<DBusMenuShortcut>()) return -EINVAL;
    int r = sd_bus_message_open_container(message, 'v', "aas");
    if (r >= 0) r = sd_bus_message_open_container(message, 'a', "as");
    for (const QStringList& keys : value.value<DBusMenuShortcut>()) {
        if (r >= 0) r = appendStrings(message, keys);
    }
    if (r >= 0) r = sd_bus_message_close_container(message);
    return r < 0 ? r : sd_bus_message_close_container(message);
}

int appendMenuProperties(sd_bus_message* message, const QVariantMap& properties) {
    int r = sd_bus_message_open_container(message, 'a', "{sv}");
    for (auto it = properties.cbegin(); r >= 0 && it != properties.cend(); ++it) {
        r = sd_bus_message_open_container(message, 'e', "sv");
        if (r >= 0) r = sd_bus_message_append(message, "s", it.key().toUtf8().constData());
        if (r >= 0) r = appendMenuValue(message, it.value());
        if (r >= 0) r = sd_bus_message_close_container(message);
    }
    return r < 0 ? r : sd_bus_message_close_container(message);
}

}  // namespace orvela::qt
