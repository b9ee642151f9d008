// Our StatusNotifierItem (org.kde.StatusNotifierItem).
//
// Hosts that know the extension show its text label (XAyatanaLabel) next to the square icon;
// the others show the icon alone, which is why the icon carries the countdown too. Every
// property is signalled only when it changed, so hosts re-read as little as they can. The item
// registers with the session's org.kde.StatusNotifierWatcher whenever one runs, and reports whether
// a host can show it so that the owner can fall back to an XEmbed tray icon.
#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "main_loop_bus.hpp"

namespace orvela::qt {

class IconThemeFolder;

// (iiay): one icon size, ARGB32 pixels in network byte order.
struct SniIcon {
    int width = 0;
    int height = 0;
    QByteArray bytes;
};
using SniIconList = QList<SniIcon>;

// (sa(iiay)ss): icon name, icon pixmaps, title, description.
struct SniToolTip {
    QString iconName;
    SniIconList icons;
    QString title;
    QString description;
};

QDBusArgument& operator<<(QDBusArgument& arg, const SniIcon& icon);
const QDBusArgument& operator>>(const QDBusArgument& arg, SniIcon& icon);
QDBusArgument& operator<<(QDBusArgument& arg, const SniToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& arg, SniToolTip& tip);

void registerStatusNotifierTypes();

// The pixels of `image` as the protocol carries them.
SniIcon sniIconFrom(const QImage& image);

// The item is served on a connection of its own whose I/O runs on the main loop (MainLoopBus),
// so the ticking label goes out from the thread that makes it. Properties are read from the
// object on every Get; nothing is cached on the bus side.
class StatusNotifierItem : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kObjectPath = "/StatusNotifierItem";
    static constexpr const char* kInterface = "org.kde.StatusNotifierItem";
    static constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";
    // How long after registering the watcher's list is checked, and how often a registration
    // it lost is repeated for one watcher.
    static constexpr int kListedCheckMs = 1000;
    static constexpr int kMaxReRegistrations = 2;
    // How long a host's left click (Activate) may wait to learn which program the host is.
    static constexpr int kCallerLookupMs = 1000;

    // Exports the item on `bus` (none, or a closed one, leaves it unexported and unregistered);
    // `menuPath` is where the dbusmenu object lives on the same connection.
    StatusNotifierItem(MainLoopBus* bus, QString menuPath, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Starts following the watcher; registeredChanged reports the first answer.
    void start();

    // The bus name the watcher was given for us: the connection's unique name, once known.
    const QString& serviceName() const { return serviceName_; }
    // Present once known: whether a watcher has accepted the item and, as far as it says, a
    // host shows it.
    std::optional<bool> registered() const { return registered_; }
    // What the watcher says of its hosts (IsStatusNotifierHostRegistered, as the owner learns
    // it): a watcher without one shows nothing, so the item counts as unregistered meanwhile.
    void setHostShown(bool shown);

    // Each tells hosts only of a real change, by the one signal that names what changed.
    void setLabel(const QString& label);
    void setToolTipText(const QString& text);
    // The icon and what it shows in words, for screen readers and GNOME's AppIndicator, which
    // reads IconAccessibleDesc at each icon change: both go out with one NewIcon.
    void setIcons(const QList<QImage>& images, const QString& description);

    const SniIconList& iconPixmap() const { return icons_; }
    const QString& accessibleDescription() const { return accessibleDescription_; }
    SniToolTip toolTip() const;
    const QString& label() const { return label_; }
    static QString labelGuide();
    const QString& menuPath() const { return menuPath_; }

    // A passive item (Status "Passive") is hidden by its hosts, while the app shows itself
    // elsewhere (an XApp status icon): a registration cannot be taken back, the status can.
    void setPassive(bool passive);
    bool passive() const { return passive_; }

    // Gives the item an IconName, the icon's pictures written as a theme into `folder`
    // (IconThemePath), for hosts that draw named icons only. Without one, the item names none.
    void setIconThemeFolder(const QString& folder);
    // The name of the present picture in that theme, its files written on first asking (a
    // host reading the property); empty without a folder or when the files cannot be written.
    QString iconName();
    QString iconThemePath() const;

    // Programs (executable names) that show a panel whose left click calls Activate and opens
    // no menu, whatever the answer: for them, Activate asks the owner for its own menu.
    static QStringList menuLessHosts();
    void setMenuLessHosts(QStringList programs) {
        menuLessHosts_ = std::move(programs);
        lastCaller_.clear();
    }

signals:
    // Whether a watcher now shows the item.
    void registeredChanged(bool registered);
    // A host's SecondaryActivate (the middle click), after the call was answered.
    void secondaryActivated();
    // The host's ProvideXdgActivationToken, sent just before the click it is for, as it came:
    // the receiver checks it.
    void activationTokenProvided(const QByteArray& token);
    // A left click on a host that opens no menu of its own: the menu belongs at the pointer.
    void menuRequested();

private:
    // Change signals are broadcast on the bus and wake every listener, so they go out only
    // while a watcher shows the item; one that registers later reads every property afresh.
    bool shown() const { return registered_.value_or(false) && !passive_; }
    sd_bus* liveBus() const;
    void emitSignal(const char* member, const char* types = nullptr, const char* label = nullptr,
                    const char* guide = nullptr);
    void followWatcher();
    void watcherOwnerChanged(bool present);
    void registerWithWatcher();
    // Asks the watcher whether it still lists the item, and registers again if not.
    void checkListed();
    void listedAnswer(sd_bus_message* reply);
    void setRegistered(bool registered);
    // Activate: answered once the caller is known, see menuLessHosts.
    int activate(sd_bus_message* call);
    void callerKnown(sd_bus_message* reply);
    void answerActivate(sd_bus_message* call, bool menuLess);

    static int handleObjectCall(sd_bus_message* call, void* self, sd_bus_error*);
    static int handleCallerPid(sd_bus_message* reply, void* self, sd_bus_error*);
    static int handleOwnerChanged(sd_bus_message* signal, void* self, sd_bus_error*);
    static int handleHasOwner(sd_bus_message* reply, void* self, sd_bus_error*);
    static int handleRegistered(sd_bus_message* reply, void* self, sd_bus_error*);
    static int handleListed(sd_bus_message* reply, void* self, sd_bus_error*);

    MainLoopBus* bus_ = nullptr;
    QString menuPath_;
    QString serviceName_;
    SdBusSlot object_;
    SdBusSlot activateHook_;
    // The Activate waiting for its caller's program to be known, and that lookup; a later
    // Activate from another caller replaces both. The last caller's verdict is kept.
    SdBusMessage pendingActivate_;
    SdBusSlot callerLookup_;
    QString lastCaller_;
    bool lastCallerMenuLess_ = false;
    QStringList menuLessHosts_ = menuLessHosts();
    SdBusSlot ownerMatch_;
    // The one call to the watcher (or about it) whose answer still counts; replacing it drops
    // an earlier watcher's (or an earlier attempt's) answer unheard.
    SdBusSlot pending_;
    // Bumped with every registration, so a listed-check timer of an earlier one does nothing.
    quint64 attempt_ = 0;
    // Registrations repeated for the present watcher because it did not list the item.
    int reRegistrations_ = 0;
    std::optional<bool> registered_;
    std::optional<bool> accepted_;
    bool hostShown_ = true;
    QString label_;
    QString toolTipText_;
    SniIconList icons_;
    QString accessibleDescription_;
    bool passive_ = false;
    QList<QImage> images_;
    std::unique_ptr<IconThemeFolder> iconTheme_;
    QString iconName_;
    bool iconNameStale_ = true;
};

}  // namespace orvela::qt

Q_DECLARE_METATYPE(orvela::qt::SniIcon)
Q_DECLARE_METATYPE(orvela::qt::SniToolTip)
