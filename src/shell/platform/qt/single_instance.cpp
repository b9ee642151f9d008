#include "single_instance.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFile>
#include <cerrno>
#include <memory>

#include "control_names.hpp"

namespace orvela::qt {

InstanceLock::InstanceLock(const QString& directory) {
    const QByteArray path = QFile::encodeName(directory + QStringLiteral("/orvela-timer.lock"));
    fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) return;
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        heldElsewhere_ = errno == EWOULDBLOCK;
        ::close(fd_);
        fd_ = -1;
    }
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

InstanceClaim claimInstance(QDBusConnection bus, const QStringList& arguments,
                            const QString& lockDirectory, int handOverMs) {
    if (!bus.isConnected()) {
        // The kernel lets the lock go with the process, however it ends.
        static std::unique_ptr<InstanceLock> held;
        auto lock = std::make_unique<InstanceLock>(lockDirectory);
        if (lock->heldElsewhere()) return InstanceClaim::HandedOver;
        held = std::move(lock);
        return InstanceClaim::Ours;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(QString::fromLatin1(kControlService),
                                         QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    // A bus that will not say (a policy, a broken daemon) must not keep the app from running.
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceNotRegistered)
        return InstanceClaim::Ours;
    auto call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kControlService), QString::fromLatin1(kControlPath),
        QString::fromLatin1(kControlInterface), QStringLiteral("LaunchedAgain"));
    call << arguments;
    call.setAutoStartService(false);
    // Whatever the answer, the running app is the one the user has: this process is done.
    bus.call(call, QDBus::Block, handOverMs);
    return InstanceClaim::HandedOver;
}

}  // namespace orvela::qt
