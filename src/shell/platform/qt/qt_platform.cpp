#include "qt_platform.hpp"

#include <syslog.h>

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QUrl>
#include <QWidget>
#include <chrono>
#include <climits>
#include <cmath>

#include "app_paths.hpp"
#include "desktop/activation_token.hpp"
#include "desktop/alerts.hpp"
#include "desktop/autostart.hpp"
#include "desktop/desktop_integration.hpp"
#include "desktop/desktop_notifications.hpp"
#include "desktop/processes.hpp"
#include "desktop/wake_watcher.hpp"
#include "net/qt_http.hpp"
#include "net/tls_trust.hpp"
#include "panel/status_item.hpp"
#include "panel/status_notifier_item.hpp"
#include "presence/gnome_extensions.hpp"
#include "presence/no_place_notice.hpp"
#include "presence/panel_presence.hpp"

namespace orvela::qt {

namespace {

// Seconds from the core as a Qt timer interval: NaN and negatives are "now"; anything beyond
// Qt's int milliseconds (about 24.8 days) waits that long instead.
std::chrono::milliseconds timerInterval(double seconds) {
    if (!(seconds > 0)) return std::chrono::milliseconds(0);
    const double ms = std::round(seconds * 1000.0);
    if (ms >= static_cast<double>(INT_MAX)) return std::chrono::milliseconds(INT_MAX);
    return std::chrono::milliseconds(static_cast<int>(ms));
}

}  // namespace

QtPlatform::QtPlatform()
    : http_(std::make_unique<HttpClient>()),
      notifications_(std::make_unique<DesktopNotifications>(QDBusConnection::sessionBus())),
      sounds_(std::make_unique<EventSounds>()),
      wake_(std::make_unique<WakeWatcher>([this] { return wallClockMs() / 1000.0; },
                                          [this] { return monotonicSeconds(); })),
      tokens_(std::make_unique<ActivationTokens>([this] { return monotonicSeconds(); },
                                                 completeStartup)) {
    trustAuthoritiesFromEnvironment();
    // An installed bundle keeps its menu entry, icon and login entry pointing at itself; a
    // failure is worth one log line and never stops the app.
    const DesktopPlaces places{dataHome(), Autostart::userEntryPath()};
    if (const auto problem = integrateWithDesktop(QCoreApplication::applicationFilePath(), places))
        systemLog("desktop integration: " + *problem);
}

QtPlatform::~QtPlatform() = default;

double QtPlatform::wallClockMs() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double, std::milli>(now).count();
}

double QtPlatform::monotonicSeconds() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count();
}

void QtPlatform::startRepeatingTimer(double intervalSeconds, std::function<void()> callback) {
    auto timer = std::make_unique<QTimer>();
    // Precise: the countdown shows whole seconds, and a coarse timer's 5 % slack would let
    // a second be skipped now and then. QMenu runs a nested loop, so it keeps firing there.
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(timerInterval(intervalSeconds));
    // The wake watcher compares the clocks on this wakeup instead of on one of its own.
    QObject::connect(timer.get(), &QTimer::timeout, &context_,
                     [this, callback = std::move(callback)] {
                         callback();
                         wake_->checkClocks();
                     });
    timer->start();
    repeating_.push_back(std::move(timer));
}

void QtPlatform::runAfter(double delaySeconds, std::function<void()> callback) {
    QTimer::singleShot(timerInterval(delaySeconds), Qt::PreciseTimer, &context_,
                       std::move(callback));
}

void QtPlatform::send(const HttpRequest& request, std::function<void(HttpResponse)> done) {
    http_->send(request, std::move(done));
}

void QtPlatform::download(const HttpRequest& request, std::function<void(DownloadResult)> done) {
    http_->download(request, QString::fromStdString(temporaryDirectory()), std::move(done));
}

StatusItem* QtPlatform::createStatusItem() {
    if (!statusItem_) {
        statusItem_ = std::make_unique<QtStatusItem>(nullptr, privateTemporaryDirectory());
        const QDBusConnection bus = QDBusConnection::sessionBus();
        presence_ =
            std::make_unique<PanelPresence>(bus, xembedTrayPresent, PanelPresence::Timing{});
        gnome_ = std::make_unique<GnomeExtensions>(bus);
        noPlace_ = std::make_unique<NoPlaceNotice>(bus, presence_.get(), gnome_.get());
        // A watcher that says no host shows its items: the tray takes over, as without one.
        QObject::connect(presence_.get(), &PanelPresence::watcherHostChanged,
                         statusItem_->notifierItem(), &StatusNotifierItem::setHostShown);
        // One timer however often a peer calls: a click whose action opened nothing has its
        // startup ended once the token's life is over.
        auto* expiry = new QTimer(&context_);
        expiry->setSingleShot(true);
        expiry->setInterval(timerInterval(ActivationTokens::kLifetimeSeconds + 0.1));
        QObject::connect(expiry, &QTimer::timeout, &context_, [this] { tokens_->expire(); });
        if (StatusNotifierItem* sni = statusItem_->notifierItem())
            QObject::connect(sni, &StatusNotifierItem::activationTokenProvided, &context_,
                             [this, expiry](const QByteArray& token) {
                                 tokens_->provide(std::string_view(token.constData(),
                                                                   std::size_t(token.size())));
                                 expiry->start();
                             });
        presence_->start();
    }
    return statusItem_.get();
}

void QtPlatform::activateApp() {
    // The app has no window of its own, and each alert raises and activates itself as it opens
    // (runAlert); what there is to bring to the front is an alert already open, with the
    // activation of the click that asked for it.
    QWidget* open = QApplication::activeModalWidget();
    if (!open) return;
    const std::optional<std::string> token = tokens_->take();
    const ActivationEnvironment activation(token);
    open->raise();
    open->activateWindow();
    if (token) completeStartup(*token);
}

AlertAnswer QtPlatform::runAlert(const Alert& alert) {
    // Only an alert the click opened may use the click's activation.
    const bool clicked = !alert.unrequested && !alert.withoutFocus;
    return runMessageBox(alert, clicked ? tokens_->take() : std::nullopt);
}

std::optional<std::string> QtPlatform::clipboardText() {
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty()) return std::nullopt;
    return text.toStdString();
}

void QtPlatform::requestNotificationAuthorisation() {
    // A freedesktop notification server asks nobody: posting is always allowed, and the user
    // silences apps in the server's own settings. Learning the server's capabilities now
    // spares the first notification the wait.
    notifications_->probe();
}

void QtPlatform::postNotification(const Notification& notification) {
    notifications_->post(notification);
}

void QtPlatform::playSound(const std::string& name) {
    sounds_->play(name);
}

void QtPlatform::openUrl(const std::string& url) {
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme().isEmpty()) return;
    // The opener (xdg-open, or a handler) starts inside this call and inherits the token.
    const ActivationEnvironment activation(tokens_->take());
    QDesktopServices::openUrl(parsed);
}

void QtPlatform::setWakeHandler(std::function<void()> handler) {
    wake_->setHandler(std::move(handler));
    wake_->listenToLogind(QDBusConnection::systemBus());
}

std::optional<std::string> QtPlatform::computerName() {
    return computerNameFrom(QStringLiteral("/etc/machine-info"));
}

LoginItemStatus QtPlatform::loginItemStatus() {
    return Autostart(Autostart::userEntryPath(), QCoreApplication::applicationFilePath()).status();
}

std::optional<std::string> QtPlatform::registerLoginItem() {
    const auto problem =
        Autostart(Autostart::userEntryPath(), QCoreApplication::applicationFilePath()).enable();
    // Where the session reads no autostart entries the switch cannot work: the user is told
    // which line of the session's own configuration does it, not only the log.
    if (problem && !sessionWithoutAutostart(qEnvironmentVariable("XDG_CURRENT_DESKTOP")).isEmpty())
        postNotification({"login-item", "Запуск при входе в систему", *problem, std::nullopt});
    return problem;
}

std::optional<std::string> QtPlatform::unregisterLoginItem() {
    return Autostart(Autostart::userEntryPath(), QCoreApplication::applicationFilePath()).disable();
}

std::optional<std::string> QtPlatform::userDefault(const std::string& key) {
    return userDefaultFrom(QString::fromStdString(key), QCoreApplication::arguments(),
                           settingsFile());
}

std::optional<std::string> QtPlatform::bundleInfo(const std::string& key) {
    if (key == "CFBundleShortVersionString") return std::string(ORVELA_VERSION);
    if (key == "CFBundleVersion") return std::string(ORVELA_BUILD);
    if (key == "OrvelaReleasePublicKey" && *ORVELA_RELEASE_PUBLIC_KEY)
        return std::string(ORVELA_RELEASE_PUBLIC_KEY);
    return std::nullopt;
}

std::optional<std::string> QtPlatform::bundlePath() {
    return bundlePathFor(QCoreApplication::applicationFilePath());
}

std::int64_t QtPlatform::processId() {
    return QCoreApplication::applicationPid();
}

std::string QtPlatform::temporaryDirectory() {
    return privateTemporaryDirectory().toStdString();
}

std::string QtPlatform::homeDirectory() {
    return QDir::homePath().toStdString();
}

std::map<std::string, std::string> QtPlatform::processEnvironment() {
    return qt::processEnvironment();
}

ProcessResult QtPlatform::runAndWait(const std::string& path,
                                     const std::vector<std::string>& arguments) {
    return qt::runAndWait(path, arguments);
}

std::optional<std::string> QtPlatform::launchDetached(
    const std::string& path, const std::vector<std::string>& arguments,
    const std::map<std::string, std::string>& environment) {
    return qt::launchDetached(path, arguments, environment);
}

void QtPlatform::systemLog(const std::string& line) {
    static const bool opened = [] {
        openlog("orvela-timer", LOG_PID, LOG_USER);
        return true;
    }();
    (void)opened;
    syslog(LOG_NOTICE, "%s", line.c_str());
}

void QtPlatform::terminate() {
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

}  // namespace orvela::qt
