#include "client/url.hpp"

#include <uriparser/Uri.h>

#include <algorithm>
#include <optional>

namespace orvela {

namespace {

// A parsed URI that frees itself.
class ParsedUri {
public:
    explicit ParsedUri(const std::string& text) {
        const char* errorPos = nullptr;
        ok_ = !text.empty() && uriParseSingleUriExA(&uri_, text.data(), text.data() + text.size(),
                                                    &errorPos) == URI_SUCCESS;
    }
    ~ParsedUri() {
        if (ok_) uriFreeUriMembersA(&uri_);
    }
    ParsedUri(const ParsedUri&) = delete;
    ParsedUri& operator=(const ParsedUri&) = delete;

    bool absolute() const { return ok_ && !part(uri_.scheme).empty(); }
    const UriUriA& uri() const { return uri_; }

    static std::string part(const UriTextRangeA& range) {
        if (!range.first || !range.afterLast) return {};
        return std::string(range.first, range.afterLast);
    }

private:
    UriUriA uri_{};
    bool ok_ = false;
};

std::string lowerAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    return text;
}

}  // namespace

bool isValidUrl(const std::string& text) {
    return ParsedUri(text).absolute();
}

Origin originOf(const std::string& url, const std::string& base) {
    const ParsedUri parsed(url), service(base);
    if (!parsed.absolute() || !service.absolute()) return Origin::NotAUrl;
    const UriUriA &a = parsed.uri(), &b = service.uri();
    auto part = ParsedUri::part;
    // Scheme and host compare without case (RFC 3986 6.2.2.1); the port as written, so that
    // an explicit default port is another authority too: the archive names no authority at all.
    const bool same = !part(b.hostText).empty() &&
                      lowerAscii(part(a.scheme)) == lowerAscii(part(b.scheme)) &&
                      lowerAscii(part(a.hostText)) == lowerAscii(part(b.hostText)) &&
                      part(a.portText) == part(b.portText) && a.userInfo.first == nullptr &&
                      b.userInfo.first == nullptr;
    return same ? Origin::Same : Origin::Elsewhere;
}

}  // namespace orvela
