// control/: one app per session and driving it from outside (bus name, org.orvela.Timer1, the
// command line). Uses the core's App and its commands; nothing else of the adapter.
//
// The running app's control interface on the session bus ("org.orvela.Timer1" at
// "/org/orvela/Timer" under the name single_instance.hpp takes): the menu's timer commands as
// methods, the status title and its kin as read-only properties.
//
// The title changes every second while a timer runs, so changes are signalled
// (org.freedesktop.DBus.Properties.PropertiesChanged) only while some client follows: Follow()
// registers the caller's unique name, and the registration ends when that name leaves the bus.
// Without a follower the app does not even look at what changed. A follower is also a place
// where the user sees the app (a bar's module), told as followingChanged.
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

#include "shell/app.hpp"

namespace orvela::qt {

class ControlService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.orvela.Timer1")
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Tooltip READ tooltip)
    Q_PROPERTY(QString Phase READ phase)
    Q_PROPERTY(qint64 SecondsLeft READ secondsLeft)
    Q_PROPERTY(int Progress READ progress)

public:
    // More followers than this are refused: each costs a watch on the bus.
    static constexpr int kMostFollowers = 32;
    // A second launch's command line is kept to this many arguments of this many characters.
    static constexpr int kMostArguments = 64;
    static constexpr int kLongestArgument = 4096;

    // Exports the object on `bus` (whose name the caller has taken). `app` outlives this object.
    ControlService(App& app, QDBusConnection bus);
    ~ControlService() override;
    ControlService(const ControlService&) = delete;
    ControlService& operator=(const ControlService&) = delete;

    bool exported() const { return exported_; }
    qsizetype followerCount() const { return followers_.size(); }
    // What LaunchedAgain answers, asked after launchedAgain was emitted: kOnPanel, kNoPlace, or
    // empty while the app does not know yet.
    static constexpr const char* kOnPanel = "panel";
    static constexpr const char* kNoPlace = "no-place";
    void setWhereabouts(std::function<QString()> whereabouts) {
        whereabouts_ = std::move(whereabouts);
    }

    QString title() const;
    QString tooltip() const;
    QString phase() const;
    qint64 secondsLeft() const;
    int progress() const;

public slots:
    // The menu's commands. A command the menu would not offer now fails with kControlRefused;
    // an action while another action's answer is awaited fails with kControlBusy.
    void Pause();
    void Resume();
    void Toggle();
    void Skip();
    void Stop();
    void Extend();
    void Refresh();
    // The menu's "Открыть планер" and "Выйти", for bars that show no menu.
    void Open();
    void Quit();
    // Property changes are signalled while the caller stays on the bus.
    void Follow();
    // A second launch handing over its command line (nothing, for a plain launch); answers
    // where the user finds the app (see setWhereabouts).
    QString LaunchedAgain(const QStringList& arguments);

signals:
    // Not exported: for the app's own parts that answer a second launch.
    void launchedAgain(const QStringList& arguments);
    // Not exported: the first follower came or the last one left. A bar that follows shows
    // the app, so it counts as a place for it.
    void followingChanged(bool following);

private:
    void run(TimerCommand command);
    void followerLeft(const QString& name);
    void statusChanged();

    App& app_;
    QDBusConnection bus_;
    bool exported_ = false;
    QDBusServiceWatcher watcher_;
    QSet<QString> followers_;
    StatusReport lastSignalled_;
    std::function<QString()> whereabouts_;
};

}  // namespace orvela::qt
