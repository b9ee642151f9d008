#include "desktop_integration.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include "app_paths.hpp"
#include "autostart.hpp"

namespace orvela::qt {

namespace {

// Our own entries and icon are a few hundred bytes; anything far larger is not ours.
constexpr qint64 kMaxFileBytes = 1 << 20;

const QString kEntryInBundle = QStringLiteral("/share/applications/orvela-timer.desktop");
const QString kIconInBundle = QStringLiteral("/share/icons/hicolor/scalable/apps/orvela-timer.svg");

// The file's bytes, at most kMaxFileBytes + 1 of them; absent when it cannot be read.
std::optional<QByteArray> readBounded(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.read(kMaxFileBytes + 1);
}

// Writes `bytes` to `path` whole (or not at all) unless it already holds exactly them.
std::optional<QString> writeIfChanged(const QString& path, const QByteArray& bytes) {
    if (readBounded(path) == bytes) return std::nullopt;
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) return QStringLiteral("cannot create ") + folder;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return path + QStringLiteral(": ") + file.errorString();
    return std::nullopt;
}

// The entry the bundle ships, with Exec (and TryExec, which hides the entry once the folder is
// deleted) pointing at this program; every other line stays as shipped.
QByteArray menuEntryFor(const QByteArray& shipped, const QString& executable) {
    QStringList out;
    bool inMainGroup = false;
    for (const QString& line : QString::fromUtf8(shipped).split(u'\n')) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(u'[')) inMainGroup = trimmed == QLatin1String("[Desktop Entry]");
        const QString key = trimmed.section(u'=', 0, 0).trimmed();
        if (inMainGroup && key == QLatin1String("TryExec")) continue;
        if (inMainGroup && key == QLatin1String("Exec")) {
            out << QStringLiteral("Exec=") + desktopExecArgument(executable)
                << QStringLiteral("TryExec=") + desktopStringValue(executable);
            continue;
        }
        out << line;
    }
    return out.join(u'\n').toUtf8();
}

}  // namespace

QString dataHome() {
    const QString fromEnvironment = qEnvironmentVariable("XDG_DATA_HOME");
    // Relative values are invalid by the base-directory rules and are ignored.
    if (!fromEnvironment.isEmpty() && QDir::isAbsolutePath(fromEnvironment)) return fromEnvironment;
    return QDir::homePath() + QStringLiteral("/.local/share");
}

std::optional<std::string> integrateWithDesktop(const QString& executable,
                                                const DesktopPlaces& places) {
    const std::optional<std::string> bundlePath = bundlePathFor(executable);
    if (!bundlePath) return std::nullopt;
    const QString bundle = QString::fromStdString(*bundlePath);
    QStringList problems;
    auto note = [&problems](const std::optional<QString>& problem) {
        if (problem) problems << *problem;
    };

    const std::optional<QByteArray> shipped = readBounded(bundle + kEntryInBundle);
    if (shipped && shipped->size() <= kMaxFileBytes)
        note(writeIfChanged(places.dataHome + QStringLiteral("/applications/orvela-timer.desktop"),
                            menuEntryFor(*shipped, executable)));
    else
        problems << bundle + kEntryInBundle + QStringLiteral(" is missing");

    const std::optional<QByteArray> icon = readBounded(bundle + kIconInBundle);
    if (icon && icon->size() <= kMaxFileBytes)
        note(writeIfChanged(
            places.dataHome + QStringLiteral("/icons/hicolor/scalable/apps/orvela-timer.svg"),
            *icon));
    else
        problems << bundle + kIconInBundle + QStringLiteral(" is missing");

    // Only an entry the user has switched on follows the bundle; a disabled one stays so.
    const Autostart autostart(places.autostartEntry, executable);
    if (autostart.status() == LoginItemStatus::Enabled &&
        readBounded(places.autostartEntry) != autostart.entryText()) {
        if (const auto problem = autostart.enable()) problems << QString::fromStdString(*problem);
    }

    if (problems.isEmpty()) return std::nullopt;
    return problems.join(QStringLiteral("; ")).toStdString();
}

}  // namespace orvela::qt
