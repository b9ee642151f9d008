// The menu entry, icon and login entry an installed bundle keeps for itself, on a temporary home.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "desktop/autostart.hpp"
#include "desktop/desktop_integration.hpp"
#include "qt/support/qt_wait.hpp"

namespace orvela::qt {
namespace {

using orvela::test::readFile;
using orvela::test::writeFile;

const QByteArray kShipped =
    "[Desktop Entry]\nName=ORVELA Timer\nExec=orvela-timer\nTryExec=orvela-timer\n"
    "Icon=orvela-timer\n\n[Desktop Action x]\nExec=other\n";

class DesktopIntegration : public ::testing::Test {
protected:
    // A bundle in `parent` as the install lays it out; returns its program.
    QString install(const QString& parent) {
        const QString bundle = root.path() + parent + "/ORVELA Timer.app";
        EXPECT_TRUE(writeFile(bundle + "/share/applications/orvela-timer.desktop", kShipped));
        EXPECT_TRUE(
            writeFile(bundle + "/share/icons/hicolor/scalable/apps/orvela-timer.svg", "<svg/>"));
        return bundle + "/bin/orvela-timer";
    }
    // An old time stamp: a file that keeps it was not written again.
    static void age(const QString& path) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.setFileTime(QDateTime::fromSecsSinceEpoch(kOld), QFileDevice::FileModificationTime);
    }
    static bool aged(const QString& path) {
        return QFileInfo(path).lastModified().toSecsSinceEpoch() == kOld;
    }
    static constexpr qint64 kOld = 1000000000;

    QTemporaryDir root;
    DesktopPlaces places{root.path() + "/data",
                         root.path() + "/config/autostart/orvela-timer.desktop"};
    QString entry = places.dataHome + "/applications/orvela-timer.desktop";
    QString icon = places.dataHome + "/icons/hicolor/scalable/apps/orvela-timer.svg";
};

// In a folder named with the characters Exec reserves: in quotes " ` $ \ take a backslash and %
// doubles, then the string level doubles each backslash; TryExec is a plain string.
TEST_F(DesktopIntegration, WritesOnceQuotedThenFollowsTheBundleWhenItMoves) {
    const QString first = install(R"(/a b'c;d$e"f`g\h%i)");
    EXPECT_EQ(integrateWithDesktop(first, places), std::nullopt);
    const QString bundle = root.path() + R"(/a b'c;d\\$e\\"f\\`g\\\\h%%i/ORVELA Timer.app)";
    EXPECT_EQ(readFile(entry), "[Desktop Entry]\nName=ORVELA Timer\nExec=\"" + bundle.toUtf8() +
                                   "/bin/orvela-timer\"\nTryExec=" + root.path().toUtf8() +
                                   R"(/a b'c;d$e"f`g\\h%i/ORVELA Timer.app/bin/orvela-timer)"
                                   "\nIcon=orvela-timer\n\n[Desktop Action x]\nExec=other\n");
    EXPECT_EQ(readFile(icon), "<svg/>");
    EXPECT_FALSE(QFile::exists(places.autostartEntry));  // launch at login stays off

    // Unchanged: nothing is written again, not even an enabled login entry.
    ASSERT_EQ(Autostart(places.autostartEntry, first).enable(), std::nullopt);
    for (const QString& file : {entry, icon, places.autostartEntry}) age(file);
    EXPECT_EQ(integrateWithDesktop(first, places), std::nullopt);
    for (const QString& file : {entry, icon, places.autostartEntry})
        EXPECT_TRUE(aged(file)) << file.toStdString();

    // Moved: both entries point at the new place; the icon, the same, stays.
    const QString moved = install("/Moved");
    EXPECT_EQ(integrateWithDesktop(moved, places), std::nullopt);
    EXPECT_TRUE(readFile(entry).contains("\nExec=\"" + moved.toUtf8() + "\"\n"));
    EXPECT_EQ(readFile(places.autostartEntry), Autostart(places.autostartEntry, moved).entryText());
    EXPECT_TRUE(aged(icon));

    // A login entry the user switched off is theirs and stays as it is.
    const QByteArray off = "[Desktop Entry]\nExec=x\nHidden=true\n";
    ASSERT_TRUE(writeFile(places.autostartEntry, off));
    EXPECT_EQ(integrateWithDesktop(first, places), std::nullopt);
    EXPECT_EQ(readFile(places.autostartEntry), off);
}

TEST_F(DesktopIntegration, ABuildTreeWritesNothingAndABrokenFolderIsReported) {
    EXPECT_EQ(integrateWithDesktop(root.path() + "/build/dev/orvela-timer", places), std::nullopt);
    EXPECT_FALSE(QFile::exists(places.dataHome));

    ASSERT_TRUE(writeFile(places.dataHome, "a file where the folder should be"));
    const auto problem = integrateWithDesktop(install("/Apps"), places);
    ASSERT_TRUE(problem.has_value());
    EXPECT_NE(problem->find(places.dataHome.toStdString()), std::string::npos) << *problem;
}

}  // namespace
}  // namespace orvela::qt
