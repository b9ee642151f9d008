// A second launch of the real program against a running app played on the private session bus:
// it hands over, ends at once, and prints one line that says where the app is.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusContext>
#include <QElapsedTimer>
#include <QProcess>
#include <memory>

#include "control/control_names.hpp"
#include "control/control_service.hpp"
#include "control/single_instance.hpp"
#include "qt/support/qt_wait.hpp"
#include "support/fake_platform.hpp"

namespace orvela::qt {
namespace {

using test::waitUntil;

// A running app that takes the hand-over and never answers it.
class SilentApp : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.orvela.Timer1")

public slots:
    QString LaunchedAgain(const QStringList&) {
        setDelayedReply(true);
        return {};
    }
};

// Runs the program with `arguments` while the loop turns (the running app answers on this
// thread); its standard output, or "exit N" when it did not end with 0.
QString secondLaunch(const QStringList& arguments, qint64* elapsedMs) {
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(ORVELA_TIMER_BIN), arguments);
    if (!waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10000)) {
        process.kill();
        process.waitForFinished();
        return "did not end";
    }
    *elapsedMs = clock.elapsed();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return "exit " + QString::number(process.exitCode());
    return QString::fromUtf8(process.readAllStandardOutput());
}

TEST(SingleInstance, ASecondLaunchSaysOnItsTerminalThatTheAppRunsAndWhere) {
    test::FakePlatform fake;
    App app(fake);
    ControlService service(app, QDBusConnection::sessionBus());
    ASSERT_TRUE(service.exported() &&
                QDBusConnection::sessionBus().registerService(QString::fromLatin1(kControlService)))
        << "run under scripts/with-session-bus.sh";
    QList<QStringList> handedOver;
    QObject::connect(&service, &ControlService::launchedAgain,
                     [&](const QStringList& arguments) { handedOver << arguments; });
    const struct {
        std::optional<QString> whereabouts;  // none: the app does not say
        QString line;
    } cases[] = {
        {ControlService::kOnPanel, "ORVELA Timer уже запущен: его значок на панели.\n"},
        {ControlService::kNoPlace,
         "ORVELA Timer уже запущен, но на панели нет места для его значка: уведомление о том, "
         "как это исправить, показано снова.\n"},
        {QString(), "ORVELA Timer уже запущен.\n"},
        {std::nullopt, "ORVELA Timer уже запущен.\n"},
        {QString(5000, 'x'), "ORVELA Timer уже запущен.\n"},  // nothing of a kind it knows
    };
    qint64 elapsed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.whereabouts.value_or("unset").left(20).toStdString());
        if (c.whereabouts)
            service.setWhereabouts([&c] { return *c.whereabouts; });
        else
            service.setWhereabouts({});
        EXPECT_EQ(secondLaunch({"-OrvelaURL", "http://x"}, &elapsed), c.line);
    }
    EXPECT_EQ(handedOver.size(), qsizetype(std::size(cases)));
    EXPECT_EQ(handedOver.value(0), (QStringList{"-OrvelaURL", "http://x"}));

    // An app that never answers holds the second launch for the hand-over's bound only.
    QDBusConnection::sessionBus().unregisterService(QString::fromLatin1(kControlService));
    QDBusConnection::sessionBus().unregisterObject(QString::fromLatin1(kControlPath));
    SilentApp silent;
    ASSERT_TRUE(
        QDBusConnection::sessionBus().registerObject(QString::fromLatin1(kControlPath), &silent,
                                                     QDBusConnection::ExportAllSlots) &&
        QDBusConnection::sessionBus().registerService(QString::fromLatin1(kControlService)));
    EXPECT_EQ(secondLaunch({}, &elapsed), "ORVELA Timer уже запущен.\n");
    EXPECT_LT(elapsed, 3000);
}

}  // namespace
}  // namespace orvela::qt

#include "single_instance_test.moc"
