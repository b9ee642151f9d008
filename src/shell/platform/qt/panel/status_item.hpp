// panel/: what the panel shows: the StatusNotifierItem and its dbusmenu on the main loop's own
// bus connection, the XApp status icon on the same connection, the counting icon, the fallback
// tray. Uses the platform interface only.
//
// The status item of the Qt adapter.
//
// Where a StatusNotifierItem host runs (a watcher is on the session bus), the title is the
// item's text label, next to a square icon that carries the countdown, and the menu is exported
// over dbusmenu. Elsewhere an XEmbed QSystemTrayIcon shows the same icon, the title and tooltip
// as its tooltip, and the same menu model rendered into a QMenu. The item follows the watcher
// coming and going.
//
// Where an XApp status applet runs (Cinnamon; libxapp's applets on MATE and Xfce panels), the
// app is an XApp status icon instead, with the title as its label and the same QMenu opened where
// the applet asks: one icon, never two. The StatusNotifierItem is then not registered, or, when
// it was before the applet came, passive, which every host hides.
#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "shell/platform/platform.hpp"
#include "status_icon.hpp"

class QMenu;
class QSystemTrayIcon;

namespace orvela::qt {

class DBusMenuExporter;
class MainLoopBus;
class StatusNotifierItem;
class XAppStatusIcon;

class QtStatusItem : public QObject, public orvela::StatusItem {
    Q_OBJECT

public:
    static constexpr const char* kMenuPath = "/MenuBar";

    // The icons' pictures go into `iconFolder`, a private folder: the XApp icon's PNG, and a theme
    // for hosts that draw named icons only. Without one the app is never an XApp icon and names
    // no icon.
    explicit QtStatusItem(QObject* parent = nullptr, const QString& iconFolder = QString());
    ~QtStatusItem() override;

    bool hasButton() const override { return true; }
    void setTitle(const std::vector<TitlePart>& parts) override;
    // Kept until setCountdown, which shows it with the time left.
    void setTooltip(const std::string& tooltip) override;
    // Repaints the icon only when what it shows changed: once a minute while a phase runs; the
    // tooltip (the time left in words over the core's tooltip) follows the icon.
    void setCountdown(const std::optional<Countdown>& countdown) override;
    void setMenuDelegate(MenuDelegate* delegate) override;
    // From the item's SecondaryActivate and the tray's middle button.
    void setMiddleClickHandler(std::function<void()> handler) override;

    // What the desktop sees, for the adapter's own checks and tests.
    StatusNotifierItem* notifierItem() const { return sni_; }
    DBusMenuExporter* menuExporter() const { return menu_; }
    XAppStatusIcon* xappIcon() const { return xapp_; }
    // The menu the tray and the XApp icon open; present once one of them needed it.
    QMenu* ownMenu() const { return trayMenu_.get(); }
    // Present once the fallback was needed; shown only while no watcher shows the item.
    QSystemTrayIcon* trayIcon() const { return tray_; }
    bool usesFallback() const { return fallback_; }
    const IconFace& iconFace() const { return face_; }

private:
    std::vector<MenuItem> buildMenu();
    // Hands a chosen item to the delegate on a later turn of the main loop, after the menu (or
    // the D-Bus call that carried the click) is done.
    void deliver(const MenuItem& item);
    // Hands a middle click to the handler on a later turn of the loop; clicks arriving before
    // that turn are one click (a host or peer repeating the call queues nothing more).
    void middleClicked();
    // Where the app shows itself: the XApp icon while an applet shows it, else the item while a
    // watcher has it, else the tray.
    void choosePlace();
    void setFallback(bool on);
    // The QMenu of the tray, made on first use, also opened by the XApp icon's clicks and where a
    // host's left click asks the item for its menu.
    QMenu* menu();
    void popupXAppMenu(QPoint at, int panelPosition);
    void paintIcons();
    void updateTrayIcon();
    void updateTrayToolTip();

    // The item's and the menu's connection; both are deleted before it.
    std::unique_ptr<MainLoopBus> bus_;
    MenuDelegate* delegate_ = nullptr;
    std::function<void()> middleClick_;
    bool middleClickQueued_ = false;
    DBusMenuExporter* menu_ = nullptr;
    StatusNotifierItem* sni_ = nullptr;
    XAppStatusIcon* xapp_ = nullptr;
    bool sniStarted_ = false;
    bool menuFilled_ = false;  // filled for the popup at hand: aboutToShow need not again
    QSystemTrayIcon* tray_ = nullptr;
    std::unique_ptr<QMenu> trayMenu_;
    bool fallback_ = false;
    QString label_;
    QString tooltip_;
    QString sniToolTip_;  // what hosts are shown: tooltip_, under the time left while counting
    bool toolTipStale_ = true;  // tooltip_ or the face changed since sniToolTip_ was made
    IconKind titleKind_ = IconKind::Idle;
    // What decides the menu's shape, as last rendered; see setCountdown.
    struct MenuShape {
        IconKind kind = IconKind::Idle;
        bool counting = false, rest = false, paused = false;
        bool operator==(const MenuShape&) const = default;
    };
    MenuShape menuShape_;
    IconFace face_;
    std::vector<QImage> iconImages_;
};

}  // namespace orvela::qt
