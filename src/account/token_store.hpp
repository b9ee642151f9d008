// The token file: the one piece of the account connection that lives across runs.
//
// The file holds the token followed by one line feed, is readable by its owner only, and is
// replaced in one step, so that neither another user nor a concurrent reader ever sees a
// partial or exposed token.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvela {

// The token held by `text`: the text with Unicode white space and line breaks removed from
// both ends. Absent when the text is not valid UTF-8 or nothing is left.
std::optional<std::string> tokenFromText(std::string_view text);

// The longest token the app takes, stores or sends (4 KiB). The service's tokens are well
// under a hundred bytes; more is something else copied into place (a log, a key, a picture).
inline constexpr std::size_t kTokenLimit = 4096;
// The most bytes a token file may hold: the longest token and the line feed saved after it.
inline constexpr std::size_t kTokenFileLimit = kTokenLimit + 1;

// The token stored at `path`, or absent when there is none: no file, no permission, something
// other than a regular file in its place, or content that is not a token. Never fails.
// At most kTokenFileLimit + 1 bytes are ever read. A file larger than the limit yields its
// first kTokenFileLimit + 1 bytes as they are: a token that is there but too long for any
// request to carry, so it is treated like a token with control bytes (nothing sent, status 0)
// and never like a missing one.
std::optional<std::string> readTokenFile(const std::string& path);

// Stores `token` (exactly as given, plus a line feed) at `path`, creating missing folders with
// mode 0700 and leaving existing ones alone. The file carries mode 0600 from the moment it
// exists. Returns a description of the failure ("<path>: <reason>"), or nothing on success.
std::optional<std::string> saveTokenFile(const std::string& path, const std::string& token);

// The first half of a save, on its own so that its promise can be checked: a new file in
// `folder` holding exactly `bytes`, flushed to disk and closed, with mode 0600 from the moment
// it is created and whatever the umask. Either `path` is set or `error` describes the failure
// (and nothing is left behind).
struct PrivateFile {
    std::optional<std::string> path;
    std::string error;
};
PrivateFile writePrivateFile(const std::string& folder, std::string_view bytes);

// Removes the token file; a file already gone, or any other failure, is silently ignored.
void removeTokenFile(const std::string& path);

}  // namespace orvela
