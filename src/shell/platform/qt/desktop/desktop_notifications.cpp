#include "desktop_notifications.hpp"

#include <canberra.h>

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace orvela::qt {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kAppName = QStringLiteral("ORVELA Timer");
// The server's own default display time.
constexpr int kExpireDefault = -1;

// What a server must receive to show `text` as it is: a task called "R&D <b>" reads as typed,
// not as a broken tag.
QString notificationBody(const std::string& text, bool serverReadsMarkup) {
    const QString body = QString::fromStdString(text);
    return serverReadsMarkup ? body.toHtmlEscaped() : body;
}
}  // namespace

QString freedesktopSoundName(const std::string& name) {
    QString base = QString::fromStdString(name);
    for (const char* extension : {".aiff", ".aif", ".caf", ".wav", ".oga", ".ogg"}) {
        if (base.endsWith(QLatin1String(extension), Qt::CaseInsensitive)) {
            base.chop(static_cast<int>(qstrlen(extension)));
            break;
        }
    }
    // The app names the short chime macOS calls "Glass"; the freedesktop theme's nearest
    // event is "complete". Other names are taken as theme names already.
    if (base.compare(QLatin1String("Glass"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("complete");
    return base;
}

DesktopNotifications::DesktopNotifications(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

void DesktopNotifications::probe() {
    if (capabilities_ != Capabilities::Unknown || !bus_.isConnected()) return;
    capabilities_ = Capabilities::Asking;
    auto call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                               QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* watcher) {
                watcher->deleteLater();
                QDBusPendingReply<QStringList> reply = *watcher;
                // No server (or a broken one) means no sound hints; posting still tries, in
                // case a server is started later by D-Bus activation.
                probeFailed_ = reply.isError();
                soundCapable_ = !probeFailed_ && reply.value().contains(QStringLiteral("sound"));
                bodyMarkup_ =
                    !probeFailed_ && reply.value().contains(QStringLiteral("body-markup"));
                capabilities_ = Capabilities::Known;
                sendNext();
            });
}

void DesktopNotifications::post(const Notification& notification) {
    if (!bus_.isConnected()) return;
    queue_.push_back(notification);
    probe();
    sendNext();
}

void DesktopNotifications::sendNext() {
    if (capabilities_ == Capabilities::Unknown && !queue_.empty()) probe();
    if (sending_ || capabilities_ != Capabilities::Known || queue_.empty()) return;
    const Notification next = std::move(queue_.front());
    queue_.pop_front();
    const QString identifier = QString::fromStdString(next.identifier);

    QVariantMap hints;
    if (!next.sound) {
        hints.insert(QStringLiteral("suppress-sound"), true);
    } else if (soundCapable_) {
        hints.insert(QStringLiteral("sound-name"), freedesktopSoundName(*next.sound));
    }
    auto call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << kAppName << lastIds_.value(identifier, 0u) << QString()
         << QString::fromStdString(next.title) << notificationBody(next.body, bodyMarkup_)
         << QStringList() << hints << kExpireDefault;

    sending_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, identifier](QDBusPendingCallWatcher* watcher) {
                watcher->deleteLater();
                QDBusPendingReply<uint> reply = *watcher;
                if (!reply.isError()) {
                    lastIds_.insert(identifier, reply.value());
                    // A server that came up after a failed probe: learn its capabilities.
                    if (probeFailed_) capabilities_ = Capabilities::Unknown;
                }
                sending_ = false;
                sendNext();
            });
}

EventSounds::~EventSounds() {
    if (context_) ca_context_destroy(context_);
}

void EventSounds::play(const std::string& name) {
    const QByteArray event = freedesktopSoundName(name).toUtf8();
    if (event.isEmpty() || failed_) return;
    if (!context_) {
        if (ca_context_create(&context_) != CA_SUCCESS) {
            context_ = nullptr;
            failed_ = true;
            return;
        }
        ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "ORVELA Timer",
                                CA_PROP_APPLICATION_ID, "orvela-timer", nullptr);
    }
    // Asynchronous in libcanberra: returns at once, and an unknown event plays nothing.
    ca_context_play(context_, 0, CA_PROP_EVENT_ID, event.constData(), nullptr);
}

}  // namespace orvela::qt
