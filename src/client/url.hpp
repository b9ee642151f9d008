// One rule for "is this text a URL we may send or open", shared by every caller.
#pragma once

#include <string>

namespace orvela {

// True when `text` is an absolute RFC 3986 URI (it has a scheme). Nothing is escaped or fixed:
// a text with a blank or a stray character is simply not a URL.
bool isValidUrl(const std::string& text);

}  // namespace orvela
