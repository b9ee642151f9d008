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
#include "control_service.hpp"

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
                            const QString& lockDirectory, int handOverMs, QString* whereabouts) {
    if (!bus.isConnected()) {
        // The kernel lets the lock go with the process, however it ends.
        static std::unique_ptr<InstanceLock> held;
        auto lock = std::make_unique<InstanceLock>(lockDirectory);
        if (lock->heldElsewhere()) return InstanceClaim::HandedOver;
        held = std::move(lock);
        return InstanceClaim::Ours;
    }
    const QString name = QString::fromLatin1(kControlService);
    // An owner that is on its way out (the update's relaunch follows its predecessor closely)
    // cannot take the hand-over; once it has gone, the name is tried again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
            bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                             QDBusConnectionInterface::DontAllowReplacement);
        // A bus that will not say (a policy, a broken daemon) must not keep the app from running.
        if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceNotRegistered)
            return InstanceClaim::Ours;
        auto call = QDBusMessage::createMethodCall(name, QString::fromLatin1(kControlPath),
                                                   QString::fromLatin1(kControlInterface),
                                                   QStringLiteral("LaunchedAgain"));
        call << arguments;
        call.setAutoStartService(false);
        const QDBusMessage answer = bus.call(call, QDBus::Block, handOverMs);
        // Only a short word of a known kind is taken; anything else is no answer.
        const QVariant where = answer.arguments().value(0);
        if (whereabouts && answer.type() == QDBusMessage::ReplyMessage &&
            where.metaType().id() == QMetaType::QString && where.toString().size() <= 16)
            *whereabouts = where.toString();
        // Whatever a living app answers, it is the one the user has: this process is done.
        if (answer.type() == QDBusMessage::ReplyMessage ||
            bus.interface()->isServiceRegistered(name).value())
            return InstanceClaim::HandedOver;
    }
    return InstanceClaim::HandedOver;
}

QString secondLaunchLine(const QString& whereabouts) {
    if (whereabouts == QLatin1String(ControlService::kOnPanel))
        return QStringLiteral("ORVELA Timer уже запущен: его значок на панели.");
    if (whereabouts == QLatin1String(ControlService::kNoPlace))
        return QStringLiteral(
            "ORVELA Timer уже запущен, но на панели нет места для его значка: "
            "уведомление о том, как это исправить, показано снова.");
    return QStringLiteral("ORVELA Timer уже запущен.");
}

}  // namespace orvela::qt
