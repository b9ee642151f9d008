// Control from outside is bounded: a burst of calls on the bus, the command line and a host's
// middle clicks become one request while its answer is awaited.
#include <gtest/gtest.h>
#include <httplib.h>

#include <QDBusPendingCallWatcher>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "control/control_names.hpp"
#include "control/control_service.hpp"
#include "panel/status_item.hpp"
#include "qt/support/fake_panel.hpp"
#include "qt/support/forwarding_platform.hpp"

namespace orvela::qt {
namespace {

using test::waitUntil;

// The service on 127.0.0.1: a timer a minute into its work phase, paused by any command, whose
// answer it holds until the test lets it go.
struct SlowService {
    httplib::Server server;
    int port = server.bind_to_any_port("127.0.0.1");
    std::atomic<int> posts = 0;
    std::atomic<bool> release = false, paused = false;
    std::thread thread;

    static std::string timer(bool paused) {
        const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
        return R"({"state":{"taskId":1,"title":"Отчёт","plan":[{"type":"work","min":25}],)"
               R"("startedAt":)" +
               std::to_string(now - 60000) +
               (paused ? ",\"pausedAt\":" + std::to_string(now) : "") + "}}";
    }
    SlowService() {
        server.Get(".*", [this](const httplib::Request&, httplib::Response& r) {
            r.set_content(timer(paused), "application/json");
        });
        server.Post(".*", [this](const httplib::Request& q, httplib::Response& r) {
            ++posts;
            for (int ms = 0; !release && ms < 10000; ms += 5)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            paused = q.path.ends_with("/pause");
            r.set_content(timer(paused), "application/json");
        });
        thread = std::thread([this] { server.listen_after_bind(); });
    }
    ~SlowService() {
        release = true;
        server.stop();
        thread.join();
    }
};

// The app on the real backend, launched against a slow service, with a panel on the bus: fifty
// callers at once, the command line and the host's middle clicks while one command waits for
// its answer are each answered at once (one success, the rest busy; a click does nothing), and
// one request reaches the service; once its answer is in, a middle click resumes, and the
// tray's middle button pauses.
TEST(BoundedControl, ABurstFromEveryWayInIsOneRequest) {
    SlowService service;
    QTemporaryDir root;
    test::ScopedEnv home("HOME", root.path() + "/home"),
        config("XDG_CONFIG_HOME", root.path() + "/config");
    ASSERT_TRUE(test::writeFile(root.path() + "/home/.config/orvela/token", "orvela_tok\n") &&
                test::writeFile(
                    root.path() + "/config/orvela/orvela-timer.conf",
                    "[General]\nOrvelaURL=http://127.0.0.1:" + QByteArray::number(service.port)));
    test::FakePanel panel;
    ASSERT_TRUE(panel.startWatcher());
    test::ScriptedDesk desk;
    App app(desk);
    App::shared = &app;
    ControlService control(app, QDBusConnection::sessionBus());
    ASSERT_TRUE(control.exported() &&
                QDBusConnection::sessionBus().registerService(QString::fromLatin1(kControlService)))
        << "run under scripts/with-session-bus.sh";
    app.applicationDidFinishLaunching();
    ASSERT_TRUE(panel.attach() && waitUntil([&] { return app.state.has_value(); }));

    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "burst");
    std::vector<std::unique_ptr<QDBusPendingCallWatcher>> calls;
    for (int i = 0; i < 50; ++i)
        calls.emplace_back(new QDBusPendingCallWatcher(bus.asyncCall(QDBusMessage::createMethodCall(
            kControlService, kControlPath, kControlInterface, "Toggle"))));
    ASSERT_TRUE(waitUntil([&] {
        return std::all_of(calls.begin(), calls.end(), [](auto& c) { return c->isFinished(); });
    }));
    QStringList answers;
    for (const auto& call : calls) answers << call->reply().errorName();
    EXPECT_EQ(answers.count(QString()), 1);
    EXPECT_EQ(answers.count(kControlBusy), 49);
    EXPECT_EQ(calls.back()->reply().errorMessage(), "Предыдущая команда ещё выполняется");
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
    EXPECT_EQ(service.posts, 1);

    service.release = true;
    ASSERT_TRUE(waitUntil([&] { return app.state->pausedAt && app.actionsInFlight == 0; }));
    middleClick();
    EXPECT_TRUE(waitUntil([&] { return !app.state->pausedAt; }));
    // Where no host runs, the tray's middle button does the same.
    panel.stopWatcher();
    auto* item = dynamic_cast<QtStatusItem*>(app.item);
    ASSERT_TRUE(waitUntil([&] { return item->usesFallback(); }));
    emit item->trayIcon()->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_TRUE(waitUntil([&] { return app.state->pausedAt.has_value(); }));
    EXPECT_EQ(service.posts, 3);
    QDBusConnection::disconnectFromBus("burst");
}

}  // namespace
}  // namespace orvela::qt
