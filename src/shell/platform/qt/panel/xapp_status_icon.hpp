// Our XApp status icon (org.x.StatusIcon), for the panels that draw those: Cinnamon's, and
// libxapp's status applets for the MATE and Xfce panels.
//
// Such an applet owns a name "org.x.StatusIconMonitor.<applet>" and shows every program that owns
// a name "org.x.StatusIcon.<program>" and serves the interface under an object manager at
// /org/x/StatusIcon. It draws the icon from a file (IconName is a path) with the Label beside
// it, which Cinnamon's bridge from StatusNotifierItems leaves empty; a click comes back as
// ButtonPress and ButtonRelease with the place to open a menu at.
//
// The icon follows the applets: the name is owned while one runs and released when the last one
// goes, so that the owner can show the StatusNotifierItem or the tray instead. Served on the main
// loop's own connection (MainLoopBus), beside the StatusNotifierItem; every property is signalled
// (PropertiesChanged, with its value) only while an applet shows the icon and only when it
// changed.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <optional>

#include "main_loop_bus.hpp"
#include "status_icon.hpp"

namespace orvela::qt {

// The top-left corner of a menu of `menu` size asked for by a click on an XApp icon: the applet
// gives `at` and the panel's edge (GtkPositionType: 0 left, 1 right, 2 top, 3 bottom, anything
// else taken as bottom), and the menu opens away from the panel, as libxapp opens its own. `at`
// is held on `screen` first (the applet's numbers are its own business), and the menu is kept on
// it where it fits.
QPoint xappMenuOrigin(QPoint at, int panelPosition, QSize menu, const QRect& screen);

class XAppStatusIcon : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kManagerPath = "/org/x/StatusIcon";
    static constexpr const char* kObjectPath = "/org/x/StatusIcon/Icon";
    static constexpr const char* kInterface = "org.x.StatusIcon";
    static constexpr const char* kMonitorPrefix = "org.x.StatusIconMonitor.";
    // The icon size an applet may ask for (IconSize) is held to this range; 0 (not asked) draws
    // kDefaultIconSize pixels.
    static constexpr int kMinIconSize = 16;
    static constexpr int kMaxIconSize = 96;
    static constexpr int kDefaultIconSize = 24;

    // Exports the icon on `bus` (none, or a closed one, leaves it unexported and never shown).
    // The icon's picture is written as PNG files into `iconFolder`, a private folder.
    XAppStatusIcon(MainLoopBus* bus, QString iconFolder, QObject* parent = nullptr);
    // Removes the picture's file; the name goes with the connection.
    ~XAppStatusIcon() override;

    // Starts following the applets; shownChanged reports the first answer.
    void start();

    // Present once known: whether an applet shows the icon (the name is ours and one runs).
    std::optional<bool> shown() const { return shown_; }
    const QString& busName() const { return busName_; }
    // The picture's file while shown, else empty.
    const QString& iconFile() const { return iconFile_; }
    int iconSize() const { return iconSize_; }

    // Each tells the applet only of a real change.
    void setLabel(const QString& label);
    // Plain text; escaped here, since applets show it as Pango markup.
    void setToolTip(const QString& text);
    // The picture, painted into a new file when it changed while shown.
    void setFace(const IconFace& face);
    // Whether the menu opened for the last click is open (PrimaryMenuIsOpen for the left
    // button, SecondaryMenuIsOpen for the right).
    void setMenuOpen(bool open);

    // What the applet reads, for the adapter's own checks.
    const QString& label() const { return label_; }
    const QString& toolTip() const { return toolTip_; }
    bool menuOpen(unsigned button) const { return button == 1 ? primaryOpen_ : secondaryOpen_; }

signals:
    void shownChanged(bool shown);
    // A left or right click (ButtonRelease) while shown, on a later turn of the loop: however
    // many arrive before that turn, the last one is asked for once.
    void menuRequested(QPoint at, int panelPosition, unsigned button);
    // A middle click, after the call was answered.
    void middleClicked();

private:
    enum class Name { Released, Requested, Owned };

    sd_bus* liveBus() const;
    void askNames();
    void setApplet(bool present);
    void setShown(bool shown);
    void renewIcon();
    void dropIcon();
    void changed(const char* property);
    void released(QPoint at, int panelPosition, unsigned button);
    void iconSizeAsked(int size);

    static int handleOwnerChanged(sd_bus_message* signal, void* self, sd_bus_error*);
    static int handleNames(sd_bus_message* reply, void* self, sd_bus_error*);
    static int handleName(sd_bus_message* reply, void* self, sd_bus_error*);
    static int getProperty(sd_bus*, const char*, const char*, const char* property,
                           sd_bus_message* reply, void* self, sd_bus_error*);
    static int setIconSize(sd_bus*, const char*, const char*, const char*, sd_bus_message* value,
                           void* self, sd_bus_error*);
    static int buttonRelease(sd_bus_message* call, void* self, sd_bus_error*);
    static const sd_bus_vtable kVtable[];

    MainLoopBus* bus_ = nullptr;
    QString iconFolder_;
    QString busName_;
    SdBusSlot manager_;
    SdBusSlot object_;
    SdBusSlot ownerMatch_;
    // The one ListNames in flight; an owner change seen meanwhile asks again after it.
    SdBusSlot namesPending_;
    bool askAgain_ = false;
    SdBusSlot namePending_;
    Name name_ = Name::Released;
    std::optional<bool> shown_;
    QString label_;
    QString toolTip_;
    IconFace face_;
    int iconSize_ = 0;
    QString iconFile_;
    QByteArray iconBytes_;
    quint64 iconSerial_ = 0;
    bool primaryOpen_ = false;
    bool secondaryOpen_ = false;
    unsigned menuButton_ = 1;
    // The latest click asking for the menu, until the loop hands it on.
    struct MenuAsk {
        QPoint at;
        int panelPosition = 3;
        unsigned button = 1;
    };
    std::optional<MenuAsk> menuAsked_;
    bool sizeQueued_ = false;
};

}  // namespace orvela::qt
