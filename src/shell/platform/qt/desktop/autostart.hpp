// Launch at login as an XDG autostart entry (~/.config/autostart/orvela-timer.desktop).
#pragma once

#include <QString>
#include <optional>
#include <string>

#include "shell/platform/platform.hpp"

namespace orvela::qt {

// A desktop-entry string value: backslash, line feed, tab and carriage return escaped.
QString desktopStringValue(const QString& text);
// One argument of an Exec= line, quoted and escaped as desktop entries require.
QString desktopExecArgument(const QString& argument);

class Autostart {
public:
    // `entryPath`: the .desktop file; `executable`: what it starts.
    Autostart(QString entryPath, QString executable);

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
};

}  // namespace orvela::qt
