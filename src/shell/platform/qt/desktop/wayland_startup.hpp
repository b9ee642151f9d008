// Ending a launch's startup on GNOME on Wayland. A panel's click makes the shell start a startup
// sequence (its busy cursor) for the token it hands over; a window activated with the token ends
// it, and so does the shell's own gtk_shell1.set_startup_id, which is what tells it that a click
// that opened nothing is done. Qt exposes neither, so this speaks to the compositor on a
// connection of its own, through the libwayland-client Qt's Wayland platform has loaded.
#pragma once

#include <string>

namespace orvela::qt {

// The most a call waits for the compositor's answers, in all.
constexpr int kWaylandStartupWaitMs = 250;

// Sends set_startup_id(token) to the compositor of WAYLAND_DISPLAY when it offers gtk_shell1, and
// waits (at most kWaylandStartupWaitMs) until it has read it. False when nothing was sent: no
// libwayland-client loaded, no compositor, no gtk_shell1 (compositors other than GNOME's), or
// no answer in time.
bool endWaylandStartup(const std::string& token);

}  // namespace orvela::qt
