// One app per session. The first process takes the well-known bus name; a later one hands its
// command line to it and ends. Without a session bus an exclusive lock on a file in the private
// runtime directory stands in for the name. Everything here works before the QApplication
// exists, so that a second launch needs no display and opens none.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <QStringList>

namespace orvela::qt {

// An exclusive flock on "orvela-timer.lock" in `directory`, held until destruction. The
// descriptor is close-on-exec: the update's hand-over script and its relaunched app never
// inherit it.
class InstanceLock {
public:
    explicit InstanceLock(const QString& directory);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Another process holds the lock. A lock that could not even be tried (no such folder, no
    // permission) is not held elsewhere: an app is never kept from starting by our own fault.
    bool heldElsewhere() const { return heldElsewhere_; }

private:
    int fd_ = -1;
    bool heldElsewhere_ = false;
};

enum class InstanceClaim { Ours, HandedOver };

// Takes the name on `bus`, not queueing for it. When another app owns it, `arguments` (the
// command line after the program's name) go to that app's LaunchedAgain, waited for at most
// `handOverMs`, and the claim is HandedOver, with the app's answer (where it can be found; empty
// when it did not say) in `whereabouts` if given; an owner found leaving is waited out. With
// `bus` not connected the lock in `lockDirectory` decides instead, kept for the life of the
// process.
InstanceClaim claimInstance(QDBusConnection bus, const QStringList& arguments,
                            const QString& lockDirectory, int handOverMs = 800,
                            QString* whereabouts = nullptr);

// The one line a second launch prints: that the app already runs, and where to find it, from
// the running app's answer.
QString secondLaunchLine(const QString& whereabouts);

}  // namespace orvela::qt
