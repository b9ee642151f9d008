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
#include <cstdio>
#include <utility>

#include "control_names.hpp"

namespace orvela::qt {

namespace {

const QStringList kCommands = {"pause", "resume", "toggle",  "skip",
                               "stop",  "extend", "refresh", "status"};
// How long a call may take: the app answers at once, a hung one is given up on.
constexpr int kCallTimeoutMs = 5000;

void printLine(std::FILE* stream, const QByteArray& line) {
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
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

// `status --follow`: a line now and one at every change, until the app leaves the bus.
class Follower : public QObject {
    Q_OBJECT

public:
    Follower(QDBusConnection bus, bool json) : bus_(std::move(bus)), json_(json) {}

    // Subscribes, then reads: a change between the two is printed twice, never lost.
    int start(QVariantMap properties) {
        properties_ = std::move(properties);
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
        if (line == last_) return;
        last_ = line;
        printLine(stdout, line);
    }

private:
    QDBusConnection bus_;
    bool json_;
    QDBusServiceWatcher watcher_;
    QVariantMap properties_;
    QByteArray last_;
};

int runCommand(const Invocation& invocation) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() ||
        !bus.interface()->isServiceRegistered(QString::fromLatin1(kControlService))) {
        printLine(stderr, QByteArrayLiteral("ORVELA Timer не запущен"));
        return kExitNotRunning;
    }
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
        "  status            показать строку из панели\n"
        "    --json          одним объектом JSON для waybar: text, tooltip, class, percentage\n"
        "    --follow        печатать строку при каждом изменении, пока приложение работает\n"
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
    const QJsonObject object{
        {QStringLiteral("text"), title},
        {QStringLiteral("tooltip"), properties.value(QStringLiteral("Tooltip")).toString()},
        {QStringLiteral("class"), properties.value(QStringLiteral("Phase")).toString()},
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
