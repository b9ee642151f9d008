// Whether the bundle's folder can be changed, tried for real in a child process: as a user who
// owns nothing there (root may write anywhere, so a root run drops to "nobody") and on a
// read-only mount of the child's own.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "client/temp_home.hpp"
#include "update/install_folder.hpp"

namespace orvela {
namespace {

namespace fs = std::filesystem;

// The child's answer after `arrange`: 0 refused naming `named`, 1 accepted, 2 refused naming
// another folder, 77 could not arrange.
int checkInChild(const fs::path& bundle, const fs::path& named, std::function<bool()> arrange) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (!arrange()) ::_exit(77);
        const std::optional<std::string> why = whyNotReplaceable(bundle);
        ::_exit(!why                                                                 ? 1
                : why->starts_with("папку «" + named.string() + "» нельзя изменить") ? 0
                                                                                     : 2);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool unprivileged() {
    return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0);
}

TEST(InstallFolder, OnlyAFolderTheUserMayChangeIsAccepted) {
    test::TempHome home;
    const fs::path apps = home.path() / "Applications", bundle = apps / "ORVELA Timer.app";
    fs::create_directories(bundle / "bin");
    EXPECT_EQ(whyNotReplaceable(bundle), std::nullopt);
    EXPECT_EQ(std::distance(fs::directory_iterator(apps), {}), 1) << "a probe was left behind";
    EXPECT_TRUE(fs::is_empty(bundle / "bin"));
    EXPECT_EQ(checkInChild(apps / "gone/ORVELA Timer.app", apps / "gone", [] { return true; }), 0);
    // Open to all down to the bundle but for `closed` (the parent, or the bundle itself), which
    // is only readable, as a system-wide install is for its users; then open again.
    for (const fs::path& closed : {apps, bundle}) {
        for (const fs::path& p : {home.path(), apps, bundle}) ::chmod(p.c_str(), 0777);
        ::chmod(closed.c_str(), 0555);
        EXPECT_EQ(checkInChild(bundle, closed, unprivileged), 0) << closed;
        ::chmod(closed.c_str(), 0777);
        EXPECT_EQ(checkInChild(bundle, closed, unprivileged), 1) << closed;
    }
    const int readOnly = checkInChild(bundle, apps, [&] {
        return ::unshare(CLONE_NEWNS) == 0 &&
               ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               ::mount(apps.c_str(), apps.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
               ::mount(nullptr, apps.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) ==
                   0;
    });
    if (readOnly == 77) GTEST_SKIP() << "no mount namespace here: the read-only case did not run";
    EXPECT_EQ(readOnly, 0);
}

}  // namespace
}  // namespace orvela
