// One rule for "is this text a URL we may send or open", shared by every caller.
#pragma once

#include <string>

namespace orvela {

// True when `text` is an absolute RFC 3986 URI (it has a scheme). Nothing is escaped or fixed:
// a text with a blank or a stray character is simply not a URL.
bool isValidUrl(const std::string& text);

enum class Origin { Same, NotAUrl, Elsewhere };

// Whether `url` (built as the service's base followed by a path from the service's data) still
// points at the service: the same scheme, host and port as `base`, both parsed, and no
// user-info in either. A path glued on as text can carry an authority of its own ("@other.host",
// ".other.host", ":8443"); this is where that is caught. NotAUrl when either is no valid URL.
Origin originOf(const std::string& url, const std::string& base);

}  // namespace orvela
