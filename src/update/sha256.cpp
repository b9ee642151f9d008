#include "update/sha256.hpp"

#include <dlfcn.h>
#include <openssl/evp.h>

#include <array>
#include <cstdio>

namespace orvela {

namespace {

// libcrypto is opened at the first digest (an update, every few hours at most), not at start:
// mapped and relocated it holds some 1.4 MB of resident memory the ticking app never uses. Over
// HTTPS, Qt's TLS backend opens the same library by the same name, and this shares it.
struct Crypto {
    decltype(&EVP_Digest) digest = nullptr;
    decltype(&EVP_sha256) sha256 = nullptr;
};

const Crypto& crypto() {
    static const Crypto loaded = [] {
        Crypto functions;
        void* library = ::dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
        if (!library) return functions;  // then no digest, and no archive ever matches
        functions.digest = reinterpret_cast<decltype(&EVP_Digest)>(::dlsym(library, "EVP_Digest"));
        functions.sha256 = reinterpret_cast<decltype(&EVP_sha256)>(::dlsym(library, "EVP_sha256"));
        return functions;
    }();
    return loaded;
}

}  // namespace

std::optional<std::string> sha256Hex(std::string_view bytes) {
    const Crypto& library = crypto();
    if (!library.digest || !library.sha256) return std::nullopt;
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (library.digest(bytes.data(), bytes.size(), digest.data(), &length, library.sha256(),
                       nullptr) != 1 ||
        length != 32)
        return std::nullopt;
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex.append(pair, 2);
    }
    return hex;
}

}  // namespace orvela
