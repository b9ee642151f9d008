#include "no_place_notice.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>

#include "panel_presence.hpp"

namespace orvela::qt {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr int kCallTimeoutMs = 3000;
// Stays until withdrawn or dismissed: it is about something that lasts.
constexpr int kNeverExpires = 0;

const QString kLead = QStringLiteral(
    "Таймер запущен, но на панели нет места для значков приложений, поэтому его не видно.");
const QString kGnomeLead =
    QStringLiteral(" В GNOME значки на панели показывает расширение AppIndicator");
const QString kAppears = QStringLiteral(" Таймер появится сам, перезапускать его не нужно.");

void writeToStderr(const QString& line) {
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
}
}  // namespace

NoPlaceMessage noPlaceMessage(const AppIndicatorStatus& status, bool serverHasActions) {
    switch (status.state) {
        case AppIndicatorState::Off:
            if (serverHasActions)
                return {kLead + kGnomeLead +
                            QStringLiteral(": оно установлено, но выключено. Нажмите "
                                           "«Включить AppIndicator».") +
                            kAppears,
                        QStringLiteral("Включить AppIndicator")};
            return {kLead + kGnomeLead +
                        QStringLiteral(": оно установлено, но выключено. Включите его командой "
                                       "gnome-extensions enable ") +
                        status.uuid + QLatin1Char('.') + kAppears,
                    {}};
        case AppIndicatorState::NotInstalled:
            if (serverHasActions)
                return {kLead + kGnomeLead +
                            QStringLiteral(", а оно не установлено. Нажмите «Установить "
                                           "AppIndicator» и подтвердите установку.") +
                            kAppears,
                        QStringLiteral("Установить AppIndicator")};
            return {kLead + kGnomeLead +
                        QStringLiteral(", а оно не установлено. Установите пакет "
                                       "gnome-shell-extension-appindicator и включите "
                                       "расширение: gnome-extensions enable "
                                       "ubuntu-appindicators@ubuntu.com.") +
                        kAppears,
                    {}};
        case AppIndicatorState::Unusable:
            return {kLead + kGnomeLead + QStringLiteral(" (") + status.uuid +
                        QStringLiteral("), но сейчас оно не работает. Выключите и снова "
                                       "включите его в приложении «Расширения» или обновите "
                                       "его.") +
                        kAppears,
                    {}};
        case AppIndicatorState::NoGnome:
            break;
    }
    return {kLead +
                QStringLiteral(" Добавьте на панель область уведомлений (системный трей) или "
                               "включите в ней значки приложений (StatusNotifierItem).") +
                kAppears,
            {}};
}

NoPlaceNotice::NoPlaceNotice(QDBusConnection bus, PanelPresence* presence, GnomeExtensions* gnome,
                             std::function<void(const QString&)> errorLine, QObject* parent)
    : QObject(parent),
      bus_(std::move(bus)),
      presence_(presence),
      gnome_(gnome),
      errorLine_(errorLine ? std::move(errorLine) : writeToStderr) {
    connect(presence_, &PanelPresence::missing, this, [this] {
        if (!told_) show();
    });
    connect(presence_, &PanelPresence::found, this, &NoPlaceNotice::withdraw);
    if (!bus_.isConnected()) return;
    // Signals from whoever owns the server's name, and of the right signature only; the ids
    // are checked against ours, so other apps' notifications never trigger anything here.
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(onNotificationClosed(uint, uint)));
}

void NoPlaceNotice::secondLaunch() {
    if (presence_->state() == PanelPresence::State::Missing) show();
}

void NoPlaceNotice::show() {
    told_ = true;
    const quint64 generation = ++generation_;
    gnome_->queryAppIndicator([this, generation](AppIndicatorStatus status) {
        if (generation != generation_) return;
        status_ = status;
        if (!bus_.isConnected()) {
            post(noPlaceMessage(status_, false));
            return;
        }
        auto ask = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                  QStringLiteral("GetCapabilities"));
        auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(ask, kCallTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, generation](QDBusPendingCallWatcher* watcher) {
                    watcher->deleteLater();
                    if (generation != generation_) return;
                    const QDBusPendingReply<QStringList> reply = *watcher;
                    const bool actions =
                        !reply.isError() && reply.value().contains(QStringLiteral("actions"));
                    post(noPlaceMessage(status_, actions));
                });
    });
}

void NoPlaceNotice::post(const NoPlaceMessage& message) {
    errorLine_(QStringLiteral("orvela-timer: ") + QString::fromUtf8(kSummary) +
               QStringLiteral(". ") + message.body);
    if (!bus_.isConnected()) return;
    QStringList actions;
    offered_ = !message.actionLabel.isEmpty();
    if (offered_) actions << QString::fromLatin1(kActionKey) << message.actionLabel;
    auto call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << QStringLiteral("ORVELA Timer") << id_ << QString() << QString::fromUtf8(kSummary)
         << message.body << actions << QVariantMap() << kNeverExpires;
    const quint64 withdrawals = withdrawals_;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, withdrawals](QDBusPendingCallWatcher* watcher) {
                watcher->deleteLater();
                const QDBusPendingReply<uint> reply = *watcher;
                if (reply.isError() || reply.value() == 0) return;
                id_ = reply.value();
                // The item found its place while the notice was on its way.
                if (withdrawals != withdrawals_) withdraw();
            });
}

void NoPlaceNotice::withdraw() {
    ++generation_;
    ++withdrawals_;
    if (id_ == 0 || !bus_.isConnected()) return;
    auto call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                               QStringLiteral("CloseNotification"));
    call << id_;
    id_ = 0;
    // Nothing to learn from the answer: a notice the user already dismissed is gone anyway.
    bus_.asyncCall(call, kCallTimeoutMs);
}

void NoPlaceNotice::onActionInvoked(uint id, const QString& key) {
    if (!offered_ || id == 0 || id != id_ || key != QLatin1String(kActionKey)) return;
    runAction();
}

void NoPlaceNotice::onNotificationClosed(uint id, uint) {
    if (id != 0 && id == id_) id_ = 0;
}

void NoPlaceNotice::runAction() {
    auto failed = [this](const QString& why) {
        errorLine_(QStringLiteral("orvela-timer: расширение AppIndicator не включилось: ") + why);
    };
    if (status_.state == AppIndicatorState::Off)
        gnome_->enable(status_.uuid, failed);
    else if (status_.state == AppIndicatorState::NotInstalled)
        gnome_->installAppIndicator(failed);
}

}  // namespace orvela::qt
