// Process entry: the Qt application, the desktop backend, and the App on top of them.
#include <QApplication>

#include "shell/app.hpp"
#include "shell/platform/qt/gui_start.hpp"
#include "shell/platform/qt/qt_platform.hpp"

int main(int argc, char** argv) {
    // Without a display this says so on standard error and ends with status 1.
    const auto application = orvela::qt::startApplicationOrExit(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvela-timer"));
    QApplication::setApplicationDisplayName(QStringLiteral("ORVELA Timer"));
    QApplication::setDesktopFileName(QStringLiteral("orvela-timer"));
    // A status-bar app: closing an alert must not end the process.
    QApplication::setQuitOnLastWindowClosed(false);

    orvela::qt::QtPlatform platform;
    orvela::App app(platform);
    orvela::App::shared = &app;
    app.applicationDidFinishLaunching();
    return application->exec();
}
