#include "client/url.hpp"

#include <uriparser/Uri.h>

namespace orvela {

bool isValidUrl(const std::string& text) {
    if (text.empty()) return false;
    UriUriA uri;
    const char* errorPos = nullptr;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (uriParseSingleUriExA(&uri, first, last, &errorPos) != URI_SUCCESS) return false;
    const bool absolute = uri.scheme.first != nullptr && uri.scheme.afterLast != uri.scheme.first;
    uriFreeUriMembersA(&uri);
    return absolute;
}

}  // namespace orvela
