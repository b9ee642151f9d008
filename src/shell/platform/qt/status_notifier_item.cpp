#include "status_notifier_item.hpp"

#include <unistd.h>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <utility>

namespace orvela::qt {

// ---------------------------------------------------------------- marshalling

QDBusArgument& operator<<(QDBusArgument& arg, const SniIcon& icon) {
    arg.beginStructure();
    arg << icon.width << icon.height << icon.bytes;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, SniIcon& icon) {
    arg.beginStructure();
    arg >> icon.width >> icon.height >> icon.bytes;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const SniToolTip& tip) {
    arg.beginStructure();
    arg << tip.iconName << tip.icons << tip.title << tip.description;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, SniToolTip& tip) {
    arg.beginStructure();
    arg >> tip.iconName >> tip.icons >> tip.title >> tip.description;
    arg.endStructure();
    return arg;
}

void registerStatusNotifierTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<SniIcon>();
        qDBusRegisterMetaType<SniIconList>();
        qDBusRegisterMetaType<SniToolTip>();
        qRegisterMetaType<SniIconList>("orvela::qt::SniIconList");
        return true;
    }();
    (void)registered;
}

SniIcon sniIconFrom(const QImage& image) {
    // The protocol wants straight (not premultiplied) alpha, each pixel as bytes A, R, G, B.
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    SniIcon icon;
    icon.width = argb.width();
    icon.height = argb.height();
    icon.bytes.resize(qsizetype(argb.width()) * argb.height() * 4);
    auto* out = reinterpret_cast<uchar*>(icon.bytes.data());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x, out += 4) qToBigEndian<quint32>(line[x], out);
    }
    return icon;
}

// ---------------------------------------------------------------- the item

namespace {

QString wellKnownName() {
    // One name per item in this process, as the protocol suggests ("-<pid>-<n>").
    static int counter = 0;
    return QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(::getpid()).arg(++counter);
}

}  // namespace

StatusNotifierItem::StatusNotifierItem(QDBusConnection connection, QString menuPath,
                                       QObject* parent)
    : QObject(parent), connection_(std::move(connection)), menuPath_(std::move(menuPath)) {
    registerStatusNotifierTypes();
    if (!connection_.isConnected()) return;
    exported_ = connection_.registerObject(QString::fromLatin1(kObjectPath), this,
                                           QDBusConnection::ExportScriptableContents);
    if (!exported_) return;
    // Older watchers only accept a well-known name; the unique name still works for the rest.
    serviceName_ = wellKnownName();
    ownsServiceName_ = connection_.registerService(serviceName_);
    if (!ownsServiceName_) serviceName_ = connection_.baseService();
}

StatusNotifierItem::~StatusNotifierItem() {
    if (ownsServiceName_) connection_.unregisterService(serviceName_);
    if (exported_) connection_.unregisterObject(QString::fromLatin1(kObjectPath));
}

void StatusNotifierItem::start() {
    if (!exported_) {
        setRegistered(false);
        return;
    }
    const QString watcherService = QString::fromLatin1(kWatcherService);
    watcher_ = new QDBusServiceWatcher(watcherService, connection_,
                                       QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                if (!newOwner.isEmpty()) {
                    // A new (or restarted) watcher knows nothing of us yet.
                    reRegistrations_ = 0;
                    registerWithWatcher();
                } else {
                    ++attempt_;
                    setRegistered(false);
                }
            });

    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << watcherService;
    const quint64 attempt = ++attempt_;
    auto* pending = new QDBusPendingCallWatcher(connection_.asyncCall(ask), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, attempt](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (attempt != attempt_) return;  // the owner-change signal came first
                const QDBusPendingReply<bool> reply = *call;
                if (!reply.isError() && reply.value())
                    registerWithWatcher();
                else
                    setRegistered(false);
            });
}

void StatusNotifierItem::registerWithWatcher() {
    const QString watcherService = QString::fromLatin1(kWatcherService);
    QDBusMessage call = QDBusMessage::createMethodCall(
        watcherService, QStringLiteral("/StatusNotifierWatcher"), watcherService,
        QStringLiteral("RegisterStatusNotifierItem"));
    call << serviceName_;
    const quint64 attempt = ++attempt_;
    auto* pending = new QDBusPendingCallWatcher(connection_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, attempt](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                if (attempt != attempt_) return;
                setRegistered(!answer->isError());
                if (!answer->isError())
                    QTimer::singleShot(kListedCheckMs, this, [this, attempt] {
                        if (attempt == attempt_) checkListed(attempt);
                    });
            });
}

void StatusNotifierItem::checkListed(quint64 attempt) {
    // GNOME's AppIndicator extension accepts a registration that comes in while it is still
    // starting (the moment its watcher's name appears, which is when we register) and then
    // drops the item with "Argument two may not be null": the call succeeded, yet nothing
    // shows. Measured on Debian 12 in two of three first enablings; a second registration
    // always took. Watchers that do not list their items are left alone.
    const QString watcherService = QString::fromLatin1(kWatcherService);
    auto ask = QDBusMessage::createMethodCall(
        watcherService, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    ask << watcherService << QStringLiteral("RegisteredStatusNotifierItems");
    auto* pending = new QDBusPendingCallWatcher(connection_.asyncCall(ask, kListedCheckMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, attempt](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *answer;
                if (attempt != attempt_ || reply.isError()) return;
                const QVariant listed = reply.value().variant();
                if (listed.metaType().id() != QMetaType::QStringList) return;
                const QString unique = connection_.baseService();
                // Hosts list the name alone or followed by the object path.
                for (const QString& entry : listed.toStringList()) {
                    const QString name = entry.section(QLatin1Char('/'), 0, 0);
                    if (name == serviceName_ || name == unique) return;
                }
                if (reRegistrations_ >= kMaxReRegistrations) return;
                ++reRegistrations_;
                registerWithWatcher();
            });
}

void StatusNotifierItem::setRegistered(bool registered) {
    if (registered_ == registered) return;
    registered_ = registered;
    emit registeredChanged(registered);
}

SniToolTip StatusNotifierItem::toolTip() const {
    // The tooltip's own text (the task's full title, the event with its time and place), first
    // line as the title: it changes with the state, never with the ticking label, so hosts are
    // not sent NewToolTip every second. The label is next to the icon, and the icon counts.
    const qsizetype feed = toolTipText_.indexOf(QLatin1Char('\n'));
    if (feed < 0) return SniToolTip{QString(), {}, toolTipText_, QString()};
    return SniToolTip{QString(), {}, toolTipText_.left(feed), toolTipText_.mid(feed + 1)};
}

QString StatusNotifierItem::labelGuide() const {
    // Hosts reserve the guide's width so that the ticking label does not jostle its neighbours.
    return QStringLiteral("🍅 25:00 · Название задачи");
}

void StatusNotifierItem::setLabel(const QString& label) {
    if (label == label_) return;
    label_ = label;
    // Hosts that show the label (GNOME's AppIndicator) take it from the signal's arguments.
    // Xfce's and Plasma's hosts show none and answer NewTitle, NewIcon and NewToolTip with a
    // GetAll of every property, pixmaps included, so the ticking label sends nothing else.
    // The Qt signal is relayed by QtDBus on its own thread, which does all of the connection's
    // I/O. Measured against the relay: a QDBusMessage handed to QDBusConnection::send took a
    // fifth fewer instructions but about one more wakeup a second, which cost more CPU time
    // than it saved; libdbus called from this thread saved both, but then toggles QtDBus's
    // socket notifiers from the wrong thread once the socket fills.
    if (shown()) emit XAyatanaNewLabel(label_, labelGuide());
}

void StatusNotifierItem::setToolTipText(const QString& text) {
    if (text == toolTipText_) return;
    toolTipText_ = text;
    if (shown()) emit NewToolTip();
}

void StatusNotifierItem::setIcons(const QList<QImage>& images) {
    SniIconList icons;
    for (const QImage& image : images) icons.push_back(sniIconFrom(image));
    const auto same = [](const SniIcon& a, const SniIcon& b) {
        return a.width == b.width && a.height == b.height && a.bytes == b.bytes;
    };
    // A repaint that draws the same pixels (a new state with the same face) is no news to hosts.
    if (std::equal(icons.begin(), icons.end(), icons_.begin(), icons_.end(), same)) return;
    icons_ = std::move(icons);
    if (shown()) emit NewIcon();
}

void StatusNotifierItem::ContextMenu(int, int) {}
void StatusNotifierItem::Activate(int, int) {}
void StatusNotifierItem::SecondaryActivate(int, int) {}
void StatusNotifierItem::Scroll(int, const QString&) {}

}  // namespace orvela::qt
