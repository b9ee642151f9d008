// Noticing that the computer woke from sleep.
//
// logind announces sleep and resume with PrepareForSleep on the system bus. Where that is not
// available (no logind, no system bus, a container) a sleep still shows as the wall clock
// leaping ahead of the monotonic clock, which stands still while the machine sleeps; the
// owner has the two compared on a wakeup it has anyway (the one-second tick), since a timer of
// the watcher's own would wake the process once more every few seconds. One resume seen both
// ways wakes the handler once.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <optional>

namespace orvela::qt {

class WakeWatcher final : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<double()>;  // a reading in seconds

    // A wall clock leap this far (seconds) beyond the monotonic progress counts as a sleep.
    static constexpr double kLeapSeconds = 30;
    // Wake reports this close together (monotonic seconds) are one resume.
    static constexpr double kSameResumeSeconds = 10;

    WakeWatcher(Clock wallSeconds, Clock monotonicSeconds, QObject* parent = nullptr);

    void setHandler(std::function<void()> handler) { handler_ = std::move(handler); }
    // Listens for logind's PrepareForSleep on `bus` (normally the system bus).
    bool listenToLogind(QDBusConnection bus);
    // One comparison of the clocks against the previous one (or the watcher's creation).
    void checkClocks();

public slots:
    void prepareForSleep(bool sleeping);

private:
    void woke();
    void resetClocks();

    Clock wall_;
    Clock monotonic_;
    std::function<void()> handler_;
    double lastWall_ = 0;
    double lastMonotonic_ = 0;
    std::optional<double> lastWake_;  // monotonic
};

}  // namespace orvela::qt
