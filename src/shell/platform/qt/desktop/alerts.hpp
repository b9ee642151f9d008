// Modal alerts as QMessageBox, with an optional masked field.
#pragma once

#include "shell/platform/platform.hpp"

namespace orvela::qt {

// Object names of the alert's parts, for whoever needs to find them (tests, accessibility).
inline constexpr char kAlertFieldName[] = "orvela_alert_field";

// Shows the alert modally (the main loop keeps turning) and returns the pressed button's
// position in `alert.buttons`; closing the box counts as the last button.
AlertAnswer runMessageBox(const Alert& alert);

}  // namespace orvela::qt
