#include "status_item.hpp"

#include <QCursor>
#include <QIcon>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

#include "dbus_menu_exporter.hpp"
#include "main_loop_bus.hpp"
#include "status_notifier_item.hpp"
#include "tray_menu.hpp"

namespace orvela::qt {

QtStatusItem::QtStatusItem(QObject* parent, const QString& iconThemeFolder)
    : QObject(parent), bus_(MainLoopBus::connectSession()) {
    const QString menuPath = QString::fromLatin1(kMenuPath);
    menu_ = new DBusMenuExporter(
        bus_.get(), menuPath, [this] { return buildMenu(); },
        [this](const MenuItem& item) { deliver(item); }, this);
    // The exported menu is flat for every host (see setSubmenusInPlace); the tray's QMenu keeps
    // its sub-menus, which Qt flips at the screen's edge.
    menu_->setSubmenusInPlace(true);
    sni_ = new StatusNotifierItem(bus_.get(), menuPath, this);
    sni_->setIconThemeFolder(iconThemeFolder);

    paintIcons();

    connect(sni_, &StatusNotifierItem::secondaryActivated, this, &QtStatusItem::middleClicked);
    // MATE's and LXQt's panels only call Activate on a left click: the menu is ours to open.
    connect(sni_, &StatusNotifierItem::menuRequested, this,
            [this] { ownMenu()->popup(QCursor::pos()); });
    connect(sni_, &StatusNotifierItem::registeredChanged, this,
            [this](bool registered) { setFallback(!registered); });
    sni_->start();
}

QtStatusItem::~QtStatusItem() {
    // The tray icon goes before the menu it points to.
    delete tray_;
    tray_ = nullptr;
    // Both unexport themselves from the connection, which goes last.
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
    updateTrayToolTip();
}

void QtStatusItem::paintIcons() {
    iconImages_.clear();
    for (int size : kIconSizes) iconImages_.push_back(paintIcon(face_, size));
    sni_->setIcons(QList<QImage>(iconImages_.begin(), iconImages_.end()), faceInWords(face_));
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

void QtStatusItem::setFallback(bool on) {
    fallback_ = on;
    if (on && !tray_) {
        tray_ = new QSystemTrayIcon(this);
        tray_->setContextMenu(ownMenu());
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

QMenu* QtStatusItem::ownMenu() {
    if (!trayMenu_) {
        trayMenu_ = std::make_unique<QMenu>();
        connect(trayMenu_.get(), &QMenu::aboutToShow, this, [this] {
            fillMenu(trayMenu_.get(), buildMenu(), [this](const MenuItem& item) { deliver(item); });
        });
    }
    return trayMenu_.get();
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
