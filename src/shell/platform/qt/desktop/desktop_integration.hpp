// Puts an installed bundle into the user's desktop: the applications-menu entry and its icon
// under $XDG_DATA_HOME, and the launch-at-login entry kept pointing at the bundle when it moves.
#pragma once

#include <QString>
#include <optional>
#include <string>

namespace orvela::qt {

// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
QString dataHome();

struct DesktopPlaces {
    QString dataHome;        // applications/orvela-timer.desktop and icons/hicolor/ under it
    QString autostartEntry;  // the launch-at-login entry; refreshed only while it is enabled
};

// For the program at `executable` (the running one, as the system resolved it): when it runs
// from an installed "ORVELA Timer.app", writes each entry and the icon that is missing or
// differs from what this bundle would write, and leaves the rest untouched. A program outside
// a bundle (the build tree) writes nothing. Returns one line naming every failure, if any.
std::optional<std::string> integrateWithDesktop(const QString& executable,
                                                const DesktopPlaces& places);

}  // namespace orvela::qt
