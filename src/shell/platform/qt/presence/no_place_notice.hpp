// The notice that the desktop has no place for the status item: each time the item loses its
// place (a few seconds after start, or after a panel went away) and neither a StatusNotifierItem
// host nor an XEmbed tray is there. It says what is wrong and what to do, as a desktop
// notification and one line on stderr, and is withdrawn once the item has a place. Where the
// server shows buttons it is critical, so that it stays (GNOME hides a normal banner after a few
// seconds and files it without its button). On GNOME, where the AppIndicator extension is the
// missing piece, its button (and a click on its body) enables or installs the extension,
// switching GNOME's extensions on first where they are off; when that brings no place within a
// few seconds, a follow-up says what happened and what to do by hand.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "gnome_extensions.hpp"

namespace orvela::qt {

class PanelPresence;

struct NoPlaceMessage {
    QString body;
    QString actionLabel;  // empty: the notification has no button
};

// The notice's text for what GNOME said and whether the notification server shows buttons.
NoPlaceMessage noPlaceMessage(const AppIndicatorStatus& status, bool serverHasActions);

// Why the fix the user asked for brought no place.
enum class FixFailure {
    InstallFailed,     // GNOME could not install the extension (offline, refused)
    InstallCancelled,  // the user declined GNOME's dialog
    NoEffect,          // enabled (or installed) as asked, and still no place
    UserExtensionsOff  // GNOME's extensions are switched off, and switching them on failed
};
// The follow-up's text; `uuid` is the extension that was enabled, if any.
QString fixFailureMessage(FixFailure failure, const QString& uuid);

class NoPlaceNotice final : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kSummary = "ORVELA Timer не виден на панели";
    static constexpr const char* kFollowUpSummary = "ORVELA Timer всё ещё не виден на панели";
    static constexpr const char* kActionKey = "orvela-appindicator";
    // How long an enabled or installed extension has to bring a place.
    static constexpr int kSettleMs = 5000;

    // `errorLine` takes the one line for the terminal (stderr unless a test listens).
    NoPlaceNotice(QDBusConnection bus, PanelPresence* presence, GnomeExtensions* gnome,
                  std::function<void(const QString&)> errorLine = {}, int settleMs = kSettleMs,
                  QObject* parent = nullptr);
    // A notice still up goes with the app: it stays on screen otherwise, its button calling
    // nobody.
    ~NoPlaceNotice() override;

    // Another launch of the app was handed over to this one: where the item still has no
    // place, the user who started it sees nothing else, so the notice comes again. Answers
    // whether the item has a place (nothing while that is still being found out).
    std::optional<bool> secondLaunch();

private slots:
    void onActionInvoked(uint id, const QString& key);
    void onNotificationClosed(uint id, uint reason);

private:
    void show();
    // `detail` (the Shell's own words) goes to the terminal line only.
    void post(const QString& summary, const NoPlaceMessage& message, const QString& detail = {});
    void withdraw();
    void runAction();
    void applyFix(quint64 run);
    void settled(quint64 run, const QString& uuid);
    void followUp(quint64 run, FixFailure failure, const QString& uuid, const QString& why);

    QDBusConnection bus_;
    PanelPresence* presence_;
    GnomeExtensions* gnome_;
    std::function<void(const QString&)> errorLine_;
    int settleMs_;
    // Bumped by every show and withdraw: answers to an older one are stale.
    quint64 generation_ = 0;
    // Bumped by every withdraw: a notice that arrives after one goes at once.
    quint64 withdrawals_ = 0;
    // Bumped by every fix and withdraw: a fix's later steps belong to the latest fix only.
    quint64 fixRun_ = 0;
    bool fixing_ = false;
    uint id_ = 0;  // the server's id of the notice while it is up
    AppIndicatorStatus status_;
    bool serverHasActions_ = false;
    // The notice whose button is live: only its button's key and "default" do anything. Kept
    // after the server closed it, as servers close a notice whose action was clicked and may
    // say so first.
    uint offeredId_ = 0;
};

}  // namespace orvela::qt
