// A StatusNotifierWatcher that also reads items the way a panel does, for bench/footprint.sh.
//
// It owns org.kde.StatusNotifierWatcher on the session bus, says a host is registered (so Qt's
// QSystemTrayIcon and our app both choose the StatusNotifierItem path), accepts
// RegisterStatusNotifierItem with a bus name or an object path, and then behaves like Xfce
// 4.18's systray: every change signal (NewTitle, NewIcon, NewToolTip, NewStatus, ...) marks the
// item stale, and 10 ms later one Properties.GetAll re-reads everything, so a burst of signals
// costs one read. XAyatanaNewLabel's arguments are taken as they come, as GNOME's AppIndicator
// does, and trigger no read. Each registration is printed on stdout.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QTimer>
#include <cstdio>

namespace {

constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr int kReadDelayMs = 10;

struct Item {
    QString owner;  // unique bus name of the item's process
    QString path;
    QTimer* readTimer = nullptr;
};

}  // namespace

class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    explicit Watcher(QDBusConnection bus) : bus_(std::move(bus)) {
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
        if (signal.member() == QLatin1String("XAyatanaNewLabel")) {
            label_ = signal.arguments().value(0).toString();  // used as is, no read-back
            return;
        }
        const auto found = items_.find(signal.service() + signal.path());
        if (found != items_.end() && !found->readTimer->isActive()) found->readTimer->start();
    }

private:
    void readAll(const QString& key) {
        const auto found = items_.constFind(key);
        if (found == items_.constEnd()) return;
        QDBusMessage call = QDBusMessage::createMethodCall(
            found->owner, found->path, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("GetAll"));
        call << QString::fromLatin1(kItemInterface);
        bus_.callWithCallback(call, this, SLOT(ignoreReply(QDBusMessage)),
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
    void ignoreReply(const QDBusMessage&) {}
    void ignoreError(const QDBusError&) {}

private:
    QDBusConnection bus_;
    QDBusServiceWatcher* owners_ = nullptr;
    QHash<QString, Item> items_;
    QString label_;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "sni-host: no session bus\n");
        return 1;
    }
    Watcher watcher(bus);
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties) ||
        !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"))) {
        std::fprintf(stderr, "sni-host: cannot own org.kde.StatusNotifierWatcher\n");
        return 1;
    }
    std::printf("watching\n");
    std::fflush(stdout);
    return app.exec();
}

#include "sni-host.moc"
