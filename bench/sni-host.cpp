// A StatusNotifierWatcher that also reads items the way a panel does, for bench/footprint.sh.
//
// It owns org.kde.StatusNotifierWatcher on the session bus, says a host is registered (so Qt's
// QSystemTrayIcon and our app both choose the StatusNotifierItem path), accepts
// RegisterStatusNotifierItem with a bus name or an object path, and then reads items as one of
// the two kinds of host we meet:
//
//   sni-host --style xfce    (default) Xfce 4.18's systray, and KDE Plasma alike: every change
//                            signal (NewTitle, NewIcon, NewToolTip, NewStatus, ...) marks the item
//                            stale, and 10 ms later one Properties.GetAll re-reads everything, so a
//                            burst of signals costs one read. No label is shown: XAyatanaNewLabel
//                            arrives (the host follows the whole interface) and is dropped.
//   sni-host --style gnome   GNOME Shell's AppIndicator extension: the label and the status come
//                            with their signals' arguments; NewIcon, NewToolTip, NewTitle, ...
//                            lead to one Properties.Get per property they name, 10 ms later.
//
// Either way the largest icon pixmap that arrives is decoded and scaled to the panel's 22 px, as
// a panel draws it. Each registration is printed on stdout.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QHash>
#include <QImage>
#include <QSet>
#include <QTimer>
#include <QtEndian>
#include <cstdio>
#include <utility>

namespace {

constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr int kReadDelayMs = 10;

enum class Style { Xfce, Gnome };

struct Item {
    QString owner;  // unique bus name of the item's process
    QString path;
    QTimer* readTimer = nullptr;
    QSet<QString> stale;  // properties to Get (GNOME style)
};

// The properties GNOME's AppIndicator re-reads after each signal.
QStringList propertiesNamedBy(const QString& signal) {
    if (signal == QLatin1String("NewIcon"))
        return {QStringLiteral("IconName"), QStringLiteral("IconPixmap"),
                QStringLiteral("IconThemePath")};
    if (signal == QLatin1String("NewAttentionIcon"))
        return {QStringLiteral("AttentionIconName"), QStringLiteral("AttentionIconPixmap")};
    if (signal == QLatin1String("NewOverlayIcon"))
        return {QStringLiteral("OverlayIconName"), QStringLiteral("OverlayIconPixmap")};
    if (signal == QLatin1String("NewTitle")) return {QStringLiteral("Title")};
    if (signal == QLatin1String("NewToolTip")) return {QStringLiteral("ToolTip")};
    return {};  // NewStatus and XAyatanaNewLabel carry their values
}

// What a panel does with an a(iiay): the largest image, scaled to its slot.
void drawLargestPixmap(const QDBusArgument& pixmaps) {
    int bestWidth = 0, bestHeight = 0;
    QByteArray best;
    pixmaps.beginArray();
    while (!pixmaps.atEnd()) {
        int width = 0, height = 0;
        QByteArray bytes;
        pixmaps.beginStructure();
        pixmaps >> width >> height >> bytes;
        pixmaps.endStructure();
        if (width > bestWidth && width <= 256 && height <= 256 &&
            bytes.size() == qsizetype(width) * height * 4)
            bestWidth = width, bestHeight = height, best = bytes;
    }
    pixmaps.endArray();
    if (best.isEmpty()) return;
    QImage image(bestWidth, bestHeight, QImage::Format_ARGB32);
    const auto* in = reinterpret_cast<const uchar*>(best.constData());
    for (int y = 0; y < bestHeight; ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < bestWidth; ++x, in += 4) line[x] = qFromBigEndian<quint32>(in);
    }
    const QImage scaled = image.scaled(22, 22, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    (void)scaled;
}

}  // namespace

class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    Watcher(QDBusConnection bus, Style style) : bus_(std::move(bus)), style_(style) {
        owners_ = new QDBusServiceWatcher(this);
        owners_->setConnection(bus_);
        owners_->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        connect(owners_, &QDBusServiceWatcher::serviceUnregistered, this, &Watcher::forgetOwner);
    }

    QStringList registeredItems() const { return items_.keys(); }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public slots:
    void RegisterStatusNotifierItem(const QString& serviceOrPath, const QDBusMessage& message) {
        Item item;
        if (serviceOrPath.startsWith(QLatin1Char('/'))) {
            item.owner = message.service();
            item.path = serviceOrPath;
        } else {
            item.owner = bus_.interface()->serviceOwner(serviceOrPath).value();
            item.path = QStringLiteral("/StatusNotifierItem");
        }
        if (item.owner.isEmpty()) return;
        const QString key = item.owner + item.path;
        if (items_.contains(key)) return;
        item.readTimer = new QTimer(this);
        item.readTimer->setSingleShot(true);
        item.readTimer->setInterval(kReadDelayMs);
        connect(item.readTimer, &QTimer::timeout, this, [this, key] { readAll(key); });
        items_.insert(key, item);
        owners_->addWatchedService(item.owner);
        for (const char* member : {"NewTitle", "NewIcon", "NewAttentionIcon", "NewOverlayIcon",
                                   "NewToolTip", "NewStatus", "XAyatanaNewLabel"}) {
            bus_.connect(item.owner, item.path, QString::fromLatin1(kItemInterface),
                         QString::fromLatin1(member), this, SLOT(itemChanged(QDBusMessage)));
        }
        std::printf("registered %s %s\n", qPrintable(item.owner), qPrintable(item.path));
        std::fflush(stdout);
        emit StatusNotifierItemRegistered(key);
        readAll(key);
    }

    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

private slots:
    void itemChanged(const QDBusMessage& signal) {
        const auto found = items_.find(signal.service() + signal.path());
        if (found == items_.end()) return;
        if (style_ == Style::Xfce) {
            // Xfce shows no label: that signal changes nothing; every other one re-reads all.
            if (signal.member() == QLatin1String("XAyatanaNewLabel")) return;
        } else {
            if (signal.member() == QLatin1String("XAyatanaNewLabel"))
                label_ = signal.arguments().value(0).toString();  // shown as it came
            const QStringList names = propertiesNamedBy(signal.member());
            if (names.isEmpty()) return;
            for (const QString& name : names) found->stale.insert(name);
        }
        if (!found->readTimer->isActive()) found->readTimer->start();
    }

private:
    void readAll(const QString& key) {
        const auto found = items_.find(key);
        if (found == items_.end()) return;
        const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
        if (style_ == Style::Gnome && !found->stale.isEmpty()) {
            for (const QString& name : std::as_const(found->stale)) {
                QDBusMessage call = QDBusMessage::createMethodCall(
                    found->owner, found->path, properties, QStringLiteral("Get"));
                call << QString::fromLatin1(kItemInterface) << name;
                bus_.callWithCallback(call, this, SLOT(gotProperty(QDBusMessage)),
                                      SLOT(ignoreError(QDBusError)));
            }
            found->stale.clear();
            return;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(found->owner, found->path, properties,
                                                           QStringLiteral("GetAll"));
        call << QString::fromLatin1(kItemInterface);
        bus_.callWithCallback(call, this, SLOT(gotAll(QDBusMessage)),
                              SLOT(ignoreError(QDBusError)));
    }

    void forgetOwner(const QString& owner) {
        for (auto it = items_.begin(); it != items_.end();) {
            if (it->owner != owner) {
                ++it;
                continue;
            }
            const QString key = it.key();
            it->readTimer->deleteLater();
            it = items_.erase(it);
            emit StatusNotifierItemUnregistered(key);
        }
        owners_->removeWatchedService(owner);
    }

private slots:
    void gotAll(const QDBusMessage& reply) {
        const auto all = qdbus_cast<QVariantMap>(reply.arguments().value(0));
        drawLargestPixmap(all.value(QStringLiteral("IconPixmap")).value<QDBusArgument>());
    }
    void gotProperty(const QDBusMessage& reply) {
        const QVariant value = reply.arguments().value(0).value<QDBusVariant>().variant();
        if (value.canConvert<QDBusArgument>() &&
            value.value<QDBusArgument>().currentSignature() == QLatin1String("a(iiay)"))
            drawLargestPixmap(value.value<QDBusArgument>());
    }
    void ignoreError(const QDBusError&) {}

private:
    QDBusConnection bus_;
    Style style_;
    QDBusServiceWatcher* owners_ = nullptr;
    QHash<QString, Item> items_;
    QString label_;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const qsizetype styleAt = args.indexOf(QStringLiteral("--style"));
    const QString styleName = styleAt > 0 ? args.value(styleAt + 1) : QStringLiteral("xfce");
    if (styleName != QLatin1String("xfce") && styleName != QLatin1String("gnome")) {
        std::fprintf(stderr, "usage: sni-host [--style xfce|gnome]\n");
        return 2;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "sni-host: no session bus\n");
        return 1;
    }
    Watcher watcher(bus, styleName == QLatin1String("gnome") ? Style::Gnome : Style::Xfce);
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties) ||
        !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"))) {
        std::fprintf(stderr, "sni-host: cannot own org.kde.StatusNotifierWatcher\n");
        return 1;
    }
    std::printf("watching (%s style)\n", qPrintable(styleName));
    std::fflush(stdout);
    return app.exec();
}

#include "sni-host.moc"
