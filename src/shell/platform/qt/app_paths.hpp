// Where the app finds its settings, its bundle, its private scratch space and its host name.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

namespace orvela::qt {

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
QString configHome();
// The app's settings file: orvela/orvela-timer.conf under configHome().
QString settingsFile();

// A user default: "-KEY VALUE" among the process arguments wins, then KEY in the INI file.
std::optional<std::string> userDefaultFrom(const QString& key, const QStringList& arguments,
                                           const QString& iniFile);

// The installed "ORVELA Timer.app" folder: the folder two levels above the executable when it
// bears exactly that name.
std::optional<std::string> bundlePathFor(const QString& executable);

// The name of the app's desktop entry ("orvela-timer.desktop" without its ending), by which
// notification servers and docks find the app: every notification names it.
inline constexpr const char* kDesktopEntryName = "orvela-timer";

// The icon a notification names the app by: where the program at `executable` runs from an
// installed "ORVELA Timer.app", the bundle's own icon file as a file:// URI (always there, and
// exactly this version's); else the theme name "orvela-timer" where an icon of that name is
// installed in the hicolor theme under one of `dataDirs` (a system package); else none.
QString notificationIconFor(const QString& executable, const QStringList& dataDirs);
// The same for this process, under $XDG_DATA_HOME and $XDG_DATA_DIRS; looked up once.
QString notificationIcon();

// The user's private scratch directory: $XDG_RUNTIME_DIR when it is a directory of this user
// that nobody else may enter, else "orvela-timer" (mode 0700) in the user's cache directory.
QString privateTemporaryDirectory();
// Creates `path` with mode 0700, or makes an existing directory of ours 0700; false when the
// path is not (or cannot become) such a directory.
bool makePrivateDirectory(const QString& path);

// PRETTY_HOSTNAME from the text of /etc/machine-info, unquoted; empty when it has none.
QString prettyHostnameFrom(const QString& machineInfo);
// The name the user gave the computer, else its host name.
std::optional<std::string> computerNameFrom(const QString& machineInfoFile);

}  // namespace orvela::qt
