// The app itself, started where no display can be opened: one line and status 1, no abort.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "gui_start.hpp"

namespace orvela::qt {
namespace {

TEST(GuiStart, WithoutADisplayTheAppSaysSoInOneLineAndExitsWithStatusOne) {
    QTemporaryDir home;
    // Nothing set (an autostart before the session), an unserved display, a missing plugin.
    const std::vector<std::pair<QStringList, QString>> cases = {
        {{}, "DISPLAY and WAYLAND_DISPLAY are not set"},
        {{"DISPLAY=:4242"}, "could not connect to display :4242"},
        {{"WAYLAND_DISPLAY=wayland-4242", "QT_QPA_PLATFORM=nowhere"}, "\"nowhere\""},
    };
    for (const auto& [variables, reason] : cases) {
        SCOPED_TRACE(variables.join(' ').toStdString());
        QProcessEnvironment environment;
        environment.insert("HOME", home.path());
        for (const QString& variable : variables)
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        QProcess app;
        app.setProcessEnvironment(environment);
        app.start(ORVELA_TIMER_BIN, {});
        ASSERT_TRUE(app.waitForFinished(10000));
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);  // a signal (SIGABRT) is a crash
        EXPECT_EQ(app.exitCode(), 1);
        const QString error = QString::fromUtf8(app.readAllStandardError());
        EXPECT_TRUE(error.startsWith(noDisplayMessage({}))) << error.toStdString();
        EXPECT_TRUE(error.contains(reason)) << error.toStdString();
        EXPECT_EQ(error.count('\n'), 1) << error.toStdString();
    }
}

}  // namespace
}  // namespace orvela::qt
