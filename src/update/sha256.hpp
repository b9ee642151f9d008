// SHA-256 of an update archive, as the release manifest writes it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvela {

// The digest as 64 lower-case hexadecimal digits; absent only if the crypto library fails,
// so that a failure can never be mistaken for a match.
std::optional<std::string> sha256Hex(std::string_view bytes);

}  // namespace orvela
