// The notice for a desktop with no place for the status item, against a notification server,
// a panel's watcher and GNOME Shell's extension service played on the private session bus.
#include <gtest/gtest.h>

#include <QDBusContext>
#include <QMap>
#include <cmath>
#include <limits>
#include <optional>

#include "presence/gnome_extensions.hpp"
#include "presence/no_place_notice.hpp"
#include "presence/panel_presence.hpp"
#include "qt/support/fake_panel.hpp"
#include "qt/support/qt_wait.hpp"

namespace orvela::qt {
namespace {

using test::spin;
using test::waitUntil;

const QString kDebian = GnomeExtensions::kDebianUuid;
const QString kUpstream = GnomeExtensions::kUpstreamUuid;
const QStringList kWithActions{"body", "actions"};

// GNOME Shell's extension service: answers from `installed` (uuid → info), or never at all.
class FakeGnomeShell : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Shell.Extensions")

public:
    FakeGnomeShell(QMap<QString, QVariantMap> installed, bool silent)
        : installed_(std::move(installed)),
          silent_(silent),
          bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "gnome-shell")) {
        registered =
            bus_.registerObject("/org/gnome/Shell", this, QDBusConnection::ExportAllSlots) &&
            bus_.registerService("org.gnome.Shell");
    }
    ~FakeGnomeShell() override {
        bus_.unregisterService("org.gnome.Shell");
        QDBusConnection::disconnectFromBus("gnome-shell");
    }
    bool registered = false;
    QStringList calls;

public slots:
    QVariantMap GetExtensionInfo(const QString& uuid) {
        if (silent_) setDelayedReply(true);  // and never reply
        return installed_.value(uuid);
    }
    bool EnableExtension(const QString& uuid) {
        calls << "EnableExtension " + uuid;
        return installed_.contains(uuid);
    }
    QString InstallRemoteExtension(const QString& uuid) {
        calls << "InstallRemoteExtension " + uuid;
        return "successful";
    }

private:
    QMap<QString, QVariantMap> installed_;
    bool silent_;
    QDBusConnection bus_;
};

// The app's side: presence probe, GNOME client and notice, with short delays.
struct App {
    explicit App(const std::function<bool()>& tray = [] { return false; })
        : presence(QDBusConnection::sessionBus(), tray, {50, 50}),
          gnome(QDBusConnection::sessionBus(), 300),
          notice(QDBusConnection::sessionBus(), &presence, &gnome,
                 [this](const QString& line) { lines << line; }) {
        presence.start();
    }
    QStringList lines;
    PanelPresence presence;
    GnomeExtensions gnome;
    NoPlaceNotice notice;
};

TEST(NoPlaceNotice, OnceWithTheActionThatFitsTheDesktopAndWithdrawnWhenAPanelComes) {
    using Installed = QMap<QString, QVariantMap>;
    const QVariantMap off{{"state", 6.0}};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Installed debianOff{{kDebian, off}}, none{};
    const Installed bothOff{{kUpstream, off}, {kDebian, off}};
    const Installed upstreamDisabled{{kUpstream, {{"state", 2.0}}}};
    const Installed debianInError{{kDebian, {{"state", 3.0}}}};
    const Installed malformed{{kDebian, {{"state", "6"}}}, {kUpstream, {{"state", nan}}}};
    const QString enable = "Включить AppIndicator", install = "Установить AppIndicator";
    const QStringList bodyOnly{"body"};
    struct Row {
        const char* desktop;
        std::optional<Installed> gnome;  // none: no GNOME Shell
        QStringList capabilities;
        QString action;   // the button's label, none if empty
        QString invoked;  // what clicking it calls on GNOME Shell
        QString advice;   // a part of the text that says what to do
        bool silentShell = false;
    };
    const Row rows[] = {
        {"Debian's extension installed, never enabled", debianOff, kWithActions, enable,
         "EnableExtension " + kDebian, "Нажмите «Включить AppIndicator»"},
        {"upstream extension disabled", upstreamDisabled, kWithActions, enable,
         "EnableExtension " + kUpstream, "установлено, но выключено"},
        {"both: Debian's is preferred", bothOff, kWithActions, enable, "EnableExtension " + kDebian,
         "выключено"},
        {"none installed", none, kWithActions, install, "InstallRemoteExtension " + kUpstream,
         "подтвердите установку"},
        {"no GNOME", std::nullopt, kWithActions, "", "", "системный трей"},
        {"server without actions", debianOff, bodyOnly, "", "",
         "gnome-extensions enable " + kDebian},
        {"server without actions, none installed", none, bodyOnly, "", "",
         "пакет gnome-shell-extension-appindicator"},
        {"extension in error", debianInError, kWithActions, "", "", "не работает"},
        {"malformed states", malformed, kWithActions, "", "", "системный трей"},
        {"a Shell that never answers", debianOff, kWithActions, "", "", "системный трей", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.desktop);
        test::FakeNotifications server(row.capabilities);
        test::FakePanel panel;
        std::optional<FakeGnomeShell> shell;
        if (row.gnome) shell.emplace(*row.gnome, row.silentShell);
        ASSERT_TRUE(server.registered && (!shell || shell->registered));
        App app;

        ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 1; }));
        spin(250);  // several more checks find no place: still one notice
        ASSERT_EQ(server.calls.size(), 1);
        ASSERT_EQ(app.lines.size(), 1);
        EXPECT_EQ(server.shown[0][0], NoPlaceNotice::kSummary);
        EXPECT_TRUE(server.shown[0][1].contains(row.advice)) << server.shown[0][1].toStdString();
        EXPECT_TRUE(app.lines[0].contains(server.shown[0][1]));
        const QStringList button = row.action.isEmpty()
                                       ? QStringList()
                                       : QStringList{NoPlaceNotice::kActionKey, row.action};
        EXPECT_EQ(server.actions[0], button);

        // Other notifications' clicks and other keys do nothing; ours calls the Shell.
        server.invoke(7, NoPlaceNotice::kActionKey);
        server.invoke(41, "default");
        server.invoke(41, NoPlaceNotice::kActionKey);
        const QStringList expected =
            row.invoked.isEmpty() ? QStringList() : QStringList{row.invoked};
        spin(150);
        if (shell) {
            EXPECT_EQ(shell->calls, expected);
        }

        ASSERT_TRUE(panel.startWatcher());
        ASSERT_TRUE(waitUntil([&] { return server.closed == QList<uint>{41}; }));
        // Once per launch: the panel going away again brings no second notice.
        panel.stopWatcher();
        spin(250);
        EXPECT_EQ(server.calls.size(), 1);
    }
}

TEST(NoPlaceNotice, NoneWhileAWatcherOrATrayIsThereAndOneAfterThePanelWentAway) {
    for (const bool tray : {false, true}) {
        SCOPED_TRACE(tray ? "XEmbed tray" : "StatusNotifierWatcher");
        test::FakeNotifications server(kWithActions);
        test::FakePanel panel;
        if (!tray) {
            ASSERT_TRUE(panel.startWatcher());
        }
        int probes = 0;
        App app([&probes, tray] { return ++probes, tray; });
        spin(300);
        EXPECT_EQ(probes, tray ? 1 : 0);  // once a place is known, nothing is polled
        EXPECT_TRUE(server.calls.isEmpty());
        EXPECT_TRUE(app.lines.isEmpty());
        app.notice.secondLaunch();
        spin(100);
        EXPECT_TRUE(server.calls.isEmpty());
        if (tray) continue;
        panel.stopWatcher();
        EXPECT_TRUE(waitUntil([&] { return server.calls.size() == 1; }));
    }
}

// A bar following the status shows the app: no notice while one follows from the start, one
// when the last has gone, withdrawn when another starts.
TEST(NoPlaceNotice, NoneWhileABarFollows) {
    test::FakeNotifications server(kWithActions);
    App app;
    app.presence.setFollowed(true);
    spin(300);
    EXPECT_TRUE(server.calls.isEmpty());
    app.presence.setFollowed(false);
    ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 1; }));
    app.presence.setFollowed(true);
    ASSERT_TRUE(waitUntil([&] { return server.closed.size() == 1; }));
    spin(200);
    EXPECT_EQ(server.calls.size(), 1);
}

TEST(NoPlaceNotice, SecondLaunchRepeatsItInPlaceUntilATrayAppears) {
    test::FakeNotifications server(kWithActions);
    bool tray = false;
    App app([&tray] { return tray; });
    ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 1; }));
    app.notice.secondLaunch();
    ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 2; }));
    EXPECT_TRUE(server.calls[1].startsWith("ORVELA Timer|41|"));  // replaces, not beside
    EXPECT_EQ(app.lines.size(), 2);

    tray = true;  // found by the next check
    ASSERT_TRUE(waitUntil([&] { return server.closed == QList<uint>{41}; }));
    app.notice.secondLaunch();
    spin(200);
    EXPECT_EQ(server.calls.size(), 2);
}

TEST(GnomeExtensions, StatesAreReadOnlyFromWellFormedNumbers) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<QVariantMap, ExtensionInfo> cases[] = {
        {{}, ExtensionInfo::NotInstalled},
        {{{"state", 99.0}}, ExtensionInfo::NotInstalled},
        {{{"state", 6.0}}, ExtensionInfo::Off},
        {{{"state", 2}}, ExtensionInfo::Off},
        {{{"state", 1.0}}, ExtensionInfo::On},
        {{{"state", 4.0}}, ExtensionInfo::Broken},
        {{{"uuid", kDebian}}, ExtensionInfo::Unknown},
        {{{"state", "6"}}, ExtensionInfo::Unknown},
        {{{"state", true}}, ExtensionInfo::Unknown},
        {{{"state", inf}}, ExtensionInfo::Unknown},
        {{{"state", -1.0}}, ExtensionInfo::Unknown},
        {{{"state", 1e300}}, ExtensionInfo::Unknown},
    };
    for (const auto& [info, expected] : cases)
        EXPECT_EQ(readExtensionInfo(info), expected) << QDebug::toString(info).toStdString();
}

}  // namespace
}  // namespace orvela::qt

#include "no_place_notice_test.moc"
