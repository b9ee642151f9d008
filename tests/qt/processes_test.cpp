// Running programs from the Qt backend: waiting with the loop turning, and detached launches
// with an exact environment.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include "processes.hpp"
#include "qt_platform.hpp"
#include "qt_wait.hpp"

namespace orvela::qt {
namespace {

TEST(Processes, RunAndWaitReportsTheExitStatusWhileTheLoopTurns) {
    orvela::test::ScopedEnv inherited("ORVELA_TEST_INHERITED", "yes");
    struct Case {
        std::string script;
        int status;
    };
    const std::vector<Case> cases = {
        {"exit 0", 0},
        {"exit 3", 3},
        {"test \"$ORVELA_TEST_INHERITED\" = yes", 0},  // the app's own environment
        {"read line; test -z \"$line\"", 0},           // input is empty, never a hang
        {"kill -KILL $$", 128 + 9},
    };
    for (const Case& c : cases) {
        const ProcessResult result = runAndWait("/bin/sh", {"-c", c.script});
        EXPECT_EQ(result.exitStatus, c.status) << c.script;
        EXPECT_EQ(result.launchError, "") << c.script;
    }

    bool fired = false;
    QTimer::singleShot(50, [&] { fired = true; });
    EXPECT_EQ(runAndWait("/bin/sleep", {"0.3"}).exitStatus, 0);
    EXPECT_TRUE(fired) << "the main loop stood still while waiting";

    const ProcessResult missing = runAndWait("/nonexistent/unzip", {"-q"});
    EXPECT_EQ(missing.exitStatus, std::nullopt);
    EXPECT_FALSE(missing.launchError.empty());
}

TEST(Processes, ADetachedProgramGetsExactlyTheGivenEnvironment) {
    QTemporaryDir dir;
    const QString out = dir.path() + "/env.txt";
    auto environmentSeen = [&](const std::map<std::string, std::string>& environment) {
        QFile::remove(out);
        // dash adds PWD of its own; everything else must come from us.
        const std::string script = "env | grep -v '^PWD=' | sort > '" + out.toStdString() + "'";
        EXPECT_EQ(launchDetached("/bin/sh", {"-c", script}, environment), std::nullopt);
        QFile file(out);
        EXPECT_TRUE(orvela::test::waitUntil([&] { return file.size() > 0 || file.exists(); }));
        orvela::test::spin(100);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll().toStdString();
    };
    EXPECT_EQ(
        environmentSeen({{"TARGET", "/opt/ORVELA Timer.app"}, {"FRESH", "/x/y"}, {"WORK", "w"}}),
        "FRESH=/x/y\nTARGET=/opt/ORVELA Timer.app\nWORK=w\n");
    EXPECT_EQ(environmentSeen({}), "") << "an empty environment inherits nothing either";

    const auto error = launchDetached("/nonexistent/sh", {}, {{"A", "1"}});
    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(error->empty());
}

}  // namespace
}  // namespace orvela::qt
