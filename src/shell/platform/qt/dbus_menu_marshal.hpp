// The menu's values written into sd-bus messages: item properties as the variants dbusmenu hosts
// read, and the owned message handle the exporter builds its replies and signals in.
#pragma once

#include <systemd/sd-bus.h>

#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <memory>

namespace orvela::qt {

struct SdBusMessageDeleter {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using SdBusMessage = std::unique_ptr<sd_bus_message, SdBusMessageDeleter>;

// One property value as a variant: bool "b", int "i", QString "s", a DBusMenuShortcut "aas".
// -EINVAL for any other type, which no menu item carries.
int appendMenuValue(sd_bus_message* message, const QVariant& value);
// a{sv}
int appendMenuProperties(sd_bus_message* message, const QVariantMap& properties);
// as
int appendStrings(sd_bus_message* message, const QStringList& strings);

}  // namespace orvela::qt
