#include "account/token_store.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "client/app_harness.hpp"

namespace orvela::test {
namespace {

namespace fs = std::filesystem;

class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old_); }

private:
    mode_t old_;
};

mode_t modeOf(const fs::path& p) {
    struct stat info {};
    EXPECT_EQ(::stat(p.c_str(), &info), 0) << p;
    return info.st_mode & 07777;
}

std::string contents(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    return names;
}

// What a file holds, read back as a token: Unicode spaces trimmed, non-UTF-8 refused.
TEST(TokenStore, ReadsTrimmedTokenOrNothing) {
    struct Case {
        const char* name;
        std::string bytes;
        std::optional<std::string> token;
    };
    const std::vector<Case> cases = {
        {"as saved", "orvela_abc\n", "orvela_abc"},
        {"empty", "", std::nullopt},
        {"only blanks and lines", " \n\t\r\n  \n", std::nullopt},
        {"blanks around, kept inside", " \t\r\n\n orvela a b\t\r\n\n", "orvela a b"},
        {"Unicode spaces and separators", "\u00A0\u2028\u3000orvela_x\u2029\u0085\u200A",
         "orvela_x"},
        {"only Unicode spaces", "\u3000\u2028", std::nullopt},
        {"zero width space is not white space", "orvela\u200B", "orvela\u200B"},
        {"stray byte", "orvela\xFF\n", std::nullopt},
        {"overlong slash", "\xC0\xAForvela", std::nullopt},
        {"encoded surrogate", "\xED\xA0\x80orvela", std::nullopt},
        {"cut sequence at end", "orvela\xD0", std::nullopt},
    };
    TempHome home;
    for (const auto& c : cases) {
        home.putToken(c.bytes);
        EXPECT_EQ(readTokenFile(home.tokenPath()), c.token) << c.name;
    }
}

// Nothing that is not a readable regular file yields a token, and nothing blocks.
TEST(TokenStore, ReadsNothingFromMissingOrOddFiles) {
    TempHome home;
    const fs::path token = home.tokenPath();
    EXPECT_EQ(readTokenFile(token), std::nullopt);  // not even the folder exists

    fs::create_directories(token);
    EXPECT_EQ(readTokenFile(token), std::nullopt);
    fs::remove(token);

    ASSERT_EQ(::mkfifo(token.c_str(), 0600), 0);
    EXPECT_EQ(readTokenFile(token), std::nullopt);
    fs::remove(token);

    if (::geteuid() != 0) {  // the superuser reads anything
        home.putToken("orvela_abc\n");
        fs::permissions(token, fs::perms::none);
        EXPECT_EQ(readTokenFile(token), std::nullopt);
    }
}

// A first save creates both folders 0700 and the file 0600 with exactly token + LF.
TEST(TokenStore, SaveCreatesPrivateFoldersAndFile) {
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
        TempHome home;
        ScopedUmask umask(mask);
        EXPECT_EQ(saveTokenFile(home.tokenPath(), " orvela_abc "), std::nullopt) << mask;
        EXPECT_EQ(contents(home.tokenPath()), " orvela_abc \n") << mask;
        EXPECT_EQ(modeOf(home.tokenPath()), 0600u) << mask;
        EXPECT_EQ(modeOf(home.path() / ".config"), 0700u) << mask;
        EXPECT_EQ(modeOf(home.path() / ".config" / "orvela"), 0700u) << mask;
        EXPECT_THAT(entries(home.tokenPath().parent_path()), testing::ElementsAre("token"));
    }
}

// Saving over an old, looser file: folders keep their modes, the file ends 0600, no leftovers.
TEST(TokenStore, SaveReplacesAndLeavesExistingFoldersAlone) {
    TempHome home;
    ScopedUmask umask(0);
    home.putToken("orvela_old\n");
    ::chmod((home.path() / ".config").c_str(), 0755);
    ::chmod(home.tokenPath().parent_path().c_str(), 0750);
    ::chmod(home.tokenPath().c_str(), 0644);

    EXPECT_EQ(saveTokenFile(home.tokenPath(), "orvela_new"), std::nullopt);
    EXPECT_EQ(contents(home.tokenPath()), "orvela_new\n");
    EXPECT_EQ(modeOf(home.tokenPath()), 0600u);
    EXPECT_EQ(modeOf(home.path() / ".config"), 0755u);
    EXPECT_EQ(modeOf(home.tokenPath().parent_path()), 0750u);
    EXPECT_THAT(entries(home.tokenPath().parent_path()), testing::ElementsAre("token"));
    EXPECT_EQ(readTokenFile(home.tokenPath()), "orvela_new");
}

// The file holding the token is owner-only from the moment it exists: the staging file is
// checked before it is renamed into place, under umasks that would otherwise widen (0) or
// narrow (0277) it. Together with the rename, which keeps that inode and its mode, the token
// is never group- or other-readable, not even for an instant.
TEST(TokenStore, StagingFileIsOwnerOnlyFromTheStart) {
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
        TempHome home;
        ScopedUmask umask(mask);
        const PrivateFile staged = writePrivateFile(home.path(), "orvela_abc\n");
        ASSERT_TRUE(staged.path) << staged.error;
        EXPECT_EQ(fs::path(*staged.path).parent_path(), home.path());
        EXPECT_EQ(modeOf(*staged.path), 0600u) << mask;
        EXPECT_EQ(contents(*staged.path), "orvela_abc\n");
    }
}

// Failures are reported with the path and leave nothing behind.
TEST(TokenStore, SaveFailsCleanly) {
    {  // a plain file where the folder should be: nothing is written at all
        TempHome home;
        home.put(fs::path(".config") / "orvela", "not a folder");
        const auto error = saveTokenFile(home.tokenPath(), "orvela_abc");
        ASSERT_TRUE(error);
        EXPECT_THAT(*error, testing::HasSubstr((home.path() / ".config" / "orvela").string()));
        EXPECT_EQ(contents(home.path() / ".config" / "orvela"), "not a folder");
        EXPECT_THAT(entries(home.path() / ".config"), testing::ElementsAre("orvela"));
    }
    {  // a folder in the token's place: the rename fails and the staging file goes
        TempHome home;
        home.put(fs::path(".config") / "orvela" / "token" / "keep", "x");
        const auto error = saveTokenFile(home.tokenPath(), "orvela_abc");
        ASSERT_TRUE(error);
        EXPECT_THAT(*error, testing::HasSubstr(home.tokenPath().string()));
        EXPECT_THAT(entries(home.tokenPath().parent_path()), testing::ElementsAre("token"));
    }
}

// The App's store lives under the platform's home; removal is silent and keeps the folder.
TEST(TokenStore, AppStoreRoundTripAndRemoval) {
    AppHarness h;
    EXPECT_EQ(h.app->tokenPath, h.home.tokenPath().string());
    EXPECT_EQ(h.app->readToken(), std::nullopt);
    EXPECT_EQ(h.app->saveToken("orvela_abc"), std::nullopt);
    EXPECT_EQ(h.app->readToken(), "orvela_abc");
    EXPECT_FALSE(h.app->token);  // saving alone touches no field

    removeTokenFile(h.app->tokenPath);
    EXPECT_EQ(h.app->readToken(), std::nullopt);
    EXPECT_TRUE(fs::is_directory(h.home.tokenPath().parent_path()));
    removeTokenFile(h.app->tokenPath);  // already gone: silent
}

}  // namespace
}  // namespace orvela::test
