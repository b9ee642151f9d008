// The whole app on the real Qt backend against the local stand-in service; the test is the desktop
// around it: panel, notification server, browser and the person who answers the alerts.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <memory>

#include "dev-service/agenda.hpp"
#include "dev-service/service.hpp"
#include "panel/status_item.hpp"
#include "qt/support/fake_panel.hpp"
#include "qt/support/forwarding_platform.hpp"
#include "qt/support/qt_wait.hpp"
#include "qt_platform.hpp"
#include "shell/app.hpp"

namespace orvela {
namespace {

using test::waitUntil;

// "🍅 04:59 · title" and its kin; captures the icon, minutes and seconds.
QRegularExpression countdown(const QString& shownTitle) {
    return QRegularExpression("^(🍅|☕|⏸) (\\d\\d):(\\d\\d) · " +
                              QRegularExpression::escape(shownTitle) + "$");
}

int secondsIn(const QRegularExpressionMatch& m) {
    return m.captured(2).toInt() * 60 + m.captured(3).toInt();
}

class AppEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid() && panel.isConnected() && notifications.registered)
            << "run under scripts/with-session-bus.sh";
    }

    // Starts the stand-in, points the app at it through its settings file and launches it.
    void start(dev::Options options, const std::string& tokenFile, bool withPanel = true,
               std::vector<std::string> press = {}) {
        options.port = 0;
        token = options.token;
        service = std::make_unique<dev::DevService>(options);
        service->start();
        base = QString::fromStdString(service->baseUrl());
        ASSERT_TRUE(test::writeFile(root.path() + "/config/orvela/orvela-timer.conf",
                                    "[General]\nOrvelaURL=" + base.toUtf8()));
        if (!tokenFile.empty()) writeToken(tokenFile);
        ASSERT_TRUE(!withPanel || panel.startWatcher());
        desk = std::make_unique<test::ScriptedDesk>();
        desk->press = press;
        app = std::make_unique<App>(*desk);
        App::shared = app.get();
        app->applicationDidFinishLaunching();
        ASSERT_TRUE(!withPanel || panel.attach());
    }
    void writeToken(const std::string& text) {
        ASSERT_TRUE(test::writeFile(root.path() + "/home/.config/orvela/token",
                                    QByteArray::fromStdString(text + "\n")));
    }
    QString label() { return panel.itemProperty("XAyatanaLabel").toString(); }
    bool labelMatches(const QRegularExpression& pattern, int timeoutMs = 5000) {
        return waitUntil([&] { return pattern.match(label()).hasMatch(); }, timeoutMs);
    }

    QTemporaryDir root;
    test::ScopedEnv home{"HOME", root.path() + "/home"};
    test::ScopedEnv config{"XDG_CONFIG_HOME", root.path() + "/config"};
    test::FakePanel panel;
    test::FakeNotifications notifications;
    test::FakeBrowser browser;
    std::unique_ptr<dev::DevService> service;
    std::string token;
    QString base;
    std::unique_ptr<test::ScriptedDesk> desk;
    std::unique_ptr<App> app;
};

TEST_F(AppEndToEnd, CountsDownIntoTheBreakAndAnnouncesIt) {
    dev::Options options;
    options.plan = {{"work", 0.08}, {"rest", 1}};  // 4.8 s of work, then a minute's rest
    options.title = "Квартальный отчёт совету директоров";
    start(options, options.token);

    // Every label reaches the panel, the title cut to 22 characters, counting down into the rest.
    const QRegularExpression timer = countdown("Квартальный отчёт сове…");
    ASSERT_TRUE(waitUntil([&] { return label().startsWith("☕"); }, 10000)) << label().toStdString();
    const QStringList labels = QVariant(panel.log.firstArgs("XAyatanaNewLabel")).toStringList();
    const auto rest = timer.match(labels.back());
    ASSERT_TRUE(rest.hasMatch()) << labels.back().toStdString();
    EXPECT_GE(secondsIn(rest), 57);
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [&](const QString& l) {
        const auto m = timer.match(l);
        return m.hasMatch() && m.captured(1) == "🍅" && secondsIn(m) <= 2;
    })) << labels.join(" | ").toStdString();

    // One announcement, at the boundary: none for the timer found running at launch.
    ASSERT_TRUE(waitUntil([&] { return !notifications.shown.empty(); }));
    EXPECT_EQ(
        notifications.shown,
        (QList<QStringList>{{"☕ Перерыв 1 мин", "👀 Правило 20-20-20: 20 секунд смотрите вдаль"}}));
}

TEST_F(AppEndToEnd, ADeviceLoginShowsItsCodeAndStoresTheToken) {
    dev::Options options;
    options.autoApproveSeconds = 0;
    start(options, {}, true, {"Войти через браузер"});  // the prompt offered without a token
    ASSERT_TRUE(waitUntil([&] { return label().startsWith("🔑 "); }));

    // Approved: the countdown replaces the code; the file holds exactly the issued token and one
    // line feed (the one the service just accepted).
    ASSERT_TRUE(labelMatches(countdown("Демо-задача"), 10000)) << label().toStdString();
    const QByteArray stored = test::readFile(root.path() + "/home/.config/orvela/token");
    EXPECT_TRUE(stored.startsWith("orvela_") && stored.endsWith('\n') && stored.count('\n') == 1)
        << stored.toStdString();
    EXPECT_NE(stored.trimmed().toStdString(), dev::Options{}.token);
}

TEST_F(AppEndToEnd, ThePanelsMenuPausesTheTimerAndOpensADay) {
    start({}, dev::Options{}.token);
    ASSERT_TRUE(labelMatches(countdown("Демо-задача")));

    // The agenda comes in on its own request; the menu shows whatever is there when opened.
    const QString birthday = "весь день   🎂 День рождения Ани";
    qt::DBusMenuLayoutItem menu;
    ASSERT_TRUE(waitUntil([&] {
        menu = panel.openMenu();
        return std::any_of(menu.children.begin(), menu.children.end(), [&](const auto& it) {
            return it.properties.value("label").toString() == birthday;
        });
    }));

    // The click goes to the service: the app pauses nothing itself, the countdown freezes only
    // with the service's answer.
    panel.click(test::childLabelled(menu, "⏸ Пауза").id);
    ASSERT_TRUE(labelMatches(QRegularExpression("^⏸ 2\\d:\\d\\d · Демо-задача$")));

    panel.click(test::childLabelled(menu, birthday).id);
    ASSERT_TRUE(waitUntil([&] { return !browser.opened.isEmpty(); }));
    const std::string today = dev::localDate(desk->wallClockMs());
    EXPECT_EQ(browser.opened, QStringList{base + "/planner.html?date=" + today.c_str()});
}

TEST_F(AppEndToEnd, WithoutAPanelTheTrayMenuReachesTheService) {
    start({}, "orvela_revoked", false);
    auto* item = dynamic_cast<qt::QtStatusItem*>(app->item);
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(waitUntil([&] { return item->usesFallback(); }));
    QSystemTrayIcon* tray = item->trayIcon();
    ASSERT_TRUE(waitUntil([&] {
        return tray->toolTip() == "🍅 ?\nТокен отклонён — создайте новый";
    })) << tray->toolTip().toStdString();

    // With a good token back in the file, "Обновить" fetches again and the timer shows.
    writeToken(token);
    QMenu* menu = tray->contextMenu();
    emit menu->aboutToShow();
    QAction* refresh = menu->actions().value(3);
    ASSERT_TRUE(refresh && refresh->text() == "Обновить");
    refresh->trigger();
    ASSERT_TRUE(waitUntil([&] {
        return countdown("Демо-задача").match(tray->toolTip().section('\n', 0, 0)).hasMatch();
    })) << tray->toolTip().toStdString();
}

}  // namespace
}  // namespace orvela
