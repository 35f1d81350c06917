// Response building with the headers every answer carries.
#include "collector/web/replies.h"

#include "collector/web/exports.h"
#include "collector/web/pages.h"

namespace collector {

namespace http = boost::beast::http;

WebResponse Answer(const WebRequest& request, http::status status, std::string_view contentType, std::string body) {
    WebResponse response{status, request.version()};
    response.set(http::field::content_type, boost::beast::string_view(contentType.data(), contentType.size()));
    // No script, no frames, no outside resources; one style sheet of our own.
    response.set("Content-Security-Policy",
                 "default-src 'none'; style-src 'self'; img-src 'self' data:; form-action 'self'; "
                 "frame-ancestors 'none'; base-uri 'none'");
    response.set("X-Content-Type-Options", "nosniff");
    response.set("X-Frame-Options", "DENY");
    response.set("Referrer-Policy", "no-referrer");
    response.set("Cross-Origin-Opener-Policy", "same-origin");
    response.set(http::field::content_language, "ru");
    response.set(http::field::cache_control, "no-store");
    response.keep_alive(request.keep_alive());
    response.body() = std::move(body);
    response.prepare_payload();
    return response;
}

WebResponse Html(const WebRequest& request, std::string body, http::status status) {
    return Answer(request, status, "text/html; charset=utf-8", std::move(body));
}

WebResponse Json(const WebRequest& request, std::string body, http::status status) {
    return Answer(request, status, "application/json; charset=utf-8", std::move(body));
}

WebResponse Redirect(const WebRequest& request, const std::string& location) {
    WebResponse response = Answer(request, http::status::see_other, "text/plain; charset=utf-8", "");
    response.set(http::field::location, location);
    return response;
}

bool IsMachineRoute(std::string_view path) { return path.starts_with("/api/") || path == "/reports.csv"; }

WebResponse NotFound(const WebRequest& request, std::string_view path) {
    if (IsMachineRoute(path)) return Json(request, ErrorJson("not found"), http::status::not_found);
    return Html(request, MessagePage("Не найдено", "Такой страницы нет."), http::status::not_found);
}

std::string Cookie(std::string_view name, const std::string& value, std::string_view path, std::int64_t maxAge,
                   bool secure) {
    return std::string(name) + "=" + value + "; Path=" + std::string(path) + "; Max-Age=" + std::to_string(maxAge) +
           "; HttpOnly; SameSite=Strict" + (secure ? "; Secure" : "");
}

}  // namespace collector
