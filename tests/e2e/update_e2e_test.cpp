// Self-update end to end: a bundle installed in a temporary folder, a newer release (archive
// and version.json) served by the stand-in service, and the core on the Qt backend doing the
// real download, checksum, unzip and hand-over script. The test plays the user (it answers the
// confirmation) and the app's process (a sleeping child that "quits" when asked to terminate);
// everything else is the production path.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "dev-service/service.hpp"
#include "qt/qt_wait.hpp"
#include "qt_platform.hpp"
#include "shell/app.hpp"

extern char** environ;

namespace orvela {
namespace {

using test::ScopedEnv;
using test::waitUntil;

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes, bool executable = false) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    if (executable) file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    return true;
}

// The real desktop backend, except for what belongs to the person and the process around it:
// the alerts are answered from a script, the bundle is the one installed in the test folder,
// the "running app" is a child process, and quitting ends that child.
class DeskUnderTest final : public Platform {
public:
    DeskUnderTest(std::string base, std::string bundle)
        : base_(std::move(base)), bundle_(std::move(bundle)) {
        char* argv[] = {const_cast<char*>("/bin/sleep"), const_cast<char*>("60"), nullptr};
        if (::posix_spawn(&app_, argv[0], nullptr, nullptr, argv, environ) != 0) app_ = -1;
    }
    ~DeskUnderTest() override { quitApp(); }

    std::deque<int> answers;  // button indexes; without one, the alert is closed
    std::vector<Alert> alerts;
    int terminations = 0;
    bool appRunning() const { return app_ > 0; }

    // What the test plays.
    void activateApp() override {}
    AlertAnswer runAlert(const Alert& alert) override {
        alerts.push_back(alert);
        int button = static_cast<int>(alert.buttons.size()) - 1;
        if (!answers.empty()) {
            button = answers.front();
            answers.pop_front();
        }
        return AlertAnswer{button, {}};
    }
    void postNotification(const Notification&) override {}
    std::optional<std::string> userDefault(const std::string& key) override {
        if (key == "OrvelaURL") return base_;
        return real_.userDefault(key);
    }
    std::optional<std::string> bundlePath() override { return bundle_; }
    std::int64_t processId() override { return app_; }
    void terminate() override {
        ++terminations;
        quitApp();
    }

    // The rest is the Qt backend as the app uses it.
    double wallClockMs() override { return real_.wallClockMs(); }
    double monotonicSeconds() override { return real_.monotonicSeconds(); }
    void startRepeatingTimer(double s, std::function<void()> f) override {
        real_.startRepeatingTimer(s, std::move(f));
    }
    void runAfter(double s, std::function<void()> f) override { real_.runAfter(s, std::move(f)); }
    void send(const HttpRequest& r, std::function<void(HttpResponse)> f) override {
        real_.send(r, std::move(f));
    }
    void download(const HttpRequest& r, std::function<void(DownloadResult)> f) override {
        real_.download(r, std::move(f));
    }
    StatusItem* createStatusItem() override { return real_.createStatusItem(); }
    std::optional<std::string> clipboardText() override { return real_.clipboardText(); }
    void requestNotificationAuthorisation() override {}
    void playSound(const std::string&) override {}
    void openUrl(const std::string&) override {}
    void setWakeHandler(std::function<void()> h) override { real_.setWakeHandler(std::move(h)); }
    std::optional<std::string> computerName() override { return real_.computerName(); }
    LoginItemStatus loginItemStatus() override { return real_.loginItemStatus(); }
    std::optional<std::string> registerLoginItem() override { return real_.registerLoginItem(); }
    std::optional<std::string> unregisterLoginItem() override {
        return real_.unregisterLoginItem();
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

private:
    void quitApp() {
        if (app_ <= 0) return;
        ::kill(app_, SIGTERM);
        ::waitpid(app_, nullptr, 0);  // reaped, as the session would: a zombie still "exists"
        app_ = -1;
    }

    qt::QtPlatform real_;
    std::string base_;
    std::string bundle_;
    pid_t app_ = -1;
};

class UpdateEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        QDir(root.path()).mkpath("home");
        QDir(root.path()).mkpath("runtime");
        QFile::setPermissions(
            runtime(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        // The installed app: the real program, in a bundle under the user's Applications.
        ASSERT_TRUE(QDir().mkpath(bundle() + "/bin"));
        ASSERT_TRUE(QFile::copy(ORVELA_TIMER_BIN, bundle() + "/bin/orvela-timer"));
        installedProgram = readAll(bundle() + "/bin/orvela-timer");
        ASSERT_FALSE(installedProgram.isEmpty());

        // The new release: a program that reports its start and the session it was given.
        const QString stage = root.path() + "/stage/ORVELA Timer.app";
        newProgram =
            "#!/bin/sh\n"
            "echo \"$XDG_RUNTIME_DIR|$DBUS_SESSION_BUS_ADDRESS\" > \"$HOME/relaunched\"\n";
        ASSERT_TRUE(writeAll(stage + "/bin/orvela-timer", newProgram, true));
        ASSERT_TRUE(
            writeAll(stage + "/share/applications/orvela-timer.desktop", "[Desktop Entry]\n"));
        QDir().mkpath(root.path() + "/release/mac");
        QProcess zip;
        zip.setWorkingDirectory(root.path() + "/stage");
        zip.start("/usr/bin/zip",
                  {"-qry", root.path() + "/release/mac/orvela-timer-43.zip", "ORVELA Timer.app"});
        ASSERT_TRUE(zip.waitForFinished(10000));
        ASSERT_EQ(zip.exitCode(), 0);
        archive = readAll(root.path() + "/release/mac/orvela-timer-43.zip");
        ASSERT_FALSE(archive.isEmpty());
    }

    void publish(const QByteArray& sha256) {
        ASSERT_TRUE(writeAll(root.path() + "/release/version.json",
                             R"({"version":"9.9","build":43,"notes":"Новая сборка",)"
                             R"("zip":"/mac/orvela-timer-43.zip","sha256":")" +
                                 sha256 + "\"}"));
        dev::Options options;
        options.port = 0;
        options.releaseDir = (root.path() + "/release").toStdString();
        service = std::make_unique<dev::DevService>(options);
        service->start();
    }

    // Runs a check from the menu and answers "Обновить"; returns once the installation ended
    // one way or the other.
    void checkAndConfirm(DeskUnderTest& desk, App& app) {
        desk.answers.push_back(0);
        app.checkUpdatesNow();
        ASSERT_TRUE(
            waitUntil([&] { return desk.terminations > 0 || desk.alerts.size() >= 2; }, 15000));
    }

    QString runtime() const { return root.path() + "/runtime"; }
    QString home() const { return root.path() + "/home"; }
    QString bundle() const { return root.path() + "/home/Applications/ORVELA Timer.app"; }

    QTemporaryDir root;
    QByteArray installedProgram, newProgram, archive;
    std::unique_ptr<dev::DevService> service;
};

TEST_F(UpdateEndToEnd, AVerifiedReleaseReplacesTheBundleAndStartsAgain) {
    publish(QCryptographicHash::hash(archive, QCryptographicHash::Sha256).toHex().toUpper());
    ScopedEnv homeEnv("HOME", home());
    ScopedEnv runtimeEnv("XDG_RUNTIME_DIR", runtime());
    DeskUnderTest desk(service->baseUrl(), bundle().toStdString());
    ASSERT_TRUE(desk.appRunning());
    App app(desk);

    checkAndConfirm(desk, app);
    ASSERT_EQ(desk.alerts.size(), 1u) << desk.alerts.back().informative;
    EXPECT_EQ(desk.alerts[0].message, "Обновить ORVELA Timer до 9.9?");
    EXPECT_EQ(desk.terminations, 1);
    EXPECT_TRUE(app.updating);

    // The script saw the app go, swapped the bundles and started the new program.
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(home() + "/relaunched"); }, 10000));
    EXPECT_EQ(readAll(bundle() + "/bin/orvela-timer"), newProgram);
    EXPECT_TRUE(QFile::exists(bundle() + "/share/applications/orvela-timer.desktop"));
    EXPECT_EQ(readAll(home() + "/relaunched").trimmed(),
              (runtime() + "|" + qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS")).toUtf8());
    EXPECT_TRUE(waitUntil([&] { return !QFile::exists(runtime() + "/orvela-update-43"); }, 5000));
    EXPECT_FALSE(QFile::exists(bundle() + ".new"));
    EXPECT_EQ(QDir(home() + "/Applications").entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{"ORVELA Timer.app"});
}

TEST_F(UpdateEndToEnd, ATamperedArchiveLeavesTheInstalledAppAlone) {
    QByteArray tampered = archive;
    tampered[tampered.size() / 2] = static_cast<char>(tampered[tampered.size() / 2] ^ 0x20);
    publish(QCryptographicHash::hash(tampered, QCryptographicHash::Sha256).toHex());
    ScopedEnv homeEnv("HOME", home());
    ScopedEnv runtimeEnv("XDG_RUNTIME_DIR", runtime());
    DeskUnderTest desk(service->baseUrl(), bundle().toStdString());
    App app(desk);

    checkAndConfirm(desk, app);
    ASSERT_EQ(desk.alerts.size(), 2u);
    EXPECT_EQ(desk.alerts[1].message, "Обновление не установилось");
    EXPECT_EQ(desk.alerts[1].informative, "архив повреждён (контрольная сумма не совпала)");
    EXPECT_EQ(desk.terminations, 0);
    EXPECT_TRUE(desk.appRunning());
    EXPECT_FALSE(app.updating);
    ASSERT_TRUE(app.update);
    EXPECT_EQ(app.update->build, 43);
    EXPECT_EQ(readAll(bundle() + "/bin/orvela-timer"), installedProgram);
    EXPECT_FALSE(QFile::exists(runtime() + "/orvela-update-43"));
    test::spin(500);
    EXPECT_FALSE(QFile::exists(home() + "/relaunched"));
}

}  // namespace
}  // namespace orvela
