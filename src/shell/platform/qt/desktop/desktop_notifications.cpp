#include "desktop_notifications.hpp"

#include <canberra.h>

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include "app_paths.hpp"

namespace orvela::qt {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kAppName = QStringLiteral("ORVELA Timer");
// The desktop entry's name without ".desktop": servers take the app's icon and their
// per-app settings from it.
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

DesktopNotifications::DesktopNotifications(QDBusConnection bus, std::optional<QString> appIcon,
                                           QObject* parent)
    : QObject(parent), bus_(std::move(bus)), appIcon_(std::move(appIcon)) {
    if (!bus_.isConnected()) return;
    // From whoever owns the server's name, with the right signature only; ids that are not ours
    // match nothing.
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(onNotificationClosed(uint, uint)));
}

void DesktopNotifications::onNotificationClosed(uint id, uint) {
    if (id == 0) return;
    if (sending_ && id == sendingReplaces_) closedWhileSending_ = true;
    for (auto it = lastIds_.begin(); it != lastIds_.end();) {
        if (it.value() == id)
            it = lastIds_.erase(it);
        else
            ++it;
    }
}

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

    QVariantMap hints{{QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopEntryName)}};
    if (!next.sound) {
        hints.insert(QStringLiteral("suppress-sound"), true);
    } else if (soundCapable_) {
        hints.insert(QStringLiteral("sound-name"), freedesktopSoundName(*next.sound));
    }
    auto call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    if (!appIcon_) appIcon_ = notificationIcon();
    sendingReplaces_ = lastIds_.value(identifier, 0u);
    closedWhileSending_ = false;
    call << kAppName << sendingReplaces_ << *appIcon_ << QString::fromStdString(next.title)
         << notificationBody(next.body, bodyMarkup_) << QStringList() << hints << kExpireDefault;

    sending_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, identifier](QDBusPendingCallWatcher* watcher) {
                watcher->deleteLater();
                QDBusPendingReply<uint> reply = *watcher;
                if (!reply.isError()) {
                    const uint id = reply.value();
                    // A replaced id the server closed before it took the Notify: whether the
                    // server showed this one under it is unknown, so the next goes out new (at
                    // worst beside this one, never lost).
                    if (id == 0 || (closedWhileSending_ && id == sendingReplaces_)) {
                        lastIds_.remove(identifier);
                    } else {
                        // Bounded whatever the callers do; a forgotten id only means a new
                        // banner.
                        if (lastIds_.size() >= kMostRemembered && !lastIds_.contains(identifier))
                            lastIds_.erase(lastIds_.begin());
                        lastIds_.insert(identifier, id);
                    }
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
