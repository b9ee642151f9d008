#include "account/token_store.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "client/temp_home.hpp"

namespace orvela::test {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& p) {
    struct stat info {};
    return ::stat(p.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}
long entries(const fs::path& folder) {
    return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
}

// Reading back: Unicode white space trimmed at both ends only, non-UTF-8 refused, a file over
// 4 KiB and its line feed read only that far, and a FIFO in the token's place neither blocks nor
// yields a token.
TEST(TokenStore, ReadsTrimmedTokenOrNothing) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {" \t\r\n orvela a b\t\r\n\n", "orvela a b"},
        {" \n\t\r\n  \n", std::nullopt},
        {"\u00A0\u2028\u3000orvela_x\u2029\u0085\u200A", "orvela_x"},
        {"orvela\xFF\n", std::nullopt},
        {std::string(4096, 'a') + "\n", std::string(4096, 'a')},  // the longest token, saved
        // Read one byte past the limit: never trimmed into a token that fits in a header.
        {" " + std::string(1 << 20, 'b'), " " + std::string(4097, 'b')},
    };
    TempHome home;
    for (const auto& [bytes, token] : cases) {
        home.putToken(bytes);
        EXPECT_EQ(readTokenFile(home.tokenPath()), token) << bytes.substr(0, 40);
    }
    fs::remove(home.tokenPath());
    ASSERT_EQ(::mkfifo(home.tokenPath().c_str(), 0600), 0);
    EXPECT_EQ(readTokenFile(home.tokenPath()), std::nullopt);
}

// Whatever the umask, the staging file is 0600 from creation; a save over a looser file leaves
// existing folders alone; no staging copy stays behind, not even after a failure.
TEST(TokenStore, SaveIsPrivateFromTheStartAndLeavesNothingBehind) {
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
        TempHome home;
        const mode_t old = ::umask(mask);
        const fs::path token = home.tokenPath(), folder = token.parent_path();
        EXPECT_EQ(modeOf(writePrivateFile(home.path(), "orvela_abc").path.value_or("")), 0600u);

        EXPECT_EQ(saveTokenFile(token, " orvela_abc "), std::nullopt) << mask;
        EXPECT_EQ(TempHome::read(token), " orvela_abc \n") << mask;
        EXPECT_EQ((std::vector{modeOf(token), modeOf(folder), modeOf(folder.parent_path())}),
                  (std::vector<mode_t>{0600, 0700, 0700}))
            << mask;

        ::chmod(folder.c_str(), 0750);
        ::chmod(token.c_str(), 0644);
        EXPECT_EQ(saveTokenFile(token, "orvela_new"), std::nullopt);
        ::umask(old);
        EXPECT_EQ(modeOf(token) * 010000 + modeOf(folder), 0600u * 010000 + 0750u) << mask;
        EXPECT_EQ(entries(folder), 1);
        removeTokenFile(token);
        EXPECT_EQ(entries(folder), 0);
    }
    // A folder in the token's place: the failure names the path, the staging copy goes.
    TempHome home;
    home.put(".config/orvela/token/keep", "x");
    const std::string error = saveTokenFile(home.tokenPath(), "t").value_or("");
    EXPECT_TRUE(error.starts_with(home.tokenPath().string() + ": ")) << error;
    EXPECT_EQ(entries(home.tokenPath().parent_path()), 1);
}

}  // namespace
}  // namespace orvela::test
