#include "update/install_folder.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvela {

namespace {

// Creates a uniquely named, empty directory in `folder` and removes it again; errno's text on
// failure. A directory, not a file: rmdir cannot take anything that is not ours and empty.
std::optional<std::string> probe(const std::filesystem::path& folder) {
    std::string name = (folder / ".orvela-update-probe-XXXXXX").string();
    if (!::mkdtemp(name.data())) return std::strerror(errno);
    if (::rmdir(name.c_str()) != 0) return std::strerror(errno);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> whyNotReplaceable(const std::filesystem::path& bundle) {
    for (const std::filesystem::path& folder : {bundle.parent_path(), bundle}) {
        if (std::optional<std::string> error = probe(folder)) {
            return "папку «" + folder.string() + "» нельзя изменить (" + *error +
                   ") — перенесите «ORVELA Timer.app» туда, где у вас есть право записи";
        }
    }
    return std::nullopt;
}

}  // namespace orvela
