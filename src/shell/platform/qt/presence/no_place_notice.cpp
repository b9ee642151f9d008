#include "no_place_notice.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <cstdio>

#include "app_paths.hpp"
#include "panel_presence.hpp"

namespace orvela::qt {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr int kCallTimeoutMs = 3000;
constexpr int kQuitTimeoutMs = 300;
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

// Short enough for GNOME's banner, which shows about six lines of the body: what to do comes
// right after what happened.
QString fixFailureMessage(FixFailure failure, const QString& uuid) {
    const QString byHand = QStringLiteral(
        "Установите пакет gnome-shell-extension-appindicator и выполните gnome-extensions enable "
        "ubuntu-appindicators@ubuntu.com; если значок не появится, войдите в сеанс заново.");
    switch (failure) {
        case FixFailure::InstallFailed:
            return QStringLiteral(
                       "GNOME не смог установить расширение AppIndicator с "
                       "extensions.gnome.org. ") +
                   byHand;
        case FixFailure::InstallCancelled:
            return QStringLiteral("Установка расширения AppIndicator отменена. ") + byHand;
        case FixFailure::NoEffect:
            return QStringLiteral(
                       "Расширение AppIndicator включено, но значок не появился. "
                       "Выключите и снова включите его в приложении «Расширения» или "
                       "выполните gnome-extensions enable ") +
                   (uuid.isEmpty() ? QString::fromLatin1(GnomeExtensions::kDebianUuid) : uuid) +
                   QStringLiteral("; если не поможет, войдите в сеанс заново.");
        case FixFailure::UserExtensionsOff:
            break;
    }
    return QStringLiteral(
        "В GNOME выключены все расширения, и включить их не получилось. "
        "Включите их переключателем в приложении «Расширения» или командой "
        "gsettings set org.gnome.shell disable-user-extensions false.");
}

NoPlaceNotice::NoPlaceNotice(QDBusConnection bus, PanelPresence* presence, GnomeExtensions* gnome,
                             std::function<void(const QString&)> errorLine, int settleMs,
                             QObject* parent)
    : QObject(parent),
      bus_(std::move(bus)),
      presence_(presence),
      gnome_(gnome),
      errorLine_(errorLine ? std::move(errorLine) : writeToStderr),
      settleMs_(settleMs) {
    // Each loss of the place brings the notice; each place found withdraws it.
    connect(presence_, &PanelPresence::missing, this, &NoPlaceNotice::show);
    connect(presence_, &PanelPresence::found, this, &NoPlaceNotice::withdraw);
    if (!bus_.isConnected()) return;
    // Signals from whoever owns the server's name, and of the right signature only; the ids
    // are checked against ours, so other apps' notifications never trigger anything here.
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(onNotificationClosed(uint, uint)));
}

NoPlaceNotice::~NoPlaceNotice() {
    if (id_ == 0 || !bus_.isConnected()) return;
    auto call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                               QStringLiteral("CloseNotification"));
    call << id_;
    // Waited for, briefly: a message only queued may never leave a process that is ending.
    bus_.call(call, QDBus::Block, kQuitTimeoutMs);
}

std::optional<bool> NoPlaceNotice::secondLaunch() {
    switch (presence_->state()) {
        case PanelPresence::State::Present:
            return true;
        case PanelPresence::State::Missing:
            show();
            return false;
        case PanelPresence::State::Checking:
            break;
    }
    return std::nullopt;
}

void NoPlaceNotice::show() {
    const quint64 generation = ++generation_;
    gnome_->queryAppIndicator([this, generation](AppIndicatorStatus status) {
        if (generation != generation_) return;
        status_ = status;
        if (!bus_.isConnected()) {
            post(QString::fromUtf8(kSummary), noPlaceMessage(status_, false));
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
                    serverHasActions_ =
                        !reply.isError() && reply.value().contains(QStringLiteral("actions"));
                    post(QString::fromUtf8(kSummary), noPlaceMessage(status_, serverHasActions_));
                });
    });
}

void NoPlaceNotice::post(const QString& summary, const NoPlaceMessage& message,
                         const QString& detail) {
    errorLine_(QStringLiteral("orvela-timer: ") + summary + QStringLiteral(". ") + message.body +
               (detail.isEmpty() ? QString() : QStringLiteral(" (") + detail + u')'));
    if (!bus_.isConnected()) return;
    QStringList actions;
    const bool offered = !message.actionLabel.isEmpty();
    // A click on the body does what the button does.
    if (offered)
        actions << QStringLiteral("default") << message.actionLabel
                << QString::fromLatin1(kActionKey) << message.actionLabel;
    QVariantMap hints{{QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopEntryName)}};
    // Critical stays on screen, with its buttons, until acted on; a server without buttons
    // keeps it by the expiry below.
    if (serverHasActions_) hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(2)));
    auto call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << QStringLiteral("ORVELA Timer") << id_ << notificationIcon() << summary << message.body
         << actions << hints << kNeverExpires;
    const quint64 withdrawals = withdrawals_;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, withdrawals, offered](QDBusPendingCallWatcher* watcher) {
                watcher->deleteLater();
                const QDBusPendingReply<uint> reply = *watcher;
                if (reply.isError() || reply.value() == 0) return;
                id_ = reply.value();
                offeredId_ = offered ? id_ : 0;
                // The item found its place while the notice was on its way.
                if (withdrawals != withdrawals_) withdraw();
            });
}

void NoPlaceNotice::withdraw() {
    ++generation_;
    ++withdrawals_;
    ++fixRun_;
    fixing_ = false;
    offeredId_ = 0;
    if (id_ == 0 || !bus_.isConnected()) return;
    auto call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                               QStringLiteral("CloseNotification"));
    call << id_;
    id_ = 0;
    // Nothing to learn from the answer: a notice the user already dismissed is gone anyway.
    bus_.asyncCall(call, kCallTimeoutMs);
}

void NoPlaceNotice::onActionInvoked(uint id, const QString& key) {
    if (id == 0 || id != offeredId_) return;
    if (key == QLatin1String(kActionKey) || key == QLatin1String("default")) runAction();
}

void NoPlaceNotice::onNotificationClosed(uint id, uint) {
    if (id != 0 && id == id_) id_ = 0;
}

void NoPlaceNotice::runAction() {
    const bool fixable =
        status_.state == AppIndicatorState::Off || status_.state == AppIndicatorState::NotInstalled;
    // One fix at a time: a second click while GNOME works (or asks) changes nothing.
    if (!fixable || fixing_) return;
    fixing_ = true;
    const quint64 run = ++fixRun_;
    // The user asked for the extension: where GNOME's extensions are all off, they go on first,
    // or the extension would be enabled and still not run.
    gnome_->userExtensionsEnabled([this, run](std::optional<bool> enabled) {
        if (run != fixRun_) return;
        if (enabled != false) {
            applyFix(run);
            return;
        }
        gnome_->enableUserExtensions([this, run](std::optional<QString> failure) {
            if (run != fixRun_) return;
            if (failure)
                followUp(run, FixFailure::UserExtensionsOff, {}, *failure);
            else
                applyFix(run);
        });
    });
}

void NoPlaceNotice::applyFix(quint64 run) {
    if (status_.state == AppIndicatorState::Off) {
        const QString uuid = status_.uuid;
        gnome_->enable(uuid, [this, run, uuid](std::optional<QString> failure) {
            if (run != fixRun_) return;
            if (failure)
                followUp(run, FixFailure::NoEffect, uuid, *failure);
            else
                QTimer::singleShot(settleMs_, this, [this, run, uuid] { settled(run, uuid); });
        });
        return;
    }
    gnome_->installAppIndicator([this, run](std::optional<QString> failure) {
        if (run != fixRun_) return;
        const QString uuid = QString::fromLatin1(GnomeExtensions::kUpstreamUuid);
        if (!failure) {
            QTimer::singleShot(settleMs_, this, [this, run, uuid] { settled(run, uuid); });
            return;
        }
        const bool cancelled = failure->contains(QLatin1String("cancelled"));
        followUp(run, cancelled ? FixFailure::InstallCancelled : FixFailure::InstallFailed, {},
                 *failure);
    });
}

void NoPlaceNotice::settled(quint64 run, const QString& uuid) {
    // A place that came meanwhile withdrew the notice and ended this fix.
    if (run != fixRun_) return;
    // Still nothing: GNOME's extensions may have been switched off again, or never went on.
    gnome_->userExtensionsEnabled([this, run, uuid](std::optional<bool> enabled) {
        if (run != fixRun_) return;
        if (enabled == false)
            followUp(run, FixFailure::UserExtensionsOff, uuid, QStringLiteral("still off"));
        else
            followUp(run, FixFailure::NoEffect, uuid, QStringLiteral("no place after enabling"));
    });
}

void NoPlaceNotice::followUp(quint64 run, FixFailure failure, const QString& uuid,
                             const QString& why) {
    if (run != fixRun_) return;
    fixing_ = false;
    ++generation_;  // a notice still on its way is replaced by this one
    // The Shell's words go to the terminal only, and never as control characters.
    QString detail = why.left(200);
    for (QChar& c : detail)
        if (c.category() == QChar::Other_Control) c = u' ';
    post(QString::fromUtf8(kFollowUpSummary), {fixFailureMessage(failure, uuid), {}}, detail);
}

}  // namespace orvela::qt
