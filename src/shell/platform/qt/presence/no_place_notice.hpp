// The notice that the desktop has no place for the status item: once per launch, when a few
// seconds after start (or after a panel went away) neither a StatusNotifierItem host nor an XEmbed
// tray is there. It says what is wrong and what to do, as a desktop notification and one line on
// stderr. On GNOME, where the AppIndicator extension is the missing piece, the notification
// carries a button that enables or installs it; the notice goes away once the item has a place.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

#include "gnome_extensions.hpp"

namespace orvela::qt {

class PanelPresence;

struct NoPlaceMessage {
    QString body;
    QString actionLabel;  // empty: the notification has no button
};

// The notice's text for what GNOME said and whether the notification server shows buttons.
NoPlaceMessage noPlaceMessage(const AppIndicatorStatus& status, bool serverHasActions);

class NoPlaceNotice final : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kSummary = "ORVELA Timer не виден на панели";
    static constexpr const char* kActionKey = "orvela-appindicator";

    // `errorLine` takes the one line for the terminal (stderr unless a test listens).
    NoPlaceNotice(QDBusConnection bus, PanelPresence* presence, GnomeExtensions* gnome,
                  std::function<void(const QString&)> errorLine = {}, QObject* parent = nullptr);

    // Another launch of the app was handed over to this one: where the item still has no
    // place, the user who started it sees nothing else, so the notice comes again.
    void secondLaunch();

private slots:
    void onActionInvoked(uint id, const QString& key);
    void onNotificationClosed(uint id, uint reason);

private:
    void show();
    void post(const NoPlaceMessage& message);
    void withdraw();
    void runAction();

    QDBusConnection bus_;
    PanelPresence* presence_;
    GnomeExtensions* gnome_;
    std::function<void(const QString&)> errorLine_;
    bool told_ = false;
    // Bumped by every show and withdraw: answers to an older one are stale.
    quint64 generation_ = 0;
    // Bumped by every withdraw: a notice that arrives after one goes at once.
    quint64 withdrawals_ = 0;
    uint id_ = 0;  // the server's id of the notice while it is up
    AppIndicatorStatus status_;
    // What the notice on screen offers: only that button's key does anything.
    bool offered_ = false;
};

}  // namespace orvela::qt
