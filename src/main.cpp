// Process entry: a command for the running app, or the app itself (once per session), built
// from the Qt application, the desktop backend and the App on top of them.
#include <QApplication>
#include <QDBusConnection>
#include <cstdio>

#include "shell/app.hpp"
#include "shell/platform/qt/app_paths.hpp"
#include "shell/platform/qt/control/command_line.hpp"
#include "shell/platform/qt/control/control_service.hpp"
#include "shell/platform/qt/control/single_instance.hpp"
#include "shell/platform/qt/gui_start.hpp"
#include "shell/platform/qt/presence/no_place_notice.hpp"
#include "shell/platform/qt/presence/panel_presence.hpp"
#include "shell/platform/qt/qt_platform.hpp"

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const orvela::qt::Invocation invocation = orvela::qt::parseInvocation(arguments);
    if (invocation.kind != orvela::qt::Invocation::Kind::Launch)
        return orvela::qt::runCommandLine(invocation, argc, argv);

    // Before any display is opened: a second launch only hands over, says where the running
    // app is, and ends.
    QString whereabouts;
    if (orvela::qt::claimInstance(QDBusConnection::sessionBus(), arguments,
                                  orvela::qt::privateTemporaryDirectory(), 800,
                                  &whereabouts) == orvela::qt::InstanceClaim::HandedOver) {
        std::printf("%s\n", orvela::qt::secondLaunchLine(whereabouts).toUtf8().constData());
        return 0;
    }

    // Without a display this says so on standard error and ends with status 1.
    const auto application = orvela::qt::startApplicationOrExit(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvela-timer"));
    QApplication::setApplicationDisplayName(QStringLiteral("ORVELA Timer"));
    QApplication::setDesktopFileName(QString::fromLatin1(orvela::qt::kDesktopEntryName));
    // A status-bar app: closing an alert must not end the process.
    QApplication::setQuitOnLastWindowClosed(false);

    orvela::qt::QtPlatform platform;
    orvela::App app(platform);
    orvela::App::shared = &app;
    orvela::qt::ControlService control(app, QDBusConnection::sessionBus());
    app.applicationDidFinishLaunching();
    // A second launch is the user looking for the item: it is told where the item is, and
    // where the panel has no place for it, the notice comes again.
    control.setWhereabouts([&platform] {
        orvela::qt::NoPlaceNotice* notice = platform.noPlaceNotice();
        const std::optional<bool> placed = notice ? notice->secondLaunch() : std::nullopt;
        if (!placed) return QString();
        return QString::fromLatin1(*placed ? orvela::qt::ControlService::kOnPanel
                                           : orvela::qt::ControlService::kNoPlace);
    });
    // A bar that follows the status shows the app: a place for it as much as a tray is.
    QObject::connect(&control, &orvela::qt::ControlService::followingChanged,
                     [&platform](bool following) {
                         if (orvela::qt::PanelPresence* presence = platform.panelPresence())
                             presence->setFollowed(following);
                     });
    return application->exec();
}
