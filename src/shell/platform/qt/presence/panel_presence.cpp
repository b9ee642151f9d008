#include "panel_presence.hpp"

#include <xcb/xcb.h>

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <memory>

#include "panel/status_notifier_item.hpp"
#include "panel/xapp_status_icon.hpp"

namespace orvela::qt {

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
    watcherUp_ = up;
    placeChanged(up);
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
    if (watcherUp_ || followed_ || !appletNames_.isEmpty() || (xembedTray_ && xembedTray_())) {
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
