// The real binary as the app (against the stand-in service or a counting one) and as its own
// command line, on the test's private session bus, with the test as the panel.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <memory>

#include "dev-service/service.hpp"
#include "qt/support/fake_panel.hpp"
#include "qt/support/hostile_server.hpp"
#include "qt/support/qt_wait.hpp"

namespace orvela {
namespace {

using test::waitUntil;
using Seen = test::HostileServer::Seen;

// A command line's exit status (-1 when it crashed or hung), standard error and output.
struct CliRun {
    int exit = -1;
    std::string err;
    QString out;
    auto said() const { return std::tuple(exit, err, out); }
};

bool matches(const QString& pattern, const QString& text) {
    return QRegularExpression("^(" + pattern + ")$").match(text).hasMatch();
}

// Ended within five seconds, of its own accord and with status 0.
bool exitedCleanly(QProcess& process) {
    return process.waitForFinished(5000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

class ControlEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid() && panel.isConnected())
            << "run under scripts/with-session-bus.sh";
        ASSERT_EQ(::mkdir(QFile::encodeName(root.path() + "/run").constData(), 0700), 0);
        environment.insert("HOME", root.path() + "/home");
        environment.insert("XDG_CONFIG_HOME", root.path() + "/config");
        environment.insert("XDG_RUNTIME_DIR", root.path() + "/run");
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    }
    void TearDown() override {
        for (auto& app : apps) app->terminate(), app->waitForFinished(5000);
    }
    void writeToken(const std::string& token) {
        ASSERT_TRUE(test::writeFile(root.path() + "/home/.config/orvela/token",
                                    QByteArray::fromStdString(token + "\n")));
    }
    QProcess& start(QProcess& process, const QStringList& arguments) {
        process.setProcessEnvironment(environment);
        process.start(ORVELA_TIMER_BIN, arguments);
        return process;
    }
    QProcess& launch(const QStringList& arguments = {}) {
        return start(*apps.emplace_back(std::make_unique<QProcess>()),
                     QStringList{"-OrvelaURL", base} + arguments);
    }
    CliRun run(const QStringList& arguments) {
        QProcess cli;
        EXPECT_TRUE(start(cli, arguments).waitForFinished(10000))
            << arguments.join(' ').toStdString();
        return {cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1,
                cli.readAllStandardError().toStdString(),
                QString::fromUtf8(cli.readAllStandardOutput())};
    }
    // The stand-in with its demo timer, and the app showing it.
    void startDemo() {
        dev::Options options;
        options.port = 0;
        demo = std::make_unique<dev::DevService>(options);
        demo->start();
        base = QString::fromStdString(demo->baseUrl());
        writeToken(options.token);
        launch();
        ASSERT_TRUE(waitUntil([&] { return phase() == "work"; }, 10000));
    }
    // The phase the app reports, read as any bar reads it.
    QString phase() {
        const QByteArray out = run({"status", "--json"}).out.toUtf8();
        return QJsonDocument::fromJson(out).object().value("class").toString();
    }

    QTemporaryDir root;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    test::FakePanel panel;
    QString base;
    std::unique_ptr<dev::DevService> demo;
    std::vector<std::unique_ptr<QProcess>> apps;
};

// On the bus and, without one, with the lock: a second launch is out within a second with
// status 0, leaving one item and one poller; once the app has gone, the next launch (the
// update's relaunch) becomes the app.
TEST_F(ControlEndToEnd, OneAppPerSessionAndTheNextOnceItHasGone) {
    test::HostileServer counter;  // answers "no timer" (and nothing else) and logs every poll
    counter.behave("/api/ext/pomodoro", test::HostileServer::Mode::Answer,
                   R"({"success":true,"state":null})");
    base = QString::fromStdString(counter.url());
    const auto polls = [&] {
        return std::ranges::count(counter.seen(), "GET /api/ext/pomodoro", &Seen::line);
    };
    writeToken("orvela_tok");
    ASSERT_TRUE(panel.startWatcher());

    for (const bool bus : {true, false}) {
        SCOPED_TRACE(bus ? "bus" : "lock");
        if (!bus) environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        const auto before = polls();
        QProcess& first = launch();
        ASSERT_TRUE(waitUntil([&] { return polls() == before + 1; }, 10000));
        QElapsedTimer clock;
        clock.start();
        EXPECT_TRUE(exitedCleanly(launch({"--from-the-menu"})));
        EXPECT_LT(clock.elapsed(), 1000);
        test::spin(1500);
        EXPECT_EQ(std::pair(polls(), first.state()), std::pair(before + 1, QProcess::Running));
        EXPECT_TRUE(!bus || panel.watcher.registrations.size() == 1);  // no bus, no panel
        first.terminate();
        ASSERT_TRUE(first.waitForFinished(5000));
        QProcess& next = launch();
        EXPECT_TRUE(waitUntil([&] { return polls() == before + 2; }, 10000)) << "no one took over";
        next.terminate();
        next.waitForFinished(5000);
    }
}

// Every command through the running app: what the menu offers is done (the phase reported
// afterwards is the service's answer), the rest is refused with the reason; unknown arguments
// are a usage error. A bar following all along (waybar's JSON) gets a line at every change and,
// when the app quits, a last one that clears it; then nothing runs and the exit says so.
TEST_F(ControlEndToEnd, CommandsDoTheirWorkOrSayWhyWhileABarFollows) {
    ASSERT_NO_FATAL_FAILURE(startDemo());
    EXPECT_TRUE(matches("🍅 2\\d:\\d\\d · Демо-задача\n", run({"status"}).out));
    QProcess follow;
    start(follow, {"status", "--json", "--follow"});
    // The countdown's seconds first: a line each.
    ASSERT_TRUE(waitUntil([&] { return follow.peek(1 << 16).count('\n') >= 3; }, 10000));
    const std::string usage = "Справка: orvela-timer --help\n", gone = "ORVELA Timer не запущен\n";
    // Arguments, exit status, standard error exactly (nothing on the output), the phase reported
    // afterwards (a pattern).
    const std::vector<std::tuple<QStringList, int, std::string, QString>> steps = {
        {{"resume"}, 1, "Таймер не на паузе\n", "work"},
        {{"pause"}, 0, "", "paused"},
        {{"toggle"}, 0, "", "work"},
        {{"-OrvelaURL", "http://elsewhere", "skip"}, 0, "", "rest"},
        {{"refresh"}, 0, "", "rest"},
        {{"stop"}, 0, "", "idle|event"},  // the demo agenda may have an event due
        {{"pause", "--json"}, 2, "orvela-timer: лишний аргумент «--json»\n" + usage, ""},
        {{"bogus"}, 2, "orvela-timer: неизвестная команда «bogus»\n" + usage, ""},
        {{"quit"}, 0, "", ""},  // for a bar without the menu: done once the app has gone
        {{"pause"}, 3, gone, ""},
        {{"quit"}, 3, gone, ""},
        {{"status", "--follow"}, 3, gone, ""},
    };
    const CliRun help = run({"--help"});
    for (const char* word : {"pause", "resume", "toggle", "skip", "stop", "extend", "refresh",
                             "status", "--json", "--follow", "-OrvelaURL"})
        EXPECT_TRUE(help.exit == 0 && help.out.contains(word)) << word;
    for (const auto& [arguments, exit, err, after] : steps) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        EXPECT_EQ(run(arguments).said(), std::tuple(exit, err, QString()));
        EXPECT_TRUE(after.isEmpty() || waitUntil([&] { return matches(after, phase()); }))
            << phase().toStdString();
    }
    ASSERT_TRUE(exitedCleanly(*apps.front()) && exitedCleanly(follow));
    const QStringList lines = QString::fromUtf8(follow.readAllStandardOutput()).split('\n');
    QStringList classes;
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const QJsonObject object = QJsonDocument::fromJson(lines[i].toUtf8()).object();
        EXPECT_TRUE(
            object.keys() == QStringList({"alt", "class", "percentage", "text", "tooltip"}) &&
            object.value("alt") == object.value("class") &&
            object.value("percentage").toInt(-1) >= 0 &&
            object.value("percentage").toInt(-1) <= 100 && (i == 0 || lines[i] != lines[i - 1]))
            << lines[i].toStdString();
        if (classes.value(classes.size() - 1) != object.value("class"))
            classes << object.value("class").toString();
    }
    // Each phase in turn, each second counting down in between; the last line clears the bar.
    EXPECT_TRUE(matches("work paused work rest (idle|event) idle", classes.join(' ')))
        << classes.join(' ').toStdString();
    EXPECT_EQ(lines.value(lines.size() - 2),
              R"({"alt":"idle","class":"idle","percentage":0,"text":"","tooltip":""})");
}

// Followers left behind by a bar end on their own within seconds, whatever the bar did with the
// pipe: its reading end closed while SIGPIPE is ignored (as sway's children have it), or still
// held by others after the bar itself is gone. (The test is the orphans' reaper here.)
TEST_F(ControlEndToEnd, FollowersEndWithTheirReaderOrTheirBar) {
    ASSERT_NO_FATAL_FAILURE(startDemo());
    QByteArray bin = ORVELA_TIMER_BIN, pidFile = QFile::encodeName(root.path() + "/pid");
    const auto spawn = [&](QByteArray script, int output) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
        QByteArray sh = "sh", c = "-c";
        char* args[] = {sh.data(), c.data(), script.data(), bin.data(), pidFile.data(), nullptr};
        pid_t pid = 0;
        EXPECT_EQ(posix_spawn(&pid, "/bin/sh", &actions, nullptr, args, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    };
    // Waits for a child (or an orphan handed to the test) to end: 0 when it exited, its status
    // when a signal ended it, -1 when it did not end (it is killed then).
    const auto ended = [](pid_t pid, int ms) {
        int status = 0;
        for (int waited = 0; waited <= ms; waited += 50, usleep(50000))
            if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? 0 : status;
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    };
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    int pipes[2][2];
    ASSERT_TRUE(pipe2(pipes[0], O_CLOEXEC) == 0 && pipe2(pipes[1], O_CLOEXEC) == 0);

    // The reader goes; the follower's writes fail with EPIPE and nothing kills it.
    const pid_t follower = spawn(R"(trap '' PIPE; exec "$0" status --json --follow)", pipes[0][1]);
    close(pipes[0][1]);
    char first[64];
    ASSERT_GT(read(pipes[0][0], first, sizeof first), 0);
    close(pipes[0][0]);
    EXPECT_EQ(ended(follower, 4000), 0) << "still following into a closed pipe";

    // The bar (here a shell) ends while the pipe stays open in the test: the orphan ends too.
    const pid_t bar = spawn(R"("$0" status --follow & echo $! > "$1"; sleep 2)", pipes[1][1]);
    close(pipes[1][1]);
    EXPECT_EQ(ended(bar, 5000), 0);
    bool ok = false;
    const pid_t orphan = QByteArray(test::readFile(root.path() + "/pid")).trimmed().toInt(&ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ended(orphan, 4000), 0) << "outlived its bar";
    close(pipes[1][0]);
    prctl(PR_SET_CHILD_SUBREAPER, 0);
}

}  // namespace
}  // namespace orvela
