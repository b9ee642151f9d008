// Self-update end to end: a bundle in a temporary folder, a newer release served by the stand-in,
// and the core on the Qt backend doing the real download, checksum, unzip and hand-over script.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>

#include "dev-service/service.hpp"
#include "qt/support/forwarding_platform.hpp"
#include "qt/support/qt_wait.hpp"
#include "qt_platform.hpp"
#include "shell/app.hpp"
#include "support/release_key.hpp"

extern char** environ;

namespace orvela {
namespace {

using test::readFile;
using test::waitUntil;

// The user confirms "Обновить"; the service, bundle, release key and app (a sleeping child) are
// the test's.
class Desk final : public test::ScriptedDesk {
public:
    Desk(std::string base, std::string bundle, std::string key)
        : base_(base), bundle_(bundle), key_(key) {
        press = {"Обновить"};
        char* argv[] = {const_cast<char*>("/bin/sleep"), const_cast<char*>("60"), nullptr};
        if (::posix_spawn(&app_, argv[0], nullptr, nullptr, argv, environ) != 0) app_ = -1;
    }
    ~Desk() override { terminate(); }
    int terminations = 0;

    std::optional<std::string> userDefault(const std::string& key) override {
        return key == "OrvelaURL" ? std::optional(base_) : real_.userDefault(key);
    }
    std::optional<std::string> bundleInfo(const std::string& key) override {
        return key == "OrvelaReleasePublicKey" ? std::optional(key_) : real_.bundleInfo(key);
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
    void postNotification(const Notification&) override {}

private:
    std::string base_, bundle_, key_;
    pid_t app_ = -1;
};

// The running copies of `program` (the relaunched app), ended by their process ids.
void endProcessesOf(const QString& program) {
    for (const QString& pid : QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs))
        if (QFileInfo(QString("/proc/%1/exe").arg(pid)).symLinkTarget() == program)
            ::kill(pid.toInt(), SIGTERM);
}

// The release is the archive scripts/release.sh made when the run names its folder, else 9.9
// (build 43) whose program reports its start and the environment it got. The app carries a
// throwaway release key. The release is published signed by another key, then by the app's; each
// time a confirmed check runs to its end.
TEST(UpdateEndToEnd, AForeignSignedArchiveIsRefusedThenAVerifiedOneReplacesTheBundle) {
    QTemporaryDir root;
    const QString home = root.path() + "/home", runtime = root.path() + "/runtime";
    const QString bundle = home + "/Applications/ORVELA Timer.app",
                  program = bundle + "/bin/orvela-timer";
    const QString stage = root.path() + "/stage/ORVELA Timer.app";
    const QString release = root.path() + "/release";
    const QString made = qEnvironmentVariable("ORVELA_RELEASE_DIR");
    const QByteArray newProgram =
        "#!/bin/sh\necho \"$XDG_RUNTIME_DIR|$DBUS_SESSION_BUS_ADDRESS|"
        "$TZ\" > \"$HOME/relaunched\"\n";
    test::ScopedEnv homeEnv{"HOME", home}, runtimeEnv{"XDG_RUNTIME_DIR", runtime},
        timeZone{"TZ", "Asia/Yekaterinburg"};
    ASSERT_TRUE(test::writeFile(program, "old"));
    QDir().mkpath(runtime);
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    QFile::setPermissions(runtime, owner);  // a private runtime folder, as the session's
    nlohmann::json manifest = {{"version", "9.9"}, {"build", 43}, {"zip", "/mac/43.zip"}};
    if (!made.isEmpty())
        manifest = nlohmann::json::parse(readFile(made + "/version.json").toStdString());
    const QString zip = QString::fromStdString(manifest.value("zip", "")), zipPath = release + zip;
    QDir().mkpath(QFileInfo(zipPath).absolutePath());
    if (made.isEmpty()) {
        ASSERT_TRUE(test::writeFile(stage + "/bin/orvela-timer", newProgram));
        QFile::setPermissions(stage + "/bin/orvela-timer", owner);
        const char* zipStage = "cd \"$0\" && /usr/bin/zip -qry \"$1\" 'ORVELA Timer.app'";
        ASSERT_EQ(QProcess::execute("/bin/sh", {"-c", zipStage, root.path() + "/stage", zipPath}),
                  0);
    } else {
        ASSERT_TRUE(QFile::copy(made + zip, zipPath)) << (made + zip).toStdString();
    }
    const QByteArray archive = readFile(zipPath);
    auto sha256 = [](const QByteArray& bytes) {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
    };
    // release.sh names its archive by the archive's own checksum.
    EXPECT_TRUE(made.isEmpty() || manifest.value("sha256", "") == sha256(archive));
    const test::ReleaseKey key, otherKey;
    auto publish = [&](const test::ReleaseKey& signer) {
        manifest["sha256"] = QByteArray::fromStdString(sha256(archive)).toUpper().toStdString();
        manifest["signature"] = signer.sign(sha256(archive));
        return test::writeFile(release + "/version.json",
                               QByteArray::fromStdString(manifest.dump()));
    };
    dev::Options options;
    options.port = 0;
    options.releaseDir = release.toStdString();
    dev::DevService service(options);  // outlives the client's open connection
    service.start();
    Desk desk(service.baseUrl(), bundle.toStdString(), key.publicBase64());
    App app(desk);

    ASSERT_TRUE(publish(otherKey));
    app.checkUpdatesNow();
    ASSERT_TRUE(waitUntil([&] { return desk.alerts.size() >= 2; }, 15000));
    EXPECT_EQ(desk.alerts[1].message, "Обновление не установилось");
    EXPECT_EQ(desk.alerts[1].informative, "подпись обновления не подошла — архив подменён");
    EXPECT_EQ(desk.terminations, 0);
    EXPECT_EQ(readFile(program), "old");

    ASSERT_TRUE(publish(key));
    app.checkUpdatesNow();
    ASSERT_TRUE(waitUntil([&] { return desk.terminations || desk.alerts.size() >= 4; }, 30000));
    ASSERT_EQ(desk.alerts.size(), 3u) << desk.alerts.back().informative;
    EXPECT_EQ(desk.alerts[2].message,
              "Обновить ORVELA Timer до " + manifest.value("version", "") + "?");
    // The script saw the app go, swapped the bundle, relaunched it in this session, cleaned up.
    const QString work = runtime + "/orvela-update-" + QString::number(manifest.value("build", 0));
    EXPECT_TRUE(waitUntil([&] { return !QFile::exists(work); }, 20000));
    EXPECT_EQ(QDir(home + "/Applications").entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{"ORVELA Timer.app"});
    if (made.isEmpty()) {
        // The shell creates the file before it writes the line: wait for the whole line.
        ASSERT_TRUE(
            waitUntil([&] { return readFile(home + "/relaunched").endsWith('\n'); }, 10000));
        EXPECT_EQ(readFile(program), newProgram);
        // The relaunched build got the app's own environment, not only the session's.
        EXPECT_EQ(readFile(home + "/relaunched").trimmed(),
                  (runtime + "|" + qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS") +
                   "|Asia/Yekaterinburg")
                      .toUtf8());
        return;
    }
    // The real program, whole, with its libraries' symbolic links as release.sh zipped them. It
    // cannot show itself here (the session has no display); wherever it can, it is ended.
    endProcessesOf(program);
    QProcess unzip;
    unzip.start("/usr/bin/unzip", {"-p", zipPath, "ORVELA Timer.app/bin/orvela-timer"});
    ASSERT_TRUE(unzip.waitForFinished(20000));
    EXPECT_EQ(readFile(program), unzip.readAllStandardOutput());
    EXPECT_TRUE(QFileInfo(program).isExecutable());
    EXPECT_TRUE(QFileInfo(bundle + "/lib/libQt6Core.so.6").isSymLink());
}

}  // namespace
}  // namespace orvela
