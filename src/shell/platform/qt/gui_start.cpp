#include "gui_start.hpp"

#include <QByteArray>
#include <QList>
#include <QMessageLogContext>
#include <QRegularExpression>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace orvela::qt {

namespace {

struct Held {
    QtMsgType type;
    QString category;
    QString text;
};

// What Qt said while the application was being built. One thread: the constructor runs on it.
QList<Held>* held = nullptr;
QtMessageHandler previous = nullptr;

QString oneLine(const QString& text) {
    return text.simplified();
}

// Qt gives up on the platform plugin with qFatal, which aborts once the handler returns, so the
// handler does not return: it says what happened and leaves with status 1. _Exit runs no
// destructors: the half-built application could not survive them.
void duringStart(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        held->append({type, QString::fromUtf8(context.category ? context.category : ""), text});
        return;
    }
    // The plugin's own warning ("could not connect to display :1") names the cause best; the
    // fatal message that follows only says that no plugin could be started.
    QStringList reasons;
    for (const Held& message : *held)
        if (message.category.startsWith(QStringLiteral("qt.qpa"))) reasons << oneLine(message.text);
    if (reasons.isEmpty()) reasons << oneLine(text.section(QLatin1Char('\n'), 0, 0));
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        reasons << QStringLiteral("DISPLAY and WAYLAND_DISPLAY are not set");
    const QByteArray line = noDisplayMessage(reasons.join(QStringLiteral("; "))).toUtf8();
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
    std::_Exit(1);
}

}  // namespace

QString noDisplayMessage(const QString& reason) {
    return QStringLiteral(
               "ORVELA Timer не запустился: нет доступа к экрану графического сеанса. "
               "Причина: ") +
           reason;
}

std::unique_ptr<QApplication> startApplicationOrExit(int& argc, char** argv) {
    QList<Held> messages;
    held = &messages;
    previous = qInstallMessageHandler(duringStart);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    held = nullptr;
    // The application is up: what Qt said on the way goes out as it would have.
    for (const Held& message : std::as_const(messages)) {
        const QByteArray category = message.category.toUtf8();
        const QMessageLogContext context(nullptr, 0, nullptr, category.constData());
        qt_message_output(message.type, context, message.text);
    }
    return application;
}

}  // namespace orvela::qt
