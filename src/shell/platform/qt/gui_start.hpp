// Starting the Qt application, or ending the process cleanly when there is no display to show
// the status item on (an autostart before the session is up, a Wayland session without Qt's
// Wayland plugin, a stray DISPLAY).
#pragma once

#include <QApplication>
#include <QString>
#include <memory>

namespace orvela::qt {

// The line the user sees on standard error when no display can be opened; `reason` is Qt's
// own explanation, made one line.
QString noDisplayMessage(const QString& reason);

// The application, or, when Qt cannot open a display, that one line on standard error and exit
// status 1: never the abort (and the crash report) Qt would end with. `argc` must outlive it.
std::unique_ptr<QApplication> startApplicationOrExit(int& argc, char** argv);

}  // namespace orvela::qt
