#include "autostart.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include "app_paths.hpp"

namespace orvela::qt {

QString desktopStringValue(const QString& text) {
    QString value;
    for (QChar c : text) {
        if (c == u'\\')
            value += QStringLiteral("\\\\");
        else if (c == u'\n')
            value += QStringLiteral("\\n");
        else if (c == u'\t')
            value += QStringLiteral("\\t");
        else if (c == u'\r')
            value += QStringLiteral("\\r");
        else
            value += c;
    }
    return value;
}

QString desktopExecArgument(const QString& argument) {
    // Inside a quoted argument, ", `, $ and \ take a backslash ...
    QString quoted = QStringLiteral("\"");
    for (QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';
    // ... a literal percent sign is doubled so it is no field code ...
    quoted.replace(u'%', QStringLiteral("%%"));
    // ... and the whole value is then a desktop-entry string, whose own escapes come on top.
    return desktopStringValue(quoted);
}

QString sessionWithoutAutostart(const QString& currentDesktop) {
    static const QStringList kWithoutAutostart = {"sway", "Hyprland", "river", "dwl", "niri", "i3"};
    const QStringList names = currentDesktop.split(u':', Qt::SkipEmptyParts);
    for (const QString& name : names) {
        for (const QString& known : kWithoutAutostart)
            if (name.compare(known, Qt::CaseInsensitive) == 0) return known;
    }
    return {};
}

QString sessionStartAdvice(const QString& session, const QString& executable) {
    const QString program = executable.contains(u' ') ? u'"' + executable + u'"' : executable;
    QString line = QStringLiteral("exec ") + program;
    if (session == QLatin1String("Hyprland")) line = QStringLiteral("exec-once = ") + program;
    if (session == QLatin1String("river")) line = QStringLiteral("riverctl spawn ") + program;
    if (session == QLatin1String("niri"))
        line = QStringLiteral("spawn-at-startup \"%1\"").arg(executable);
    if (session == QLatin1String("dwl"))
        return QStringLiteral(
                   "%1 не запускает программы из автозапуска: запускайте %2 при "
                   "входе из своего файла запуска сеанса")
            .arg(session, program);
    return QStringLiteral(
               "%1 не запускает программы из автозапуска: добавьте в его "
               "настройки строку «%2»")
        .arg(session, line);
}

Autostart::Autostart(QString entryPath, QString executable, const QString& currentDesktop)
    : entryPath_(std::move(entryPath)),
      executable_(std::move(executable)),
      sessionWithoutAutostart_(sessionWithoutAutostart(currentDesktop)) {}

QString Autostart::userEntryPath() {
    return configHome() + QStringLiteral("/autostart/orvela-timer.desktop");
}

LoginItemStatus Autostart::status() const {
    // An entry this session never reads launches nothing.
    if (!sessionWithoutAutostart_.isEmpty()) return LoginItemStatus::NotFound;
    QFile file(entryPath_);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return LoginItemStatus::NotRegistered;
    // The session skips an entry marked Hidden (how a user "deletes" a system-wide one), and
    // GNOME's settings switch it off with X-GNOME-Autostart-enabled=false.
    bool inMainGroup = false;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(u'[')) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup) continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0) continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Hidden") && value == QLatin1String("true"))
            return LoginItemStatus::NotRegistered;
        if (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false"))
            return LoginItemStatus::NotRegistered;
    }
    return LoginItemStatus::Enabled;
}

QByteArray Autostart::entryText() const {
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Version=1.5\n"
               "Name=ORVELA Timer\n"
               "Exec=%1\n"
               "Terminal=false\n"
               "X-GNOME-Autostart-enabled=true\n")
        .arg(desktopExecArgument(executable_))
        .toUtf8();
}

std::optional<std::string> Autostart::enable() const {
    if (!sessionWithoutAutostart_.isEmpty())
        return sessionStartAdvice(sessionWithoutAutostart_, executable_).toStdString();
    const QString folder = QFileInfo(entryPath_).absolutePath();
    if (!QDir().mkpath(folder)) return (QStringLiteral("Cannot create ") + folder).toStdString();
    // Written whole or not at all: a half-written entry would start nothing, or worse.
    QSaveFile file(entryPath_);
    const QByteArray text = entryText();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return file.errorString().toStdString();
    if (!file.commit()) return file.errorString().toStdString();
    return std::nullopt;
}

std::optional<std::string> Autostart::disable() const {
    QFile file(entryPath_);
    if (!file.exists()) return std::nullopt;
    if (!file.remove()) return file.errorString().toStdString();
    return std::nullopt;
}

}  // namespace orvela::qt
