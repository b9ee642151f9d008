// The platform's own small operations: the loop's timers, the status item, running other
// programs, and noticing a wake from sleep (logind's signal, the clock leap, one resume seen both
// ways).
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <limits>

#include "processes.hpp"
#include "qt_platform.hpp"
#include "qt_wait.hpp"
#include "wake_watcher.hpp"

namespace orvela::qt {
namespace {

using orvela::test::spin;
using orvela::test::waitUntil;

// Delayed calls run later and in order; NaN and negative delays mean "now", an infinite one
// never comes, and none of them crashes.
TEST(QtPlatform, DelayedCallsRunLaterInOrderAndOddDelaysAreSafe) {
    QtPlatform platform;
    std::vector<std::string> ran;
    const std::vector<std::pair<double, std::string>> calls = {
        {0.15, "later"},
        {0, "now"},
        {std::nan(""), "nan"},
        {-5, "negative"},
        {std::numeric_limits<double>::infinity(), "never"}};
    for (const auto& [delay, name] : calls)
        platform.runAfter(delay, [&ran, name] { ran.push_back(name); });
    EXPECT_TRUE(ran.empty()) << "ran inside runAfter()";
    ASSERT_TRUE(waitUntil([&] { return ran.size() >= 4; }));
    spin(50);
    EXPECT_EQ(ran, (std::vector<std::string>{"now", "nan", "negative", "later"}));

    int ticks = 0;
    platform.startRepeatingTimer(0.05, [&] { ++ticks; });
    spin(280);
    EXPECT_GE(ticks, 4);
    EXPECT_LE(ticks, 6);
    EXPECT_EQ(platform.createStatusItem(), platform.createStatusItem()) << "one status item";
}

// Waiting for a program keeps the loop turning and reports its status (a signal as 128+n);
// it inherits our environment and reads an empty input rather than hanging.
TEST(Processes, RunAndWaitReportsTheExitStatusWhileTheLoopTurns) {
    orvela::test::ScopedEnv inherited("ORVELA_TEST_INHERITED", "yes");
    bool fired = false;
    QTimer::singleShot(50, [&] { fired = true; });
    const std::vector<std::pair<std::string, int>> cases = {
        {"sleep 0.3; exit 3", 3},
        {"test \"$ORVELA_TEST_INHERITED\" = yes", 0},
        {"read line; test -z \"$line\"", 0},
        {"kill -KILL $$", 128 + 9},
    };
    for (const auto& [script, status] : cases) {
        const ProcessResult result = runAndWait("/bin/sh", {"-c", script});
        EXPECT_EQ(result.exitStatus, status) << script << result.launchError;
    }
    EXPECT_TRUE(fired) << "the main loop stood still while waiting";

    const ProcessResult missing = runAndWait("/nonexistent/unzip", {"-q"});
    EXPECT_TRUE(!missing.exitStatus && !missing.launchError.empty());
}

// The updater's detached helper sees exactly the environment it is given, nothing inherited.
TEST(Processes, ADetachedProgramGetsExactlyTheGivenEnvironment) {
    QTemporaryDir dir;
    const QString out = dir.path() + "/env.txt";
    auto environmentSeen = [&](const std::map<std::string, std::string>& environment) {
        QFile::remove(out);
        // dash adds PWD of its own; everything else must come from us.
        const std::string script = "env | grep -v '^PWD=' | sort > '" + out.toStdString() + "'";
        EXPECT_EQ(launchDetached("/bin/sh", {"-c", script}, environment), std::nullopt);
        EXPECT_TRUE(waitUntil([&] { return QFile::exists(out); }));
        spin(100);
        QFile file(out);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll().toStdString();
    };
    EXPECT_EQ(environmentSeen({{"TARGET", "/opt/ORVELA Timer.app"}, {"WORK", "w"}}),
              "TARGET=/opt/ORVELA Timer.app\nWORK=w\n");
    EXPECT_EQ(environmentSeen({}), "") << "an empty environment inherits nothing either";
    EXPECT_FALSE(launchDetached("/nonexistent/sh", {}, {{"A", "1"}}).value_or("").empty());
}

// Only a wall clock leap of more than 30 s beyond the monotonic clock is a sleep; logind's
// resume and the leap it leaves behind are one wake, and a later sleep is another.
TEST(WakeWatcher, AWallClockLeapBeyondTheMonotonicOneIsAWake) {
    double wall = 1'000'000, monotonic = 100;
    WakeWatcher watcher([&] { return wall; }, [&] { return monotonic; });
    int wakes = 0;
    watcher.setHandler([&] { ++wakes; });
    struct Step {
        const char* what;
        double wallStep, monotonicStep;
        bool logind;
        int wakesAfter;
    };
    const std::vector<Step> steps = {
        {"a slow tick: both clocks moved", 60, 60, false, 0},
        {"clock set back", -3600, 5, false, 0},
        {"a leap of 30 s exactly", 35, 5, false, 0},
        {"an hour asleep", 3605, 5, false, 1},
        {"logind reports the same resume", 0, 2, true, 1},
        {"another sleep, 20 s later", 120, 20, false, 2},
        {"logind resume, the leap seen after it", 7200, 20, true, 3},
        {"a tick 15 s after that resume", 15, 15, false, 3},
    };
    for (const Step& step : steps) {
        wall += step.wallStep;
        monotonic += step.monotonicStep;
        step.logind ? watcher.prepareForSleep(false) : watcher.checkClocks();
        EXPECT_EQ(wakes, step.wakesAfter) << step.what;
    }
}

// PrepareForSleep(false) from logind on the bus wakes the handler; (true) does not.
TEST(WakeWatcher, LogindResumeOnTheBusWakesOnce) {
    auto login1 = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-login1");
    ASSERT_TRUE(login1.registerService("org.freedesktop.login1"));
    WakeWatcher watcher([] { return 0.0; }, [] { return 0.0; });
    int wakes = 0;
    watcher.setHandler([&] { ++wakes; });
    ASSERT_TRUE(watcher.listenToLogind(QDBusConnection::sessionBus()));

    for (const bool sleeping : {true, false}) {
        auto signal = QDBusMessage::createSignal(
            "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep");
        ASSERT_TRUE(login1.send(signal << sleeping));
        EXPECT_EQ(waitUntil([&] { return wakes > 0; }, sleeping ? 200 : 5000), !sleeping);
    }
    spin(100);
    EXPECT_EQ(wakes, 1);
    login1.unregisterService("org.freedesktop.login1");
    QDBusConnection::disconnectFromBus("fake-login1");
}

}  // namespace
}  // namespace orvela::qt
