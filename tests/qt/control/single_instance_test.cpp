// A second launch of the real program while an app on the private session bus holds the name:
// it hands over, ends with 0 and prints one line that says where the app is.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QProcess>

#include "control/control_names.hpp"
#include "control/control_service.hpp"
#include "qt/support/qt_wait.hpp"
#include "support/fake_platform.hpp"

namespace orvela::qt {
namespace {

TEST(SingleInstance, ASecondLaunchSaysOnItsTerminalThatTheAppRunsAndWhere) {
    test::FakePlatform fake;
    App app(fake);
    ControlService service(app, QDBusConnection::sessionBus());
    ASSERT_TRUE(service.exported() && QDBusConnection::sessionBus().registerService(
                                          QString::fromLatin1(kControlService)));
    int handedOver = 0;
    QObject::connect(&service, &ControlService::launchedAgain, [&] { ++handedOver; });
    const QString runs = "ORVELA Timer уже запущен";
    const std::pair<std::optional<QString>, QString> cases[] = {
        {ControlService::kOnPanel, runs + ": его значок на панели.\n"},
        {ControlService::kNoPlace, runs + ", но на панели нет места для его значка: уведомление "
                                          "о том, как это исправить, показано снова.\n"},
        {QString(), runs + ".\n"},           // still looking
        {std::nullopt, runs + ".\n"},        // an app that does not say
        {QString(5000, 'x'), runs + ".\n"},  // nothing of a kind it knows
    };
    for (const auto& [whereabouts, line] : cases) {
        service.setWhereabouts(whereabouts ? std::function([&] { return *whereabouts; })
                                           : std::function<QString()>());
        // The loop turns while it runs: the app answers on this thread.
        QProcess second;
        second.start(QStringLiteral(ORVELA_TIMER_BIN), {});
        ASSERT_TRUE(test::waitUntil([&] { return second.state() == QProcess::NotRunning; }));
        EXPECT_EQ(second.exitCode(), 0);
        EXPECT_EQ(QString::fromUtf8(second.readAllStandardOutput()), line);
    }
    EXPECT_EQ(handedOver, 5);
}

}  // namespace
}  // namespace orvela::qt
