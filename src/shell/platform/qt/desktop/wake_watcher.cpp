#include "wake_watcher.hpp"

namespace orvela::qt {

WakeWatcher::WakeWatcher(Clock wallSeconds, Clock monotonicSeconds, QObject* parent)
    : QObject(parent), wall_(std::move(wallSeconds)), monotonic_(std::move(monotonicSeconds)) {
    resetClocks();
}

bool WakeWatcher::listenToLogind(QDBusConnection bus) {
    if (!bus.isConnected()) return false;
    return bus.connect(QStringLiteral("org.freedesktop.login1"),
                       QStringLiteral("/org/freedesktop/login1"),
                       QStringLiteral("org.freedesktop.login1.Manager"),
                       QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
}

void WakeWatcher::resetClocks() {
    lastWall_ = wall_();
    lastMonotonic_ = monotonic_();
}

void WakeWatcher::checkClocks() {
    const double wallStep = wall_() - lastWall_;
    const double monotonicStep = monotonic_() - lastMonotonic_;
    resetClocks();
    // Only a leap forward: a clock set back is no sleep.
    if (wallStep - monotonicStep > kLeapSeconds) woke();
}

void WakeWatcher::prepareForSleep(bool sleeping) {
    if (sleeping) return;
    // The leap this resume left in the clocks is accounted for here.
    resetClocks();
    woke();
}

void WakeWatcher::woke() {
    const double now = monotonic_();
    if (lastWake_ && now - *lastWake_ < kSameResumeSeconds) return;
    lastWake_ = now;
    if (handler_) handler_();
}

}  // namespace orvela::qt
