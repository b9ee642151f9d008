// Modal alerts as QMessageBox, with an optional masked field.
#pragma once

#include "shell/platform/platform.hpp"

namespace orvela::qt {

// Object names of the alert's parts, for whoever needs to find them (tests, accessibility).
inline constexpr char kAlertFieldName[] = "orvela_alert_field";

// How long an unrequested alert ignores the keys that press a button (Return, Enter, Space) and
// typing into its field, after it appeared and after each key typed into it; a held key's
// repeats are ignored for as long as it is open.
inline constexpr int kAlertKeyGuardMs = 1000;

// Shows the alert modally (the main loop keeps turning) and returns the pressed button's
// position in `alert.buttons`; closing the box counts as the last button. `activationToken`:
// the desktop's leave to bring it to the front (the click that opened it), used once.
AlertAnswer runMessageBox(const Alert& alert,
                          const std::optional<std::string>& activationToken = std::nullopt);

}  // namespace orvela::qt
