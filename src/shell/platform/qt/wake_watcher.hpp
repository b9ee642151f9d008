// Noticing that the computer woke from sleep.
//
// logind announces sleep and resume with PrepareForSleep on the system bus. Where that is not
// available (no logind, no system bus, a container) a sleep still shows as the wall clock
// leaping ahead of the monotonic clock, which stands still while the machine sleeps; the
// watcher compares the two every few seconds. One resume seen both ways wakes the handler once.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QTimer>
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
    // Compares the clocks every `intervalMs` on the main loop.
    void watchClocks(int intervalMs);
    // One comparison of the clocks against the previous one.
    void checkClocks();

public slots:
    void prepareForSleep(bool sleeping);

private:
    void woke();
    void resetClocks();

    Clock wall_;
    Clock monotonic_;
    std::function<void()> handler_;
    QTimer clockTimer_;
    double lastWall_ = 0;
    double lastMonotonic_ = 0;
    std::optional<double> lastWake_;  // monotonic
};

}  // namespace orvela::qt
