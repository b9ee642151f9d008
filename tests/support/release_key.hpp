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
    ReleaseKey() : key_(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), EVP_PKEY_free) {
        if (!key_) throw std::runtime_error("no Ed25519 key");
    }
    // The raw 32-byte public key in base64, as a build carries it.
    std::string publicBase64() const {
        unsigned char raw[32];
        std::size_t length = sizeof raw;
        if (EVP_PKEY_get_raw_public_key(key_.get(), raw, &length) != 1 || length != 32)
            throw std::runtime_error("no public key");
        return base64(std::string_view(reinterpret_cast<char*>(raw), length));
    }
    // The base64 signature of `message` (a manifest's "sha256" text).
    std::string sign(std::string_view message) const {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
        unsigned char signature[64];
        std::size_t length = sizeof signature;
        if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
            EVP_DigestSign(ctx.get(), signature, &length,
                           reinterpret_cast<const unsigned char*>(message.data()),
                           message.size()) != 1)
            throw std::runtime_error("signing failed");
        return base64(std::string_view(reinterpret_cast<char*>(signature), length));
    }

private:
    static std::string base64(std::string_view bytes) {
        std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
        const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                           reinterpret_cast<const unsigned char*>(bytes.data()),
                                           int(bytes.size()));
        text.resize(std::size_t(length));
        return text;
    }
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key_;
};

}  // namespace orvela::test
