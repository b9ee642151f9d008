// Building the service's authenticated requests: one rule for the timer endpoints and the
// agenda, so that the URL check, the bearer header, the timeout and the cache policy cannot
// drift apart between them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "client/transfer_bounds.hpp"
#include "shell/platform/platform.hpp"

namespace orvela {

// The longest a transfer with the service may wait without receiving data.
inline constexpr double kServiceTimeoutSeconds = 10.0;

// True when `value` can travel in an HTTP header as it is: no byte below 0x20 and no DEL.
// A CR or LF would let the text end the header early and forge further headers or a body.
bool isHeaderSafe(std::string_view value);

// Why a token can never be sent, if it cannot. One rule for the request layer, which refuses to
// put such a token into a header, and for the two ways of connecting, which refuse to take one:
// the user then hears that the token is wrong, not that the network is.
enum class TokenFault {
    None,
    TooLong,           // more than kTokenLimit bytes: a wrong file or clipboard, never a token
    ControlCharacter,  // a byte below 0x20 or DEL, which could forge headers
};
TokenFault tokenFault(std::string_view token);
inline bool isSendableToken(std::string_view token) {
    return tokenFault(token) == TokenFault::None;
}

// The request for `base` + `path` (plain concatenation, nothing escaped) with exactly one
// header of our own, "Authorization: Bearer <token>", no body and no Content-Type, bounded by
// `bounds`. Nothing when that text is not a URL, or when the token is not sendable.
std::optional<HttpRequest> bearerRequest(const std::string& base, const std::string& path,
                                         const std::string& method, const std::string& token,
                                         TransferBounds bounds);

}  // namespace orvela
