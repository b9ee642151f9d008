// Launch at login as an XDG autostart entry (~/.config/autostart/orvela-timer.desktop).
//
// Some sessions never read those entries: the tiling compositors and window managers that start
// programs from their own configuration (sway, Hyprland, river, dwl, niri, i3), unless the user
// added a runner such as dex. There a check mark would promise what never happens, so the entry
// reads as not found and switching it on writes nothing and says which line of the session's
// own configuration does the job. The session is known by XDG_CURRENT_DESKTOP (any of its
// colon-separated names); an unknown or unset one is taken to run autostart, as desktops do.
#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>
#include <string>

#include "shell/platform/platform.hpp"

namespace orvela::qt {

// A desktop-entry string value: backslash, line feed, tab and carriage return escaped.
QString desktopStringValue(const QString& text);
// One argument of an Exec= line, quoted and escaped as desktop entries require.
QString desktopExecArgument(const QString& argument);

// The name of the session when it is one of those that run no autostart entries, else empty.
QString sessionWithoutAutostart(const QString& currentDesktop);
// What to write into such a session's own configuration to start `executable` at login.
QString sessionStartAdvice(const QString& session, const QString& executable);

class Autostart {
public:
    // `entryPath`: the .desktop file; `executable`: what it starts; `currentDesktop`: the
    // session's XDG_CURRENT_DESKTOP.
    Autostart(QString entryPath, QString executable,
              const QString& currentDesktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP"));

    // The entry of this user, in $XDG_CONFIG_HOME/autostart.
    static QString userEntryPath();

    LoginItemStatus status() const;
    // The entry enable() writes.
    QByteArray entryText() const;
    std::optional<std::string> enable() const;
    std::optional<std::string> disable() const;

private:
    QString entryPath_;
    QString executable_;
    QString sessionWithoutAutostart_;  // empty where the session runs autostart entries
};

}  // namespace orvela::qt
