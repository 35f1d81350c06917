// The support staff's side of the collector: the pages, the JSON API, the CSV
// export and the login that guards them. The HTTP server hands every request
// but the ingest path to WebApp::Handle.
#pragma once
#include <boost/beast/http.hpp>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace collector {

class Store;

struct WebSettings {
    bool secureCookie = false;              // set when a TLS proxy stands in front
    std::int64_t sessionSeconds = 12 * 3600;
    int loginAttemptsPerMinute = 5;         // failed logins per client address
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
    struct LoginBucket {
        std::int64_t windowStart = 0;
        int failures = 0;
    };

    Store& store_;
    WebSettings settings_;
    std::mutex loginMutex_;
    std::map<std::string, LoginBucket, std::less<>> loginBuckets_;
};

}  // namespace collector
