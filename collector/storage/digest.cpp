// Dictionary digests: BLAKE2b from libsodium.
#include "collector/storage/digest.h"

#include <sodium.h>

#include <stdexcept>

namespace collector {

std::string DigestOf(const std::vector<std::string_view>& fields) {
    if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
    crypto_generichash_state state;
    unsigned char digest[16];
    crypto_generichash_init(&state, nullptr, 0, sizeof digest);
    for (std::string_view field : fields) {
        std::string prefix = std::to_string(field.size()) + ':';
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(prefix.data()), prefix.size());
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(field.data()), field.size());
    }
    crypto_generichash_final(&state, digest, sizeof digest);
    char hex[sizeof digest * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}

}  // namespace collector
