// The notice for a desktop with no place for the status item, against a notification server,
// a panel's watcher and GNOME Shell's extension service played on the private session bus.
#include <gtest/gtest.h>

#include <QDBusContext>
#include <QMap>
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
using Installed = QMap<QString, QVariantMap>;

const QString kDebian = GnomeExtensions::kDebianUuid;
const QString kUpstream = GnomeExtensions::kUpstreamUuid;
const QString kEnable = "EnableExtension " + kDebian;
const QString kInstall = "InstallRemoteExtension " + kUpstream;
const QStringList kWithActions{"body", "actions"};
const Installed kDebianOff{{kDebian, {{"state", 6.0}}}}, kNone{};

// GNOME Shell's extension service: answers from `installed` (uuid → info), or, `silent`, never.
// An enabled extension runs (the panel's watcher comes up) only while user extensions are on; a
// `locked` switch stays as it is, as a locked dconf key does.
class FakeGnomeShell : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Shell.Extensions")
    Q_PROPERTY(bool UserExtensionsEnabled READ userExtensionsEnabled WRITE setUserExtensionsEnabled)

public:
    FakeGnomeShell(Installed installed, bool silent) : installed(installed), silent(silent) {
        registered = bus_.registerObject(
                         "/org/gnome/Shell", this,
                         QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) &&
                     bus_.registerService("org.gnome.Shell");
    }
    ~FakeGnomeShell() override {
        bus_.unregisterService("org.gnome.Shell");
        QDBusConnection::disconnectFromBus("gnome-shell");
    }
    Installed installed;
    bool silent, registered = false, userExtensions = true, locked = false;
    QStringList calls;
    QString installAnswer = "successful";  // empty: fails as GNOME does offline
    test::FakePanel* panel = nullptr;      // where an extension that runs shows its watcher
    bool userExtensionsEnabled() const { return userExtensions; }
    void setUserExtensionsEnabled(bool on) {
        calls << "switched " + QString::number(on);
        if (!locked) userExtensions = on;
    }

public slots:
    QVariantMap GetExtensionInfo(const QString& uuid) {
        if (silent) setDelayedReply(true);  // and never reply
        return installed.value(uuid);
    }
    bool EnableExtension(const QString& uuid) {
        calls << "EnableExtension " + uuid;
        if (installed.contains(uuid) && userExtensions && panel) panel->startWatcher();
        return installed.contains(uuid);
    }
    QString InstallRemoteExtension(const QString& uuid) {
        calls << "InstallRemoteExtension " + uuid;
        if (installAnswer.isEmpty())
            sendErrorReply("org.gnome.Shell.ExtensionError",
                           "Error resolving \u201cextensions.gnome.org\u201d: \x1b[31mno network");
        return installAnswer;
    }

private:
    QDBusConnection bus_ =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, "gnome-shell");
};

// The app's side: presence probe, GNOME client and notice, with short delays.
const std::function<bool()> kNoTray = [] { return false; };
struct App {
    explicit App(const std::function<bool()>& tray = kNoTray, int settleMs = 3000)
        : presence(QDBusConnection::sessionBus(), tray, {50, 50}),
          gnome(QDBusConnection::sessionBus(), 300),
          notice(
              QDBusConnection::sessionBus(), &presence, &gnome,
              [this](const QString& line) { lines << line; }, settleMs) {
        presence.start();
    }
    QStringList lines;
    PanelPresence presence;
    GnomeExtensions gnome;
    NoPlaceNotice notice;
};

// A desktop with a notification server, a panel, GNOME Shell if `installed` is given, and the app.
struct Desktop {
    Desktop(QStringList capabilities, const std::optional<Installed>& installed,
            bool silent = false, int settleMs = 3000)
        : server(std::move(capabilities)) {
        if (installed) shell.emplace(*installed, silent);
        app.emplace(kNoTray, settleMs);
    }
    test::FakeNotifications server;
    test::FakePanel panel;
    std::optional<FakeGnomeShell> shell;
    std::optional<App> app;
};

// The notice for each desktop: its advice and button, critical where the server shows buttons
// (so that it stays), its body doing what the button does. Each loss of the place brings it
// anew and each place found withdraws it.
TEST(NoPlaceNotice, EachLossBringsTheNoticeThatFitsTheDesktopAndAPlaceWithdrawsIt) {
    const QVariantMap off{{"state", 6.0}};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const QString enable = "Включить AppIndicator", install = "Установить AppIndicator";
    const QStringList bodyOnly{"body"};
    struct Row {
        const char* desktop;
        std::optional<Installed> gnome;  // none: no GNOME Shell
        QStringList capabilities;
        QString action;       // the button's label, none if empty
        QStringList invoked;  // what clicking it calls on GNOME Shell
        QString advice;       // a part of the text that says what to do
        bool silentShell = false;
    };
    // clang-format off
    const Row rows[] = {
        {"Debian's extension installed, never enabled", kDebianOff, kWithActions, enable,
         {kEnable}, "Нажмите «Включить AppIndicator»"},
        {"upstream extension disabled", Installed{{kUpstream, {{"state", 2.0}}}}, kWithActions,
         enable, {"EnableExtension " + kUpstream}, "установлено, но выключено"},
        {"both: Debian's is preferred", Installed{{kUpstream, off}, {kDebian, off}}, kWithActions,
         enable, {kEnable}, "выключено"},
        {"none installed", kNone, kWithActions, install, {kInstall}, "подтвердите установку"},
        {"no GNOME", std::nullopt, kWithActions, "", {}, "системный трей"},
        {"server without actions", kDebianOff, bodyOnly, "", {},
         "gnome-extensions enable " + kDebian},
        {"server without actions, none installed", kNone, bodyOnly, "", {},
         "пакет gnome-shell-extension-appindicator"},
        {"extension in error", Installed{{kDebian, {{"state", 3.0}}}}, kWithActions, "", {},
         "не работает"},
        {"malformed states", Installed{{kDebian, {{"state", "6"}}}, {kUpstream, {{"state", nan}}}},
         kWithActions, "", {}, "системный трей"},
        {"a Shell that never answers", kDebianOff, kWithActions, "", {}, "системный трей", true},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.desktop);
        Desktop desktop(row.capabilities, row.gnome, row.silentShell);
        auto& [server, panel, shell, app] = desktop;
        ASSERT_TRUE(server.registered && (!shell || shell->registered));

        ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 1; }));
        spin(250);  // several more checks find no place: still one notice
        ASSERT_TRUE(server.calls.size() == 1 && app->lines.size() == 1);
        const QString body = server.shown[0][1];
        EXPECT_EQ(server.shown[0][0], NoPlaceNotice::kSummary);
        EXPECT_TRUE(body.contains(row.advice) && app->lines[0].contains(body))
            << body.toStdString();
        EXPECT_EQ(server.critical(0), row.capabilities.contains("actions"));
        EXPECT_EQ(server.hints[0].value("desktop-entry"), "orvela-timer");
        EXPECT_EQ(server.actions[0], row.action.isEmpty()
                                         ? QStringList()
                                         : (QStringList{"default", row.action,
                                                        NoPlaceNotice::kActionKey, row.action}));

        // Other notifications' clicks and other keys do nothing; a click on ours, on the body
        // or the button, calls the Shell once while it works.
        server.invoke(7, NoPlaceNotice::kActionKey);
        server.invoke(41, "other");
        server.invoke(41, "default");
        spin(50);
        server.invoke(41, NoPlaceNotice::kActionKey);
        EXPECT_TRUE(!shell || waitUntil([&] { return shell->calls.size() >= row.invoked.size(); }));
        spin(100);
        EXPECT_EQ(shell ? shell->calls : QStringList(), row.invoked);

        // A place withdraws it; lost again, it comes again, new, and goes when the app quits.
        ASSERT_TRUE(panel.startWatcher());
        ASSERT_TRUE(waitUntil([&] { return server.closed == QList<uint>{41}; }));
        panel.stopWatcher();
        ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 2; }));
        EXPECT_TRUE(server.calls[1].startsWith("ORVELA Timer|0|") &&
                    server.shown[1] == server.shown[0] && server.critical(1) == server.critical(0));
        spin(50);  // its id known
        app.reset();
        EXPECT_TRUE(waitUntil([&] { return server.closed == (QList<uint>{41, 42}); }));
    }
}

// A fix that brings no place within a few seconds is followed by a notice that says what
// happened and what to do by hand; GNOME's extensions switched off are switched on first, since
// the user asked for the extension, and said how to switch on where that does not hold.
TEST(NoPlaceNotice, AFixThatBringsNoPlaceIsFollowedByWhatToDo) {
    const QString byHand =
        "Установите пакет gnome-shell-extension-appindicator и выполните "
        "gnome-extensions enable ubuntu-appindicators@ubuntu.com";
    struct Row {
        const char* what;
        Installed installed;
        bool runs, userExtensions, locked;  // runs: the enabled extension brings a place
        QString installAnswer;
        QStringList shellCalls;
        QString followUp;  // a part of the follow-up's text; empty: the place came, no follow-up
        QString detail;    // a part of the terminal's line only
    };
    const QString on = "switched 1";
    // clang-format off
    const Row rows[] = {
        {"install failed offline", kNone, true, true, false, "", {kInstall}, byHand,
         "Error resolving “extensions.gnome.org”:  [31mno network"},
        {"install declined", kNone, true, true, false, "cancelled", {kInstall},
         "отменена. Установите", ""},
        {"installed and still nothing", kNone, false, true, false, "successful", {kInstall},
         "gnome-extensions enable " + kUpstream, ""},
        {"enabled and nothing runs", kDebianOff, false, true, false, "", {kEnable},
         "включено, но значок не появился", ""},
        {"user extensions off: switched on, then it runs", kDebianOff, true, false, false, "",
         {on, kEnable}, "", ""},
        {"user extensions off, the switch locked", kDebianOff, true, false, true, "", {on, kEnable},
         "gsettings set org.gnome.shell disable-user-extensions false", ""},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Desktop desktop(kWithActions, row.installed, false, 150);
        auto& [server, panel, shell, app] = desktop;
        shell->userExtensions = row.userExtensions;
        shell->locked = row.locked;
        shell->installAnswer = row.installAnswer;
        shell->panel = row.runs ? &panel : nullptr;
        ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 1; }));
        server.invoke(41, NoPlaceNotice::kActionKey);
        server.close(41, 2);  // as GNOME closes a notification whose action was clicked
        const bool placed = row.followUp.isEmpty();
        ASSERT_TRUE(waitUntil([&] {
            return placed ? app->presence.state() == PanelPresence::State::Present
                          : server.calls.size() == 2;
        }));
        spin(300);  // and nothing more
        EXPECT_EQ(server.calls.size(), placed ? 1 : 2);
        EXPECT_EQ(shell->calls, row.shellCalls);
        if (placed) continue;
        // New (the first is gone), critical, what to do; the Shell's words on the terminal only.
        EXPECT_EQ(server.calls[1],
                  "ORVELA Timer|0|" + QString(NoPlaceNotice::kFollowUpSummary) + "|");
        const QString body = server.shown[1][1];
        EXPECT_TRUE(server.critical(1) && body.contains(row.followUp) &&
                    !body.contains("resolving"))
            << body.toStdString();
        EXPECT_TRUE(app->lines.value(1).contains(body + " (" + row.detail))
            << app->lines.value(1).toStdString();
        ASSERT_TRUE(panel.startWatcher());
        EXPECT_TRUE(waitUntil([&] { return server.open.isEmpty(); }));
    }
}

// None while a watcher is there or a bar follows the status (one when the last bar has gone,
// withdrawn when another starts); a second launch is told where the item is, and where it has
// none the notice comes again in place; once a tray is found nothing is polled.
TEST(NoPlaceNotice, NoneWhileSomethingShowsTheAppAndRepeatedInPlaceUntilATrayAppears) {
    test::FakeNotifications server(kWithActions);
    test::FakePanel panel;
    ASSERT_TRUE(panel.startWatcher());
    {
        App app;
        spin(200);
        EXPECT_TRUE(server.calls.isEmpty() && app.lines.isEmpty() && app.notice.secondLaunch());
    }
    panel.stopWatcher();
    {
        App app;
        app.presence.setFollowed(true);
        spin(300);
        EXPECT_TRUE(server.calls.isEmpty());
        app.presence.setFollowed(false);
        ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 1; }));
        app.presence.setFollowed(true);
        ASSERT_TRUE(waitUntil([&] { return server.closed == QList<uint>{41}; }));
        spin(200);
        EXPECT_EQ(server.calls.size(), 1);
    }
    int probes = 0;
    bool tray = false;
    App app([&] { return ++probes, tray; });
    EXPECT_EQ(app.notice.secondLaunch(), std::nullopt);  // still looking
    ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 2; }));
    EXPECT_EQ(app.notice.secondLaunch(), false);
    ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 3; }));
    EXPECT_TRUE(server.calls[2].startsWith("ORVELA Timer|42|"));  // replaces, not beside
    EXPECT_EQ(app.lines.size(), 2);

    tray = true;  // found by the next check
    ASSERT_TRUE(waitUntil([&] { return server.closed == (QList<uint>{41, 42}); }));
    const int found = probes;
    EXPECT_EQ(app.notice.secondLaunch(), true);
    spin(200);
    EXPECT_TRUE(server.calls.size() == 3 && probes == found);
}

// A watcher that says no host shows its items (Cinnamon's bridge without its applet) is no place:
// the notice comes as without a watcher, and goes when the watcher says a host came, by its
// signal or by the property's change. The watcher is asked once, not at every check. Ayatana's
// indicator service says it has a host whatever runs: it is no place until an applet follows it.
TEST(NoPlaceNotice, AWatcherWithoutAHostIsNoPlaceUntilAHostComes) {
    enum class Came { Signal, Property, Applet };
    struct Row {
        const char* what;
        bool host;
        Came came;
    };
    const Row rows[] = {{"a host shows the items", true, Came::Signal},
                        {"no host, then StatusNotifierHostRegistered", false, Came::Signal},
                        {"no host, then the property changes", false, Came::Property},
                        {"Ayatana's service, then its applet", true, Came::Applet}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        test::FakeNotifications server(kWithActions);
        test::FakePanel panel;
        panel.watcher.host = row.host;
        const bool ayatana = row.came == Came::Applet;
        // Its watcher and its own name come from one process, as this test is.
        QDBusConnection service = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "ay");
        ASSERT_TRUE(!ayatana || service.registerService("org.ayatana.indicator.application"));
        ASSERT_TRUE(panel.startWatcher(true));
        // With Ayatana's watcher, Qt's tray icon registers with it too: an XEmbed tray is no place.
        App app([&] { return ayatana; });
        QList<bool> told;  // what the status item is told, to fall back to the tray meanwhile
        QObject::connect(&app.presence, &PanelPresence::watcherHostChanged,
                         [&](bool shown) { told << shown; });
        const bool shown = row.host && !ayatana;
        if (shown) {
            spin(300);
            EXPECT_TRUE(server.calls.isEmpty());
        } else {
            ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 1; }));
            spin(200);  // several more checks, and it stays
            EXPECT_TRUE(server.shown[0][0] == NoPlaceNotice::kSummary && server.closed.isEmpty());
            QDBusConnection applet =
                QDBusConnection::connectToBus(QDBusConnection::SessionBus, "applet");
            if (ayatana)
                applet.connect("org.ayatana.indicator.application",
                               "/org/ayatana/indicator/application/service",
                               "org.ayatana.indicator.application.service", "ApplicationAdded",
                               &panel.log, SLOT(record(QDBusMessage)));
            else
                panel.hostCame(row.came == Came::Signal);
            ASSERT_TRUE(waitUntil([&] { return server.closed == QList<uint>{41}; }));
            QDBusConnection::disconnectFromBus("applet");
        }
        QDBusConnection::disconnectFromBus("ay");
        EXPECT_EQ(panel.watcher.hostReads, row.came == Came::Signal && !shown ? 2 : 1);
        EXPECT_EQ(told.value(0), shown || ayatana);
        EXPECT_EQ(told.back(), true);
        EXPECT_EQ(app.presence.state(), PanelPresence::State::Present);
    }
}

TEST(GnomeExtensions, StatesAreReadOnlyFromWellFormedNumbers) {
    using enum ExtensionInfo;
    const double inf = std::numeric_limits<double>::infinity();
    // clang-format off
    const std::pair<QVariantMap, ExtensionInfo> cases[] = {
        {{}, NotInstalled}, {{{"state", 99.0}}, NotInstalled}, {{{"state", 6.0}}, Off},
        {{{"state", 2}}, Off}, {{{"state", 1.0}}, On}, {{{"state", 4.0}}, Broken},
        {{{"uuid", kDebian}}, Unknown}, {{{"state", "6"}}, Unknown}, {{{"state", true}}, Unknown},
        {{{"state", inf}}, Unknown}, {{{"state", -1.0}}, Unknown}, {{{"state", 1e300}}, Unknown},
    };
    // clang-format on
    for (const auto& [info, expected] : cases)
        EXPECT_EQ(readExtensionInfo(info), expected) << QDebug::toString(info).toStdString();
}

}  // namespace
}  // namespace orvela::qt

#include "no_place_notice_test.moc"
