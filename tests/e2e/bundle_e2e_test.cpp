// The release as a user gets it: the archive scripts/release.sh made, unpacked and started with a
// clean environment against the stand-in over HTTPS, trusting a throwaway authority for that run
// only. The running process's mapped files show where its libraries came from.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>

#include "dev-service/service.hpp"
#include "qt/support/fake_panel.hpp"
#include "qt/support/qt_wait.hpp"

namespace orvela {
namespace {

using test::readFile;
using test::waitUntil;

// Unpacks the archive $1 into $2/Apps; makes in $2/tls an authority and a 127.0.0.1 certificate.
const char* const kPrepare = R"(set -e
mkdir -p "$2/Apps" "$2/tls" && unzip -q "$1" -d "$2/Apps" && cd "$2/tls"
ec="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1"
openssl req -x509 $ec -subj /CN=orvela-test-ca -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign -keyout ca.key -out ca.pem 2>/dev/null
openssl req -x509 $ec -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
    -addext basicConstraints=CA:FALSE -CA ca.pem -CAkey ca.key -keyout server.key \
    -out server.pem 2>/dev/null)";

class BundleEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        // scripts/test.sh makes the release first and names its folder; a bare ctest has none.
        const QString release = qEnvironmentVariable("ORVELA_RELEASE_DIR");
        if (release.isEmpty())
            GTEST_SKIP() << "no release to test: set ORVELA_RELEASE_DIR to a folder that "
                            "scripts/release.sh made (scripts/test.sh does)";
        const auto manifest = nlohmann::json::parse(
            readFile(release + "/version.json").toStdString(), nullptr, false);
        ASSERT_TRUE(manifest.is_object() && manifest.value("zip", "").starts_with("/"))
            << "no release manifest in " << release.toStdString();
        const QString archive = release + QString::fromStdString(manifest.value("zip", ""));
        ASSERT_TRUE(root.isValid() && panel.isConnected() && panel.startWatcher())
            << "run under scripts/with-session-bus.sh";
        ASSERT_EQ(QProcess::execute("/bin/sh", {"-c", kPrepare, "sh", archive, root.path()}), 0)
            << archive.toStdString();
        dev::Options options;
        options.port = 0;
        options.tlsCert = (root.path() + "/tls/server.pem").toStdString();
        options.tlsKey = (root.path() + "/tls/server.key").toStdString();
        service = std::make_unique<dev::DevService>(options);
        service->start();
        ASSERT_TRUE(test::writeFile(root.path() + "/home/.config/orvela/token",
                                    QByteArray::fromStdString(options.token + "\n")));
    }
    void TearDown() override {
        app.terminate();
        if (!app.waitForFinished(5000)) app.kill(), app.waitForFinished(5000);
    }

    // The program with none of our environment but the bus; `trusted` gives OpenSSL our authority.
    // Offscreen, or on the Wayland display `wayland` (with its runtime folder) and nothing else.
    void launch(bool trusted, const QString& wayland = {}, const QString& runtime = {}) {
        QProcessEnvironment env;
        env.insert("PATH", "/usr/bin:/bin");
        env.insert("HOME", root.path() + "/home");
        env.insert("XDG_DATA_HOME", root.path() + "/data");
        env.insert("XDG_CONFIG_HOME", root.path() + "/config");
        env.insert("DBUS_SESSION_BUS_ADDRESS", qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"));
        if (wayland.isEmpty())
            env.insert("QT_QPA_PLATFORM", "offscreen");
        else
            env.insert("WAYLAND_DISPLAY", wayland), env.insert("XDG_RUNTIME_DIR", runtime);
        if (trusted) env.insert("SSL_CERT_FILE", root.path() + "/tls/ca.pem");
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(program, {"-OrvelaURL", QString::fromStdString(service->baseUrl())});
        ASSERT_TRUE(app.waitForStarted(5000));
        ASSERT_TRUE(panel.attach()) << "the item never registered";
    }
    QString label() { return panel.itemProperty("XAyatanaLabel").toString(); }
    // The libraries (names matched by `names`) the program mapped: from the bundle, from elsewhere.
    std::pair<QSet<QString>, QSet<QString>> mapped(const QRegularExpression& names) {
        std::pair<QSet<QString>, QSet<QString>> found;
        const QString maps = readFile(QString("/proc/%1/maps").arg(app.processId()));
        for (const QString& line : maps.split('\n')) {
            const QString file = line.section(' ', 5).trimmed();
            if (const auto m = names.match(file); m.hasMatch())
                (file.startsWith(bundle + "/") ? found.first : found.second) << m.captured(1);
        }
        return found;
    }

    QTemporaryDir root;
    test::FakePanel panel;
    std::unique_ptr<dev::DevService> service;
    QString bundle = root.path() + "/Apps/ORVELA Timer.app";
    QString program = bundle + "/bin/orvela-timer";
    QProcess app;
};

TEST_F(BundleEndToEnd, RunsOnItsOwnLibrariesAndShowsTheTimerOverHttps) {
    launch(true);
    const QRegularExpression countdown("^🍅 2\\d:\\d\\d · Демо-задача$");
    ASSERT_TRUE(waitUntil([&] { return countdown.match(label()).hasMatch(); }, 20000))
        << label().toStdString() << " "
        << panel.openMenu().children.value(0).properties.value("label").toString().toStdString();

    // Every library the bundle carries was mapped from it (the TLS backend too, now that a
    // request went out); OpenSSL, left to the system on purpose, came from there.
    const auto [fromBundle, elsewhere] =
        mapped(QRegularExpression("/(libQt6\\w+|libicu\\w+|liburiparser|libcanberra|"
                                  "libqopensslbackend|libqoffscreen|libssl)\\.so"));
    EXPECT_TRUE(elsewhere == QSet<QString>{"libssl"})
        << QStringList(elsewhere.values()).join(' ').toStdString();
    EXPECT_TRUE(fromBundle.contains({"libQt6Core", "libQt6Gui", "libQt6Widgets", "libQt6Network",
                                     "libQt6DBus", "libicuuc", "libicui18n", "liburiparser",
                                     "libcanberra", "libqopensslbackend", "libqoffscreen"}))
        << QStringList(fromBundle.values()).join(' ').toStdString();

    // The plugins it carries, and no others: X11, Wayland (with its shell and decorations),
    // headless, TLS.
    QStringList plugins;
    QDirIterator files(bundle + "/plugins", QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) plugins << files.next().mid(bundle.size() + 9);
    plugins.sort();
    EXPECT_EQ(plugins.join(' ').toStdString(),
              "platforms/libqoffscreen.so platforms/libqwayland-generic.so platforms/libqxcb.so "
              "tls/libqopensslbackend.so wayland-decoration-client/libbradient.so "
              "wayland-shell-integration/libxdg-shell.so");

    // The first run put the bundle into the applications menu.
    const QByteArray entry = readFile(root.path() + "/data/applications/orvela-timer.desktop");
    EXPECT_TRUE(entry.contains("\nExec=\"" + program.toUtf8() + "\"\n")) << entry.toStdString();
}

// A Wayland session without Xwayland (Weston's headless backend) and only WAYLAND_DISPLAY set:
// the bundle starts on its own Wayland plugin and client library.
TEST_F(BundleEndToEnd, StartsOnWaylandWithoutX) {
    QTemporaryDir runtime;
    const QString socket = "wayland-orvela-bundle";
    QProcess weston;
    weston.setEnvironment({"XDG_RUNTIME_DIR=" + runtime.path()});
    weston.start("weston", {"--backend=headless-backend.so", "--use-pixman", "--idle-time=0",
                            "--socket=" + socket});
    ASSERT_TRUE(weston.waitForStarted(5000)) << "weston is missing: scripts/deps.sh installs it";
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(runtime.path() + "/" + socket); }, 10000));
    launch(true, socket, runtime.path());
    EXPECT_EQ(app.state(), QProcess::Running);
    EXPECT_EQ(mapped(QRegularExpression("/(libqwayland-generic|libQt6WaylandClient)\\.so")).first,
              (QSet<QString>{"libqwayland-generic", "libQt6WaylandClient"}));
}

// The same run without this run's authority: the handshake fails, which is no connection.
TEST_F(BundleEndToEnd, AnUntrustedCertificateIsNoConnection) {
    launch(false);
    const auto firstLine = [&] {
        return panel.openMenu().children.value(0).properties.value("label");
    };
    ASSERT_TRUE(waitUntil([&] { return firstLine() == "Нет связи с ORVELA"; }, 20000));
    EXPECT_FALSE(label().contains("Демо-задача")) << label().toStdString();
}

}  // namespace
}  // namespace orvela
