// The app itself, started where no display can be opened: one line, one notification and status
// 1, no abort; and started in a Wayland session with no X server at all.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "gui_start.hpp"
#include "qt/support/fake_panel.hpp"
#include "qt/support/qt_wait.hpp"

namespace orvela::qt {
namespace {

using test::waitUntil;

// The program with only `variables` (and the test's session bus) set.
QProcessEnvironment onlyThese(const QString& home, const QStringList& variables) {
    QProcessEnvironment environment;
    environment.insert("HOME", home);
    environment.insert("DBUS_SESSION_BUS_ADDRESS",
                       qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"));
    for (const QString& variable : variables)
        environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
    return environment;
}

TEST(GuiStart, WithoutADisplayTheAppSaysSoWhereTheUserLooksAndExitsWithStatusOne) {
    QTemporaryDir home;
    test::FakeNotifications server;
    ASSERT_TRUE(server.registered) << "run under scripts/with-session-bus.sh";
    // Nothing set (an autostart before the session), an unserved display, a missing plugin, an
    // unserved Wayland display (tried first, then X11); with QT_DEBUG_PLUGINS the loader's
    // account comes first. Each case: variables, Qt's reason, the fix named, the lines written.
    const QString wayland = "WAYLAND_DISPLAY=wayland-4242", check = "Проверьте";
    const std::vector<std::tuple<QStringList, QString, QString, int>> cases = {
        {{}, "DISPLAY and WAYLAND_DISPLAY are not set", "внутри графического сеанса", 1},
        {{"DISPLAY=:4242"}, "could not connect to display :4242", "DISPLAY или WAYLAND", 1},
        {{wayland, "QT_QPA_PLATFORM=nowhere"}, "\"nowhere\"", check, 1},
        {{wayland, "XDG_RUNTIME_DIR=" + home.path()}, "Qt platform plugin \"wayland\"", check, 1},
        {{"DISPLAY=:4242", "QT_DEBUG_PLUGINS=1"}, ":4242", "", 20},
    };
    for (const auto& [variables, reason, fix, lines] : cases) {
        SCOPED_TRACE(variables.join(' ').toStdString());
        QProcess app;
        app.setProcessEnvironment(onlyThese(home.path(), variables));
        const auto notices = server.shown.size();
        app.start(ORVELA_TIMER_BIN, {});
        // The loop turns meanwhile: the notification server is this process.
        ASSERT_TRUE(waitUntil([&] { return app.state() == QProcess::NotRunning; }, 10000));
        // Killed by a signal (SIGABRT) is a crash.
        EXPECT_EQ(std::pair(app.exitStatus(), app.exitCode()), std::pair(QProcess::NormalExit, 1));
        const QStringList error =
            QString::fromUtf8(app.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
        const QString last = error.value(error.size() - 1);
        EXPECT_TRUE(last.startsWith(noDisplayMessage({})) && last.contains(reason) &&
                    last.contains(fix))
            << last.toStdString();
        EXPECT_TRUE(lines == 1 ? error.size() == 1 : error.size() >= lines) << error.size();
        ASSERT_EQ(server.shown.size(), notices + 1);
        EXPECT_EQ(server.shown.back().value(0), "ORVELA Timer не запустился");
        EXPECT_TRUE(server.shown.back().value(1).contains(fix));
    }
}

// The fix named: qt6-wayland only where Qt has no Wayland plugin at all.
TEST(GuiStart, NamesTheFixThatFits) {
    test::ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-1");
    const QString plugin = "the Qt platform plugin \"wayland\" in \"\"";
    EXPECT_TRUE(
        noDisplayFix("Could not find " + plugin + "; no display :0").contains("qt6-wayland"));
    EXPECT_TRUE(noDisplayFix("Could not load " + plugin + " even though it was found.")
                    .contains("Проверьте"));
}

// A sway or Hyprland session without Xwayland, played by Weston's headless backend: with only
// WAYLAND_DISPLAY the app starts on Qt's Wayland plugin and its item reaches the panel.
TEST(GuiStart, StartsInAWaylandSessionWithoutX) {
    QTemporaryDir home, runtime;
    test::FakePanel panel;
    test::FakeNotifications server;  // nothing else is started for the app's notices
    ASSERT_TRUE(panel.startWatcher()) << "run under scripts/with-session-bus.sh";
    const QString socket =
        QString("wayland-orvela-test-%1").arg(QCoreApplication::applicationPid());
    const QString runtimeDir = "XDG_RUNTIME_DIR=" + runtime.path();
    QProcess weston;
    weston.setProcessEnvironment(onlyThese(home.path(), {runtimeDir}));
    weston.start("weston", {"--backend=headless-backend.so", "--use-pixman", "--idle-time=0",
                            "--shell=desktop-shell.so", "--socket=" + socket});
    ASSERT_TRUE(weston.waitForStarted(5000)) << "weston is missing: scripts/deps.sh installs it";
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(runtime.path() + "/" + socket); }, 10000));
    QProcess app;
    app.setProcessEnvironment(onlyThese(home.path(), {runtimeDir, "WAYLAND_DISPLAY=" + socket}));
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(ORVELA_TIMER_BIN, {"-OrvelaURL", "http://127.0.0.1:9"});
    EXPECT_TRUE(panel.attach()) << "the item never registered";
    EXPECT_EQ(app.state(), QProcess::Running);
    const QByteArray maps = test::readFile(QString("/proc/%1/maps").arg(app.processId()));
    EXPECT_TRUE(maps.contains("/libqwayland-")) << "not on the Wayland plugin";
}  // the app, then Weston, end with their QProcess

}  // namespace
}  // namespace orvela::qt
