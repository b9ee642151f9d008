#include "app_paths.hpp"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUrl>
#include <QVariant>

namespace orvela::qt {

QString configHome() {
    const QString fromEnvironment = qEnvironmentVariable("XDG_CONFIG_HOME");
    // Relative values are invalid by the base-directory rules and are ignored.
    if (!fromEnvironment.isEmpty() && QDir::isAbsolutePath(fromEnvironment)) return fromEnvironment;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString settingsFile() {
    return configHome() + QStringLiteral("/orvela/orvela-timer.conf");
}

std::optional<std::string> userDefaultFrom(const QString& key, const QStringList& arguments,
                                           const QString& iniFile) {
    const QString flag = u'-' + key;
    // arguments[0] is the program itself.
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == flag) return arguments[i + 1].toStdString();
    }
    if (!QFileInfo::exists(iniFile)) return std::nullopt;
    const QSettings settings(iniFile, QSettings::IniFormat);
    const QVariant value = settings.value(key);
    if (!value.isValid()) return std::nullopt;
    // The INI reader splits an unquoted value at commas; put such a value back together.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u',').toStdString();
    return value.toString().toStdString();
}

std::optional<std::string> bundlePathFor(const QString& executable) {
    const QFileInfo bin(QFileInfo(executable).absolutePath());
    const QFileInfo bundle(bin.absolutePath());
    if (bundle.fileName() != QLatin1String("ORVELA Timer.app")) return std::nullopt;
    return bundle.absoluteFilePath().toStdString();
}

QString notificationIconFor(const QString& executable, const QStringList& dataDirs) {
    if (const std::optional<std::string> bundle = bundlePathFor(executable)) {
        const QString icon = QString::fromStdString(*bundle) +
                             QStringLiteral("/share/icons/hicolor/scalable/apps/orvela-timer.svg");
        // Encoded as GLib encodes paths: the bundle's name has a space.
        if (QFileInfo(icon).isFile()) return QUrl::fromLocalFile(icon).toString(QUrl::FullyEncoded);
    }
    for (const QString& dir : dataDirs.mid(0, 32)) {
        const QDir hicolor(dir + QStringLiteral("/icons/hicolor"));
        // A theme has a few dozen size folders; more than this is not a theme.
        for (const QString& size : hicolor.entryList(QDir::Dirs | QDir::NoDotAndDotDot).mid(0, 64))
            for (const char* file : {"/apps/orvela-timer.svg", "/apps/orvela-timer.png"})
                if (QFileInfo(hicolor.filePath(size) + QLatin1String(file)).isFile())
                    return QStringLiteral("orvela-timer");
    }
    return {};
}

QString notificationIcon() {
    static const QString icon =
        notificationIconFor(QCoreApplication::applicationFilePath(),
                            QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation));
    return icon;
}

bool makePrivateDirectory(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) return false;
    struct stat info {};
    // lstat: a symbolic link planted here could point anywhere; only a real directory will do.
    if (::lstat(native.constData(), &info) != 0) return false;
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) return false;
    if ((info.st_mode & 07777) != 0700 && ::chmod(native.constData(), 0700) != 0) return false;
    return true;
}

QString privateTemporaryDirectory() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        struct stat info {};
        if (::stat(QFile::encodeName(runtime).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
            info.st_uid == ::getuid() && (info.st_mode & 077) == 0)
            return runtime;
    }
    const QString own = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                        QStringLiteral("/orvela-timer");
    // On failure the path is still returned: whatever is then written there fails with the
    // system's own error, which the callers report.
    if (!makePrivateDirectory(own))
        qWarning("orvela-timer: %s is not a private directory", qPrintable(own));
    return own;
}

QString prettyHostnameFrom(const QString& machineInfo) {
    for (const QString& rawLine : machineInfo.split(u'\n')) {
        const QString line = rawLine.trimmed();
        if (!line.startsWith(QLatin1String("PRETTY_HOSTNAME="))) continue;
        const QString value = line.mid(qsizetype(sizeof("PRETTY_HOSTNAME=") - 1));
        if (value.isEmpty()) return {};
        // Shell-style quoting, as hostnamectl writes it.
        const QChar quote = value.front();
        if (quote != u'"' && quote != u'\'') return value;
        QString result;
        for (qsizetype i = 1; i < value.size(); ++i) {
            const QChar c = value[i];
            if (c == quote) break;
            if (quote == u'"' && c == u'\\' && i + 1 < value.size()) {
                result += value[++i];
                continue;
            }
            result += c;
        }
        return result;
    }
    return {};
}

std::optional<std::string> computerNameFrom(const QString& machineInfoFile) {
    QFile file(machineInfoFile);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        const QString pretty = prettyHostnameFrom(QString::fromUtf8(file.readAll()));
        if (!pretty.isEmpty()) return pretty.toStdString();
    }
    const QString host = QSysInfo::machineHostName();
    if (!host.isEmpty()) return host.toStdString();
    return std::nullopt;
}

}  // namespace orvela::qt
