#include "gui_start.hpp"

#include <systemd/sd-bus.h>
#include <QByteArray>
#include <QList>
#include <QMessageLogContext>
#include <QRegularExpression>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "app_paths.hpp"

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

// How long each bus call of the notice may take: the process is on its way out.
constexpr std::uint64_t kNoticeCallMicroseconds = 2'000'000;

// Notification bodies may be read as markup.
QByteArray markupEscaped(const QString& text) {
    return text.toHtmlEscaped().toUtf8();
}

// One notification, sent with sd-bus: Qt's own bus cannot start without its application, which
// is what failed. Nothing is started for it: a server not on the bus now is not asked for.
void notifyNoDisplay(const QString& body) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) return;
    sd_bus_set_method_call_timeout(bus, kNoticeCallMicroseconds);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int owned = 0;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s",
                           "org.freedesktop.Notifications") >= 0)
        sd_bus_message_read(reply, "b", &owned);
    reply = sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    sd_bus_message* call = nullptr;
    if (owned && sd_bus_message_new_method_call(bus, &call, "org.freedesktop.Notifications",
                                                "/org/freedesktop/Notifications",
                                                "org.freedesktop.Notifications", "Notify") >= 0) {
        const QByteArray text = markupEscaped(body);
        // Critical: the app is not there to say it again, so the notice stays until read.
        if (sd_bus_message_append(call, "susssasa{sv}i", "ORVELA Timer", 0u, "orvela-timer",
                                  "ORVELA Timer не запустился", text.constData(), 0, 2,
                                  "desktop-entry", "s", kDesktopEntryName, "urgency", "y",
                                  std::uint8_t(2), std::int32_t(-1)) >= 0)
            sd_bus_call(bus, call, kNoticeCallMicroseconds, &error, &reply);
    }
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
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
    // Asked for, the plugin loader's account goes first, as Qt would have printed it.
    if (!qEnvironmentVariableIsEmpty("QT_DEBUG_PLUGINS")) {
        for (const Held& message : std::as_const(*held))
            std::fprintf(stderr, "%s\n", message.text.toLocal8Bit().constData());
    }
    const QString reason = reasons.join(QStringLiteral("; "));
    const QString fix = noDisplayFix(reason);
    const QByteArray line = (noDisplayMessage(reason) + QStringLiteral(". ") + fix).toUtf8();
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
    notifyNoDisplay(reason + QStringLiteral("\n") + fix);
    std::_Exit(1);
}

}  // namespace

QString noDisplayMessage(const QString& reason) {
    return QStringLiteral(
               "ORVELA Timer не запустился: нет доступа к экрану графического сеанса. "
               "Причина: ") +
           reason;
}

QString noDisplayFix(const QString& reasons) {
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        reasons.contains(QLatin1String("Could not find the Qt platform plugin \"wayland\"")))
        return QStringLiteral(
            "Для сеанса Wayland нужен модуль Qt для Wayland: установите пакет qt6-wayland "
            "(sudo apt install qt6-wayland) или включите в сеансе Xwayland");
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QStringLiteral(
            "Запускайте ORVELA Timer внутри графического сеанса: из меню приложений, "
            "автозапуском или строкой exec в настройках sway или Hyprland");
    return QStringLiteral("Проверьте, что DISPLAY или WAYLAND_DISPLAY называют экран этого сеанса");
}

QByteArray preferredPlatforms(int argc, char** argv) {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return {};
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "-platform") || !std::strcmp(argv[i], "--platform")) return {};
    }
    return QByteArrayLiteral("wayland;xcb");
}

std::unique_ptr<QApplication> startApplicationOrExit(int& argc, char** argv) {
    // Set for Qt's start only: programs the app starts (a browser, the updated build) choose
    // for themselves.
    const QByteArray platforms = preferredPlatforms(argc, argv);
    if (!platforms.isEmpty()) qputenv("QT_QPA_PLATFORM", platforms);
    QList<Held> messages;
    held = &messages;
    previous = qInstallMessageHandler(duringStart);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    held = nullptr;
    if (!platforms.isEmpty()) qunsetenv("QT_QPA_PLATFORM");
    // The application is up: what Qt said on the way goes out as it would have.
    for (const Held& message : std::as_const(messages)) {
        const QByteArray category = message.category.toUtf8();
        const QMessageLogContext context(nullptr, 0, nullptr, category.constData());
        qt_message_output(message.type, context, message.text);
    }
    return application;
}

}  // namespace orvela::qt
