// Release signatures: Ed25519 over the archive's SHA-256 as the manifest writes it (64
// lower-case hexadecimal digits, no line feed), checked with the public key a build carries.
//
// The digest rather than the archive bytes: the installer computes it anyway, signing and
// checking need the 64-byte text only (openssl pkeyutl -rawin on a small file), and the
// signature then also vouches for the manifest's "sha256". It is as strong as SHA-256's
// resistance to second pre-images, which nobody can break.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvela {

// Strict base64 (RFC 4648, padded, no blanks or line feeds); absent for anything else.
std::optional<std::string> decodeBase64(std::string_view text);

enum class SignatureCheck { Good, Missing, Wrong, BadKey };

// `publicKeyBase64` is the raw 32-byte Ed25519 key in base64; `signatureBase64` the manifest's
// "signature", if it has one. A signature that does not decode is Wrong, never skipped.
SignatureCheck checkReleaseSignature(std::string_view publicKeyBase64,
                                     const std::optional<std::string>& signatureBase64,
                                     std::string_view digestHex);

}  // namespace orvela
