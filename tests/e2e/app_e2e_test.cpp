// The whole app on the real desktop backend against the local stand-in service. The test is the
// desktop around it: the panel that shows the item and opens its menu over D-Bus, the
// notification server, the browser, and the person who answers the alerts.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <algorithm>
#include <deque>
#include <memory>
#include <nlohmann/json.hpp>

#include "dev-service/agenda.hpp"
#include "dev-service/service.hpp"
#include "qt/fake_panel.hpp"
#include "qt/qt_wait.hpp"
#include "shell/app.hpp"
#include "status_item.hpp"
#include "status_notifier_item.hpp"

namespace orvela {
namespace {

using test::ScopedEnv;
using test::waitUntil;

// "🍅 04:59 · title" and its kin; captures the icon, minutes and seconds.
QRegularExpression countdown(const QString& shownTitle) {
    return QRegularExpression("^(🍅|☕|⏸) (\\d\\d):(\\d\\d) · " +
                              QRegularExpression::escape(shownTitle) + "$");
}

int secondsIn(const QRegularExpressionMatch& m) {
    return m.captured(2).toInt() * 60 + m.captured(3).toInt();
}

// A menu entry as the user reads it: its label, "---" for a separator, " [off]" when it cannot
// be chosen, " >" when it opens a submenu.
QStringList describe(const QList<qt::DBusMenuLayoutItem>& items) {
    QStringList lines;
    for (const auto& it : items) {
        const auto& p = it.properties;
        if (p.value("type").toString() == "separator") {
            lines << "---";
            continue;
        }
        lines << p.value("label").toString() + (p.value("enabled", true).toBool() ? "" : " [off]") +
                     (p.value("children-display").toString() == "submenu" ? " >" : "");
    }
    return lines;
}

QStringList describe(const QList<QAction*>& actions) {
    QStringList lines;
    for (const QAction* a : actions)
        lines << (a->isSeparator()
                      ? QString("---")
                      : a->text() + (a->isEnabled() ? "" : " [off]") + (a->menu() ? " >" : ""));
    return lines;
}

class AppEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(panel.isConnected()) << "run under scripts/with-session-bus.sh";
        ASSERT_TRUE(notifications.isRegistered());
    }
    void TearDown() override {
        app.reset();
        desk.reset();
        if (service) service->stop();
    }

    // Starts the stand-in and points the app at it through its settings file.
    void serve(dev::Options options) {
        options.port = 0;
        token = options.token;
        service = std::make_unique<dev::DevService>(options);
        service->start();
        base = QString::fromStdString(service->baseUrl());
        write(root.path() + "/config/orvela/orvela-timer.conf", "[General]\nOrvelaURL=" + base);
    }
    void writeToken(const QString& text) {
        write(root.path() + "/home/.config/orvela/token", text);
    }
    void write(const QString& path, const QString& text) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
    }
    void launch(std::deque<int> answers = {}) {
        desk = std::make_unique<test::ScriptedDesktop>();
        desk->answers = std::move(answers);
        app = std::make_unique<App>(*desk);
        App::shared = app.get();
        app->applicationDidFinishLaunching();
    }

    // The stand-in's own view of the timer, asked the way any client asks.
    nlohmann::json timerAt(const std::string& bearer) {
        httplib::Client client("127.0.0.1", service->port());
        auto res = client.Get("/api/ext/pomodoro", {{"Authorization", "Bearer " + bearer}});
        if (!res || res->status != 200) return nullptr;
        return nlohmann::json::parse(res->body, nullptr, false);
    }
    QString label() { return panel.itemProperty("XAyatanaLabel").toString(); }
    bool labelMatches(const QRegularExpression& pattern, int timeoutMs = 5000) {
        return waitUntil([&] { return pattern.match(label()).hasMatch(); }, timeoutMs);
    }

    QTemporaryDir root;
    ScopedEnv home{"HOME", root.path() + "/home"};
    ScopedEnv config{"XDG_CONFIG_HOME", root.path() + "/config"};
    test::FakePanel panel;
    test::FakeNotifications notifications;
    test::FakeBrowser browser;
    std::unique_ptr<dev::DevService> service;
    std::string token;
    QString base;
    std::unique_ptr<test::ScriptedDesktop> desk;
    std::unique_ptr<App> app;
};

TEST_F(AppEndToEnd, CountsDownIntoTheBreakAndAnnouncesIt) {
    dev::Options options;
    options.plan = {{"work", 0.08}, {"rest", 1}};  // 4.8 s of work, then a minute's rest
    options.title = "Квартальный отчёт совету директоров";
    serve(options);
    writeToken(QString::fromStdString(token) + "\n");
    ASSERT_TRUE(panel.startWatcher());
    launch();
    ASSERT_TRUE(panel.attach());

    // The panel is told of every label; the title is cut to 22 characters there.
    const QRegularExpression timer = countdown("Квартальный отчёт сове…");
    const auto resting = [&] {
        return !panel.log.labels.isEmpty() && panel.log.labels.back().startsWith("☕");
    };
    ASSERT_TRUE(waitUntil(resting, 10000)) << panel.log.labels.join(" | ").toStdString();
    std::vector<int> work;
    for (const QString& shown : panel.log.labels) {
        const auto m = timer.match(shown);
        if (m.hasMatch() && m.captured(1) == "🍅") work.push_back(secondsIn(m));
    }
    ASSERT_GE(work.size(), 2u) << panel.log.labels.join(" | ").toStdString();
    for (size_t i = 1; i < work.size(); ++i) EXPECT_LT(work[i], work[i - 1]);
    EXPECT_LE(work.back(), 2);
    const auto rest = timer.match(panel.log.labels.back());
    ASSERT_TRUE(rest.hasMatch()) << panel.log.labels.back().toStdString();
    EXPECT_GE(secondsIn(rest), 57);

    const auto tip = qdbus_cast<qt::SniToolTip>(panel.itemProperty("ToolTip"));
    EXPECT_EQ(tip.title, label());
    EXPECT_EQ(tip.description, "Квартальный отчёт совету директоров");

    // One announcement, at the boundary: none for the timer found running at launch.
    ASSERT_TRUE(waitUntil([&] { return !notifications.shown.empty(); }));
    ASSERT_EQ(notifications.shown.size(), 1u);
    EXPECT_EQ(notifications.shown[0].summary, "☕ Перерыв 1 мин");
    EXPECT_EQ(notifications.shown[0].body, "👀 Правило 20-20-20: 20 секунд смотрите вдаль");
}

TEST_F(AppEndToEnd, ADeviceLoginShowsItsCodeAndStoresTheTokenPrivately) {
    dev::Options options;
    options.autoApproveSeconds = 0;
    serve(options);
    ASSERT_TRUE(panel.startWatcher());
    launch({0});  // the prompt offered at launch without a token: "Войти через браузер"
    ASSERT_TRUE(panel.attach());

    ASSERT_TRUE(waitUntil([&] { return label().startsWith("🔑 "); }));
    const QString code = label().mid(QString("🔑 ").size());
    ASSERT_EQ(desk->alerts.size(), 1u);
    EXPECT_EQ(desk->alerts[0].message, "Подключите ORVELA");
    EXPECT_EQ(describe(panel.openMenu().children),
              (QStringList{"Код для входа: " + code + " [off]", "Подтвердите его на сайте ORVELA…",
                           "Отменить вход", "---", "Выйти"}));
    ASSERT_TRUE(waitUntil([&] { return !browser.opened.isEmpty(); }));
    EXPECT_EQ(browser.opened, QStringList{base + "/device.html?code=" + code});

    // Approved on the next poll: the countdown of the demo timer takes the code's place.
    ASSERT_TRUE(labelMatches(countdown("Демо-задача"), 10000)) << label().toStdString();
    const QString folder = root.path() + "/home/.config/orvela";
    QFile file(folder + "/token");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::string saved = file.readAll().toStdString();
    ASSERT_TRUE(saved.ends_with('\n'));
    const std::string issued = saved.substr(0, saved.size() - 1);
    EXPECT_NE(issued, options.token);
    EXPECT_TRUE(timerAt(issued).contains("state")) << "the service does not know " << issued;
    const std::vector<std::pair<QString, mode_t>> modes = {{folder + "/token", 0600},
                                                           {folder, 0700}};
    for (const auto& [path, mode] : modes) {
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, mode) << path.toStdString();
    }
    ASSERT_TRUE(waitUntil([&] { return !notifications.shown.empty(); }));
    EXPECT_EQ(notifications.shown.back().summary, "ORVELA подключён");
    EXPECT_EQ(notifications.shown.back().body, "Таймер и повестка — в строке меню");
    EXPECT_EQ(desk->alerts.size(), 1u);
}

TEST_F(AppEndToEnd, ThePanelsMenuPausesTheTimerAndOpensADay) {
    serve({});
    writeToken(QString::fromStdString(token) + "\n");
    ASSERT_TRUE(panel.startWatcher());
    launch();
    ASSERT_TRUE(panel.attach());
    ASSERT_TRUE(labelMatches(countdown("Демо-задача")));

    // The agenda comes in on its own request; the menu shows whatever is there when opened.
    const std::string today = dev::localDate(desk->wallClockMs());
    const QString birthday = "весь день   🎂 День рождения Ани";
    qt::DBusMenuLayoutItem menu;
    ASSERT_TRUE(waitUntil([&] {
        menu = panel.openMenu();
        return describe(menu.children).contains(birthday);
    }));
    const QStringList lines = describe(menu.children);
    ASSERT_GE(lines.size(), 12);
    EXPECT_EQ(lines.mid(0, 7),
              (QStringList{"Демо-задача", "Работа · подход 1/2 · 25 мин [off]", "---",
                           "⏸ Пауза", "⏭ К отдыху", "■ Остановить", "---"}));
    EXPECT_EQ(lines[7], QString::fromStdString("Сегодня · " + dayLabel(today)) + " [off]");
    EXPECT_EQ(lines.mid(lines.size() - 4),
              (QStringList{"---", "Открыть планер", "Настройки >", "Выйти"}));
    const auto settings = test::childLabelled(menu, "Настройки");
    const QString version = QString::fromStdString("ORVELA Timer " + app->appVersion + " (сборка " +
                                                   std::to_string(app->appBuild) + ")");
    EXPECT_EQ(describe(settings.children),
              (QStringList{"Запускать при входе в систему", "Настройки ORVELA на сайте…",
                           "Проверить обновления…", "---", "Подключить заново…",
                           "Отключить ORVELA…", "---", version + " [off]"}));
    const auto pause = test::childLabelled(menu, "⏸ Пауза");
    EXPECT_EQ(qdbus_cast<QList<QStringList>>(pause.properties.value("shortcut")),
              (QList<QStringList>{{"Control", "p"}}));

    // The click goes to the service; the countdown freezes with the answer.
    panel.click(pause.id);
    ASSERT_TRUE(labelMatches(QRegularExpression("^⏸ 2\\d:\\d\\d · Демо-задача$")));
    EXPECT_TRUE(timerAt(token)["state"].contains("pausedAt"));
    const QString frozen = label();
    const int ticks = desk->ticks;
    ASSERT_TRUE(waitUntil([&] { return desk->ticks >= ticks + 2; }));
    EXPECT_EQ(label(), frozen);

    panel.click(test::childLabelled(menu, birthday).id);
    ASSERT_TRUE(waitUntil([&] { return !browser.opened.isEmpty(); }));
    EXPECT_EQ(browser.opened, QStringList{base + "/planner.html?date=" + today.c_str()});
}

TEST_F(AppEndToEnd, WithoutAPanelTheTrayMenuReachesTheService) {
    serve({});
    writeToken("orvela_revoked\n");
    launch();
    auto* item = dynamic_cast<qt::QtStatusItem*>(app->item);
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(waitUntil([&] { return item->usesFallback(); }));
    QSystemTrayIcon* tray = item->trayIcon();
    const QString refused = "Токен отклонён — создайте новый";
    ASSERT_TRUE(waitUntil([&] { return tray->toolTip() == "🍅 ?\n" + refused; }))
        << tray->toolTip().toStdString();

    QMenu* menu = tray->contextMenu();
    ASSERT_NE(menu, nullptr);
    emit menu->aboutToShow();
    const QList<QAction*> actions = menu->actions();
    EXPECT_EQ(describe(actions),
              (QStringList{refused + " [off]", "Войти через браузер…", "Вставить токен вручную…",
                           "Обновить", "---", "Открыть планер", "Настройки >", "Выйти"}));

    // With a good token back in the file, "Обновить" fetches again and the timer shows.
    writeToken(QString::fromStdString(token) + "\n");
    const auto refresh = std::find_if(actions.begin(), actions.end(),
                                      [](QAction* a) { return a->text() == "Обновить"; });
    ASSERT_NE(refresh, actions.end());
    (*refresh)->trigger();
    ASSERT_TRUE(waitUntil([&] {
        const QStringList lines = tray->toolTip().split('\n');
        return lines.size() == 2 && countdown("Демо-задача").match(lines[0]).hasMatch() &&
               lines[1] == "Демо-задача";
    })) << tray->toolTip().toStdString();
}

}  // namespace
}  // namespace orvela
