// The support staff's side of the collector: the pages, the JSON API, the CSV
// export and the login that guards them, as a table of routes over small
// handlers. The HTTP server hands every request but the ingest path to
// WebApp::Handle.
#pragma once
#include <boost/beast/http.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "collector/web/replies.h"
#include "collector/web/request.h"
#include "collector/web/sessions.h"

namespace collector {

class Store;

// Stores the login password, hashed (argon2id), in the store's settings;
// sessions signed before the change end with it. Returns false when the
// password is empty or hashing fails.
bool SetLoginPassword(Store& store, std::string_view password);
bool HasLoginPassword(Store& store);

class WebApp {
public:
    using Request = WebRequest;
    using Response = WebResponse;

    WebApp(Store& store, WebSettings settings = {});

    // Safe to call from several threads at once (the store serialises its own
    // work). client is the peer's address, used only to limit login attempts.
    Response Handle(const Request& request, std::string_view client = {});

private:
    // What a handler is given.
    struct Call {
        const Request& request;
        const Target& target;
        std::string_view client;
        const Sessions::Session* session;  // null on the routes open without one
        std::string_view rest;             // of the path after a prefix route's prefix
        std::int64_t now;
    };
    using Handler = Response (WebApp::*)(const Call&);
    struct Route {
        boost::beast::http::verb method;
        std::string_view path;
        bool prefix;   // the path begins so, an id follows
        bool open;     // needs no session
        Handler handler;
    };
    static const std::vector<Route>& Routes();

    Response Dispatch(const Request& request, const Target& target, std::string_view client, std::int64_t now);
    Period PagePeriod(const Call& call, std::int64_t defaultDays);
    std::string CsrfToken(const Call& call) const;

    Response StyleSheet(const Call& call);
    Response Favicon(const Call& call);
    Response LoginForm(const Call& call);
    Response Login(const Call& call);
    Response Logout(const Call& call);
    Response GroupsPage(const Call& call);
    Response GroupsApi(const Call& call);
    Response ModulesPage(const Call& call);
    Response ModulesApi(const Call& call);
    Response ReportsPage(const Call& call);
    Response ReportsApi(const Call& call);
    Response ReportsCsv(const Call& call);
    Response GroupPage(const Call& call);
    Response GroupApi(const Call& call);
    Response ReportPage(const Call& call);
    Response ReportApi(const Call& call);

    Response LoginFormWith(const Call& call, const std::string& message, boost::beast::http::status status);

    Store& store_;
    WebSettings settings_;
    Sessions sessions_;
};

}  // namespace collector
