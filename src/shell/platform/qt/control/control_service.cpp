#include "control_service.hpp"

#include <QDBusMessage>
#include <QVariantMap>
#include <utility>

#include "control_names.hpp"

namespace orvela::qt {

ControlService::ControlService(App& app, QDBusConnection bus)
    : app_(app),
      bus_(std::move(bus)),
      watcher_(QString(), bus_, QDBusServiceWatcher::WatchForUnregistration) {
    exported_ = bus_.isConnected() && bus_.registerObject(QString::fromLatin1(kControlPath), this,
                                                          QDBusConnection::ExportAllSlots |
                                                              QDBusConnection::ExportAllProperties);
    connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this,
            &ControlService::followerLeft);
}

ControlService::~ControlService() {
    app_.statusChanged = nullptr;
    if (exported_) bus_.unregisterObject(QString::fromLatin1(kControlPath));
}

QString ControlService::title() const {
    return QString::fromStdString(app_.shownStatus.title);
}
QString ControlService::tooltip() const {
    return QString::fromStdString(app_.shownStatus.tooltip);
}
QString ControlService::phase() const {
    return QString::fromStdString(app_.shownStatus.phase);
}
qint64 ControlService::secondsLeft() const {
    return app_.shownStatus.secondsLeft;
}
int ControlService::progress() const {
    return app_.shownStatus.progress;
}

void ControlService::Pause() {
    run(TimerCommand::Pause);
}
void ControlService::Resume() {
    run(TimerCommand::Resume);
}
void ControlService::Toggle() {
    run(TimerCommand::Toggle);
}
void ControlService::Skip() {
    run(TimerCommand::Skip);
}
void ControlService::Stop() {
    run(TimerCommand::Stop);
}
void ControlService::Extend() {
    run(TimerCommand::Extend);
}
void ControlService::Refresh() {
    run(TimerCommand::Refresh);
}

void ControlService::Open() {
    app_.openPlanner();
}
void ControlService::Quit() {
    // After the answer has gone out, as the menu's item does it (on a later loop turn).
    app_.quit();
}

void ControlService::run(TimerCommand command) {
    const auto refused = app_.control(command);
    if (refused && calledFromDBus())
        sendErrorReply(QString::fromLatin1(refused->busy ? kControlBusy : kControlRefused),
                       QString::fromStdString(refused->reason));
}

void ControlService::Follow() {
    if (!calledFromDBus()) return;
    const QString name = message().service();
    if (followers_.contains(name)) return;
    if (followers_.size() >= kMostFollowers) {
        sendErrorReply(QString::fromLatin1(kControlRefused),
                       QStringLiteral("Слишком много подписчиков"));
        return;
    }
    if (followers_.isEmpty()) {
        // From here on every render that changes what is shown is compared and signalled.
        lastSignalled_ = app_.shownStatus;
        app_.statusChanged = [this] { statusChanged(); };
    }
    followers_.insert(name);
    watcher_.addWatchedService(name);
    if (followers_.size() == 1) emit followingChanged(true);
}

void ControlService::followerLeft(const QString& name) {
    watcher_.removeWatchedService(name);
    if (!followers_.remove(name) || !followers_.isEmpty()) return;
    app_.statusChanged = nullptr;
    emit followingChanged(false);
}

void ControlService::statusChanged() {
    const StatusReport& now = app_.shownStatus;
    QVariantMap changed;
    if (now.title != lastSignalled_.title) changed[QStringLiteral("Title")] = title();
    if (now.tooltip != lastSignalled_.tooltip) changed[QStringLiteral("Tooltip")] = tooltip();
    if (now.phase != lastSignalled_.phase) changed[QStringLiteral("Phase")] = phase();
    if (now.secondsLeft != lastSignalled_.secondsLeft)
        changed[QStringLiteral("SecondsLeft")] = secondsLeft();
    if (now.progress != lastSignalled_.progress) changed[QStringLiteral("Progress")] = progress();
    lastSignalled_ = now;
    if (changed.isEmpty()) return;
    auto signal = QDBusMessage::createSignal(QString::fromLatin1(kControlPath),
                                             QStringLiteral("org.freedesktop.DBus.Properties"),
                                             QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kControlInterface) << changed << QStringList();
    bus_.send(signal);
}

QString ControlService::LaunchedAgain(const QStringList& arguments) {
    QStringList kept = arguments.mid(0, kMostArguments);
    for (QString& argument : kept) argument.truncate(kLongestArgument);
    emit launchedAgain(kept);
    return whereabouts_ ? whereabouts_() : QString();
}

}  // namespace orvela::qt
