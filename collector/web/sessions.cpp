// Session checks against the store and the login limits per address and network.
#include "collector/web/sessions.h"

#include <boost/asio/ip/address.hpp>

#include <chrono>

#include "collector/storage/store.h"
#include "collector/web/login.h"

namespace collector {

namespace {

constexpr std::string_view kSessionCookie = "korvane_session";

}  // namespace

std::string LoginNetworkOf(std::string_view client) {
    boost::system::error_code error;
    const auto address = boost::asio::ip::make_address(std::string(client), error);
    if (error) return std::string(client);
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return LoginNetworkOf(boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6()).to_string());
    }
    if (address.is_v4()) {
        auto bytes = address.to_v4().to_bytes();
        bytes[3] = 0;
        return boost::asio::ip::address_v4(bytes).to_string() + "/24";
    }
    auto bytes = address.to_v6().to_bytes();
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return boost::asio::ip::address_v6(bytes).to_string() + "/64";
}

Sessions::Sessions(Store& store, const WebSettings& settings)
    : store_(store),
      settings_(settings),
      addresses_(settings.loginAttemptsPerMinute / 60.0, settings.loginAttemptsPerMinute),
      networks_(settings.networkLoginAttemptsPerMinute / 60.0, settings.networkLoginAttemptsPerMinute) {}

std::string Sessions::Key() {
    const std::string hash = LoginHash(store_);
    return hash.empty() ? std::string() : SigningKey(store_, hash);
}

std::optional<Sessions::Session> Sessions::Current(const WebRequest& request, std::int64_t now) {
    const std::string token = CookieValue(request, kSessionCookie);
    if (token.empty()) return std::nullopt;
    std::string key = Key();
    if (key.empty() || !TokenValid(key, "session", token, now)) return std::nullopt;
    if (store_.SessionRevoked(TokenDigest(token))) return std::nullopt;
    return Session{std::move(key), token};
}

std::int64_t Sessions::AttemptWait(std::string_view client) {
    const auto now = ClientRates::Clock::now();
    if (const int wait = addresses_.Take(std::string(client), now)) return wait;
    return networks_.Take(LoginNetworkOf(client), now);
}

bool Sessions::PasswordMatches(std::string_view password) {
    const std::string hash = LoginHash(store_);
    std::lock_guard<std::mutex> lock(hashMutex_);
    return collector::PasswordMatches(hash, password);
}

std::string Sessions::NewSessionToken(const std::string& key, std::int64_t now) {
    return SignToken(key, "session", now + settings_.sessionSeconds);
}

void Sessions::Revoke(const Session& session, std::int64_t now) {
    store_.RevokeSession(TokenDigest(session.token), TokenExpiry(session.token), now);
}

}  // namespace collector
