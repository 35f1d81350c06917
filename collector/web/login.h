// The login's cryptography (libsodium): the password hash (argon2id) and the
// signed tokens of sessions and forms. A token is "expiry.nonce.mac", the mac
// an HMAC over its purpose, expiry and nonce under a key derived from a random
// secret and the password hash, so that a new password ends every session.
// Tokens need no server-side table: several collector processes sharing one
// store accept each other's sessions; only logouts are kept there.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace collector {

class Store;

std::optional<std::string> HashPassword(std::string_view password);
bool PasswordMatches(const std::string& hash, std::string_view password);

// The store's login hash; empty when no password was set.
std::string LoginHash(Store& store);

// Key for signing, from the store's secret and the current login hash. The
// secret is made at first use and written once: of two processes starting
// together, the first writer's secret is the one both use.
std::string SigningKey(Store& store, const std::string& loginHash);

std::string SignToken(const std::string& key, std::string_view purpose, std::int64_t expiry);
// True when the token was signed for purpose with key and has not expired.
bool TokenValid(const std::string& key, std::string_view purpose, std::string_view token, std::int64_t now);
std::int64_t TokenExpiry(std::string_view token);
// What the store keeps of a revoked token: a digest, never the token itself.
std::string TokenDigest(std::string_view token);

// The token a form carries: bound to the cookie token of its session (or of
// the login form), so that another site cannot make one up.
std::string FormToken(const std::string& key, std::string_view boundTo);
bool FormTokenValid(const std::string& key, std::string_view boundTo, std::string_view formToken);

}  // namespace collector
