#include "gnome_extensions.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <cmath>
#include <memory>

namespace orvela::qt {

namespace {
const QString kService = QStringLiteral("org.gnome.Shell");
const QString kPath = QStringLiteral("/org/gnome/Shell");
const QString kInterface = QStringLiteral("org.gnome.Shell.Extensions");
// Installing waits for the user to answer GNOME's own dialog; the answer only tells us about
// a failure, so a long wait costs nothing but a pending call.
constexpr int kInstallTimeoutMs = 120000;

// GNOME's numbering of extension states (ENABLED 1, DISABLED 2, ERROR 3, OUT_OF_DATE 4,
// DOWNLOADING 5, INITIALIZED 6, DISABLING 7, ENABLING 8, UNINSTALLED 99). INITIALIZED is what
// an installed but never enabled extension reports.
ExtensionInfo fromState(double state) {
    if (!std::isfinite(state) || state < 0 || state > 1000) return ExtensionInfo::Unknown;
    switch (static_cast<int>(state)) {
        case 1:
        case 8:
            return ExtensionInfo::On;
        case 2:
        case 6:
        case 7:
            return ExtensionInfo::Off;
        case 3:
        case 4:
            return ExtensionInfo::Broken;
        case 5:
        case 99:
            return ExtensionInfo::NotInstalled;
        default:
            return ExtensionInfo::Unknown;
    }
}

AppIndicatorStatus combine(const QList<std::pair<QString, ExtensionInfo>>& answers) {
    // Prefer what can be fixed with one call, then what is there but cannot, in uuid order.
    for (const auto& [uuid, info] : answers)
        if (info == ExtensionInfo::Off) return {AppIndicatorState::Off, uuid};
    for (const auto& [uuid, info] : answers)
        if (info == ExtensionInfo::On || info == ExtensionInfo::Broken)
            return {AppIndicatorState::Unusable, uuid};
    bool anyNotInstalled = false;
    for (const auto& answer : answers)
        anyNotInstalled |= answer.second == ExtensionInfo::NotInstalled;
    // A Shell that answered nothing sensible for any uuid is treated as no Shell at all.
    return {anyNotInstalled ? AppIndicatorState::NotInstalled : AppIndicatorState::NoGnome, {}};
}
}  // namespace

ExtensionInfo readExtensionInfo(const QVariantMap& info) {
    // An unknown uuid is an empty map; a known one carries at least its state.
    if (info.isEmpty()) return ExtensionInfo::NotInstalled;
    const QVariant state = info.value(QStringLiteral("state"));
    bool ok = false;
    const double value = state.toDouble(&ok);
    const bool numeric = state.metaType().id() == QMetaType::Double ||
                         state.metaType().id() == QMetaType::Int ||
                         state.metaType().id() == QMetaType::UInt;
    if (!ok || !numeric) return ExtensionInfo::Unknown;
    return fromState(value);
}

GnomeExtensions::GnomeExtensions(QDBusConnection bus, int timeoutMs, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), timeoutMs_(timeoutMs) {}

void GnomeExtensions::queryAppIndicator(std::function<void(AppIndicatorStatus)> done) {
    const QStringList uuids{QString::fromLatin1(kDebianUuid), QString::fromLatin1(kUpstreamUuid)};
    struct Pending {
        QList<std::pair<QString, ExtensionInfo>> answers;
        int outstanding = 0;
        std::function<void(AppIndicatorStatus)> done;
    };
    auto pending = std::make_shared<Pending>();
    pending->done = std::move(done);
    for (const QString& uuid : uuids) pending->answers.push_back({uuid, ExtensionInfo::Unknown});
    pending->outstanding = static_cast<int>(uuids.size());
    if (!bus_.isConnected()) {
        pending->done({});
        return;
    }
    for (int i = 0; i < uuids.size(); ++i) {
        auto message = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                      QStringLiteral("GetExtensionInfo"));
        message.setAutoStartService(false);
        message << uuids[i];
        auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, timeoutMs_), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [pending, i](QDBusPendingCallWatcher* watcher) {
                    watcher->deleteLater();
                    // A reply of another signature is an error here, and stays Unknown.
                    const QDBusPendingReply<QVariantMap> reply = *watcher;
                    if (!reply.isError())
                        pending->answers[i].second = readExtensionInfo(reply.value());
                    if (--pending->outstanding == 0) pending->done(combine(pending->answers));
                });
    }
}

void GnomeExtensions::enable(const QString& uuid, Done done) {
    call(QStringLiteral("EnableExtension"), uuid, timeoutMs_, std::move(done));
}

void GnomeExtensions::installAppIndicator(Done done) {
    call(QStringLiteral("InstallRemoteExtension"), QString::fromLatin1(kUpstreamUuid),
         kInstallTimeoutMs, std::move(done));
}

void GnomeExtensions::call(const QString& method, const QString& uuid, int timeoutMs, Done done) {
    if (!bus_.isConnected()) {
        done(QStringLiteral("нет сеансовой шины D-Bus"));
        return;
    }
    auto message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message.setAutoStartService(false);
    message << uuid;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [done = std::move(done)](QDBusPendingCallWatcher* watcher) {
                watcher->deleteLater();
                if (watcher->isError()) {
                    done(watcher->error().message().left(200));
                    return;
                }
                // EnableExtension answers whether it worked; InstallRemoteExtension answers
                // "successful", or "cancelled" when the user declined GNOME's dialog.
                const QVariant verdict = watcher->reply().arguments().value(0);
                if (verdict.metaType().id() == QMetaType::Bool && !verdict.toBool())
                    done(QStringLiteral("GNOME Shell не включил расширение"));
                else if (verdict.metaType().id() == QMetaType::QString &&
                         verdict.toString() != QLatin1String("successful"))
                    done(QStringLiteral("установка не состоялась: ") + verdict.toString().left(40));
                else
                    done(std::nullopt);
            });
}

void GnomeExtensions::userExtensionsEnabled(std::function<void(std::optional<bool>)> done) {
    if (!bus_.isConnected()) {
        done(std::nullopt);
        return;
    }
    auto message = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    message.setAutoStartService(false);
    message << kInterface << QStringLiteral("UserExtensionsEnabled");
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, timeoutMs_), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [done = std::move(done)](QDBusPendingCallWatcher* watcher) {
                watcher->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *watcher;
                const QVariant value = reply.isError() ? QVariant() : reply.value().variant();
                if (value.metaType().id() == QMetaType::Bool)
                    done(value.toBool());
                else
                    done(std::nullopt);
            });
}

void GnomeExtensions::enableUserExtensions(Done done) {
    if (!bus_.isConnected()) {
        done(QStringLiteral("нет сеансовой шины D-Bus"));
        return;
    }
    auto message = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    message.setAutoStartService(false);
    message << kInterface << QStringLiteral("UserExtensionsEnabled")
            << QVariant::fromValue(QDBusVariant(true));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, timeoutMs_), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [done = std::move(done)](QDBusPendingCallWatcher* watcher) {
                watcher->deleteLater();
                if (watcher->isError())
                    done(watcher->error().message().left(200));
                else
                    done(std::nullopt);
            });
}

}  // namespace orvela::qt
