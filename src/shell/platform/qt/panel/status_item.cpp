#include "status_item.hpp"

#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>
#include <algorithm>
#include <utility>

#include "dbus_menu_exporter.hpp"
#include "main_loop_bus.hpp"
#include "status_notifier_item.hpp"
#include "tray_menu.hpp"
#include "xapp_status_icon.hpp"

namespace orvela::qt {

QtStatusItem::QtStatusItem(QObject* parent, const QString& iconFolder)
    : QObject(parent), bus_(MainLoopBus::connectSession()) {
    const QString menuPath = QString::fromLatin1(kMenuPath);
    menu_ = new DBusMenuExporter(
        bus_.get(), menuPath, [this] { return buildMenu(); },
        [this](const MenuItem& item) { deliver(item); }, this);
    // The exported menu is flat for every host (see setSubmenusInPlace); the tray's QMenu keeps
    // its sub-menus, which Qt flips at the screen's edge.
    menu_->setSubmenusInPlace(true);
    sni_ = new StatusNotifierItem(bus_.get(), menuPath, this);
    if (!iconFolder.isEmpty()) {
        xapp_ = new XAppStatusIcon(bus_.get(), iconFolder, this);
        // A theme folder of its own: each writer clears what earlier runs left in its folder.
        sni_->setIconThemeFolder(iconFolder + QStringLiteral("/orvela-timer-icons"));
    }

    paintIcons();

    connect(sni_, &StatusNotifierItem::secondaryActivated, this, &QtStatusItem::middleClicked);
    // MATE's and LXQt's panels only call Activate on a left click: the menu is ours to open.
    connect(sni_, &StatusNotifierItem::menuRequested, this,
            [this] { menu()->popup(QCursor::pos()); });
    connect(sni_, &StatusNotifierItem::registeredChanged, this, &QtStatusItem::choosePlace);
    if (!xapp_) {
        sniStarted_ = true;
        sni_->start();
        return;
    }
    connect(xapp_, &XAppStatusIcon::shownChanged, this, &QtStatusItem::choosePlace);
    connect(xapp_, &XAppStatusIcon::middleClicked, this, &QtStatusItem::middleClicked);
    connect(xapp_, &XAppStatusIcon::menuRequested, this,
            [this](QPoint at, int panelPosition) { popupXAppMenu(at, panelPosition); });
    // The item waits for the applets' first answer (one call to the bus): registered with a
    // watcher where an applet shows the XApp icon, it would show twice (Cinnamon's bridge turns
    // every StatusNotifierItem into an XApp icon of its own).
    xapp_->start();
}

QtStatusItem::~QtStatusItem() {
    // The tray icon goes before the menu it points to.
    delete tray_;
    tray_ = nullptr;
    // All unexport themselves from the connection, which goes last.
    delete xapp_;
    xapp_ = nullptr;
    delete sni_;
    sni_ = nullptr;
    delete menu_;
    menu_ = nullptr;
}

void QtStatusItem::setTitle(const std::vector<TitlePart>& parts) {
    QString label;
    for (const TitlePart& part : parts) label += QString::fromStdString(part.text);
    // The icon follows in setCountdown, which comes after every title.
    titleKind_ = titleKind(parts);
    if (label == label_) return;
    label_ = label;
    sni_->setLabel(label_);
    if (xapp_) xapp_->setLabel(label_);
    updateTrayToolTip();
}

void QtStatusItem::setTooltip(const std::string& tooltip) {
    // Shown with the countdown that follows in setCountdown, so that a render that changes both
    // tells hosts once.
    QString text = QString::fromStdString(tooltip);
    if (text == tooltip_) return;
    tooltip_ = std::move(text);
    toolTipStale_ = true;
}

void QtStatusItem::setCountdown(const std::optional<Countdown>& countdown) {
    // The menu changes shape with the state (signed out, a login, a timer running, paused, on a
    // break, finished): tell the hosts then, ahead of the next opening.
    const MenuShape shape{titleKind_, countdown.has_value(), countdown && countdown->rest,
                          countdown && countdown->paused};
    if (shape != menuShape_) {
        menuShape_ = shape;
        menu_->refresh();
    }
    const IconFace face = orvela::qt::iconFace(titleKind_, countdown);
    if (face != face_) {
        face_ = face;
        paintIcons();
        toolTipStale_ = true;
    }
    // The seconds between change nothing: nothing is built or compared for them.
    if (!toolTipStale_) return;
    toolTipStale_ = false;
    // Where no label is shown (Plasma, Xfce, XEmbed trays) the tooltip tells the time left too,
    // in the icon's own words: it changes with the minute the icon shows, not every second.
    sniToolTip_ = tooltip_;
    if (face_.kind == IconKind::Countdown)
        sniToolTip_ = faceInWords(face_) + (tooltip_.isEmpty() ? QString() : "\n" + tooltip_);
    sni_->setToolTipText(sniToolTip_);
    if (xapp_) xapp_->setToolTip(sniToolTip_);
    updateTrayToolTip();
}

void QtStatusItem::paintIcons() {
    iconImages_.clear();
    for (int size : kIconSizes) iconImages_.push_back(paintIcon(face_, size));
    sni_->setIcons(QList<QImage>(iconImages_.begin(), iconImages_.end()), faceInWords(face_));
    if (xapp_) xapp_->setFace(face_);
    updateTrayIcon();
}

void QtStatusItem::setMenuDelegate(MenuDelegate* delegate) {
    delegate_ = delegate;
}

void QtStatusItem::setMiddleClickHandler(std::function<void()> handler) {
    middleClick_ = std::move(handler);
}

void QtStatusItem::middleClicked() {
    if (middleClickQueued_) return;
    middleClickQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            middleClickQueued_ = false;
            if (middleClick_) middleClick_();
        },
        Qt::QueuedConnection);
}

std::vector<MenuItem> QtStatusItem::buildMenu() {
    std::vector<MenuItem> items;
    if (delegate_) delegate_->menuNeedsUpdate(items);
    return items;
}

void QtStatusItem::deliver(const MenuItem& item) {
    QMetaObject::invokeMethod(
        this,
        [this, item] {
            if (delegate_) delegate_->menuItemChosen(item);
        },
        Qt::QueuedConnection);
}

void QtStatusItem::choosePlace() {
    const bool xapp = xapp_ && xapp_->shown().value_or(false);
    sni_->setPassive(xapp);
    if (!xapp && !sniStarted_ && xapp_->shown().has_value()) {
        sniStarted_ = true;
        sni_->start();  // may answer at once, in a nested call
    }
    const std::optional<bool> registered = sni_->registered();
    setFallback(!xapp && registered.has_value() && !*registered);
}

QMenu* QtStatusItem::menu() {
    if (!trayMenu_) {
        trayMenu_ = std::make_unique<QMenu>();
        connect(trayMenu_.get(), &QMenu::aboutToShow, this, [this] {
            if (!std::exchange(menuFilled_, false))
                fillMenu(trayMenu_.get(), buildMenu(),
                         [this](const MenuItem& item) { deliver(item); });
        });
        connect(trayMenu_.get(), &QMenu::aboutToHide, this, [this] {
            if (xapp_) xapp_->setMenuOpen(false);
        });
    }
    return trayMenu_.get();
}

void QtStatusItem::popupXAppMenu(QPoint at, int panelPosition) {
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return;
    QMenu* shown = menu();
    // Filled first, so that its size places it.
    fillMenu(shown, buildMenu(), [this](const MenuItem& item) { deliver(item); });
    menuFilled_ = true;
    // The applet's corner, held on the desktop, picks the screen.
    const QRect desktop = primary->virtualGeometry();
    const QPoint held(std::clamp(at.x(), desktop.left(), desktop.right()),
                      std::clamp(at.y(), desktop.top(), desktop.bottom()));
    const QScreen* screen = QGuiApplication::screenAt(held);
    const QPoint origin = xappMenuOrigin(held, panelPosition, shown->sizeHint(),
                                         (screen ? screen : primary)->geometry());
    xapp_->setMenuOpen(true);
    shown->popup(origin);
    menuFilled_ = false;
}

void QtStatusItem::setFallback(bool on) {
    fallback_ = on;
    if (on && !tray_) {
        tray_ = new QSystemTrayIcon(this);
        tray_->setContextMenu(menu());
        // SNI hosts open the menu on a left click too; the tray does the same.
        connect(tray_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger) trayMenu_->popup(QCursor::pos());
                    if (reason == QSystemTrayIcon::MiddleClick) middleClicked();
                });
    }
    if (!tray_) return;
    if (on) {
        updateTrayIcon();
        updateTrayToolTip();
        tray_->show();
    } else {
        tray_->hide();
    }
}

void QtStatusItem::updateTrayIcon() {
    if (!tray_) return;
    QIcon icon;
    for (const QImage& image : iconImages_) icon.addPixmap(QPixmap::fromImage(image));
    tray_->setIcon(icon);
}

void QtStatusItem::updateTrayToolTip() {
    if (!tray_) return;
    // An XEmbed tray shows the title nowhere else: it goes first, over what hosts are shown.
    const QString tip =
        plainToolTip(sniToolTip_.isEmpty() ? label_ : label_ + QLatin1Char('\n') + sniToolTip_);
    if (tip != tray_->toolTip()) tray_->setToolTip(tip);
}

}  // namespace orvela::qt
