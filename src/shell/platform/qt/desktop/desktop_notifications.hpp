// desktop/: the desktop's services beyond the panel: notifications, alerts, autostart, wake,
// the desktop entry, child processes. Uses the platform interface and app_paths only.
//
// Desktop notifications over org.freedesktop.Notifications, and event sounds by libcanberra.
#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <deque>
#include <optional>

#include "shell/platform/platform.hpp"

struct ca_context;

namespace orvela::qt {

// The freedesktop sound-theme name for one of the app's sound names ("Glass", "Glass.aiff").
QString freedesktopSoundName(const std::string& name);

class DesktopNotifications final : public QObject {
    Q_OBJECT
public:
    // The most identifiers whose server ids are remembered; the app uses a handful.
    static constexpr int kMostRemembered = 64;

    // `appIcon`: the icon every notification carries (app_paths' notificationIcon() unless
    // given).
    explicit DesktopNotifications(QDBusConnection bus, std::optional<QString> appIcon = {},
                                  QObject* parent = nullptr);

    // Asks the server for its capabilities ahead of the first notification; harmless when
    // there is no server.
    void probe();
    // Posts, or replaces the notification last posted under the same identifier while the
    // server still shows it.
    void post(const Notification& notification);

private slots:
    void onNotificationClosed(uint id, uint reason);

private:
    void sendNext();

    QDBusConnection bus_;
    enum class Capabilities { Unknown, Asking, Known } capabilities_ = Capabilities::Unknown;
    bool soundCapable_ = false;
    // A server that lists "body-markup" reads the body as markup, so the body goes to it escaped;
    // any other shows it as it comes. The summary is plain text for every server (the protocol
    // defines markup for the body only; GNOME Shell, dunst, mako and LXQt escape the summary
    // themselves), so it goes unchanged: escaped, it would read "R&amp;D" there.
    bool bodyMarkup_ = false;
    bool probeFailed_ = false;
    // One Notify at a time: the id the server returns for an identifier must be known before
    // the next notification under it goes out, or it would appear beside its predecessor.
    bool sending_ = false;
    std::deque<Notification> queue_;
    // The server's id of each identifier's notification until the server closes it (expired,
    // dismissed, any reason): a Notify that replaces a closed id shows nothing on Plasma, so the
    // next one under that identifier goes out as a new notification.
    QHash<QString, uint> lastIds_;
    // The id the Notify on its way replaces, and whether the server closed it meanwhile.
    uint sendingReplaces_ = 0;
    bool closedWhileSending_ = false;
    std::optional<QString> appIcon_;
};

class EventSounds final {
public:
    EventSounds() = default;
    ~EventSounds();
    EventSounds(const EventSounds&) = delete;
    EventSounds& operator=(const EventSounds&) = delete;

    // Plays the themed event sound; without a sound server or such a sound, nothing happens.
    void play(const std::string& name);

private:
    ca_context* context_ = nullptr;
    bool failed_ = false;
};

}  // namespace orvela::qt
