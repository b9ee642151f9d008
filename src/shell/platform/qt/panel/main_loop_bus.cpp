#include "main_loop_bus.hpp"

#include <poll.h>
#include <time.h>

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <climits>

namespace orvela::qt {

std::unique_ptr<MainLoopBus> MainLoopBus::connectSession() {
    sd_bus* bus = nullptr;
    // sd_bus_open_user reads DBUS_SESSION_BUS_ADDRESS first, as every session client does.
    if (sd_bus_open_user(&bus) < 0 || !bus) return nullptr;
    return std::unique_ptr<MainLoopBus>(new MainLoopBus(bus));
}

MainLoopBus::MainLoopBus(sd_bus* bus) : bus_(bus) {
    const int fd = sd_bus_get_fd(bus_);
    if (fd < 0) {
        close();
        return;
    }
    readable_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    writable_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    writable_->setEnabled(false);
    timeout_ = new QTimer(this);
    timeout_->setSingleShot(true);
    timeout_->setTimerType(Qt::CoarseTimer);
    connect(readable_, &QSocketNotifier::activated, this, [this] { dispatch(); });
    connect(writable_, &QSocketNotifier::activated, this, [this] { dispatch(); });
    connect(timeout_, &QTimer::timeout, this, [this] { dispatch(); });
    // The connection's handshake (Hello) is still to be done: run it from the loop.
    rearm();
}

MainLoopBus::~MainLoopBus() {
    // No flush: a stuck peer must not hold up the end of the process.
    if (bus_) sd_bus_close_unref(bus_);
}

std::string MainLoopBus::uniqueName() const {
    const char* name = nullptr;
    if (!bus_ || sd_bus_get_unique_name(bus_, &name) < 0 || !name) return {};
    return name;
}

bool MainLoopBus::isOpen() const {
    return bus_ && sd_bus_is_open(bus_) > 0;
}

void MainLoopBus::flush() {
    // sd-bus has written what the socket took; the rest waits for the socket to be writable.
    // No processing here: flush may be called from a handler inside sd_bus_process.
    rearm();
}

void MainLoopBus::dispatch() {
    if (!bus_) return;
    // Each call handles at most one message; a bounded number per turn keeps a flooding peer
    // from starving the rest of the loop (the notifier fires again for what is left).
    for (int handled = 0; handled < 64; ++handled) {
        const int r = sd_bus_process(bus_, nullptr);
        if (r < 0) {
            close();
            return;
        }
        if (r == 0) {
            rearm();
            return;
        }
    }
    // Messages may be left in sd-bus's queue, where the socket no longer says so.
    rearm();
    timeout_->start(0);
}

void MainLoopBus::rearm() {
    if (!bus_) return;
    if (!isOpen()) {
        close();
        return;
    }
    const int events = sd_bus_get_events(bus_);
    if (events < 0) {
        close();
        return;
    }
    writable_->setEnabled(events & POLLOUT);
    uint64_t deadline = 0;
    if (sd_bus_get_timeout(bus_, &deadline) < 0 || deadline == UINT64_MAX) {
        timeout_->stop();
        return;
    }
    // The deadline is on CLOCK_MONOTONIC in microseconds; 0 means work is already waiting.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t nowUs = uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_nsec) / 1000u;
    const uint64_t waitMs = deadline > nowUs ? (deadline - nowUs + 999) / 1000 : 0;
    timeout_->start(int(std::min<uint64_t>(waitMs, INT_MAX)));
}

void MainLoopBus::close() {
    if (!bus_) return;
    if (readable_) readable_->setEnabled(false);
    if (writable_) writable_->setEnabled(false);
    if (timeout_) timeout_->stop();
    sd_bus_close_unref(bus_);
    bus_ = nullptr;
    emit closed();
}

}  // namespace orvela::qt
