// Whether the hand-over will be able to replace the installed bundle.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace orvela {

// The script makes "…app.new" next to the bundle, deletes the bundle and renames the copy into
// its place: it must create and remove entries in the bundle's folder and in the bundle itself.
// Each is tried, not asked (a probe entry created and removed at once): access() answers yes to
// root whatever the mode, and only an attempt meets every reason for a no (mode, owner, a
// read-only mount, an immutable folder). Returns the reason, naming the folder, or nothing.
std::optional<std::string> whyNotReplaceable(const std::filesystem::path& bundle);

}  // namespace orvela
