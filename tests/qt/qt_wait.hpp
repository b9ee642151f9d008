// Turning the Qt event loop from a test until something has happened.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <functional>

namespace orvela::test {

// Processes events until `done` holds or `timeoutMs` has passed; returns whether it held.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

// Processes events for `ms` milliseconds.
inline void spin(int ms) {
    waitUntil([] { return false; }, ms);
}

}  // namespace orvela::test
