// GNOME Shell's own extension service (org.gnome.Shell.Extensions), asked about the AppIndicator
// extension: GNOME has no tray of its own, and that extension is what gives status items a place
// in its top bar. Debian ships it switched off, so "installed but off" is the common case.
//
// Every call is asynchronous with a short timeout, and every answer is checked for type and
// range before it is believed: a broken or hostile Shell costs at most a few seconds and leaves
// the app where it was.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <optional>

namespace orvela::qt {

// What GNOME Shell says of the AppIndicator extension.
enum class AppIndicatorState {
    NoGnome,  // no GNOME Shell on the bus, or one that does not answer sensibly
    NotInstalled,
    Off,       // installed and switched off: EnableExtension brings it up
    Unusable,  // installed but in error, out of date, or on and still not showing items
};

struct AppIndicatorStatus {
    AppIndicatorState state = AppIndicatorState::NoGnome;
    QString uuid;  // the installed one, for Off and Unusable
};

class GnomeExtensions final : public QObject {
    Q_OBJECT
public:
    // Debian's package first: where both are there, the one the system installed is the one a
    // user of that system expects to see switched on.
    static constexpr const char* kDebianUuid = "ubuntu-appindicators@ubuntu.com";
    static constexpr const char* kUpstreamUuid = "appindicatorsupport@rgcjonas.gmail.com";
    static constexpr int kCallTimeoutMs = 3000;

    explicit GnomeExtensions(QDBusConnection bus, int timeoutMs = kCallTimeoutMs,
                             QObject* parent = nullptr);

    // Asks GetExtensionInfo for each known uuid and reports once both have answered.
    void queryAppIndicator(std::function<void(AppIndicatorStatus)> done);
    // The Shell does the work (and, for an install, asks the user first); `done` gets nothing
    // when the Shell says it worked, else why not (the bus's error text, cut short).
    using Done = std::function<void(std::optional<QString> failure)>;
    void enable(const QString& uuid, Done done);
    void installAppIndicator(Done done);
    // GNOME's switch for all extensions but the session's own ("disable-user-extensions"):
    // with it off, an enabled extension does not run. Nothing when the Shell does not say.
    void userExtensionsEnabled(std::function<void(std::optional<bool>)> done);
    void enableUserExtensions(Done done);

private:
    void call(const QString& method, const QString& uuid, int timeoutMs, Done done);

    QDBusConnection bus_;
    int timeoutMs_;
};

// What one GetExtensionInfo answer says: whether the extension is installed, and its state as
// GNOME numbers it (a double on the wire). Anything malformed counts as not usable data.
enum class ExtensionInfo { Unknown, NotInstalled, Off, On, Broken };
ExtensionInfo readExtensionInfo(const QVariantMap& info);

}  // namespace orvela::qt
