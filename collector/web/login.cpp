// Password hashing and token signing with libsodium.
#include "collector/web/login.h"

#include <sodium.h>

#include <stdexcept>
#include <vector>

#include "collector/storage/store.h"
#include "collector/web/web_app.h"

namespace collector {

namespace {

constexpr const char* kHashSetting = "web.login_hash";
constexpr const char* kSecretSetting = "web.session_secret";

void InitSodium() {
    if (sodium_init() < 0) throw std::runtime_error("libsodium cannot be initialised");
}

std::string Hex(const unsigned char* bytes, std::size_t size) {
    std::string hex(size * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes, size);
    hex.pop_back();
    return hex;
}

std::string Mac(const std::string& key, std::string_view message) {
    unsigned char mac[crypto_auth_BYTES];
    crypto_auth(mac, reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                reinterpret_cast<const unsigned char*>(key.data()));
    return Hex(mac, sizeof mac);
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string RandomHex(std::size_t bytes) {
    std::vector<unsigned char> random(bytes);
    randombytes_buf(random.data(), random.size());
    return Hex(random.data(), random.size());
}

}  // namespace

std::optional<std::string> HashPassword(std::string_view password) {
    InitSodium();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0) {
        return std::nullopt;
    }
    return std::string(hash);
}

bool PasswordMatches(const std::string& hash, std::string_view password) {
    InitSodium();
    return !hash.empty() && crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::string LoginHash(Store& store) { return store.Setting(kHashSetting).value_or(""); }

std::string SigningKey(Store& store, const std::string& loginHash) {
    InitSodium();
    std::optional<std::string> secret = store.Setting(kSecretSetting);
    if (!secret || secret->empty()) secret = store.SetSettingOnce(kSecretSetting, RandomHex(32));
    std::string key(crypto_auth_KEYBYTES, '\0');
    crypto_generichash(reinterpret_cast<unsigned char*>(key.data()), key.size(),
                       reinterpret_cast<const unsigned char*>(loginHash.data()), loginHash.size(),
                       reinterpret_cast<const unsigned char*>(secret->data()), secret->size());
    return key;
}

std::string SignToken(const std::string& key, std::string_view purpose, std::int64_t expiry) {
    InitSodium();
    const std::string payload = std::to_string(expiry) + "." + RandomHex(16);
    return payload + "." + Mac(key, std::string(purpose) + "|" + payload);
}

std::int64_t TokenExpiry(std::string_view token) {
    std::int64_t expiry = 0;
    for (const char c : token.substr(0, token.find('.'))) {
        if (c < '0' || c > '9' || expiry > (INT64_MAX - 9) / 10) return 0;
        expiry = expiry * 10 + (c - '0');
    }
    return expiry;
}

std::string TokenDigest(std::string_view token) {
    InitSodium();
    unsigned char digest[crypto_generichash_BYTES];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(token.data()), token.size(),
                       nullptr, 0);
    return Hex(digest, sizeof digest);
}

bool TokenValid(const std::string& key, std::string_view purpose, std::string_view token, std::int64_t now) {
    const std::size_t macAt = token.rfind('.');
    if (macAt == std::string_view::npos || TokenExpiry(token) <= now) return false;
    const std::string_view payload = token.substr(0, macAt);
    return SameText(Mac(key, std::string(purpose) + "|" + std::string(payload)), token.substr(macAt + 1));
}

std::string FormToken(const std::string& key, std::string_view boundTo) {
    return Mac(key, "form|" + std::string(boundTo));
}

bool FormTokenValid(const std::string& key, std::string_view boundTo, std::string_view formToken) {
    return SameText(FormToken(key, boundTo), formToken);
}

bool SetLoginPassword(Store& store, std::string_view password) {
    if (password.empty()) return false;
    const std::optional<std::string> hash = HashPassword(password);
    if (!hash) return false;
    store.SetSetting(kHashSetting, *hash);
    return true;
}

bool HasLoginPassword(Store& store) { return !LoginHash(store).empty(); }

}  // namespace collector
