#include "update/release_signature.hpp"

#include <openssl/evp.h>

#include <memory>

namespace orvela {

namespace {

constexpr std::size_t kKeyBytes = 32;
constexpr std::size_t kSignatureBytes = 64;

bool isBase64Letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

}  // namespace

std::optional<std::string> decodeBase64(std::string_view text) {
    // Both the key and the signature are small; a longer text is nobody's and stays unread.
    if (text.empty() || text.size() % 4 != 0 || text.size() > 4096) return std::nullopt;
    std::size_t padding = 0;
    while (padding < 2 && text[text.size() - 1 - padding] == '=') ++padding;
    for (std::size_t i = 0; i < text.size() - padding; ++i)
        if (!isBase64Letter(text[i])) return std::nullopt;
    std::string bytes(text.size() / 4 * 3, '\0');
    // EVP_DecodeBlock decodes the padding as zero bytes; they are cut off below.
    const int length =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                        reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
    if (length < 0 || std::size_t(length) != bytes.size()) return std::nullopt;
    bytes.resize(bytes.size() - padding);
    return bytes;
}

SignatureCheck checkReleaseSignature(std::string_view publicKeyBase64,
                                     const std::optional<std::string>& signatureBase64,
                                     std::string_view digestHex) {
    const std::optional<std::string> key = decodeBase64(publicKeyBase64);
    if (!key || key->size() != kKeyBytes) return SignatureCheck::BadKey;
    if (!signatureBase64) return SignatureCheck::Missing;
    const std::optional<std::string> signature = decodeBase64(*signatureBase64);
    if (!signature || signature->size() != kSignatureBytes) return SignatureCheck::Wrong;

    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(key->data()),
                                    key->size()),
        EVP_PKEY_free);
    if (!pkey) return SignatureCheck::BadKey;
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          EVP_MD_CTX_free);
    // Ed25519 is one-shot: no digest of its own to name, the whole message in one call.
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1)
        return SignatureCheck::BadKey;
    const int verified = EVP_DigestVerify(
        context.get(), reinterpret_cast<const unsigned char*>(signature->data()), signature->size(),
        reinterpret_cast<const unsigned char*>(digestHex.data()), digestHex.size());
    return verified == 1 ? SignatureCheck::Good : SignatureCheck::Wrong;
}

}  // namespace orvela
