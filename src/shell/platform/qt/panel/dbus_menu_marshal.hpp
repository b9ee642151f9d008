// The menu's values written into sd-bus messages: item properties as the variants dbusmenu hosts
// read.
#pragma once

#include <systemd/sd-bus.h>

#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include "main_loop_bus.hpp"

namespace orvela::qt {

// One property value as a variant: bool "b", int "i", QString "s", a DBusMenuShortcut "aas".
// -EINVAL for any other type, which no menu item carries.
int appendMenuValue(sd_bus_message* message, const QVariant& value);
// a{sv}
int appendMenuProperties(sd_bus_message* message, const QVariantMap& properties);
// as
int appendStrings(sd_bus_message* message, const QStringList& strings);

}  // namespace orvela::qt
