// A throwaway Ed25519 release key made for one test run, never stored: it signs what a test
// publishes, as scripts/release.sh --sign-key does with the real one.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orvela::test {

class ReleaseKey {
public:
    // The raw 32-byte public key in base64, as a build carries it.
    std::string publicBase64() const {
        unsigned char raw[32];
        std::size_t length = sizeof raw;
        if (EVP_PKEY_get_raw_public_key(key_.get(), raw, &length) != 1)
            throw std::runtime_error("");
        return base64(raw, length);
    }
    // The base64 signature of `message` (a manifest's "sha256" text).
    std::string sign(std::string_view message) const {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
        unsigned char signature[64];
        std::size_t length = sizeof signature;
        if (EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
            EVP_DigestSign(ctx.get(), signature, &length,
                           reinterpret_cast<const unsigned char*>(message.data()),
                           message.size()) != 1)
            throw std::runtime_error("signing failed");
        return base64(signature, length);
    }

private:
    static std::string base64(const unsigned char* bytes, std::size_t size) {
        std::string text(4 * ((size + 2) / 3) + 1, '\0');
        text.resize(std::size_t(
            EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes, int(size))));
        return text;
    }
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key_{
        EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), EVP_PKEY_free};
};

}  // namespace orvela::test
