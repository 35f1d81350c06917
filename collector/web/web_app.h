// The support staff's side of the collector: the pages, the JSON API, the CSV
// export and the login that guards them. The HTTP server hands every request
// but the ingest path to WebApp::Handle.
#pragma once
#include <boost/beast/http.hpp>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace collector {

class Store;

struct WebSettings {
    bool secureCookie = false;  // set when a TLS proxy stands in front
    std::int64_t sessionSeconds = 12 * 3600;
    int loginAttemptsPerMinute = 5;  // per client address; all clients together ten times as many
};

// Stores the login password, hashed (argon2id), in the store's settings;
// sessions signed before the change end with it. Returns false when the
// password is empty or hashing fails.
bool SetLoginPassword(Store& store, std::string_view password);
bool HasLoginPassword(Store& store);

class WebApp {
public:
    using Request = boost::beast::http::request<boost::beast::http::string_body>;
    using Response = boost::beast::http::response<boost::beast::http::string_body>;

    WebApp(Store& store, WebSettings settings = {});

    // Safe to call from several threads at once (the store serialises its own
    // work). client is the peer's address, used only to limit login attempts.
    Response Handle(const Request& request, std::string_view client = {});

private:
    struct Session {
        std::string key;    // signing key of this moment
        std::string token;  // the session cookie, valid
    };

    Response Route(const Request& request, const Session& session);
    Response LoginForm(const Request& request, const std::string& message, boost::beast::http::status status);
    Response Login(const Request& request, std::string_view client);
    Response Logout(const Request& request, const Session& session);
    std::optional<Session> CurrentSession(const Request& request);
    // Counts one login attempt; the seconds to wait when over the limit.
    std::int64_t LoginWait(std::string_view client, std::int64_t now);

    struct LoginWindow {
        std::int64_t start = 0;
        int attempts = 0;
    };

    Store& store_;
    WebSettings settings_;
    std::mutex loginMutex_;
    std::map<std::string, LoginWindow, std::less<>> loginWindows_;
    std::map<std::string, std::int64_t> loggedOut_;  // session token -> its expiry
    std::mutex hashMutex_;                           // one argon2id check at a time: each takes 64 MiB
};

}  // namespace collector
