#include "account/token_store.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>

#include "shell/app.hpp"

namespace orvela {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

std::string failure(const std::string& path, int error) {
    return path + ": " + std::strerror(error);
}

// Closes the descriptor on every path out of a function.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports the error, which matters after a write: a full disk may only
    // show itself here.
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

bool isDirectory(const std::string& path, int& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = errno;
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = ENOTDIR;
        return false;
    }
    return true;
}

// Creates each missing folder of `folder`, from the top down, with mode 0700. Folders that
// exist are not touched; something that is not a folder in the way fails the whole save.
std::optional<std::string> makeFolders(const std::filesystem::path& folder) {
    std::filesystem::path walked;
    for (const auto& part : folder) {
        walked /= part;
        if (walked == walked.root_path()) continue;
        const std::string current = walked.string();
        int error = 0;
        if (isDirectory(current, error)) continue;
        if (error != ENOENT) return failure(current, error);
        if (::mkdir(current.c_str(), kFolderMode) != 0) {
            error = errno;
            // Someone else created it meanwhile: fine, as long as it is a folder.
            if (error == EEXIST && isDirectory(current, error)) continue;
            return failure(current, error);
        }
        // The umask may have taken owner bits away; the folder is 0700, no more, no less.
        if (::chmod(current.c_str(), kFolderMode) != 0) return failure(current, errno);
    }
    return std::nullopt;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

std::optional<std::string> tokenFromText(std::string_view text) {
    // ICU walks code points with 32-bit offsets; a text that large is no token anyway.
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    // Offsets of the first and past the last code point that is not white space.
    std::int32_t first = -1;
    std::int32_t last = 0;
    for (std::int32_t i = 0; i < length;) {
        const std::int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) return std::nullopt;  // not UTF-8 (stray, overlong or surrogate bytes)
        // White_Space: blanks, tabs, CR, LF, NEL, no-break and the other Unicode spaces,
        // the line and paragraph separators.
        if (u_isUWhiteSpace(c)) continue;
        if (first < 0) first = start;
        last = i;
    }
    if (first < 0) return std::nullopt;
    return std::string(
        text.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first)));
}

std::optional<std::string> readTokenFile(const std::string& path) {
    // Non-blocking, so that a FIFO in the token's place cannot hang the main loop.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    // Read every 15 s: a wrong file of gigabytes costs one short read, never the whole file.
    // The size is only a hint (the file may grow meanwhile); the read itself is bounded too.
    constexpr std::size_t kWanted = kTokenFileLimit + 1;
    std::string text(kWanted, '\0');
    std::size_t filled = 0;
    while (filled < kWanted) {
        const ssize_t got = ::read(fd.get(), text.data() + filled, kWanted - filled);
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    text.resize(filled);
    if (filled > kTokenFileLimit) return text;  // too long to be sent; see the header
    return tokenFromText(text);
}

PrivateFile writePrivateFile(const std::string& folder, std::string_view bytes) {
    // mkostemp opens O_CREAT | O_EXCL with mode 0600, which a umask can only narrow: the token
    // is never readable by anyone else, not even between creating the file and renaming it.
    std::string path = (std::filesystem::path(folder) / ".token-XXXXXX").string();
    Descriptor fd(::mkostemp(path.data(), O_CLOEXEC));
    if (fd.get() < 0) return {std::nullopt, failure(folder, errno)};

    auto abandon = [&path](int error) {
        ::unlink(path.c_str());
        return PrivateFile{std::nullopt, failure(path, error)};
    };
    // A umask that takes owner bits away would otherwise leave a file we could not read back.
    if (::fchmod(fd.get(), kFileMode) != 0) return abandon(errno);
    if (!writeAll(fd.get(), bytes)) return abandon(errno);
    if (::fsync(fd.get()) != 0) return abandon(errno);
    if (fd.close() != 0) return abandon(errno);
    return {std::move(path), {}};
}

std::optional<std::string> saveTokenFile(const std::string& path, const std::string& token) {
    const std::filesystem::path target(path);
    const std::filesystem::path folder = target.parent_path();
    if (!folder.empty()) {
        if (auto error = makeFolders(folder)) return error;
    }

    const std::string folderText = folder.empty() ? std::string(".") : folder.string();
    const PrivateFile written = writePrivateFile(folderText, token + "\n");
    if (!written.path) return written.error;
    if (::rename(written.path->c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(written.path->c_str());
        return failure(path, error);
    }

    // Make the rename itself durable; a folder that cannot be synced is no reason to fail.
    Descriptor folderFd(::open(folderText.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() >= 0) ::fsync(folderFd.get());

    // Nothing is rolled back if this fails: the new token is in place already.
    if (::chmod(path.c_str(), kFileMode) != 0) return failure(path, errno);
    return std::nullopt;
}

void removeTokenFile(const std::string& path) {
    // Only the file (or an empty folder) at that path: never a whole tree.
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

std::optional<std::string> App::readToken() const {
    return readTokenFile(tokenPath);
}

std::optional<std::string> App::saveToken(const std::string& newToken) const {
    return saveTokenFile(tokenPath, newToken);
}

}  // namespace orvela
