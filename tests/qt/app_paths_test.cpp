// Settings, bundle, scratch directory and the autostart entry, on temporary homes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include "app_paths.hpp"
#include "desktop/autostart.hpp"
#include "qt/support/qt_wait.hpp"
#include "qt_platform.hpp"

namespace orvela::qt {
namespace {

using orvela::test::ScopedEnv;
using orvela::test::writeFile;

// "-KEY VALUE" in the arguments (never argv[0]) beats the settings file; its bare commas survive.
TEST(AppPaths, AnArgumentOverridesTheSettingsFile) {
    QTemporaryDir config;
    ScopedEnv home("XDG_CONFIG_HOME", config.path());
    const QString ini = settingsFile();
    const std::string fromFile = "http://file:2/a?x=1,2";
    ASSERT_TRUE(writeFile(ini, "OrvelaURL=" + QByteArray::fromStdString(fromFile) + "\nOther=x\n"));
    const std::vector<std::pair<QStringList, std::optional<std::string>>> cases = {
        {{"orvela-timer", "-OrvelaURL", "http://a"}, "http://a"},
        {{"orvela-timer"}, fromFile},
        {{"orvela-timer", "-OrvelaURL"}, fromFile},
        {{"-OrvelaURL", "http://argv0"}, fromFile},
    };
    for (const auto& [arguments, expected] : cases)
        EXPECT_EQ(userDefaultFrom("OrvelaURL", arguments, ini), expected)
            << arguments.join(' ').toStdString();
    // Through the platform, from $XDG_CONFIG_HOME (this process's arguments carry no flag).
    EXPECT_EQ(QtPlatform().userDefault("OrvelaURL"), fromFile);
}

TEST(AppPaths, TheBundleIsTheFolderTwoLevelsUpWhenItHasTheAppName) {
    const std::vector<std::pair<QString, std::optional<std::string>>> cases = {
        {"/home/u/ORVELA Timer.app/bin/orvela-timer", "/home/u/ORVELA Timer.app"},
        {"/opt/ORVELA Timer.app/orvela-timer", std::nullopt},
        {"/opt/orvela timer.app/bin/orvela-timer", std::nullopt},
    };
    for (const auto& [executable, bundle] : cases)
        EXPECT_EQ(bundlePathFor(executable), bundle) << executable.toStdString();
}

// Notifications name the app by the bundle's own icon file where it runs from one, else by the
// theme name where a hicolor icon of that name is installed, else by nothing.
TEST(AppPaths, TheNotificationIconIsTheBundlesFileOrTheInstalledName) {
    QTemporaryDir root;
    const QString bundle = root.path() + "/a b/ORVELA Timer.app", build = root.path() + "/b/x";
    const QString svg = bundle + "/share/icons/hicolor/scalable/apps/orvela-timer.svg";
    const QString usr = root.path() + "/usr", other = root.path() + "/other";
    ASSERT_TRUE(writeFile(svg, "<svg/>") &&
                writeFile(usr + "/icons/hicolor/48x48/apps/orvela-timer.png", "p") &&
                writeFile(other + "/icons/hicolor/48x48/apps/other.png", "p"));
    const QString uri = "file://" + QString(QUrl::toPercentEncoding(svg, "/"));
    EXPECT_EQ(notificationIconFor(bundle + "/bin/orvela-timer", {other, usr}), uri);
    EXPECT_EQ(notificationIconFor(build, {other, usr}), "orvela-timer");
    EXPECT_EQ(notificationIconFor(build, {other}), "");
}

// $XDG_RUNTIME_DIR only when nobody else may enter it; else our own folder, kept at 0700.
TEST(AppPaths, TheTemporaryDirectoryIsAlwaysPrivate) {
    QTemporaryDir root;
    const QString runtime = root.path() + "/runtime", own = root.path() + "/cache/orvela-timer";
    ScopedEnv cacheHome("XDG_CACHE_HOME", root.path() + "/cache");
    QDir().mkpath(runtime);
    for (const auto& [runtimeMode, ownMode, expected] : std::vector<std::tuple<int, int, QString>>{
             {0700, 0, runtime}, {01777, 0, own}, {01777, 0755, own}}) {
        ::chmod(QFile::encodeName(runtime).constData(), runtimeMode);
        if (ownMode) ::chmod(QFile::encodeName(own).constData(), ownMode);
        ScopedEnv env("XDG_RUNTIME_DIR", runtime);
        EXPECT_EQ(privateTemporaryDirectory(), expected) << runtimeMode << " " << ownMode;
        struct stat info {};
        EXPECT_EQ(::lstat(QFile::encodeName(expected).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0700u);
    }
}

// On and off on a temporary home (the Exec quoting: desktop_integration_test); failure reported.
TEST(Autostart, RegisteringWritesAnEntryThatUnregisteringRemoves) {
    QTemporaryDir config;
    ScopedEnv home("XDG_CONFIG_HOME", config.path());
    const QString entry = Autostart::userEntryPath();
    EXPECT_EQ(entry, config.path() + "/autostart/orvela-timer.desktop");
    const Autostart autostart(entry, "/opt/ORVELA Timer.app/bin/orvela-timer", "ubuntu:GNOME");
    EXPECT_EQ(autostart.enable(), std::nullopt);
    EXPECT_EQ(autostart.status(), LoginItemStatus::Enabled);
    EXPECT_EQ(orvela::test::readFile(entry), autostart.entryText());
    EXPECT_TRUE(
        autostart.entryText().contains("\nExec=\"/opt/ORVELA Timer.app/bin/orvela-timer\"\n"));
    EXPECT_EQ(autostart.disable(), std::nullopt);
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_EQ(autostart.status(), LoginItemStatus::NotRegistered);

    ASSERT_TRUE(writeFile(config.path() + "/blocked", "a file, not a folder"));
    const Autostart blocked(config.path() + "/blocked/autostart/orvela-timer.desktop", "/x", "");
    EXPECT_FALSE(blocked.enable().value_or("").empty());
}

// Sessions that read no autostart entries (by any name in XDG_CURRENT_DESKTOP) show the switch
// off even with an entry there, and switching it on writes nothing and names the line of the
// session's own configuration; desktops, and sessions not known, run autostart as before.
TEST(Autostart, SessionsWithoutAnAutostartRunnerAreToldTheirOwnLine) {
    QTemporaryDir config;
    const QString entry = config.path() + "/autostart/orvela-timer.desktop";
    ASSERT_TRUE(writeFile(entry, "[Desktop Entry]\nExec=/x\n"));
    const std::vector<std::pair<QString, QString>> cases = {{"sway:wlroots", "«exec /x»"},
                                                            {"Hyprland", "«exec-once = /x»"},
                                                            {"river", "«riverctl spawn /x»"},
                                                            {"niri", "«spawn-at-startup \"/x\"»"},
                                                            {"ubuntu:GNOME", ""},
                                                            {"", ""}};
    for (const auto& [desktop, line] : cases) {
        SCOPED_TRACE(desktop.toStdString());
        const Autostart autostart(entry, "/x", desktop);
        EXPECT_EQ(autostart.status(),
                  line.isEmpty() ? LoginItemStatus::Enabled : LoginItemStatus::NotFound);
        if (line.isEmpty()) continue;
        EXPECT_TRUE(QString::fromStdString(autostart.enable().value_or("")).contains(line));
        EXPECT_EQ(orvela::test::readFile(entry), "[Desktop Entry]\nExec=/x\n");  // untouched
    }
}

}  // namespace
}  // namespace orvela::qt
