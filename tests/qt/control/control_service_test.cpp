// The control interface on a private session bus, driven the way the command line and other
// clients drive it, over an App on the fake platform, and a burst of them over the real one.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDateTime>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <memory>

#include "client/temp_home.hpp"
#include "control/control_names.hpp"
#include "control/control_service.hpp"
#include "panel/status_item.hpp"
#include "qt/support/fake_panel.hpp"
#include "qt/support/forwarding_platform.hpp"
#include "qt/support/hostile_server.hpp"
#include "qt/support/qt_wait.hpp"
#include "support/fake_platform.hpp"

namespace orvela::qt {
namespace {

using test::waitUntil;

struct ControlServiceTest : ::testing::Test {
    ControlServiceTest() {
        fake.home = home.path().string();
        home.putToken("orvela_tok\n");
        app = std::make_unique<App>(fake);
        app->token = "orvela_tok";
        app->item = fake.createStatusItem();
        service = std::make_unique<ControlService>(*app, QDBusConnection::sessionBus());
    }
    void SetUp() override {
        ASSERT_TRUE(service->exported() &&
                    QDBusConnection::sessionBus().registerService(kControlService))
            << "run under scripts/with-session-bus.sh";
    }
    static QDBusConnection client(const QString& name) {
        return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    }
    static QDBusPendingCall send(QDBusConnection bus, const QString& method,
                                 const QVariantList& args = {}) {
        auto message = QDBusMessage::createMethodCall(kControlService, kControlPath,
                                                      kControlInterface, method);
        message.setArguments(args);
        return bus.asyncCall(message);
    }
    // A call from a client of its own, waited for with the loop turning: the service answers on
    // this very thread. True when it was answered without an error.
    bool call(QDBusConnection bus, const QString& method, const QVariantList& args = {}) {
        const QDBusPendingCall pending = send(bus, method, args);
        EXPECT_TRUE(waitUntil([&] { return pending.isFinished(); })) << method.toStdString();
        return pending.reply().type() == QDBusMessage::ReplyMessage;
    }

    test::TempHome home;
    test::FakePlatform fake;
    std::unique_ptr<App> app;
    std::unique_ptr<ControlService> service;
};

// The title ticks every second, yet nothing is signalled (or even compared) until a client
// follows; a follower gets each change, and its leaving the bus ends the signals.
TEST_F(ControlServiceTest, ChangesAreSignalledOnlyWhileSomeoneFollows) {
    app->state = PomodoroState{7, "Отчёт", {{"work", 25}}, fake.wallClockMs() - 60000, {}};
    test::SignalLog log;
    QDBusConnection listener = client("listener");
    ASSERT_TRUE(listener.connect(
        QString::fromLatin1(kControlService), QString::fromLatin1(kControlPath),
        "org.freedesktop.DBus.Properties", "PropertiesChanged", &log, SLOT(record(QDBusMessage))));
    // Seconds of the app's life, each drawing the title again; then a call whose answer comes
    // after every signal sent before it.
    const auto signalsAfter = [&](int seconds) {
        log.received.clear();
        for (int i = 0; i < seconds; ++i) fake.advance(1), app->render();
        call(listener, "Refresh");
        return log.received.size();
    };
    EXPECT_EQ(signalsAfter(5), 0);
    EXPECT_FALSE(app->statusChanged);
    QList<bool> following;  // a bar that follows counts as a place for the app
    QObject::connect(service.get(), &ControlService::followingChanged,
                     [&](bool now) { following << now; });

    {
        QDBusConnection follower = client("follower");
        ASSERT_TRUE(call(follower, "Follow"));
        EXPECT_EQ(signalsAfter(3), 3);
        // Only what changed, as the standard signal carries it: the progress moves by whole
        // percent, a 25-minute phase's every 15 seconds.
        const QVariantList last = log.received.back().arguments();
        EXPECT_EQ(last.value(0).toString(), QString::fromLatin1(kControlInterface));
        EXPECT_EQ(qdbus_cast<QVariantMap>(last.value(1)),
                  (QVariantMap{{"SecondsLeft", qint64(24 * 60 - 8)}, {"Title", service->title()}}));
        ASSERT_TRUE(call(follower, "Follow"));
        EXPECT_EQ(service->followerCount(), 1);
    }
    QDBusConnection::disconnectFromBus("follower");
    ASSERT_TRUE(waitUntil([&] { return service->followerCount() == 0; }));
    EXPECT_FALSE(app->statusChanged);
    EXPECT_EQ(signalsAfter(3), 0);
    EXPECT_EQ(following, (QList<bool>{true, false}));
}

// The menu's "Открыть планер" and "Выйти" for bars without a menu, done as the menu does them;
// a second launch's command line reaches the app's own parts, bounded in count and length.
TEST_F(ControlServiceTest, OpensQuitsAndPassesSecondLaunchesOnBounded) {
    QList<QStringList> launched;
    QObject::connect(service.get(), &ControlService::launchedAgain,
                     [&](const QStringList& arguments) { launched << arguments; });
    QDBusConnection bus = client("bar");
    ASSERT_TRUE(call(bus, "Open") && call(bus, "Quit"));
    EXPECT_EQ(fake.openedUrls, std::vector<std::string>{app->base + "/planner.html"});
    EXPECT_EQ(fake.terminations, 1);
    ASSERT_TRUE(call(bus, "LaunchedAgain", {QStringList()}) &&
                call(bus, "LaunchedAgain", {QStringList(100, QString(5000, 'x'))}));
    EXPECT_EQ(launched,
              (QList<QStringList>{{},
                                  QStringList(ControlService::kMostArguments,
                                              QString(ControlService::kLongestArgument, 'x'))}));
}

// A timer a minute into its work phase, running or paused now, as the service answers it.
std::string timerReply(bool paused) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    return R"({"state":{"taskId":1,"title":"Отчёт","plan":[{"type":"work","min":25}],"startedAt":)" +
           std::to_string(now - 60000) + (paused ? ",\"pausedAt\":" + std::to_string(now) : "") +
           "}}";
}

// The app on the real backend with a panel on the bus, while the service holds its answer to
// a command: fifty callers at once, the command line and the host's middle clicks are each
// answered at once (one success, the rest busy; a click does nothing) and one request reaches
// the service. Once its answer is in, a middle click resumes, and the tray's pauses.
TEST(BoundedControl, ABurstFromEveryWayInIsOneRequest) {
    test::HostileServer service;
    using Mode = test::HostileServer::Mode;
    service.behave("/api/ext/pomodoro", Mode::Answer, timerReply(false));
    service.behave("/api/ext/pomodoro/pause", Mode::Hold);
    const auto posts = [&] {
        return std::ranges::count_if(service.seen(), [](auto& s) { return s.line[0] == 'P'; });
    };
    QTemporaryDir root;
    test::ScopedEnv home("HOME", root.path() + "/home"),
        config("XDG_CONFIG_HOME", root.path() + "/config");
    ASSERT_TRUE(
        test::writeFile(root.path() + "/home/.config/orvela/token", "orvela_tok\n") &&
        test::writeFile(root.path() + "/config/orvela/orvela-timer.conf",
                        "[General]\nOrvelaURL=" + QByteArray::fromStdString(service.url())));
    test::FakePanel panel;
    test::FakeNotifications notifications;  // else the bus may start the desktop's own
    ASSERT_TRUE(panel.startWatcher() && notifications.registered);
    test::ScriptedDesk desk;
    App app(desk);
    App::shared = &app;
    ControlService control(app, QDBusConnection::sessionBus());
    ASSERT_TRUE(control.exported() &&
                QDBusConnection::sessionBus().registerService(kControlService))
        << "run under scripts/with-session-bus.sh";
    app.applicationDidFinishLaunching();
    ASSERT_TRUE(panel.attach() && waitUntil([&] { return app.state.has_value(); }));

    QDBusConnection bus = ControlServiceTest::client("burst");
    std::vector<QDBusPendingCall> calls;
    for (int i = 0; i < 50; ++i) calls.push_back(ControlServiceTest::send(bus, "Toggle"));
    ASSERT_TRUE(
        waitUntil([&] { return std::ranges::all_of(calls, &QDBusPendingCall::isFinished); }));
    QStringList answers;
    for (const auto& call : calls) answers << call.reply().errorName();
    EXPECT_EQ(std::pair(answers.count(QString()), answers.count(kControlBusy)),
              (std::pair<qsizetype, qsizetype>(1, 49)));
    EXPECT_EQ(calls.back().reply().errorMessage(), "Предыдущая команда ещё выполняется");
    QProcess cli;
    cli.start(ORVELA_TIMER_BIN, {"toggle"});
    ASSERT_TRUE(waitUntil([&] { return cli.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(std::pair(cli.exitCode(), cli.readAllStandardError().toStdString()),
              std::pair(1, std::string("Предыдущая команда ещё выполняется\n")));
    const auto middleClick = [&] {
        auto call =
            QDBusMessage::createMethodCall(panel.service, StatusNotifierItem::kObjectPath,
                                           StatusNotifierItem::kInterface, "SecondaryActivate");
        EXPECT_EQ(panel.call(call << 10 << 20).type(), QDBusMessage::ReplyMessage);
    };
    for (int i = 0; i < 3; ++i) middleClick();
    test::spin(200);
    EXPECT_EQ(posts(), 1);

    service.behave("/api/ext/pomodoro/pause", Mode::Answer, timerReply(true));
    ASSERT_TRUE(waitUntil([&] { return app.state->pausedAt && app.actionsInFlight == 0; }));
    middleClick();
    EXPECT_TRUE(waitUntil([&] { return !app.state->pausedAt; }));
    panel.stopWatcher();
    auto* item = dynamic_cast<QtStatusItem*>(app.item);
    ASSERT_TRUE(waitUntil([&] { return item->usesFallback(); }));
    emit item->trayIcon()->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_TRUE(waitUntil([&] { return app.state->pausedAt.has_value(); }));
    EXPECT_EQ(posts(), 3);
    QDBusConnection::disconnectFromBus("burst");
}

}  // namespace
}  // namespace orvela::qt
