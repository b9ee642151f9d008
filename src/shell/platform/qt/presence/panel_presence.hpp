// presence/: whether the item has a place, GNOME's extension calls, the notice when it has none.
// Uses panel/'s watcher and applet names and nothing else of the adapter (the notice speaks to the
// bus itself).
//
// Whether the desktop has any place for the status item: a StatusNotifierItem host (its watcher
// on the session bus, unless the watcher says that no host shows its items), an XApp status applet
// (an org.x.StatusIconMonitor.* name), an XEmbed system tray (an owner of the _NET_SYSTEM_TRAY_S<n>
// selection), or a bar that follows the app's status
// (`orvela-timer status --follow`, told by the owner of the control interface).
//
// Once a place exists this costs nothing: the watcher's coming and going arrives as a bus
// signal, and nothing is polled. Only while there is no place at all is the XEmbed tray looked
// for every few seconds (X11 tells nobody when a tray appears unless they ask for it).
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <functional>

class QDBusMessage;
class QDBusServiceWatcher;

namespace orvela::qt {

// Whether some screen of the X display the app runs on has an XEmbed system tray; false off X11.
bool xembedTrayPresent();

class PanelPresence final : public QObject {
    Q_OBJECT
public:
    struct Timing {
        // Panels and their watchers start with the session, often after the app's autostart.
        int graceMs = 5000;
        int pollMs = 5000;
    };
    enum class State { Checking, Present, Missing };
    // How long a watcher may take to say whether a host shows its items.
    static constexpr int kHostProbeMs = 3000;

    PanelPresence(QDBusConnection bus, std::function<bool()> xembedTray, Timing timing,
                  QObject* parent = nullptr);

    void start();
    State state() const { return state_; }
    // Whether some bar follows the status: a place while it lasts, lost as a panel is.
    void setFollowed(bool followed);

signals:
    // Neither host nor tray for the whole grace period (at start or after a panel went away).
    void missing();
    // A place appeared after `missing`.
    void found();
    // What the watcher says of its hosts: false while it says none shows its items (the item
    // leaves it to the tray then); true once one does, once it does not say, when the watcher
    // goes (the next one is asked anew), and for Ayatana's service, whose items an applet may
    // yet show while Qt's tray icon would only register with it too.
    void watcherHostChanged(bool shown);

private slots:
    void onHostRegistered();
    void onWatcherPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                    const QStringList& invalidated);

private:
    void check();
    void watcherChanged(bool up);
    void appletChanged(const QString& name, bool up);
    // Asks the watcher whether a host shows its items (IsStatusNotifierHostRegistered).
    void probeHost();
    // `trayTakesOver`: the watcher says it has no host, so that Qt's tray icon is an XEmbed one.
    void hostAnswer(bool shown, bool trayTakesOver);
    // Whether the watcher is Ayatana's indicator service and an applet follows it.
    void checkAyatana(quint64 probe);
    bool ayatanaFollowed(const QDBusMessage& rules) const;
    // A call about the present watcher: `answer` is dropped once the watcher changed.
    void ask(const QDBusMessage& message, quint64 probe,
             std::function<void(const QDBusMessage&)> answer);
    void placeChanged(bool up);
    void setState(State state);

    QDBusConnection bus_;
    std::function<bool()> xembedTray_;
    Timing timing_;
    QDBusServiceWatcher* watcher_ = nullptr;
    QDBusServiceWatcher* applets_ = nullptr;
    // The XApp applets' names on the bus, a bounded few.
    QSet<QString> appletNames_;
    QTimer grace_;
    QTimer poll_;
    // A watcher is there and, as far as it says, a host shows what it lists.
    bool watcherUp_ = false;
    bool watcherPresent_ = false;
    // Bumped by every owner change and answer: a probe's late answer is dropped.
    quint64 probe_ = 0;
    bool probing_ = false;
    bool probeAgain_ = false;
    bool ayatana_ = false;
    bool trayUsable_ = true;
    bool followed_ = false;
    // An owner change seen before NameHasOwner answered makes that answer stale.
    bool ownerChangeSeen_ = false;
    State state_ = State::Checking;
};

}  // namespace orvela::qt
