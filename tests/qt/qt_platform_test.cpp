// The loop's timers and programs, a wake from sleep, and the panel's activation token.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <cmath>
#include <csignal>

#include "desktop/activation_token.hpp"
#include "desktop/wake_watcher.hpp"
#include "qt/support/fake_panel.hpp"
#include "qt/support/qt_wait.hpp"
#include "qt_platform.hpp"

namespace orvela::qt {
namespace {

using orvela::test::spin;
using orvela::test::waitUntil;

// Delayed calls run later, in order; NaN and negative delays mean "now", an infinite one never.
TEST(QtPlatform, DelayedCallsRunLaterInOrderAndOddDelaysAreSafe) {
    QtPlatform platform;
    std::vector<std::string> ran;
    for (const auto& [delay, name] : std::vector<std::pair<double, std::string>>{
             {0.15, "later"}, {std::nan(""), "nan"}, {-5, "negative"}, {HUGE_VAL, "never"}})
        platform.runAfter(delay, [&ran, name] { ran.push_back(name); });
    EXPECT_TRUE(ran.empty()) << "ran inside runAfter()";
    ASSERT_TRUE(waitUntil([&] { return ran.size() >= 3; }));
    spin(50);
    EXPECT_EQ(ran, (std::vector<std::string>{"nan", "negative", "later"}));
}

// Our environment is read whole, and a program that outlives us gets exactly the one given.
// "Выйти" while a helper works ends every event loop, the wait's too: the helper is stopped and
// gives no exit status. Run inside the app's own loop, as "Выйти" is: Qt's quit needs one.
TEST(QtPlatform, ProgramsGetTheGivenEnvironmentAndQuittingStopsAWaitedOne) {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("env")), pidFile = dir.filePath("pid");
    orvela::test::ScopedEnv tz("TZ", "Asia/Yekaterinburg"), odd("ORVELA_PROBE", "a=b c");
    QtPlatform platform;
    auto environment = platform.processEnvironment();
    EXPECT_EQ(environment.at("ORVELA_PROBE"), "a=b c");
    EXPECT_EQ(environment.at("PATH"), qgetenv("PATH").toStdString());
    environment.erase("ORVELA_PROBE");
    environment["OUT"] = out.toStdString();
    const auto error = platform.launchDetached(
        "/bin/sh", {"-c", "/usr/bin/env > \"$OUT.tmp\" && /bin/mv \"$OUT.tmp\" \"$OUT\""},
        environment);
    ASSERT_FALSE(error) << *error;
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(out); }));
    const QString env = "\n" + QString::fromUtf8(orvela::test::readFile(out));
    EXPECT_TRUE(env.contains(QStringLiteral("\nTZ=Asia/Yekaterinburg\n"))) << env.toStdString();
    EXPECT_FALSE(env.contains(QStringLiteral("\nORVELA_PROBE="))) << "not given, yet inherited";
    ProcessResult result;
    // A slow unpack: reports its process id, then works for half a minute.
    QTimer::singleShot(0, qApp, [&] {
        result = platform.runAndWait(
            "/bin/sh", {"-c", "echo $$ > \"$0.tmp\" && mv \"$0.tmp\" \"$0\" && exec sleep 30",
                        pidFile.toStdString()});
    });
    QTimer::singleShot(100, qApp, [&] {
        if (waitUntil([&] { return QFile::exists(pidFile); })) platform.terminate();
    });
    QElapsedTimer clock;
    clock.start();
    QCoreApplication::exec();  // returns once the app has quit; later loops run again
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(result.stoppedByQuit);
    EXPECT_EQ(result.exitStatus, std::nullopt);
    const pid_t helper = orvela::test::readFile(pidFile).trimmed().toInt();
    ASSERT_GT(helper, 0);
    EXPECT_NE(::kill(helper, 0), 0) << "the helper outlived the wait";
    EXPECT_EQ(platform.runAndWait("/bin/sh", {"-c", "exit 3"}).exitStatus, 3);
}

// A wall clock leap of over 30 s beyond the monotonic clock is a sleep, as is logind's resume
// (not its announcement), whose leap is the same wake; a later sleep is another.
TEST(WakeWatcher, AWallClockLeapOrLogindsResumeIsOneWake) {
    auto login1 = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-login1");
    ASSERT_TRUE(login1.registerService("org.freedesktop.login1"));
    double wall = 1'000'000, monotonic = 100;
    WakeWatcher watcher([&] { return wall; }, [&] { return monotonic; });
    int wakes = 0;
    watcher.setHandler([&] { ++wakes; });
    ASSERT_TRUE(watcher.listenToLogind(QDBusConnection::sessionBus()));
    enum Event { ClockCheck, Sleeping, Resumed };  // the last two: logind's PrepareForSleep
    // What happened, the wall and monotonic clocks' steps, what the watcher hears, wakes after.
    const std::vector<std::tuple<const char*, double, double, Event, int>> steps = {
        {"a slow tick: both clocks moved", 60, 60, ClockCheck, 0},
        {"clock set back", -3600, 5, ClockCheck, 0},
        {"a leap of 30 s exactly", 35, 5, ClockCheck, 0},
        {"logind announces a sleep", 0, 1, Sleeping, 0},
        {"an hour asleep", 3605, 5, ClockCheck, 1},
        {"logind reports the same resume", 0, 2, Resumed, 1},
        {"another sleep, 20 s later", 120, 20, ClockCheck, 2},
        {"logind resume, the leap seen after it", 7200, 20, Resumed, 3},
        {"a tick 15 s after that resume", 15, 15, ClockCheck, 3},
    };
    for (const auto& [what, wallStep, monotonicStep, event, wakesAfter] : steps) {
        wall += wallStep;
        monotonic += monotonicStep;
        if (event == ClockCheck) {
            watcher.checkClocks();
        } else {
            auto signal = QDBusMessage::createSignal(
                "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep");
            ASSERT_TRUE(login1.send(signal << (event == Sleeping)));
            waitUntil([&] { return wakes == wakesAfter; });
            spin(200);  // time for a wrong, or a second, wake to arrive
        }
        EXPECT_EQ(wakes, wakesAfter) << what;
    }
    QDBusConnection::disconnectFromBus("fake-login1");  // releases the name too
}

// Only a token fit for an environment is kept, given once within its lifetime; a newer click's
// token (even a bad one) replaces it.
TEST(ActivationTokens, KeepsAUsableTokenOnceAndBriefly) {
    double now = 100;
    std::vector<std::string> dropped;
    ActivationTokens tokens([&now] { return now; },
                            [&dropped](const std::string& token) { dropped.push_back(token); });
    const std::string gnome = "gnome-shell/orvela-timer/2361-3-host_TIME1234";
    // Sent, seconds until taken, what the first and the second take give.
    for (const auto& [sent, after, first] :
         std::vector<std::tuple<std::string, double, std::string>>{
             {gnome, 0, gnome},
             {"kwin-7c9e-токен", ActivationTokens::kLifetimeSeconds, "kwin-7c9e-токен"},
             {"late", ActivationTokens::kLifetimeSeconds + 0.01, ""},
             {"gnome-shell/ORVELA Timer/1-2", 0, ""},  // white space
             {"a\nb", 0, ""},
             {"bad\xff", 0, ""},
             {std::string(ActivationTokens::kMaxBytes, 'x'), 0, std::string(1024, 'x')},
             {std::string(ActivationTokens::kMaxBytes + 1, 'x'), 0, ""}}) {
        tokens.provide("earlier-click");
        tokens.provide(sent);
        now += after;
        EXPECT_EQ(tokens.take().value_or(""), first) << sent.substr(0, 30);
        EXPECT_EQ(tokens.take(), std::nullopt) << "given twice";
    }
    // Each token not taken is dropped unused (its startup ended): replaced, or too late.
    std::vector<std::string> unused(8, "earlier-click");
    unused.insert(unused.begin() + 3, "late");
    EXPECT_EQ(dropped, unused);
}

// Over the bus, as GNOME's extension sends it: the browser started for the click gets the
// token, once; an alert the click opened uses it up, one that opened by itself does not.
TEST(ActivationTokens, TheClickTokenReachesTheOpenerOnceOrTheAlertItOpened) {
    test::FakePanel panel;
    ASSERT_TRUE(panel.startWatcher());
    QtPlatform platform;
    platform.createStatusItem();
    ASSERT_TRUE(panel.attach());
    test::FakeBrowser browser;
    const auto provide = [&panel](const QString& token) {
        auto call = QDBusMessage::createMethodCall(panel.service, StatusNotifierItem::kObjectPath,
                                                   StatusNotifierItem::kInterface,
                                                   "ProvideXdgActivationToken");
        EXPECT_EQ(panel.call(call << token).type(), QDBusMessage::ReplyMessage) << "no answer";
    };
    // Each click: its token, the alert it opens first (none, asked for, unrequested), the pages.
    for (const auto& [token, alert, pages] : std::vector<std::tuple<QString, int, int>>{
             {"click-1", 0, 2}, {"click-2", 1, 1}, {"click-3", 2, 1}}) {
        provide(token);
        if (alert) {
            QTimer::singleShot(50, [] { QApplication::activeModalWidget()->close(); });
            platform.runAlert(Alert{"", "", AlertStyle::Warning, {"OK"}, {}, alert == 2});
        }
        for (int i = 0; i < pages; ++i) platform.openUrl("https://orvela.test/settings.html");
    }
    EXPECT_EQ(browser.tokens, (QStringList{"click-1", "", "", "click-3"}));
    EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN")) << "left behind";
}

}  // namespace
}  // namespace orvela::qt
