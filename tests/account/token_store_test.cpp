#include "account/token_store.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "client/app_harness.hpp"

namespace orvela::test {
namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;

struct ScopedUmask {
    explicit ScopedUmask(mode_t mask) : old(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old); }
    mode_t old;
};

mode_t modeOf(const fs::path& p) {
    struct stat info {};
    EXPECT_EQ(::stat(p.c_str(), &info), 0) << p;
    return info.st_mode & 07777;
}

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    return names;
}

// Reading back: Unicode white space trimmed at both ends only, non-UTF-8 refused.
TEST(TokenStore, ReadsTrimmedTokenOrNothing) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"orvela_abc\n", "orvela_abc"},
        {"", std::nullopt},
        {" \n\t\r\n  \n", std::nullopt},
        {" \t\r\n orvela a b\t\r\n\n", "orvela a b"},
        {"\u00A0\u2028\u3000orvela_x\u2029\u0085\u200A", "orvela_x"},
        {"orvela\u200B", "orvela\u200B"},  // zero width space is no white space
        {"orvela\xFF\n", std::nullopt},
        {"\xC0\xAForvela", std::nullopt},      // overlong
        {"\xED\xA0\x80orvela", std::nullopt},  // surrogate
        {"orvela\xD0", std::nullopt},          // cut at the end
    };
    TempHome home;
    for (const auto& [bytes, token] : cases) {
        home.putToken(bytes);
        EXPECT_EQ(readTokenFile(home.tokenPath()), token) << bytes;
    }
}

// Nothing that is not a readable regular file yields a token, and a FIFO does not block.
TEST(TokenStore, ReadsNothingFromMissingOrOddFiles) {
    TempHome home;
    const fs::path token = home.tokenPath();
    EXPECT_EQ(readTokenFile(token), std::nullopt);
    fs::create_directories(token);
    EXPECT_EQ(readTokenFile(token), std::nullopt);
    fs::remove(token);
    ASSERT_EQ(::mkfifo(token.c_str(), 0600), 0);
    EXPECT_EQ(readTokenFile(token), std::nullopt);
}

// Whatever the umask: the staging file is 0600 from creation (checked before any rename); a
// first save makes both folders 0700 and the file 0600 holding exactly token + LF; a save over
// a looser file leaves existing folders alone and ends 0600; nothing is left over; removal
// takes the file only and is silent when it is gone.
TEST(TokenStore, SaveIsPrivateFromTheStartUnderAnyUmask) {
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
        AppHarness h;
        ScopedUmask umask(mask);
        const fs::path token = h.home.tokenPath(), folder = token.parent_path(),
                       config = folder.parent_path();
        const PrivateFile staged = writePrivateFile(h.home.path(), "orvela_abc\n");
        ASSERT_TRUE(staged.path) << staged.error;
        EXPECT_EQ(fs::path(*staged.path).parent_path(), h.home.path());
        EXPECT_EQ(modeOf(*staged.path), 0600u) << mask;
        EXPECT_EQ(TempHome::read(*staged.path), "orvela_abc\n");

        EXPECT_EQ(h.app->saveToken(" orvela_abc "), std::nullopt) << mask;
        EXPECT_EQ(TempHome::read(token), " orvela_abc \n") << mask;
        EXPECT_EQ(modeOf(token), 0600u) << mask;
        EXPECT_EQ(modeOf(config), 0700u) << mask;
        EXPECT_EQ(modeOf(folder), 0700u) << mask;

        ::chmod(config.c_str(), 0755);
        ::chmod(folder.c_str(), 0750);
        ::chmod(token.c_str(), 0644);
        EXPECT_EQ(saveTokenFile(token, "orvela_new"), std::nullopt);
        EXPECT_EQ(h.app->readToken(), "orvela_new");
        EXPECT_EQ(modeOf(token), 0600u) << mask;
        EXPECT_EQ(modeOf(config), 0755u) << mask;
        EXPECT_EQ(modeOf(folder), 0750u) << mask;
        EXPECT_THAT(entries(folder), ElementsAre("token"));

        removeTokenFile(h.app->tokenPath);
        removeTokenFile(h.app->tokenPath);
        EXPECT_EQ(h.app->readToken(), std::nullopt);
        EXPECT_TRUE(fs::is_directory(folder));
    }
}

// Failures name the path and leave nothing behind: a file where the folder should be, and a
// folder in the token's place (the rename fails, the staging file goes).
TEST(TokenStore, SaveFailsCleanly) {
    TempHome home;
    const fs::path folder = home.tokenPath().parent_path();
    home.put(".config/orvela", "not a folder");
    auto error = saveTokenFile(home.tokenPath(), "orvela_abc");
    ASSERT_TRUE(error);
    EXPECT_THAT(*error, testing::HasSubstr(folder.string()));
    EXPECT_EQ(TempHome::read(folder), "not a folder");
    EXPECT_THAT(entries(folder.parent_path()), ElementsAre("orvela"));

    fs::remove(folder);
    home.put(".config/orvela/token/keep", "x");
    error = saveTokenFile(home.tokenPath(), "orvela_abc");
    ASSERT_TRUE(error);
    EXPECT_THAT(*error, testing::HasSubstr(home.tokenPath().string() + ": "));
    EXPECT_THAT(entries(folder), ElementsAre("token"));
}

}  // namespace
}  // namespace orvela::test
