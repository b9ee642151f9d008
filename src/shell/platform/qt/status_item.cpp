#include "status_item.hpp"

#include <QCursor>
#include <QDBusConnection>
#include <QIcon>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

#include "dbus_menu_exporter.hpp"
#include "status_notifier_item.hpp"
#include "tray_menu.hpp"

namespace orvela::qt {

namespace {

// Hosts draw at about 22 px; the double size serves scaled (HiDPI) panels.
constexpr int kGlyphSizes[] = {22, 44};

std::vector<QImage> paintGlyphs(const GlyphState& state) {
    std::vector<QImage> images;
    for (int size : kGlyphSizes) images.push_back(paintGlyph(state, size));
    return images;
}

}  // namespace

QtStatusItem::QtStatusItem(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString menuPath = QString::fromLatin1(kMenuPath);
    menu_ = new DBusMenuExporter(
        bus, menuPath, [this] { return buildMenu(); },
        [this](const MenuItem& item) { deliver(item); }, this);
    sni_ = new StatusNotifierItem(bus, menuPath, this);

    glyphImages_ = paintGlyphs(glyph_);
    sni_->setIcons(QList<QImage>(glyphImages_.begin(), glyphImages_.end()));

    connect(sni_, &StatusNotifierItem::registeredChanged, this,
            [this](bool registered) { setFallback(!registered); });
    sni_->start();
}

QtStatusItem::~QtStatusItem() {
    // The tray icon goes before the menu it points to.
    delete tray_;
    tray_ = nullptr;
}

void QtStatusItem::setTitle(const std::vector<TitlePart>& parts) {
    QString label;
    for (const TitlePart& part : parts) label += QString::fromStdString(part.text);
    const GlyphState glyph = glyphStateFor(parts);

    const bool labelChanged = label != label_;
    const bool glyphChanged = glyph != glyph_;
    if (!labelChanged && !glyphChanged) return;
    label_ = label;
    if (labelChanged) sni_->setLabel(label_);
    if (glyphChanged) {
        glyph_ = glyph;
        glyphImages_ = paintGlyphs(glyph_);
        sni_->setIcons(QList<QImage>(glyphImages_.begin(), glyphImages_.end()));
        updateTrayIcon();
    }
    updateTrayToolTip();
}

void QtStatusItem::setTooltip(const std::string& tooltip) {
    const QString text = QString::fromStdString(tooltip);
    if (text == tooltip_) return;
    tooltip_ = text;
    sni_->setToolTipText(tooltip_);
    updateTrayToolTip();
}

void QtStatusItem::setMenuDelegate(MenuDelegate* delegate) {
    delegate_ = delegate;
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
        trayMenu_ = std::make_unique<QMenu>();
        connect(trayMenu_.get(), &QMenu::aboutToShow, this, [this] {
            fillMenu(trayMenu_.get(), buildMenu(), [this](const MenuItem& item) { deliver(item); });
        });
        tray_->setContextMenu(trayMenu_.get());
        // SNI hosts open the menu on a left click too; the tray does the same.
        connect(tray_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger) trayMenu_->popup(QCursor::pos());
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
    for (const QImage& image : glyphImages_) icon.addPixmap(QPixmap::fromImage(image));
    tray_->setIcon(icon);
}

void QtStatusItem::updateTrayToolTip() {
    if (!tray_) return;
    tray_->setToolTip(tooltip_.isEmpty() ? label_ : label_ + QLatin1Char('\n') + tooltip_);
}

}  // namespace orvela::qt
