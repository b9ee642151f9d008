// The control interface on a private session bus, driven the way the command line and other
// clients drive it, over an App on the fake platform; and the lock that stands in for the bus.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QTemporaryDir>
#include <memory>

#include "client/temp_home.hpp"
#include "control_names.hpp"
#include "control_service.hpp"
#include "qt/fake_panel.hpp"
#include "qt/qt_wait.hpp"
#include "single_instance.hpp"
#include "support/fake_platform.hpp"

namespace orvela::qt {
namespace {

using test::waitUntil;

struct ControlServiceTest : ::testing::Test {
    ControlServiceTest() {
        fake.home = home.path().string();
        home.putToken("orvela_tok\n");
        app = std::make_unique<App>(fake);
        app->token = "orvela_tok";
        app->item = fake.createStatusItem();
        service = std::make_unique<ControlService>(*app, QDBusConnection::sessionBus());
    }
    ~ControlServiceTest() override {
        service.reset();
        for (const QString& name : connections) QDBusConnection::disconnectFromBus(name);
    }
    void SetUp() override {
        ASSERT_TRUE(service->exported() && QDBusConnection::sessionBus().registerService(
                                               QString::fromLatin1(kControlService)))
            << "run under scripts/with-session-bus.sh";
    }
    QDBusConnection client(const QString& name) {
        connections << name;
        return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    }
    // A call from a client of its own, waited for with the loop turning: the service answers on
    // this very thread.
    QDBusMessage call(QDBusConnection bus, const QString& method, const QVariantList& args = {}) {
        auto message = QDBusMessage::createMethodCall(
            QString::fromLatin1(kControlService), QString::fromLatin1(kControlPath),
            QString::fromLatin1(kControlInterface), method);
        message.setArguments(args);
        QDBusPendingCallWatcher pending(bus.asyncCall(message));
        EXPECT_TRUE(waitUntil([&] { return pending.isFinished(); })) << method.toStdString();
        return pending.reply();
    }
    void timer(bool paused) {
        const double now = fake.wallClockMs();
        app->state = PomodoroState{7,
                                   "Отчёт",
                                   {{"work", 25}, {"rest", 5}},
                                   now - 60000,
                                   paused ? std::optional(now) : std::nullopt};
    }
    // One second of the app's life: the clock moves and the title is drawn again.
    void tick(int seconds = 1) {
        for (int i = 0; i < seconds; ++i) {
            fake.advance(1);
            app->render();
        }
    }

    test::TempHome home;
    test::FakePlatform fake;
    std::unique_ptr<App> app;
    std::unique_ptr<ControlService> service;
    QStringList connections;
};

// The title ticks every second, yet nothing is signalled (or even compared) until a client
// follows; a follower gets each change, and its leaving the bus ends the signals.
TEST_F(ControlServiceTest, ChangesAreSignalledOnlyWhileSomeoneFollows) {
    timer(false);
    test::SignalLog log;
    QDBusConnection listener = client("listener");
    ASSERT_TRUE(listener.connect(
        QString::fromLatin1(kControlService), QString::fromLatin1(kControlPath),
        "org.freedesktop.DBus.Properties", "PropertiesChanged", &log, SLOT(record(QDBusMessage))));
    const auto signalsAfter = [&](int seconds) {
        log.received.clear();
        tick(seconds);
        call(listener, "Refresh");  // an answer after the signals, so that all have arrived
        return log.received.size();
    };
    EXPECT_EQ(signalsAfter(5), 0);
    EXPECT_FALSE(app->statusChanged);

    {
        QDBusConnection follower = client("follower");
        ASSERT_EQ(call(follower, "Follow").type(), QDBusMessage::ReplyMessage);
        EXPECT_EQ(signalsAfter(3), 3);
        // Only what changed, as the standard signal carries it: the progress moves by whole
        // percent, a 25-minute phase's every 15 seconds.
        const QDBusMessage last = log.received.back();
        EXPECT_EQ(last.arguments().value(0).toString(), QString::fromLatin1(kControlInterface));
        const QVariantMap changed = qdbus_cast<QVariantMap>(last.arguments().value(1));
        EXPECT_EQ(changed.keys(), (QStringList{"SecondsLeft", "Title"}));
        EXPECT_EQ(changed.value("Title").toString(), service->title());
        EXPECT_EQ(changed.value("SecondsLeft").toLongLong(), 24 * 60 - 8);
        // Following twice is following once.
        ASSERT_EQ(call(follower, "Follow").type(), QDBusMessage::ReplyMessage);
        EXPECT_EQ(service->followerCount(), 1);
    }
    // The follower's name leaving the bus is the end of it.
    QDBusConnection::disconnectFromBus("follower");
    ASSERT_TRUE(waitUntil([&] { return service->followerCount() == 0; }));
    EXPECT_FALSE(app->statusChanged);
    EXPECT_EQ(signalsAfter(3), 0);
}

// A refusal is an error of our own name; a second launch's command line reaches the app's own
// parts, bounded in count and length.
TEST_F(ControlServiceTest, RefusalsAndSecondLaunchesArriveAsSent) {
    timer(true);
    const QDBusMessage refused = call(client("caller"), "Pause");
    EXPECT_EQ(std::pair(refused.errorName(), refused.errorMessage()),
              std::pair(QString(kControlRefused), QString("Таймер уже на паузе")));

    QList<QStringList> launched;
    QObject::connect(service.get(), &ControlService::launchedAgain,
                     [&](const QStringList& arguments) { launched << arguments; });
    QDBusConnection bus = client("second");
    ASSERT_EQ(call(bus, "LaunchedAgain", {QStringList()}).type(), QDBusMessage::ReplyMessage);
    const QStringList flood(100, QString(5000, 'x'));
    ASSERT_EQ(call(bus, "LaunchedAgain", {flood}).type(), QDBusMessage::ReplyMessage);
    ASSERT_EQ(launched.size(), 2);
    EXPECT_EQ(launched[0], QStringList());
    const QStringList& kept = launched[1];
    EXPECT_EQ(kept.size(), ControlService::kMostArguments);
    EXPECT_EQ(kept.front().size(), ControlService::kLongestArgument);
}

// Without a session bus the lock decides: held by one holder at a time, free again when it
// goes; a folder where no lock can be made does not keep the app from starting.
TEST(InstanceLockTest, OneHolderAtATime) {
    QTemporaryDir dir;
    {
        InstanceLock first(dir.path());
        EXPECT_FALSE(first.heldElsewhere());
        EXPECT_TRUE(InstanceLock(dir.path()).heldElsewhere());
    }
    EXPECT_FALSE(InstanceLock(dir.path()).heldElsewhere());
    EXPECT_FALSE(InstanceLock(dir.path() + "/missing").heldElsewhere());
}

}  // namespace
}  // namespace orvela::qt
