// Self-update end to end: a bundle installed in a temporary folder, a newer release (archive
// and version.json) served by the stand-in service, and the core on the Qt backend doing the
// real download, checksum, unzip and hand-over script. The test plays the user (it answers the
// confirmation) and the app's process (a sleeping child that "quits" when asked to terminate);
// everything the update touches is the production path.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>

#include "dev-service/service.hpp"
#include "qt/qt_wait.hpp"
#include "qt_platform.hpp"
#include "shell/app.hpp"

extern char** environ;

namespace orvela {
namespace {

using test::waitUntil;

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
           file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

// The real desktop backend, except for what belongs to the person and the process around it:
// the confirmation is answered "Обновить" and every later alert closed, the bundle is the one
// installed in the test folder, the "running app" is a child process, and quitting ends it.
class DeskUnderTest final : public Platform {
public:
    DeskUnderTest(std::string base, std::string bundle) : base_(base), bundle_(bundle) {
        char* argv[] = {const_cast<char*>("/bin/sleep"), const_cast<char*>("60"), nullptr};
        if (::posix_spawn(&app_, argv[0], nullptr, nullptr, argv, environ) != 0) app_ = -1;
    }
    ~DeskUnderTest() override { terminate(); }

    std::vector<Alert> alerts;
    int terminations = 0;
    bool appRunning() const { return app_ > 0; }

    void activateApp() override {}
    AlertAnswer runAlert(const Alert& alert) override {
        alerts.push_back(alert);
        return {alerts.size() == 1 ? 0 : static_cast<int>(alert.buttons.size()) - 1, {}};
    }
    void postNotification(const Notification&) override {}
    std::optional<std::string> userDefault(const std::string& key) override {
        return key == "OrvelaURL" ? std::optional(base_) : real_.userDefault(key);
    }
    std::optional<std::string> bundlePath() override { return bundle_; }
    std::int64_t processId() override { return app_; }
    void terminate() override {
        if (app_ <= 0) return;
        ++terminations;
        ::kill(app_, SIGTERM);
        ::waitpid(app_, nullptr, 0);  // reaped, as the session would: a zombie still "exists"
        app_ = -1;
    }

    // The rest is the Qt backend as the update uses it; what only a launched app needs is inert.
    double wallClockMs() override { return real_.wallClockMs(); }
    double monotonicSeconds() override { return real_.monotonicSeconds(); }
    void runAfter(double s, std::function<void()> f) override { real_.runAfter(s, std::move(f)); }
    void send(const HttpRequest& r, std::function<void(HttpResponse)> f) override {
        real_.send(r, std::move(f));
    }
    void download(const HttpRequest& r, std::function<void(DownloadResult)> f) override {
        real_.download(r, std::move(f));
    }
    std::optional<std::string> bundleInfo(const std::string& key) override {
        return real_.bundleInfo(key);
    }
    std::string temporaryDirectory() override { return real_.temporaryDirectory(); }
    std::string homeDirectory() override { return real_.homeDirectory(); }
    ProcessResult runAndWait(const std::string& p, const std::vector<std::string>& a) override {
        return real_.runAndWait(p, a);
    }
    std::optional<std::string> launchDetached(
        const std::string& p, const std::vector<std::string>& a,
        const std::map<std::string, std::string>& e) override {
        return real_.launchDetached(p, a, e);
    }
    void systemLog(const std::string& line) override { real_.systemLog(line); }
    void startRepeatingTimer(double, std::function<void()>) override {}
    StatusItem* createStatusItem() override { return nullptr; }
    std::optional<std::string> clipboardText() override { return {}; }
    void requestNotificationAuthorisation() override {}
    void playSound(const std::string&) override {}
    void openUrl(const std::string&) override {}
    void setWakeHandler(std::function<void()>) override {}
    std::optional<std::string> computerName() override { return {}; }
    LoginItemStatus loginItemStatus() override { return LoginItemStatus::NotRegistered; }
    std::optional<std::string> registerLoginItem() override { return {}; }
    std::optional<std::string> unregisterLoginItem() override { return {}; }

private:
    qt::QtPlatform real_;
    std::string base_, bundle_;
    pid_t app_ = -1;
};

// The release 9.9 (build 43) as a zip of a bundle whose program reports its start and the
// session it was given, published with the checksum of `signedArchive(archive)`; then a check
// from the menu, confirmed, run until the installation ended one way or the other.
class UpdateEndToEnd : public ::testing::Test {
protected:
    void run(const std::function<QByteArray(QByteArray)>& signedArchive) {
        ASSERT_TRUE(writeAll(bundle + "/bin/orvela-timer", "old"));
        ASSERT_TRUE(writeAll(stage + "/bin/orvela-timer", newProgram));
        ASSERT_TRUE(writeAll(stage + "/share/applications/orvela-timer.desktop", "[Desktop]\n"));
        QDir().mkpath(root.path() + "/release/mac");
        QDir().mkpath(runtime);
        QFile::setPermissions(
            runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcess zip;
        zip.setWorkingDirectory(root.path() + "/stage");
        zip.start("/usr/bin/zip",
                  {"-qry", root.path() + "/release/mac/43.zip", "ORVELA Timer.app"});
        ASSERT_TRUE(zip.waitForFinished(10000) && zip.exitCode() == 0);
        const QByteArray sha256 =
            QCryptographicHash::hash(signedArchive(readAll(root.path() + "/release/mac/43.zip")),
                                     QCryptographicHash::Sha256);
        ASSERT_TRUE(writeAll(root.path() + "/release/version.json",
                             R"({"version":"9.9","build":43,"zip":"/mac/43.zip","sha256":")" +
                                 sha256.toHex().toUpper() + "\"}"));
        dev::Options options;
        options.port = 0;
        options.releaseDir = (root.path() + "/release").toStdString();
        service = std::make_unique<dev::DevService>(options);
        service->start();
        desk = std::make_unique<DeskUnderTest>(service->baseUrl(), bundle.toStdString());
        ASSERT_TRUE(desk->appRunning());
        app = std::make_unique<App>(*desk);
        app->checkUpdatesNow();
        ASSERT_TRUE(
            waitUntil([&] { return desk->terminations || desk->alerts.size() >= 2; }, 15000));
    }

    QTemporaryDir root;
    const QString home = root.path() + "/home", runtime = root.path() + "/runtime";
    const QString bundle = home + "/Applications/ORVELA Timer.app";
    const QString stage = root.path() + "/stage/ORVELA Timer.app";
    const QByteArray newProgram =
        "#!/bin/sh\necho \"$XDG_RUNTIME_DIR|$DBUS_SESSION_BUS_ADDRESS\" > \"$HOME/relaunched\"\n";
    test::ScopedEnv homeEnv{"HOME", home}, runtimeEnv{"XDG_RUNTIME_DIR", runtime};
    std::unique_ptr<dev::DevService> service;  // outlives the client's open connection
    std::unique_ptr<DeskUnderTest> desk;
    std::unique_ptr<App> app;
};

TEST_F(UpdateEndToEnd, AVerifiedReleaseReplacesTheBundleAndStartsAgain) {
    ASSERT_NO_FATAL_FAILURE(run([](QByteArray archive) { return archive; }));
    ASSERT_EQ(desk->alerts.size(), 1u) << desk->alerts.back().informative;
    EXPECT_EQ(desk->alerts[0].message, "Обновить ORVELA Timer до 9.9?");
    EXPECT_EQ(desk->terminations, 1);
    EXPECT_TRUE(app->updating);

    // The script saw the app go, swapped the whole bundle and started the new program in the
    // same session.
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(home + "/relaunched"); }, 10000));
    EXPECT_EQ(readAll(bundle + "/bin/orvela-timer"), newProgram);
    EXPECT_TRUE(QFile::exists(bundle + "/share/applications/orvela-timer.desktop"));
    EXPECT_EQ(readAll(home + "/relaunched").trimmed(),
              (runtime + "|" + qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS")).toUtf8());
    EXPECT_TRUE(waitUntil([&] { return !QFile::exists(runtime + "/orvela-update-43"); }, 5000));
    EXPECT_EQ(QDir(home + "/Applications").entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{"ORVELA Timer.app"});
}

TEST_F(UpdateEndToEnd, ATamperedArchiveLeavesTheInstalledAppAlone) {
    ASSERT_NO_FATAL_FAILURE(run([](QByteArray archive) {
        archive[archive.size() / 2] = static_cast<char>(archive[archive.size() / 2] ^ 0x20);
        return archive;
    }));
    ASSERT_EQ(desk->alerts.size(), 2u);
    EXPECT_EQ(desk->alerts[1].message, "Обновление не установилось");
    EXPECT_EQ(desk->alerts[1].informative, "архив повреждён (контрольная сумма не совпала)");
    EXPECT_EQ(desk->terminations, 0);
    EXPECT_FALSE(app->updating);
    EXPECT_EQ(readAll(bundle + "/bin/orvela-timer"), "old");
    EXPECT_FALSE(QFile::exists(runtime + "/orvela-update-43"));
    test::spin(500);
    EXPECT_FALSE(QFile::exists(home + "/relaunched"));
}

}  // namespace
}  // namespace orvela
