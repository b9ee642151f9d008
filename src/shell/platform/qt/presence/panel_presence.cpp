#include "panel_presence.hpp"

#include <xcb/xcb.h>

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <memory>
#include <utility>

#include "panel/status_notifier_item.hpp"
#include "panel/xapp_status_icon.hpp"

namespace orvela::qt {

namespace {
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kHostProperty = QStringLiteral("IsStatusNotifierHostRegistered");
const QString kAyatanaService = QStringLiteral("org.ayatana.indicator.application");
}  // namespace

bool xembedTrayPresent() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || xcb_connection_has_error(connection)) return false;
    // Two round trips to the X server per screen; asked only while no place is known.
    const int screens = xcb_setup_roots_length(xcb_get_setup(connection));
    for (int screen = 0; screen < screens && screen < 16; ++screen) {
        const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen);
        const auto atomCookie =
            xcb_intern_atom(connection, 1, static_cast<uint16_t>(name.size()), name.constData());
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> atom(
            xcb_intern_atom_reply(connection, atomCookie, nullptr), &free);
        // only_if_exists: no atom means no tray has ever claimed it on this display.
        if (!atom || atom->atom == XCB_ATOM_NONE) continue;
        std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&free)> owner(
            xcb_get_selection_owner_reply(connection,
                                          xcb_get_selection_owner(connection, atom->atom), nullptr),
            &free);
        if (owner && owner->owner != XCB_WINDOW_NONE) return true;
    }
    return false;
}

PanelPresence::PanelPresence(QDBusConnection bus, std::function<bool()> xembedTray, Timing timing,
                             QObject* parent)
    : QObject(parent), bus_(std::move(bus)), xembedTray_(std::move(xembedTray)), timing_(timing) {
    grace_.setSingleShot(true);
    grace_.setInterval(timing_.graceMs);
    connect(&grace_, &QTimer::timeout, this, &PanelPresence::check);
    poll_.setInterval(timing_.pollMs);
    connect(&poll_, &QTimer::timeout, this, &PanelPresence::check);
}

void PanelPresence::start() {
    grace_.start();
    if (!bus_.isConnected()) return;
    const QString watcherService = QString::fromLatin1(StatusNotifierItem::kWatcherService);
    watcher_ = new QDBusServiceWatcher(watcherService, bus_,
                                       QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                ownerChangeSeen_ = true;
                watcherChanged(!newOwner.isEmpty());
            });
    // A watcher whose items nobody shows (Cinnamon's bridge without an applet, a watcher left
    // by a panel that went) is no place until it says that a host came.
    bus_.connect(watcherService, kWatcherPath, watcherService,
                 QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(onHostRegistered()));
    bus_.connect(watcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                 QStringLiteral("PropertiesChanged"), this,
                 SLOT(onWatcherPropertiesChanged(QString, QVariantMap, QStringList)));
    auto ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << watcherService;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(ask), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<bool> reply = *call;
                if (!ownerChangeSeen_ && !reply.isError() && reply.value()) watcherChanged(true);
            });
    // XApp applets: their names as they come and go, and those already there.
    const QString monitors = QString::fromLatin1(XAppStatusIcon::kMonitorPrefix);
    // Qt takes "x*" for the names in the namespace x (x itself and x.…).
    applets_ = new QDBusServiceWatcher(monitors.chopped(1) + u'*', bus_,
                                       QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(applets_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this, monitors](const QString& name, const QString&, const QString& newOwner) {
                if (name.startsWith(monitors)) appletChanged(name, !newOwner.isEmpty());
            });
    auto* names = new QDBusPendingCallWatcher(
        bus_.asyncCall(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames"))),
        this);
    connect(names, &QDBusPendingCallWatcher::finished, this,
            [this, monitors](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<QStringList> reply = *call;
                if (reply.isError()) return;
                for (const QString& name : reply.value())
                    if (name.startsWith(monitors)) appletChanged(name, true);
            });
}

void PanelPresence::appletChanged(const QString& name, bool up) {
    if (!up)
        appletNames_.remove(name);
    else if (appletNames_.size() < 16)
        appletNames_.insert(name);
    placeChanged(!appletNames_.isEmpty());
}

void PanelPresence::watcherChanged(bool up) {
    ++probe_;
    probing_ = probeAgain_ = ayatana_ = false;
    trayUsable_ = true;
    watcherPresent_ = up;
    watcherUp_ = false;
    if (up) {
        probeHost();  // a place once it answers
    } else {
        emit watcherHostChanged(true);
        placeChanged(false);
    }
}

void PanelPresence::probeHost() {
    // One question at a time, however often a watcher signals: a signal meanwhile asks again
    // once the answer is in.
    if (probing_) {
        probeAgain_ = true;
        return;
    }
    probing_ = true;
    auto ask = QDBusMessage::createMethodCall(
        QString::fromLatin1(StatusNotifierItem::kWatcherService), kWatcherPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    ask << QString::fromLatin1(StatusNotifierItem::kWatcherService) << kHostProperty;
    const quint64 probe = probe_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(ask, kHostProbeMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, probe](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (probe != probe_) return;
                probing_ = false;
                const QDBusPendingReply<QDBusVariant> reply = *call;
                const QVariant value = reply.isError() ? QVariant() : reply.value().variant();
                // Watchers that do not have the property (or answer nonsense, or too late)
                // may well have a host: taken as one.
                if (value.metaType() == QMetaType::fromType<bool>() && !value.toBool())
                    hostAnswer(false, true);
                else
                    checkAyatana(probe);
                if (std::exchange(probeAgain_, false)) probeHost();
            });
}

void PanelPresence::ask(const QDBusMessage& message, quint64 probe,
                        std::function<void(const QDBusMessage&)> answer) {
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(message, kHostProbeMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, probe, answer = std::move(answer)](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (probe == probe_) answer(call->reply());
            });
}

void PanelPresence::checkAyatana(quint64 probe) {
    // Ayatana's indicator service takes the watcher's name where it starts before the panel,
    // says a host is registered whatever runs, and shows its items only through an indicator
    // applet, which leaves no name of its own on the bus: that applet follows the service's
    // signals, so the bus's table of match rules tells whether one runs. Wherever something
    // is not as expected (another watcher, no such table), a host is taken to be there.
    const auto pidOf = [](const QString& name) {
        auto call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"));
        return call << name;
    };
    const auto pid = [](const QDBusMessage& reply) {
        return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toUInt()
                                                          : 0u;
    };
    ask(pidOf(QString::fromLatin1(StatusNotifierItem::kWatcherService)), probe,
        [=, this](const QDBusMessage& watcher) {
            ask(pidOf(kAyatanaService), probe, [=, this](const QDBusMessage& service) {
                ayatana_ = pid(watcher) != 0 && pid(watcher) == pid(service);
                if (!ayatana_) return hostAnswer(true, true);
                ask(QDBusMessage::createMethodCall(
                        QStringLiteral("org.freedesktop.DBus"),
                        QStringLiteral("/org/freedesktop/DBus"),
                        QStringLiteral("org.freedesktop.DBus.Debug.Stats"),
                        QStringLiteral("GetAllMatchRules")),
                    probe, [this](const QDBusMessage& rules) {
                        hostAnswer(ayatanaFollowed(rules), false);
                    });
            });
        });
}

bool PanelPresence::ayatanaFollowed(const QDBusMessage& rules) const {
    if (rules.type() != QDBusMessage::ReplyMessage || rules.signature() != QLatin1String("a{sas}"))
        return true;
    const QDBusArgument map = rules.arguments().value(0).value<QDBusArgument>();
    const QString self = bus_.baseService();
    // Bounded however many connections the session has: a long table says nothing then. The
    // map is always closed again, which frees what reading it opened.
    bool followed = false;
    int entries = 0;
    map.beginMap();
    while (!followed && !map.atEnd()) {
        if (++entries > 4096) {
            followed = true;
            break;
        }
        QString connection;
        QStringList matches;
        map.beginMapEntry();
        map >> connection >> matches;
        map.endMapEntry();
        if (connection == self) continue;
        for (const QString& match : std::as_const(matches))
            if (match.contains(kAyatanaService)) followed = true;
    }
    map.endMap();
    return followed;
}

void PanelPresence::onHostRegistered() {
    if (watcherPresent_) probeHost();
}

void PanelPresence::onWatcherPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                               const QStringList&) {
    const QVariant value = changed.value(kHostProperty);
    if (!watcherPresent_ || interface != QLatin1String(StatusNotifierItem::kWatcherService) ||
        value.metaType() != QMetaType::fromType<bool>())
        return;
    ++probe_;  // newer than any answer on its way
    probing_ = probeAgain_ = false;
    hostAnswer(value.toBool(), true);
}

void PanelPresence::hostAnswer(bool shown, bool trayTakesOver) {
    watcherUp_ = shown;
    // Qt's tray icon is a StatusNotifierItem of its own wherever the watcher says it has a
    // host, and an XEmbed icon only where it says it has none: only then is the tray a place.
    trayUsable_ = shown || trayTakesOver;
    emit watcherHostChanged(shown || !trayTakesOver);
    placeChanged(shown);
}

void PanelPresence::setFollowed(bool followed) {
    followed_ = followed;
    placeChanged(followed);
}

void PanelPresence::placeChanged(bool up) {
    if (up) {
        setState(State::Present);
    } else if (!watcherUp_ && !followed_ && appletNames_.isEmpty() && !grace_.isActive() &&
               state_ == State::Present) {
        // A panel restarting comes back within the grace period; only a lasting absence counts.
        setState(State::Checking);
        grace_.start();
    }
}

void PanelPresence::check() {
    // An applet of Ayatana's service gives no sign when it starts: looked for at each check.
    if (ayatana_ && watcherPresent_ && !watcherUp_) checkAyatana(probe_);
    if (watcherUp_ || followed_ || !appletNames_.isEmpty() ||
        (trayUsable_ && xembedTray_ && xembedTray_())) {
        setState(State::Present);
    } else {
        setState(State::Missing);
    }
}

void PanelPresence::setState(State state) {
    const State before = state_;
    state_ = state;
    if (state == State::Present) {
        // Nothing runs from here on until the watcher goes away.
        grace_.stop();
        poll_.stop();
        if (before == State::Missing) emit found();
    } else if (state == State::Missing) {
        if (!poll_.isActive()) poll_.start();
        if (before != State::Missing) emit missing();
    }
}

}  // namespace orvela::qt
