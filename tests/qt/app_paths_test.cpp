// Settings, bundle, scratch directory and the autostart entry, on temporary homes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app_paths.hpp"
#include "autostart.hpp"
#include "qt_platform.hpp"
#include "qt_wait.hpp"
#include "shell/app.hpp"

namespace orvela::qt {
namespace {

using orvela::test::ScopedEnv;
using orvela::test::writeFile;

unsigned modeOf(const QString& path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) return 0;
    return info.st_mode & 07777;
}

// "-KEY VALUE" among the arguments (never argv[0]) wins over the settings file, whose unquoted
// commas survive.
TEST(AppPaths, AnArgumentOverridesTheSettingsFile) {
    QTemporaryDir config;
    ScopedEnv home("XDG_CONFIG_HOME", config.path());
    const QString ini = settingsFile();
    EXPECT_EQ(ini, config.path() + "/orvela/orvela-timer.conf");
    const QStringList bare = {"orvela-timer"}, given = {"orvela-timer", "-OrvelaURL", "http://a"};
    EXPECT_EQ(userDefaultFrom("OrvelaURL", bare, ini), std::nullopt) << "no file at all";
    EXPECT_EQ(userDefaultFrom("OrvelaURL", given, ini), "http://a");

    const std::string fromFile = "http://file:2/a?x=1,2";
    ASSERT_TRUE(writeFile(ini, "OrvelaURL=" + QByteArray::fromStdString(fromFile) + "\nOther=x\n"));
    const std::vector<std::pair<QStringList, std::optional<std::string>>> cases = {
        {given, "http://a"},
        {bare, fromFile},
        {{"orvela-timer", "-OrvelaURL"}, fromFile},
        {{"-OrvelaURL", "http://argv0"}, fromFile},
        {{"orvela-timer", "--OrvelaURL", "http://x"}, fromFile},
    };
    for (const auto& [arguments, expected] : cases)
        EXPECT_EQ(userDefaultFrom("OrvelaURL", arguments, ini), expected)
            << arguments.join(' ').toStdString();
    EXPECT_EQ(userDefaultFrom("Missing", bare, ini), std::nullopt);

    // Through the platform (this process's arguments carry no flag); the build is a number.
    QtPlatform platform;
    EXPECT_EQ(platform.userDefault("OrvelaURL"), fromFile);
    EXPECT_GT(parseBuildNumber(platform.bundleInfo("CFBundleVersion")), 0);
}

TEST(AppPaths, TheBundleIsTheFolderTwoLevelsUpWhenItHasTheAppName) {
    const std::vector<std::pair<QString, std::optional<std::string>>> cases = {
        {"/home/u/ORVELA Timer.app/bin/orvela-timer", "/home/u/ORVELA Timer.app"},
        {"/opt/ORVELA Timer.app/orvela-timer", std::nullopt},
        {"/opt/orvela timer.app/bin/orvela-timer", std::nullopt},
        {"/usr/bin/orvela-timer", std::nullopt},
    };
    for (const auto& [executable, bundle] : cases)
        EXPECT_EQ(bundlePathFor(executable), bundle) << executable.toStdString();
}

// $XDG_RUNTIME_DIR only when nobody else may enter it; else our own folder, kept at 0700, and
// never a link planted in its place.
TEST(AppPaths, TheTemporaryDirectoryIsAlwaysPrivate) {
    QTemporaryDir root;
    const QString runtime = root.path() + "/runtime", own = root.path() + "/cache/orvela-timer";
    ScopedEnv cacheHome("XDG_CACHE_HOME", root.path() + "/cache");
    QDir().mkpath(runtime);
    auto check = [&](const QString& runtimeDir, const QString& expected) {
        ScopedEnv env("XDG_RUNTIME_DIR", runtimeDir);
        EXPECT_EQ(privateTemporaryDirectory(), expected) << runtimeDir.toStdString();
        EXPECT_EQ(modeOf(expected), 0700u);
    };
    ::chmod(QFile::encodeName(runtime).constData(), 0700);
    check(runtime, runtime);
    ::chmod(QFile::encodeName(runtime).constData(), 01777);
    check(runtime, own);
    check(root.path() + "/not-there", own);
    ::chmod(QFile::encodeName(own).constData(), 0755);
    check(QString(), own);

    QFile::link(runtime, root.path() + "/link");
    EXPECT_FALSE(makePrivateDirectory(root.path() + "/link"));
}

// On and off on a temporary home, with the path quoted and escaped as desktop entries require;
// an entry the session skips is not enabled; a failure to write is reported, not success.
TEST(Autostart, RegisteringWritesAnEntryThatUnregisteringRemoves) {
    QTemporaryDir config;
    ScopedEnv home("XDG_CONFIG_HOME", config.path());
    const QString entry = Autostart::userEntryPath();
    EXPECT_EQ(entry, config.path() + "/autostart/orvela-timer.desktop");
    // An odd install path: inside the quotes " ` $ \ take a backslash and % doubles, then the
    // entry's string level doubles each backslash.
    const Autostart autostart(entry,
                              R"(/opt/$HOME "100%" `x`\d/ORVELA Timer.app/bin/orvela-timer)");

    EXPECT_EQ(autostart.status(), LoginItemStatus::NotRegistered);
    EXPECT_EQ(autostart.enable(), std::nullopt);
    EXPECT_EQ(autostart.status(), LoginItemStatus::Enabled);
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\nType=Application\n")) << text.toStdString();
    EXPECT_TRUE(text.contains(
        R"(Exec="/opt/\\$HOME \\"100%%\\" \\`x\\`\\\\d/ORVELA Timer.app/bin/orvela-timer")"
        "\n"))
        << text.toStdString();

    EXPECT_EQ(autostart.disable(), std::nullopt);
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_EQ(autostart.status(), LoginItemStatus::NotRegistered);
    EXPECT_EQ(autostart.disable(), std::nullopt) << "nothing to remove is no failure";

    const std::vector<std::pair<QByteArray, LoginItemStatus>> entries = {
        {"Hidden=true", LoginItemStatus::NotRegistered},
        {"X-GNOME-Autostart-enabled=false", LoginItemStatus::NotRegistered},
        {"[Desktop Action quit]\nHidden=true", LoginItemStatus::Enabled},
    };
    for (const auto& [line, status] : entries) {
        ASSERT_TRUE(writeFile(entry, "[Desktop Entry]\nType=Application\nExec=x\n" + line + "\n"));
        EXPECT_EQ(autostart.status(), status) << line.toStdString();
        EXPECT_EQ(autostart.enable(), std::nullopt);
        EXPECT_EQ(autostart.status(), LoginItemStatus::Enabled) << line.toStdString();
    }

    ASSERT_TRUE(writeFile(config.path() + "/blocked", "a file, not a folder"));
    const Autostart blocked(config.path() + "/blocked/autostart/orvela-timer.desktop", "/x");
    EXPECT_FALSE(blocked.enable().value_or("").empty());
}

}  // namespace
}  // namespace orvela::qt
