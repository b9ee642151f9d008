#include "command_line.hpp"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <utility>

#include <poll.h>
#include <unistd.h>

#include "control_names.hpp"

namespace orvela::qt {

namespace {

const QStringList kCommands = {"pause",  "resume",  "toggle", "skip", "stop",
                               "extend", "refresh", "open",   "quit", "status"};
// How long a call may take: the app answers at once, a hung one is given up on.
constexpr int kCallTimeoutMs = 5000;
// How often a follower looks whether anyone still reads it.
constexpr int kFollowerCheckMs = 1000;

// False when the line could not be written whole: a reader gone (EPIPE, with SIGPIPE ignored
// as under sway, which its children inherit) or a full disk.
bool printLine(std::FILE* stream, const QByteArray& line) {
    const auto size = static_cast<std::size_t>(line.size());
    const bool written =
        std::fwrite(line.constData(), 1, size, stream) == size && std::fputc('\n', stream) != EOF;
    return std::fflush(stream) == 0 && written && !std::ferror(stream);
}

// Whether the pipe or socket behind standard output has lost its reader; a pipe's writing end
// polls as an error once no reader is left. A terminal or a file never does.
bool outputLost() {
    pollfd output{STDOUT_FILENO, 0, 0};
    return ::poll(&output, 1, 0) == 1 && (output.revents & (POLLERR | POLLHUP | POLLNVAL));
}

// Text for a Pango markup field (waybar reads a custom module's text and tooltip as markup):
// the five markup characters as entities, and control characters other than line breaks and
// tabs, which markup cannot hold, as spaces.
QString markupEscaped(const QString& text, bool oneLine) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
            case '&':
                out += QLatin1String("&amp;");
                break;
            case '<':
                out += QLatin1String("&lt;");
                break;
            case '>':
                out += QLatin1String("&gt;");
                break;
            case '"':
                out += QLatin1String("&quot;");
                break;
            case '\'':
                out += QLatin1String("&#39;");
                break;
            case '\n':
            case '\t':
                out += oneLine ? QChar(u' ') : c;
                break;
            default:
                out += c.category() == QChar::Other_Control ? QChar(u' ') : c;
        }
    }
    return out;
}

QDBusMessage callApp(QDBusConnection& bus, const QString& interface, const QString& method,
                     const QVariantList& arguments = {}) {
    auto call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kControlService), QString::fromLatin1(kControlPath), interface, method);
    call.setArguments(arguments);
    // Never start anything: a bus that could activate the name must not.
    call.setAutoStartService(false);
    return bus.call(call, QDBus::Block, kCallTimeoutMs);
}

QDBusMessage getAll(QDBusConnection& bus) {
    return callApp(bus, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"),
                   {QString::fromLatin1(kControlInterface)});
}

// GetAll's a{sv}: a raw call's answer carries it still marshalled.
QVariantMap propertiesIn(const QDBusMessage& reply) {
    return qdbus_cast<QVariantMap>(reply.arguments().value(0));
}

// An error that means nobody answers under the name (it went away between the calls).
bool gone(const QDBusMessage& reply) {
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
           name == QLatin1String("org.freedesktop.DBus.Error.UnknownObject");
}

int failed(const QDBusMessage& reply) {
    if (gone(reply)) {
        printLine(stderr, QByteArrayLiteral("ORVELA Timer не запущен"));
        return kExitNotRunning;
    }
    // Our own refusals say why in Russian; what the bus says for the rest is the toolkit's.
    const QString name = reply.errorName();
    QString why = reply.errorMessage();
    if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
        name == QLatin1String("org.freedesktop.DBus.Error.Timeout"))
        why = QStringLiteral("ORVELA Timer не отвечает");
    else if (name != QLatin1String(kControlRefused) && name != QLatin1String(kControlBusy))
        why = QStringLiteral("ORVELA Timer не выполнил команду: ") + why;
    printLine(stderr, why.toUtf8());
    return kExitRefused;
}

// `status --follow`: a line now and one at every change, until the app leaves the bus or nobody
// reads the lines any more. A bar that ends leaves its followers behind with the pipe (other
// orphans may still hold its reading end, so writes need not fail): a follower also ends when
// its parent does.
class Follower : public QObject {
    Q_OBJECT

public:
    Follower(QDBusConnection bus, bool json) : bus_(std::move(bus)), json_(json) {}

    // Subscribes, then reads: a change between the two is printed twice, never lost.
    int start(QVariantMap properties) {
        properties_ = std::move(properties);
        const pid_t parent = ::getppid();
        QObject::connect(&check_, &QTimer::timeout, this, [this, parent] {
            // Started by the first process (or a reaper) already: no parent to outlive.
            const bool orphaned = parent != 1 && ::getppid() != parent;
            if (orphaned || outputLost()) QCoreApplication::exit(kExitRefused);
        });
        check_.start(kFollowerCheckMs);
        // A bar keeps showing the last line it read: the last one is empty (in JSON, an empty
        // text), which hides the module instead of leaving a countdown frozen on the bar.
        QObject::connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
            printLine(stdout,
                      statusLine({{QStringLiteral("Phase"), QStringLiteral("idle")}}, json_));
            QCoreApplication::exit(kExitDone);
        });
        watcher_.setConnection(bus_);
        watcher_.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        watcher_.addWatchedService(QString::fromLatin1(kControlService));
        bus_.connect(QString::fromLatin1(kControlService), QString::fromLatin1(kControlPath),
                     QStringLiteral("org.freedesktop.DBus.Properties"),
                     QStringLiteral("PropertiesChanged"), this,
                     SLOT(changed(QString, QVariantMap, QStringList)));
        const QDBusMessage follow =
            callApp(bus_, QString::fromLatin1(kControlInterface), QStringLiteral("Follow"));
        if (follow.type() == QDBusMessage::ErrorMessage) return failed(follow);
        const QDBusMessage all = getAll(bus_);
        if (all.type() == QDBusMessage::ErrorMessage) return failed(all);
        changed(QString::fromLatin1(kControlInterface), propertiesIn(all), {});
        if (lost_) return kExitRefused;
        // The app may have gone between the check and the subscription.
        if (!bus_.interface()->isServiceRegistered(QString::fromLatin1(kControlService)))
            return kExitDone;
        return QCoreApplication::exec();
    }

public slots:
    void changed(const QString& interface, const QVariantMap& values, const QStringList&) {
        if (interface != QLatin1String(kControlInterface)) return;
        for (auto it = values.begin(); it != values.end(); ++it) properties_[it.key()] = it.value();
        const QByteArray line = statusLine(properties_, json_);
        if (line == last_ || lost_) return;
        last_ = line;
        if (printLine(stdout, line)) return;
        lost_ = true;
        QCoreApplication::exit(kExitRefused);
    }

private:
    QDBusConnection bus_;
    bool json_;
    QDBusServiceWatcher watcher_;
    QVariantMap properties_;
    QByteArray last_;
    QTimer check_;
    bool lost_ = false;  // a line could not be written
};

// `quit`: done once the app has left the bus, so that a launch right after it starts afresh.
// An app quitting may go before its answer does; gone is what was asked for.
int quitApp(QDBusConnection& bus) {
    const QString service = QString::fromLatin1(kControlService);
    const QDBusMessage reply =
        callApp(bus, QString::fromLatin1(kControlInterface), QStringLiteral("Quit"));
    const auto running = [&] { return bus.interface()->isServiceRegistered(service).value(); };
    if (reply.type() == QDBusMessage::ErrorMessage && running()) return failed(reply);
    for (int waited = 0; waited < kCallTimeoutMs && running(); waited += 50) QThread::msleep(50);
    if (!running()) return kExitDone;
    printLine(stderr, QByteArrayLiteral("ORVELA Timer не отвечает"));
    return kExitRefused;
}

int runCommand(const Invocation& invocation) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() ||
        !bus.interface()->isServiceRegistered(QString::fromLatin1(kControlService))) {
        printLine(stderr, QByteArrayLiteral("ORVELA Timer не запущен"));
        return kExitNotRunning;
    }
    if (invocation.command == QLatin1String("quit")) return quitApp(bus);
    if (invocation.command != QLatin1String("status")) {
        QString method = invocation.command;
        method[0] = method[0].toUpper();
        const QDBusMessage reply = callApp(bus, QString::fromLatin1(kControlInterface), method);
        return reply.type() == QDBusMessage::ErrorMessage ? failed(reply) : kExitDone;
    }
    const QDBusMessage all = getAll(bus);
    if (all.type() == QDBusMessage::ErrorMessage) return failed(all);
    const QVariantMap properties = propertiesIn(all);
    if (!invocation.follow) {
        printLine(stdout, statusLine(properties, invocation.json));
        return kExitDone;
    }
    Follower follower(bus, invocation.json);
    return follower.start(properties);
}

}  // namespace

Invocation parseInvocation(const QStringList& arguments) {
    qsizetype i = 0;
    while (i + 1 < arguments.size() && arguments[i] == QLatin1String("-OrvelaURL")) i += 2;
    Invocation invocation;
    if (i >= arguments.size()) return invocation;
    const QString& word = arguments[i];
    if (word == QLatin1String("--help") || word == QLatin1String("-h")) {
        invocation.kind = Invocation::Kind::Help;
        return invocation;
    }
    if (word.startsWith(u'-')) return invocation;
    invocation.kind = Invocation::Kind::Usage;
    if (!kCommands.contains(word)) {
        invocation.problem = QStringLiteral("неизвестная команда «%1»").arg(word);
        return invocation;
    }
    for (const QString& option : arguments.mid(i + 1)) {
        const bool status = word == QLatin1String("status");
        if (status && option == QLatin1String("--json")) {
            invocation.json = true;
        } else if (status && option == QLatin1String("--follow")) {
            invocation.follow = true;
        } else {
            invocation.problem = QStringLiteral("лишний аргумент «%1»").arg(option);
            return invocation;
        }
    }
    invocation.kind = Invocation::Kind::Command;
    invocation.command = word;
    return invocation;
}

QString helpText() {
    return QStringLiteral(
        "Использование: orvela-timer [-OrvelaURL АДРЕС] [КОМАНДА]\n"
        "\n"
        "Без команды запускает ORVELA Timer. Если он уже запущен, второй запуск\n"
        "ничего не открывает и завершается.\n"
        "\n"
        "Команды для запущенного приложения (те же, что в его меню):\n"
        "  pause             поставить таймер на паузу\n"
        "  resume            продолжить таймер после паузы\n"
        "  toggle            пауза или продолжение\n"
        "  skip              перейти к отдыху или к работе\n"
        "  stop              остановить таймер\n"
        "  extend            +45 минут, когда время задачи вышло\n"
        "  refresh           сейчас же обновить таймер и расписание\n"
        "  open              открыть планер\n"
        "  quit              выйти из приложения\n"
        "  status            показать строку из панели\n"
        "    --json          одним объектом JSON для waybar: text, tooltip (разметка Pango),\n"
        "                    class и alt (фаза), percentage\n"
        "    --follow        печатать строку при каждом изменении, пока приложение работает\n"
        "                    и строки кто-то читает\n"
        "  --help            эта справка\n"
        "\n"
        "Коды выхода: 0 — выполнено; 1 — команда сейчас недоступна (причина в stderr);\n"
        "2 — неверные аргументы; 3 — ORVELA Timer не запущен.\n");
}

QByteArray statusLine(const QVariantMap& properties, bool json) {
    const QString title = properties.value(QStringLiteral("Title")).toString();
    if (!json) {
        // One status, one line: a task title from the service may hold line breaks or other
        // control characters, which would split it or steer a terminal.
        QString line = title;
        for (QChar& c : line)
            if (c.category() == QChar::Other_Control) c = u' ';
        return line.toUtf8();
    }
    const QString phase = properties.value(QStringLiteral("Phase")).toString();
    const QJsonObject object{
        {QStringLiteral("text"), markupEscaped(title, true)},
        {QStringLiteral("tooltip"),
         markupEscaped(properties.value(QStringLiteral("Tooltip")).toString(), false)},
        {QStringLiteral("class"), phase},
        {QStringLiteral("alt"), phase},
        {QStringLiteral("percentage"), properties.value(QStringLiteral("Progress")).toInt()},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

int runCommandLine(const Invocation& invocation, int& argc, char** argv) {
    switch (invocation.kind) {
        case Invocation::Kind::Help:
            std::fputs(helpText().toUtf8().constData(), stdout);
            return kExitDone;
        case Invocation::Kind::Usage:
            printLine(stderr, ("orvela-timer: " + invocation.problem +
                               QStringLiteral("\nСправка: orvela-timer --help"))
                                  .toUtf8());
            return kExitUsage;
        case Invocation::Kind::Launch:
            return kExitUsage;
        case Invocation::Kind::Command:
            break;
    }
    // Standard error is for our own lines, which scripts and bars read: the toolkit's notes
    // (QtDBus talks while the connection winds down) are not the user's business here.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QCoreApplication application(argc, argv);
    return runCommand(invocation);
}

}  // namespace orvela::qt

#include "command_line.moc"
