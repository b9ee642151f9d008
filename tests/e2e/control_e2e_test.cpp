// The real binary, twice over: the app (against the stand-in service or a counting one) and its
// command line, on the test's private session bus, with the test as the panel.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <atomic>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "command_line.hpp"
#include "dev-service/service.hpp"
#include "qt/fake_panel.hpp"
#include "qt/qt_wait.hpp"

namespace orvela {
namespace {

using test::waitUntil;

struct CliRun {
    int exit = -1;
    QString out, err;
};

class ControlEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid() && panel.isConnected())
            << "run under scripts/with-session-bus.sh";
        ASSERT_TRUE(QDir().mkpath(root.path() + "/run") && QDir().mkpath(root.path() + "/home"));
        ::chmod(QFile::encodeName(root.path() + "/run").constData(), 0700);
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", root.path() + "/home");
        environment.insert("XDG_CONFIG_HOME", root.path() + "/config");
        environment.insert("XDG_RUNTIME_DIR", root.path() + "/run");
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    }
    void TearDown() override {
        for (auto& app : apps) {
            app->terminate();
            app->waitForFinished(5000);
        }
    }
    // The stand-in with its demo timer, and a token for it in the app's home.
    void startService(dev::Options options = {}) {
        options.port = 0;
        service = std::make_unique<dev::DevService>(options);
        service->start();
        base = QString::fromStdString(service->baseUrl());
        ASSERT_TRUE(test::writeFile(root.path() + "/home/.config/orvela/token",
                                    QByteArray::fromStdString(options.token + "\n")));
    }
    QProcess* launch(const QStringList& arguments = {}) {
        auto& app = apps.emplace_back(std::make_unique<QProcess>());
        app->setProcessEnvironment(environment);
        app->start(ORVELA_TIMER_BIN, QStringList{"-OrvelaURL", base} + arguments);
        return app.get();
    }
    // One command-line run to its end.
    CliRun run(const QStringList& arguments) {
        QProcess cli;
        cli.setProcessEnvironment(environment);
        cli.start(ORVELA_TIMER_BIN, arguments);
        EXPECT_TRUE(cli.waitForFinished(10000)) << arguments.join(' ').toStdString();
        return {cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1,
                QString::fromUtf8(cli.readAllStandardOutput()),
                QString::fromUtf8(cli.readAllStandardError())};
    }
    // The app's reported phase, read as any client reads it.
    QString phase() {
        const CliRun status = run({"status", "--json"});
        return QJsonDocument::fromJson(status.out.toUtf8()).object().value("class").toString();
    }
    bool serving() {
        return waitUntil([&] { return run({"status"}).exit == qt::kExitDone; }, 10000);
    }

    QTemporaryDir root;
    QProcessEnvironment environment;
    test::FakePanel panel;
    std::unique_ptr<dev::DevService> service;
    QString base = "http://127.0.0.1:9";
    std::vector<std::unique_ptr<QProcess>> apps;
};

// A second launch while the app runs: out within a second, status 0, and still one item on the
// panel and one poller on the service.
TEST_F(ControlEndToEnd, ASecondLaunchHandsOverAndLeavesOneItemAndOnePoller) {
    // A service that counts the timer polls, answering each with "no timer".
    struct Counter {
        httplib::Server server;
        std::atomic<int> polls = 0;
        std::thread thread;
        Counter() {
            server.Get("/api/ext/pomodoro",
                       [this](const httplib::Request&, httplib::Response& res) {
                           ++polls;
                           res.set_content(R"({"success":true,"state":null})", "application/json");
                       });
        }
        ~Counter() {
            server.stop();
            if (thread.joinable()) thread.join();
        }
    } counter;
    const int port = counter.server.bind_to_any_port("127.0.0.1");
    counter.thread = std::thread([&] { counter.server.listen_after_bind(); });
    base = QString("http://127.0.0.1:%1").arg(port);
    ASSERT_TRUE(test::writeFile(root.path() + "/home/.config/orvela/token", "orvela_tok\n"));
    std::atomic<int>& polls = counter.polls;
    ASSERT_TRUE(panel.startWatcher());

    QProcess* first = launch();
    ASSERT_TRUE(
        waitUntil([&] { return panel.watcher.registrations.size() == 1 && polls == 1; }, 10000));
    QElapsedTimer clock;
    clock.start();
    QProcess* second = launch({"--from-the-menu"});
    ASSERT_TRUE(second->waitForFinished(5000));
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    test::spin(2000);
    EXPECT_EQ(panel.watcher.registrations.size(), 1);
    EXPECT_EQ(polls, 1);
    EXPECT_EQ(first->state(), QProcess::Running);
}

// The update's relaunch starts the new build as soon as the old process has gone: it must find
// the name free, or be told so at once, and become the app.
TEST_F(ControlEndToEnd, TheNextAppTakesTheNameAsSoonAsTheOldOneHasGone) {
    startService();
    QProcess* old = launch();
    ASSERT_TRUE(serving());
    old->terminate();
    ASSERT_TRUE(old->waitForFinished(5000));
    QProcess* relaunched = launch();
    ASSERT_TRUE(relaunched->waitForStarted(5000) && serving());
    EXPECT_FALSE(relaunched->waitForFinished(500)) << "the relaunched app handed over to nobody";
}

// Without a session bus the lock in the private runtime folder does the same, and is free
// again once its holder has gone.
TEST_F(ControlEndToEnd, WithoutABusTheLockKeepsItToOneApp) {
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + root.path() + "/no-bus");
    QProcess* first = launch();
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(root.path() + "/run/orvela-timer.lock"); }));
    test::spin(500);  // past the start: the lock is held from before the display opens
    QProcess* second = launch();
    ASSERT_TRUE(second->waitForFinished(5000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(first->state(), QProcess::Running);

    first->terminate();
    ASSERT_TRUE(first->waitForFinished(5000));
    QProcess* third = launch();
    EXPECT_FALSE(third->waitForFinished(1500)) << "the lock outlived its holder";
}

// Every command through the running app: what the menu offers is done (and reaches the
// service), what it does not is refused with the reason; arguments it does not know are a
// usage error; with the app gone, nothing runs and the exit says so.
TEST_F(ControlEndToEnd, CommandsDoTheirWorkOrSayWhy) {
    startService();
    launch();
    ASSERT_TRUE(serving());
    httplib::Client http("127.0.0.1", service->port());
    const auto serviceState = [&] {
        const auto res =
            http.Get("/api/ext/pomodoro", {{"Authorization", "Bearer " + dev::Options{}.token}});
        return res ? nlohmann::json::parse(res->body)["state"] : nlohmann::json();
    };
    struct Step {
        QStringList arguments;
        int exit;
        QString err;    // standard error, exactly
        QString phase;  // the phase the app reports afterwards (a pattern); empty: not looked at
    };
    const std::vector<Step> steps = {
        {{"resume"}, 1, "Таймер не на паузе\n", "work"},
        {{"extend"}, 1, "Время задачи ещё не вышло\n", ""},
        {{"pause"}, 0, "", "paused"},
        {{"pause"}, 1, "Таймер уже на паузе\n", ""},
        {{"toggle"}, 0, "", "work"},
        {{"-OrvelaURL", "http://elsewhere", "skip"}, 0, "", "rest"},
        {{"refresh"}, 0, "", "rest"},
        {{"stop"}, 0, "", "idle|event"},  // the demo agenda may have an event due
        {{"skip"}, 1, "Таймер не запущен\n", ""},
        {{"pause", "--json"},
         2,
         "orvela-timer: лишний аргумент «--json»\nСправка: orvela-timer --help\n",
         ""},
        {{"bogus"},
         2,
         "orvela-timer: неизвестная команда «bogus»\nСправка: orvela-timer --help\n",
         ""},
    };
    for (const auto& [arguments, exit, err, expectedPhase] : steps) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const CliRun result = run(arguments);
        EXPECT_EQ(result.exit, exit);
        EXPECT_EQ(result.err.toStdString(), err.toStdString());
        if (!expectedPhase.isEmpty()) {
            EXPECT_TRUE(waitUntil(
                [&] {
                    return QRegularExpression("^(" + expectedPhase + ")$")
                        .match(phase())
                        .hasMatch();
                },
                5000))
                << phase().toStdString();
        }
        if (arguments.contains("pause") && exit == 0) {
            EXPECT_TRUE(serviceState().contains("pausedAt"));
        }
    }
    EXPECT_TRUE(serviceState().is_null()) << "stop reached the service";

    const CliRun help = run({"--help"});
    EXPECT_EQ(help.exit, 0);
    for (const char* word : {"pause", "resume", "toggle", "skip", "stop", "extend", "refresh",
                             "status", "--json", "--follow", "-OrvelaURL"})
        EXPECT_TRUE(help.out.contains(word)) << word;

    apps.front()->terminate();
    ASSERT_TRUE(apps.front()->waitForFinished(5000));
    for (const QStringList& arguments : {QStringList{"pause"}, QStringList{"status", "--follow"}}) {
        const CliRun gone = run(arguments);
        EXPECT_EQ(gone.exit, 3);
        EXPECT_EQ(gone.err.toStdString(), "ORVELA Timer не запущен\n");
        EXPECT_EQ(gone.out, "");
    }
}

// `status` as bars read it: the panel's title, or one JSON object per line in waybar's format;
// `--follow` adds a line at every change and ends with the app.
TEST_F(ControlEndToEnd, StatusFollowsInWaybarsFormatUntilTheAppQuits) {
    dev::Options options;
    options.plan = {{"work", 0.05}, {"rest", 25}};  // 3 s of work, then a break
    startService(options);
    launch();
    ASSERT_TRUE(serving());
    EXPECT_TRUE(QRegularExpression("^(🍅|☕) \\d\\d:\\d\\d · Демо-задача\n$")
                    .match(run({"status"}).out)
                    .hasMatch());

    QProcess follow;
    follow.setProcessEnvironment(environment);
    follow.start(ORVELA_TIMER_BIN, {"status", "--json", "--follow"});
    QStringList lines;
    ASSERT_TRUE(waitUntil(
        [&] {
            lines +=
                QString::fromUtf8(follow.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
            return lines.size() >= 5;
        },
        10000));
    QStringList classes;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QJsonObject object = QJsonDocument::fromJson(lines[i].toUtf8()).object();
        EXPECT_EQ(object.keys(), (QStringList{"class", "percentage", "text", "tooltip"}))
            << lines[i].toStdString();
        EXPECT_EQ(object.value("tooltip").toString(), "Демо-задача");
        const int percentage = object.value("percentage").toInt(-1);
        EXPECT_TRUE(percentage >= 0 && percentage <= 100) << lines[i].toStdString();
        if (i > 0) {
            EXPECT_NE(lines[i], lines[i - 1]);
        }
        classes << object.value("class").toString();
    }
    EXPECT_TRUE(classes.contains("rest")) << classes.join(' ').toStdString();
    const QStringList known = {"work", "rest"};
    EXPECT_TRUE(std::all_of(classes.begin(), classes.end(), [&](const QString& c) {
        return known.contains(c);
    })) << classes.join(' ').toStdString();

    // The app's end: a last line that clears the bar, and the follower ends with it.
    apps.front()->terminate();
    ASSERT_TRUE(follow.waitForFinished(5000));
    EXPECT_EQ(follow.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(follow.exitCode(), 0);
    EXPECT_TRUE(
        QString::fromUtf8(follow.readAllStandardOutput())
            .endsWith("{\"class\":\"idle\",\"percentage\":0,\"text\":\"\",\"tooltip\":\"\"}\n"));
}

}  // namespace
}  // namespace orvela
