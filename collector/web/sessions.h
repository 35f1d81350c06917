// Sessions of support staff: the signing key of the moment, the session a
// request carries, the login attempts' limits, and logouts. A logout is kept
// in the store, so it holds across restarts and on every instance sharing it.
#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "collector/ingest/client_rates.h"
#include "collector/web/request.h"

namespace collector {

class Store;

struct WebSettings {
    bool secureCookie = false;  // set when a TLS proxy stands in front
    std::int64_t sessionSeconds = 12 * 3600;
    int loginAttemptsPerMinute = 5;            // per client address
    int networkLoginAttemptsPerMinute = 20;    // per network (/24 of IPv4, /64 of IPv6)
};

// The network a client address belongs to for the login limits: "a.b.c.0/24"
// or the first 64 bits of an IPv6 address; the text itself when it is no address.
std::string LoginNetworkOf(std::string_view client);

class Sessions {
public:
    struct Session {
        std::string key;    // signing key of this moment
        std::string token;  // the session cookie, valid
    };

    Sessions(Store& store, const WebSettings& settings);

    // Empty when no password is set.
    std::string Key();
    // The request's valid, not revoked session.
    std::optional<Session> Current(const WebRequest& request, std::int64_t now);
    // Counts an attempt that reaches the password check; the seconds to wait
    // when the client's address or network is over its limit (0: go on).
    std::int64_t AttemptWait(std::string_view client);
    // One argon2id check at a time: each takes 64 MiB.
    bool PasswordMatches(std::string_view password);
    std::string NewSessionToken(const std::string& key, std::int64_t now);
    void Revoke(const Session& session, std::int64_t now);

private:
    Store& store_;
    WebSettings settings_;
    ClientRates addresses_;
    ClientRates networks_;
    std::mutex hashMutex_;
};

}  // namespace collector
