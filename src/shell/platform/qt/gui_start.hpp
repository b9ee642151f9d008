// Starting the Qt application, or ending the process cleanly when there is no display to show
// the status item on (an autostart before the session is up, a Wayland session without Qt's
// Wayland plugin, a stray DISPLAY).
//
// Where WAYLAND_DISPLAY is set and the user chose no platform, the app runs on Wayland itself,
// with X11 (Xwayland) as the fallback: sway and Hyprland sessions often run without Xwayland.
#pragma once

#include <QApplication>
#include <QString>
#include <memory>

namespace orvela::qt {

// The line the user sees on standard error when no display can be opened; `reason` is Qt's
// own explanation, made one line.
QString noDisplayMessage(const QString& reason);

// What the user can do about it, from the session's variables and Qt's reasons.
QString noDisplayFix(const QString& reasons);

// The platforms Qt is to try, or empty to leave Qt's choice: "wayland;xcb" where a Wayland
// display is named and neither QT_QPA_PLATFORM nor a -platform argument chose one.
QByteArray preferredPlatforms(int argc, char** argv);

// The application, or, when Qt cannot open a display, that one line on standard error (after
// Qt's plugin diagnostics when QT_DEBUG_PLUGINS asks for them), one notification where a
// notification server is on the session bus (a compositor's `exec` sends standard error to its
// own log, where nobody looks), and exit status 1: never the abort (and the crash report) Qt
// would end with. `argc` must outlive it.
std::unique_ptr<QApplication> startApplicationOrExit(int& argc, char** argv);

}  // namespace orvela::qt
