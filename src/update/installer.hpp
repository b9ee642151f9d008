// Installing a newer release: the steps between the user's "Обновить" and the hand-over.
//
// Every step either succeeds or yields an UpdateError; the first failure ends the installation
// and its description is what the user reads in the "Обновление не установилось" alert.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace orvela {

// Errors of our own carry the domain "OrvelaTimer": 1 checksum, 2 no app in the archive, 3 a
// program failed, 4 not running from an installed bundle, 5 the bundle's folder cannot be
// changed, 6 the archive is not on the service, 7 the release signature is missing or wrong.
// Errors of the system (files, processes, the download) pass through with their own
// description and code 0.
struct UpdateError {
    std::string domain;
    int code = 0;
    std::string description;
    // The app began to quit in the middle: nothing was handed over and nobody is told.
    bool abandoned = false;

    static UpdateError own(int code, std::string description) {
        return {"OrvelaTimer", code, std::move(description)};
    }
    static UpdateError system(std::string description) {
        return {"system", 0, std::move(description)};
    }
    static UpdateError cutShort(std::string description) {
        return {"OrvelaTimer", 3, std::move(description), true};
    }
};

// The name the installed bundle, and the one inside a release archive, always has.
inline constexpr const char* kBundleName = "ORVELA Timer.app";

// The whole file; the system's description of the failure otherwise.
std::optional<UpdateError> readWholeFile(const std::filesystem::path& path, std::string& bytes);

// Replaces whatever sits at `work` with a new, empty directory only this user may enter.
std::optional<UpdateError> makeWorkDirectory(const std::filesystem::path& work);

// Writes `bytes` to a file that must not exist yet (mode 0600).
std::optional<UpdateError> writeNewFile(const std::filesystem::path& path, std::string_view bytes);

// The bundle the hand-over may replace: an absolute path whose last part is "ORVELA Timer.app".
// Anything else (no bundle at all, a bare folder, a relative path) is refused, because the
// script deletes the target before moving the new copy into place.
// Returns it normalised, or nothing.
std::optional<std::filesystem::path> replaceableBundle(
    const std::optional<std::string>& bundlePath);

}  // namespace orvela
