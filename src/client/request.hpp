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

// The request for `base` + `path` (plain concatenation, nothing escaped) with exactly one
// header of our own, "Authorization: Bearer <token>", no body and no Content-Type, bounded by
// `bounds`. Nothing when that text is not a URL, or when the token could not travel in a
// header: a control byte, or more bytes than any token file may hold (a wrong file copied
// into its place must not become a header of megabytes).
std::optional<HttpRequest> bearerRequest(const std::string& base, const std::string& path,
                                         const std::string& method, const std::string& token,
                                         TransferBounds bounds);

}  // namespace orvela
