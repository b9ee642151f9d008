// Whether the bundle's folder can be changed, tried for real: as an unprivileged user (root may
// write anywhere, so a root run drops to "nobody" in a child) and on a read-only mount.
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

constexpr int kCannotArrange = 77;

// Runs `arrange` and then the check in a child process; the child's answer: 0 refused with the
// folder named, 1 accepted, 2 refused without naming it, kCannotArrange.
int checkInChild(const fs::path& bundle, const fs::path& named,
                 const std::function<bool()>& arrange) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (!arrange()) ::_exit(kCannotArrange);
        const std::optional<std::string> why = whyNotReplaceable(bundle);
        ::_exit(!why                                                                 ? 1
                : why->starts_with("папку «" + named.string() + "» нельзя изменить") ? 0
                                                                                     : 2);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The user becomes one who owns nothing here (or stays who they are when that is not root).
bool becomeUnprivileged() {
    return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0);
}

TEST(InstallFolder, OnlyAFolderTheUserMayChangeIsAccepted) {
    test::TempHome home;
    const fs::path apps = home.path() / "Applications", bundle = apps / "ORVELA Timer.app";
    fs::create_directories(bundle / "bin");
    EXPECT_EQ(whyNotReplaceable(bundle), std::nullopt);
    EXPECT_TRUE(fs::is_empty(apps / "ORVELA Timer.app/bin") && fs::exists(bundle));
    EXPECT_EQ(std::distance(fs::directory_iterator(apps), {}), 1) << "a probe was left behind";
    EXPECT_EQ(checkInChild(apps / "gone/ORVELA Timer.app", apps / "gone", [] { return true; }), 0);

    // Open to the unprivileged user down to the bundle, but `closed` (the parent, or the bundle
    // itself) only readable: a system-wide install the user cannot change.
    for (const fs::path& closed : {apps, bundle}) {
        SCOPED_TRACE(closed);
        for (const fs::path& p : {home.path(), apps, bundle}) ::chmod(p.c_str(), 0777);
        ::chmod(closed.c_str(), 0555);
        EXPECT_EQ(checkInChild(bundle, closed, becomeUnprivileged), 0);
        ::chmod(closed.c_str(), 0777);
        EXPECT_EQ(checkInChild(bundle, closed, becomeUnprivileged), 1)
            << "open to all, still refused";
    }

    // A read-only mount over the parent, in a mount namespace of the child's own.
    const int readOnly = checkInChild(bundle, apps, [&] {
        return ::unshare(CLONE_NEWNS) == 0 &&
               ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               ::mount(apps.c_str(), apps.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0 &&
               ::mount(nullptr, apps.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) ==
                   0;
    });
    if (readOnly == kCannotArrange)
        GTEST_SKIP() << "no mount namespace here: read-only case not run";
    EXPECT_EQ(readOnly, 0);
}

}  // namespace
}  // namespace orvela
