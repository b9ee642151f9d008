// Settings, bundle, scratch directory, host name and the autostart entry, on temporary homes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryDir>

#include "app_paths.hpp"
#include "autostart.hpp"
#include "qt_platform.hpp"
#include "qt_wait.hpp"
#include "shell/app.hpp"

namespace orvela::qt {
namespace {

using orvela::test::ScopedEnv;

void writeFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

unsigned modeOf(const QString& path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) return 0;
    return info.st_mode & 07777;
}

TEST(AppPaths, AnArgumentOverridesTheSettingsFile) {
    QTemporaryDir config;
    ScopedEnv home("XDG_CONFIG_HOME", config.path());
    const QString ini = settingsFile();
    EXPECT_EQ(ini, config.path() + "/orvela/orvela-timer.conf");

    const QStringList bare = {"orvela-timer"};
    const QStringList given = {"orvela-timer", "-OrvelaURL", "http://arg:1"};
    EXPECT_EQ(userDefaultFrom("OrvelaURL", bare, ini), std::nullopt) << "no file at all";
    EXPECT_EQ(userDefaultFrom("OrvelaURL", given, ini), "http://arg:1");

    writeFile(ini, "OrvelaURL=http://file:2/a?x=1,2\nOther=x\n");
    struct Case {
        QStringList arguments;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        {given, "http://arg:1"},
        {bare, "http://file:2/a?x=1,2"},
        // A flag without a value, or the value where the flag belongs, is no argument.
        {{"orvela-timer", "-OrvelaURL"}, "http://file:2/a?x=1,2"},
        {{"-OrvelaURL", "http://argv0"}, "http://file:2/a?x=1,2"},
        {{"orvela-timer", "--OrvelaURL", "http://x"}, "http://file:2/a?x=1,2"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(userDefaultFrom("OrvelaURL", c.arguments, ini), c.expected)
            << c.arguments.join(' ').toStdString();
    }
    EXPECT_EQ(userDefaultFrom("Missing", bare, ini), std::nullopt);

    // And through the platform, reading this process's arguments (which carry no flag).
    QtPlatform platform;
    EXPECT_EQ(platform.userDefault("OrvelaURL"), "http://file:2/a?x=1,2");
    // The compiled-in version and build (the build as the updater reads it: a number).
    EXPECT_FALSE(platform.bundleInfo("CFBundleShortVersionString").value_or("").empty());
    EXPECT_GT(parseBuildNumber(platform.bundleInfo("CFBundleVersion")), 0);
    EXPECT_EQ(platform.bundleInfo("CFBundleName"), std::nullopt);
}

TEST(AppPaths, TheBundleIsTheFolderTwoLevelsUpWhenItHasTheAppName) {
    EXPECT_EQ(bundlePathFor("/opt/ORVELA Timer.app/bin/orvela-timer"), "/opt/ORVELA Timer.app");
    EXPECT_EQ(bundlePathFor("/home/u/Apps/ORVELA Timer.app/bin/orvela-timer"),
              "/home/u/Apps/ORVELA Timer.app");
    EXPECT_EQ(bundlePathFor("/opt/ORVELA Timer.app/orvela-timer"), std::nullopt);
    EXPECT_EQ(bundlePathFor("/opt/orvela timer.app/bin/orvela-timer"), std::nullopt);
    EXPECT_EQ(bundlePathFor("/usr/bin/orvela-timer"), std::nullopt);
    EXPECT_EQ(bundlePathFor("/orvela-timer"), std::nullopt);
}

TEST(AppPaths, TheTemporaryDirectoryIsAlwaysPrivate) {
    QTemporaryDir root;
    const QString runtime = root.path() + "/runtime";
    const QString cache = root.path() + "/cache";
    ScopedEnv cacheHome("XDG_CACHE_HOME", cache);
    const QString own = cache + "/orvela-timer";

    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    {
        ScopedEnv env("XDG_RUNTIME_DIR", runtime);
        EXPECT_EQ(privateTemporaryDirectory(), runtime);
    }
    // A runtime directory others may enter (say, /tmp by mistake) is not used.
    ::chmod(QFile::encodeName(runtime).constData(), 01777);
    {
        ScopedEnv env("XDG_RUNTIME_DIR", runtime);
        EXPECT_EQ(privateTemporaryDirectory(), own);
        EXPECT_EQ(modeOf(own), 0700u);
    }
    {
        ScopedEnv env("XDG_RUNTIME_DIR", root.path() + "/not-there");
        EXPECT_EQ(privateTemporaryDirectory(), own);
    }
    // An existing folder of ours that became readable to others is closed again.
    ::chmod(QFile::encodeName(own).constData(), 0755);
    {
        ScopedEnv env("XDG_RUNTIME_DIR", QString());
        EXPECT_EQ(privateTemporaryDirectory(), own);
        EXPECT_EQ(modeOf(own), 0700u);
    }
    // A link in its place is no private directory.
    const QString link = root.path() + "/link";
    QFile::link(runtime, link);
    EXPECT_FALSE(makePrivateDirectory(link));
}

TEST(AppPaths, ThePrettyHostNameIsUnquotedAsHostnamectlWritesIt) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"PRETTY_HOSTNAME=\"Lennart's Laptop\"\n", "Lennart's Laptop"},
        {"ICON_NAME=computer-laptop\nPRETTY_HOSTNAME='Ноутбук Маши'\nCHASSIS=laptop\n",
         "Ноутбук Маши"},
        {"PRETTY_HOSTNAME=\"say \\\"hi\\\"\"\n", "say \"hi\""},
        {"# PRETTY_HOSTNAME=commented\nCHASSIS=vm\n", ""},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(prettyHostnameFrom(QString::fromUtf8(text)), QString::fromUtf8(expected)) << text;

    QTemporaryDir dir;
    writeFile(dir.path() + "/machine-info", "PRETTY_HOSTNAME=\"Кухня\"\n");
    EXPECT_EQ(computerNameFrom(dir.path() + "/machine-info"), "Кухня");
    EXPECT_EQ(computerNameFrom(dir.path() + "/absent"), QSysInfo::machineHostName().toStdString());
}

TEST(Autostart, ExecArgumentsAreQuotedAndEscaped) {
    const std::vector<std::pair<QString, QString>> cases = {
        {"/usr/bin/orvela-timer", R"("/usr/bin/orvela-timer")"},
        {"/opt/ORVELA Timer.app/bin/orvela-timer", R"("/opt/ORVELA Timer.app/bin/orvela-timer")"},
        // Inside quotes: \" \` \$ \\ ; then the string level doubles each backslash.
        {R"(/a"b/$HOME/`x`/c\d)", R"("/a\\"b/\\$HOME/\\`x\\`/c\\\\d")"},
        {"/100%/x", R"("/100%%/x")"},
    };
    for (const auto& [argument, expected] : cases)
        EXPECT_EQ(desktopExecArgument(argument), expected) << argument.toStdString();
}

TEST(Autostart, RegisteringWritesAnEntryThatUnregisteringRemoves) {
    QTemporaryDir config;
    ScopedEnv home("XDG_CONFIG_HOME", config.path());
    const QString entry = Autostart::userEntryPath();
    EXPECT_EQ(entry, config.path() + "/autostart/orvela-timer.desktop");
    const Autostart autostart(entry, "/opt/ORVELA Timer.app/bin/orvela-timer");

    EXPECT_EQ(autostart.status(), LoginItemStatus::NotRegistered);
    EXPECT_EQ(autostart.enable(), std::nullopt);
    EXPECT_EQ(autostart.status(), LoginItemStatus::Enabled);
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    file.close();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nType=Application\n"));
    EXPECT_TRUE(text.contains("\nExec=\"/opt/ORVELA Timer.app/bin/orvela-timer\"\n"));

    EXPECT_EQ(autostart.disable(), std::nullopt);
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_EQ(autostart.status(), LoginItemStatus::NotRegistered);
    EXPECT_EQ(autostart.disable(), std::nullopt) << "nothing to remove is no failure";

    // Entries the session skips are not "enabled"; registering again makes a live one.
    for (const char* off : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        writeFile(entry, QByteArray("[Desktop Entry]\nType=Application\nExec=x\n") + off + "\n");
        EXPECT_EQ(autostart.status(), LoginItemStatus::NotRegistered) << off;
        EXPECT_EQ(autostart.enable(), std::nullopt);
        EXPECT_EQ(autostart.status(), LoginItemStatus::Enabled) << off;
    }
    // Hidden in another group does not hide the entry.
    writeFile(entry, "[Desktop Entry]\nExec=x\n[Desktop Action quit]\nHidden=true\n");
    EXPECT_EQ(autostart.status(), LoginItemStatus::Enabled);

    // A folder that cannot be made gives an error text, not a crash.
    writeFile(config.path() + "/blocked", "a file, not a folder");
    const Autostart blocked(config.path() + "/blocked/autostart/orvela-timer.desktop", "/x");
    const auto error = blocked.enable();
    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(error->empty());
}

}  // namespace
}  // namespace orvela::qt
