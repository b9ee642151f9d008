// Wake from sleep: logind's signal and the clock leap, and one resume seen both ways.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>

#include "qt_wait.hpp"
#include "wake_watcher.hpp"

namespace orvela::qt {
namespace {

TEST(WakeWatcher, AWallClockLeapBeyondTheMonotonicOneIsAWake) {
    double wall = 1'000'000, monotonic = 100;
    WakeWatcher watcher([&] { return wall; }, [&] { return monotonic; });
    int wakes = 0;
    watcher.setHandler([&] { ++wakes; });

    struct Step {
        const char* what;
        double wallStep, monotonicStep;
        int wakesAfter;
    };
    const std::vector<Step> steps = {
        {"an ordinary tick", 5, 5, 0},
        {"a slow tick: both clocks moved", 60, 60, 0},
        {"clock set back", -3600, 5, 0},
        {"leap of 30 s exactly is no sleep", 35, 5, 0},
        {"an hour asleep", 3605, 5, 1},
        {"logind reports the same resume", 0, 2, 1},
        {"another sleep, 20 s later", 120, 20, 2},
    };
    for (const Step& step : steps) {
        wall += step.wallStep;
        monotonic += step.monotonicStep;
        if (std::string(step.what).starts_with("logind"))
            watcher.prepareForSleep(false);
        else
            watcher.checkClocks();
        EXPECT_EQ(wakes, step.wakesAfter) << step.what;
    }
}

TEST(WakeWatcher, LogindResumeWakesOnceAndTheClockLeapAfterItIsNotCounted) {
    // A stand-in for logind on the private session bus.
    auto login1 = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-login1");
    ASSERT_TRUE(login1.registerService("org.freedesktop.login1"));

    double wall = 1'000'000, monotonic = 100;
    WakeWatcher watcher([&] { return wall; }, [&] { return monotonic; });
    int wakes = 0;
    watcher.setHandler([&] { ++wakes; });
    ASSERT_TRUE(watcher.listenToLogind(QDBusConnection::sessionBus()));

    auto emitPrepare = [&](bool sleeping) {
        auto signal = QDBusMessage::createSignal(
            "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep");
        signal << sleeping;
        ASSERT_TRUE(login1.send(signal));
    };
    emitPrepare(true);
    orvela::test::spin(200);
    EXPECT_EQ(wakes, 0) << "going to sleep is no wake";

    wall += 7200;  // the night passes; the monotonic clock stands still
    emitPrepare(false);
    ASSERT_TRUE(orvela::test::waitUntil([&] { return wakes == 1; }));
    monotonic += 5;
    wall += 5;
    watcher.checkClocks();
    EXPECT_EQ(wakes, 1);

    login1.unregisterService("org.freedesktop.login1");
    QDBusConnection::disconnectFromBus("fake-login1");
}

}  // namespace
}  // namespace orvela::qt
