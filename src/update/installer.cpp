// The confirmation and the installation of a release the update check found.
//
// The installation runs from the download's completion on the main loop; everything after the
// download (hash, files, unpacking) runs there too, one step after another. It ends in one of
// two ways: the hand-over script is running and the app asks to quit (`updating` stays set, the
// process is about to end), or the first failure clears `updating` and is shown in one alert,
// leaving the offer in the menu for another try.
//
// Continuations capture `this`: the App lives for the whole process.
#include "update/installer.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "client/transfer_bounds.hpp"
#include "client/url.hpp"
#include "shell/app.hpp"
#include "update/handover_script.hpp"
#include "update/install_folder.hpp"
#include "update/release_signature.hpp"
#include "update/sha256.hpp"

namespace fs = std::filesystem;

namespace orvela {

namespace {

UpdateError fromErrno(int error) {
    return UpdateError::system(std::strerror(error));
}

std::string lowerAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    return text;
}

// The installation was started from an app that is not an installed bundle (the build tree,
// a copy under another name): there is nothing we may replace.
constexpr const char* kNoBundle =
    "приложение запущено не из установленной папки «ORVELA Timer.app»";

// Nothing from the manifest goes into the text: the address is the service's data.
constexpr const char* kArchiveElsewhere =
    "архив обновления лежит не на сервере ORVELA (другой адрес, порт или протокол)";

// Why the release key refused an archive whose checksum matched its manifest.
std::optional<UpdateError> signatureRefusal(SignatureCheck check) {
    switch (check) {
        case SignatureCheck::Good:
            return std::nullopt;
        case SignatureCheck::Missing:
            return UpdateError::own(7, "обновление не подписано");
        case SignatureCheck::Wrong:
            return UpdateError::own(7, "подпись обновления не подошла — архив подменён");
        case SignatureCheck::BadKey:
            return UpdateError::own(7, "в этой сборке испорчен ключ проверки обновлений");
    }
    return UpdateError::own(7, "подпись обновления не проверена");
}

}  // namespace

std::optional<UpdateError> readWholeFile(const fs::path& path, std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fromErrno(errno);
    bytes.clear();
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            return fromErrno(error);
        }
        if (got == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return std::nullopt;
}

std::optional<UpdateError> makeWorkDirectory(const fs::path& work) {
    std::error_code ignored;
    // A leftover of an earlier attempt at the same build. A symbolic link is removed as a link:
    // remove_all never follows one out of the temporary directory.
    fs::remove_all(work, ignored);
    std::error_code error;
    fs::create_directories(work.parent_path(), error);
    if (error) return UpdateError::system(error.message());
    // Created private in one step. If the leftover could not be removed this fails, and the
    // archive is never unpacked over files we do not know.
    if (::mkdir(work.c_str(), 0700) != 0) return fromErrno(errno);
    // Exactly 0700 whatever the umask: an odd one must not leave us unable to write into it.
    if (::chmod(work.c_str(), 0700) != 0) return fromErrno(errno);
    return std::nullopt;
}

std::optional<UpdateError> writeNewFile(const fs::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return fromErrno(errno);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (put < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            return fromErrno(error);
        }
        written += static_cast<std::size_t>(put);
    }
    if (::close(fd) != 0) return fromErrno(errno);
    return std::nullopt;
}

std::optional<fs::path> replaceableBundle(const std::optional<std::string>& bundlePath) {
    if (!bundlePath) return std::nullopt;
    const fs::path path = fs::path(*bundlePath).lexically_normal();
    if (!path.is_absolute() || path.filename() != kBundleName) return std::nullopt;
    return path;
}

// ---------------------------------------------------------------- the App's side

void App::installUpdate() {
    if (!update || updating) return;
    const ReleaseInfo release = *update;  // a later check may replace the offer meanwhile
    const std::string archiveUrl = base + release.zip;
    if (!isValidUrl(archiveUrl)) return;

    std::string informative;
    if (release.notes) informative = *release.notes + "\n\n";
    informative += "Приложение перезапустится, таймер продолжит идти.";
    platform_.activateApp();
    // An offer, not a danger: the information icon.
    const AlertAnswer answer = runAlert(Alert{"Обновить ORVELA Timer до " + release.version + "?",
                                              informative,
                                              AlertStyle::Informational,
                                              {"Обновить", "Позже"},
                                              std::nullopt});
    if (answer.button != 0) return;
    // The loop kept turning while the alert was open: a second confirmation may have been
    // answered meanwhile, and one installation is all there may be.
    if (updating) return;
    updating = true;

    if (std::optional<UpdateError> error = checkBeforeDownload(archiveUrl, release)) {
        installFailed(*error);
        return;
    }
    HttpRequest request;
    request.method = "GET";
    request.url = archiveUrl;
    request.deadlineSeconds = kArchiveBounds.deadlineSeconds;
    request.maxBodyBytes = kArchiveBounds.maxBodyBytes;
    platform_.download(request, [this, release](DownloadResult downloaded) {
        if (std::optional<UpdateError> error = installDownloaded(release, downloaded))
            installFailed(*error);
    });
}

// Everything that would make the download pointless or the hand-over harmful, checked before a
// byte is fetched: an archive from elsewhere, no bundle of ours to replace (the script deletes
// its target), a bundle whose folder the user cannot change (the script would fail after we
// quit, relaunch the old app, and the same update would be offered again, for ever), an
// unsigned release for a build that takes signed ones only.
std::optional<UpdateError> App::checkBeforeDownload(const std::string& archiveUrl,
                                                    const ReleaseInfo& release) {
    if (originOf(archiveUrl, base) != Origin::Same) return UpdateError::own(6, kArchiveElsewhere);
    if (platform_.bundleInfo("OrvelaReleasePublicKey") && !release.signature)
        return signatureRefusal(SignatureCheck::Missing);
    const std::optional<fs::path> bundle = replaceableBundle(platform_.bundlePath());
    if (!bundle) return UpdateError::own(4, kNoBundle);
    if (std::optional<std::string> why = whyNotReplaceable(*bundle))
        return UpdateError::own(5, *why);
    return std::nullopt;
}

std::optional<UpdateError> App::installDownloaded(const ReleaseInfo& release,
                                                  const DownloadResult& downloaded) {
    if (!downloaded.path) {
        return UpdateError::system(downloaded.error.empty() ? "архив не загрузился"
                                                            : downloaded.error);
    }
    std::string archive;
    std::optional<UpdateError> readError = readWholeFile(*downloaded.path, archive);
    // The downloaded file is the platform's scratch copy, made for us alone: once read (or
    // found unreadable) it has served its purpose.
    std::error_code ignored;
    fs::remove(*downloaded.path, ignored);
    if (readError) return readError;

    // Upper or lower case, but nothing more: a stray blank is a mismatch, not something to tidy.
    const std::optional<std::string> digest = sha256Hex(archive);
    if (!digest || *digest != lowerAscii(release.sha256))
        return UpdateError::own(1, "архив повреждён (контрольная сумма не совпала)");
    // A build that carries a release key takes only what that key signed: the manifest alone
    // (a compromised web server, an http:// base) must not be able to run code as the user.
    if (const std::optional<std::string> key = platform_.bundleInfo("OrvelaReleasePublicKey")) {
        if (auto error = signatureRefusal(checkReleaseSignature(*key, release.signature, *digest)))
            return error;
    }

    const fs::path temporary(platform_.temporaryDirectory());
    if (!temporary.is_absolute())
        return UpdateError::system("нет личной временной папки: «" + temporary.string() + "»");
    const fs::path work = temporary / ("orvela-update-" + std::to_string(release.build));
    if (auto error = makeWorkDirectory(work)) return error;
    const fs::path zip = work / "app.zip";
    if (auto error = writeNewFile(zip, archive)) return error;
    if (auto error = run("/usr/bin/unzip", {"-q", "-o", zip.string(), "-d", work.string()}))
        return error;

    // A real folder: a link named like the bundle could point anywhere, and the hand-over
    // copies whatever it finds there over the installed app.
    const fs::path fresh = work / kBundleName;
    std::error_code statusError;
    if (!fs::is_directory(fs::symlink_status(fresh, statusError)))
        return UpdateError::own(2, "в архиве нет приложения");

    if (auto error = handOver(fresh.string(), work.string())) return error;
    platform_.terminate();
    return std::nullopt;
}

void App::installFailed(const UpdateError& error) {
    updating = false;
    // The user is leaving: the installed app stays as it was, the offer returns at the next
    // launch, and an alert now would only stand in the way of quitting.
    if (error.abandoned) return;
    notice("Обновление не установилось", error.description);
}

std::optional<UpdateError> App::run(const std::string& path,
                                    const std::vector<std::string>& arguments) {
    const ProcessResult result = platform_.runAndWait(path, arguments);
    // Stopped half-way because the app is quitting: never an exit status, never a success.
    if (result.stoppedByQuit) return UpdateError::cutShort(path + " остановлен до завершения");
    if (!result.exitStatus) {
        return UpdateError::system(result.launchError.empty() ? path + " не запустился"
                                                              : result.launchError);
    }
    if (*result.exitStatus != 0) return UpdateError::own(3, path + " завершился с ошибкой");
    return std::nullopt;
}

std::optional<UpdateError> App::handOver(const std::string& fresh, const std::string& work) {
    const std::optional<fs::path> target = replaceableBundle(platform_.bundlePath());
    if (!target) return UpdateError::own(4, kNoBundle);
    const std::string script = handoverScript(platform_.processId());
    const auto environment =
        handoverEnvironment(target->string(), fresh, work, platform_.processEnvironment());
    if (std::optional<std::string> error =
            platform_.launchDetached("/bin/sh", {"-c", script}, environment))
        return UpdateError::system(error->empty() ? "/bin/sh не запустился" : *error);
    return std::nullopt;
}

}  // namespace orvela
