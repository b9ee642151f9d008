// Self-update end to end: a bundle installed in a temporary folder, a newer release (archive
// and version.json) served by the stand-in service, and the core on the Qt backend doing the
// real download, checksum, unzip and hand-over script. The test plays the user (it answers the
// confirmation) and the app's process (a sleeping child that "quits" when asked to terminate).
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryDir>

#include "dev-service/service.hpp"
#include "qt/forwarding_platform.hpp"
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

// The Qt backend, except for the person and the process around it: a confirmation is
// answered "Обновить" and every other alert closed, the service and the bundle are the test's,
// and the running app is a child process that quitting ends.
class Desk final : public test::ForwardingPlatform {
public:
    Desk(std::string base, std::string bundle) : base_(base), bundle_(bundle) {
        char* argv[] = {const_cast<char*>("/bin/sleep"), const_cast<char*>("60"), nullptr};
        if (::posix_spawn(&app_, argv[0], nullptr, nullptr, argv, environ) != 0) app_ = -1;
    }
    ~Desk() override { terminate(); }
    std::vector<Alert> alerts;
    int terminations = 0;

    AlertAnswer runAlert(const Alert& alert) override {
        alerts.push_back(alert);
        const bool confirmation = alert.buttons.front() == "Обновить";
        return {confirmation ? 0 : static_cast<int>(alert.buttons.size()) - 1, {}};
    }
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
    void activateApp() override {}
    void postNotification(const Notification&) override {}

private:
    std::string base_, bundle_;
    pid_t app_ = -1;
};

// Release 9.9 (build 43), a zip of a bundle whose program reports its start and the session it
// was given, published first with the checksum of a tampered copy and then with its own; each
// time a check from the menu, confirmed, runs until the installation has ended.
TEST(UpdateEndToEnd, ATamperedArchiveIsRefusedThenAVerifiedOneReplacesTheBundle) {
    QTemporaryDir root;
    const QString home = root.path() + "/home", runtime = root.path() + "/runtime";
    const QString bundle = home + "/Applications/ORVELA Timer.app";
    const QString stage = root.path() + "/stage/ORVELA Timer.app";
    const QString release = root.path() + "/release";
    const QByteArray newProgram =
        "#!/bin/sh\necho \"$XDG_RUNTIME_DIR|$DBUS_SESSION_BUS_ADDRESS\" > \"$HOME/relaunched\"\n";
    test::ScopedEnv homeEnv{"HOME", home}, runtimeEnv{"XDG_RUNTIME_DIR", runtime};
    ASSERT_TRUE(test::writeFile(bundle + "/bin/orvela-timer", "old"));
    ASSERT_TRUE(test::writeFile(stage + "/bin/orvela-timer", newProgram));
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    QFile::setPermissions(stage + "/bin/orvela-timer", owner);
    QDir().mkpath(release + "/mac");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, owner);  // a private runtime folder, as the session's
    QProcess zip;
    zip.setWorkingDirectory(root.path() + "/stage");
    zip.start("/usr/bin/zip", {"-qry", release + "/mac/43.zip", "ORVELA Timer.app"});
    ASSERT_TRUE(zip.waitForFinished(10000) && zip.exitCode() == 0);
    auto publish = [&](bool tampered) {
        QByteArray archive = readAll(release + "/mac/43.zip");
        if (tampered)
            archive[archive.size() / 2] = static_cast<char>(archive[archive.size() / 2] ^ 1);
        const QByteArray sha256 = QCryptographicHash::hash(archive, QCryptographicHash::Sha256);
        return test::writeFile(release + "/version.json",
                               R"({"version":"9.9","build":43,"zip":"/mac/43.zip","sha256":")" +
                                   sha256.toHex().toUpper() + "\"}");
    };
    dev::Options options;
    options.port = 0;
    options.releaseDir = release.toStdString();
    dev::DevService service(options);  // outlives the client's open connection
    service.start();
    Desk desk(service.baseUrl(), bundle.toStdString());
    App app(desk);

    ASSERT_TRUE(publish(true));
    app.checkUpdatesNow();
    ASSERT_TRUE(waitUntil([&] { return desk.alerts.size() >= 2; }, 15000));
    EXPECT_EQ(desk.alerts[1].message, "Обновление не установилось");
    EXPECT_EQ(desk.alerts[1].informative, "архив повреждён (контрольная сумма не совпала)");
    EXPECT_EQ(desk.terminations, 0);
    EXPECT_EQ(readAll(bundle + "/bin/orvela-timer"), "old");

    ASSERT_TRUE(publish(false));
    app.checkUpdatesNow();
    ASSERT_TRUE(waitUntil([&] { return desk.terminations || desk.alerts.size() >= 4; }, 15000));
    ASSERT_EQ(desk.alerts.size(), 3u) << desk.alerts.back().informative;
    EXPECT_EQ(desk.alerts[2].message, "Обновить ORVELA Timer до 9.9?");
    // The script saw the app go, swapped the whole bundle and started the new program in the
    // same session.
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(home + "/relaunched"); }, 10000));
    EXPECT_EQ(readAll(bundle + "/bin/orvela-timer"), newProgram);
    EXPECT_EQ(readAll(home + "/relaunched").trimmed(),
              (runtime + "|" + qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS")).toUtf8());
    EXPECT_TRUE(waitUntil([&] { return !QFile::exists(runtime + "/orvela-update-43"); }, 5000));
    EXPECT_EQ(QDir(home + "/Applications").entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{"ORVELA Timer.app"});
}

}  // namespace
}  // namespace orvela
