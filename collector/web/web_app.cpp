// Routing of the support staff's requests: login, pages, API and CSV, each a
// small handler that asks the store and hands the records to the renderers.
#include "collector/web/web_app.h"

#include <chrono>
#include <cstdio>
#include <exception>

#include "collector/storage/store.h"
#include "collector/web/escape.h"
#include "collector/web/exports.h"
#include "collector/web/login.h"
#include "collector/web/pages.h"
#include "collector/web/view_text.h"

namespace collector {

namespace http = boost::beast::http;

namespace {

constexpr std::string_view kSessionCookie = "korvane_session";
constexpr std::string_view kLoginCookie = "korvane_login";
constexpr std::int64_t kLoginFormSeconds = 3600;
constexpr std::int64_t kDefaultDays = 30;

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A request's target split into its path and decoded query parameters.
struct Target {
    std::string path;
    std::map<std::string, std::string, std::less<>> query;

    std::string Get(std::string_view name) const {
        const auto found = query.find(name);
        return found == query.end() ? std::string() : found->second;
    }
};

std::map<std::string, std::string, std::less<>> ParseForm(std::string_view text) {
    std::map<std::string, std::string, std::less<>> fields;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('&'), text.size());
        const std::string_view pair = text.substr(0, end);
        const std::size_t equals = pair.find('=');
        if (!pair.empty()) {
            fields[DecodeFormComponent(pair.substr(0, equals))] =
                equals == std::string_view::npos ? std::string() : DecodeFormComponent(pair.substr(equals + 1));
        }
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return fields;
}

Target ParseTarget(std::string_view target) {
    const std::size_t question = target.find('?');
    Target parsed{DecodeFormComponent(target.substr(0, question)), {}};
    if (question != std::string_view::npos) parsed.query = ParseForm(target.substr(question + 1));
    return parsed;
}

Target TargetOf(const WebApp::Request& request) {
    return ParseTarget(std::string_view(request.target().data(), request.target().size()));
}

std::string CookieValue(const WebApp::Request& request, std::string_view name) {
    const auto [first, last] = request.equal_range(http::field::cookie);
    for (auto field = first; field != last; ++field) {
        std::string_view cookies(field->value().data(), field->value().size());
        while (!cookies.empty()) {
            const std::size_t end = std::min(cookies.find(';'), cookies.size());
            std::string_view cookie = cookies.substr(0, end);
            while (cookie.starts_with(' ')) cookie.remove_prefix(1);
            if (cookie.starts_with(name) && cookie.size() > name.size() && cookie[name.size()] == '=') {
                return std::string(cookie.substr(name.size() + 1));
            }
            cookies.remove_prefix(std::min(end + 1, cookies.size()));
        }
    }
    return {};
}

// Only a path of this site: no scheme, no "//host", nothing that ends a header.
std::string LocalPath(std::string_view next) {
    if (!next.starts_with('/') || next.starts_with("//") || next.starts_with("/\\")) return "/";
    for (const char c : next) {
        if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E) return "/";
    }
    return std::string(next);
}

// Invalid input of a query, answered 400 with its reason.
struct BadRequest {
    std::string reason;
};

std::optional<std::int64_t> IdFrom(std::string_view text) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    return std::stoll(std::string(text));
}

// since and until are dates (until inclusive) or seconds; without both the
// last kDefaultDays days, today included, when defaulted.
Period PeriodFrom(const Target& target, bool defaulted) {
    Period period;
    const std::string since = target.Get("since"), until = target.Get("until");
    if (!since.empty()) {
        const auto time = ParseTime(since);
        if (!time) throw BadRequest{"неверная дата «с»"};
        period.since = *time;
    }
    if (!until.empty()) {
        const auto time = ParseTime(until);
        if (!time) throw BadRequest{"неверная дата «по»"};
        period.until = until.size() == 10 ? *time + kSecondsPerDay : *time;
    }
    if (defaulted && since.empty() && until.empty()) {
        const std::int64_t today = Now() / kSecondsPerDay * kSecondsPerDay;
        period.since = today - (kDefaultDays - 1) * kSecondsPerDay;
    }
    return period;
}

ReportFilter FilterFrom(const Target& target, std::size_t defaultLimit, std::size_t maxLimit) {
    ReportFilter filter;
    filter.program = target.Get("program");
    filter.module = target.Get("module");
    filter.company = target.Get("company");
    filter.image = target.Get("image");
    if (const std::string code = target.Get("exitcode"); !code.empty()) {
        filter.exitCode = ParseExitCode(code);
        if (!filter.exitCode) throw BadRequest{"неверный код выхода"};
    }
    filter.period = PeriodFrom(target, false);
    if (const std::string group = target.Get("group"); !group.empty()) {
        const auto id = IdFrom(group);
        if (!id) throw BadRequest{"неверный номер группы"};
        filter.groupId = *id;
    }
    filter.limit = defaultLimit;
    if (const std::string limit = target.Get("limit"); !limit.empty()) {
        const auto value = IdFrom(limit);
        if (!value || *value == 0) throw BadRequest{"неверный limit"};
        filter.limit = std::min<std::size_t>(*value, maxLimit);
    }
    if (const std::string offset = target.Get("offset"); !offset.empty()) {
        const auto value = IdFrom(offset);
        if (!value) throw BadRequest{"неверный offset"};
        filter.offset = *value;
    }
    return filter;
}

WebApp::Response Reply(const WebApp::Request& request, http::status status, std::string_view contentType,
                       std::string body) {
    WebApp::Response response{status, request.version()};
    response.set(http::field::content_type, boost::beast::string_view(contentType.data(), contentType.size()));
    // No script, no frames, no outside resources; one style sheet of our own.
    response.set("Content-Security-Policy",
                 "default-src 'none'; style-src 'self'; img-src 'self' data:; form-action 'self'; "
                 "frame-ancestors 'none'; base-uri 'none'");
    response.set("X-Content-Type-Options", "nosniff");
    response.set("X-Frame-Options", "DENY");
    response.set("Referrer-Policy", "no-referrer");
    response.set("Cross-Origin-Opener-Policy", "same-origin");
    response.set(http::field::cache_control, "no-store");
    response.keep_alive(request.keep_alive());
    response.body() = std::move(body);
    response.prepare_payload();
    return response;
}

WebApp::Response Html(const WebApp::Request& request, std::string body, http::status status = http::status::ok) {
    return Reply(request, status, "text/html; charset=utf-8", std::move(body));
}

WebApp::Response Json(const WebApp::Request& request, std::string body, http::status status = http::status::ok) {
    return Reply(request, status, "application/json; charset=utf-8", std::move(body));
}

WebApp::Response Redirect(const WebApp::Request& request, const std::string& location) {
    WebApp::Response response = Reply(request, http::status::see_other, "text/plain; charset=utf-8", "");
    response.set(http::field::location, location);
    return response;
}

bool IsMachineRoute(std::string_view path) { return path.starts_with("/api/") || path == "/reports.csv"; }

WebApp::Response NotFound(const WebApp::Request& request, std::string_view path) {
    if (IsMachineRoute(path)) return Json(request, ErrorJson("not found"), http::status::not_found);
    return Html(request, MessagePage("Не найдено", "Такой страницы нет."), http::status::not_found);
}

std::string Cookie(std::string_view name, const std::string& value, std::string_view path, std::int64_t maxAge,
                   bool secure) {
    return std::string(name) + "=" + value + "; Path=" + std::string(path) + "; Max-Age=" + std::to_string(maxAge) +
           "; HttpOnly; SameSite=Strict" + (secure ? "; Secure" : "");
}

}  // namespace

WebApp::WebApp(Store& store, WebSettings settings) : store_(store), settings_(settings) {}

WebApp::Response WebApp::Handle(const Request& request, std::string_view client) {
    const std::string path = TargetOf(request).path;
    try {
        if (path == "/static/style.css") {
            WebApp::Response response = Reply(request, http::status::ok, "text/css; charset=utf-8", kStyleSheet);
            response.set(http::field::cache_control, "max-age=3600");
            return response;
        }
        if (path == "/favicon.ico") return Reply(request, http::status::not_found, "text/plain; charset=utf-8", "");
        if (path == "/login") {
            if (request.method() == http::verb::post) return Login(request, client);
            return LoginForm(request, "", http::status::ok);
        }
        const std::optional<Session> session = CurrentSession(request);
        if (!session) {
            if (IsMachineRoute(path)) return Json(request, ErrorJson("login required"), http::status::unauthorized);
            const std::string target(request.target().data(), request.target().size());
            return Redirect(request, "/login?next=" + EncodeQueryComponent(LocalPath(target)));
        }
        if (path == "/logout" && request.method() == http::verb::post) return Logout(request, *session);
        if (request.method() != http::verb::get) {
            WebApp::Response response = Html(request, MessagePage("Метод не разрешён", "Здесь только просмотр."),
                                             http::status::method_not_allowed);
            response.set(http::field::allow, "GET");
            return response;
        }
        return Route(request, *session);
    } catch (const BadRequest& bad) {
        if (IsMachineRoute(path)) return Json(request, ErrorJson(bad.reason), http::status::bad_request);
        return Html(request, MessagePage("Неверный запрос", "Неверный запрос: " + bad.reason + "."),
                    http::status::bad_request);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "korvane-collector: %s: %s\n", path.c_str(), error.what());
        if (IsMachineRoute(path))
            return Json(request, ErrorJson("internal error"), http::status::internal_server_error);
        return Html(request, MessagePage("Ошибка сервера", "Запрос не выполнен: ошибка хранилища."),
                    http::status::internal_server_error);
    }
}

WebApp::Response WebApp::Route(const Request& request, const Session& session) {
    const Target target = TargetOf(request);
    const PageFrame frame{FormToken(session.key, session.token)};
    const std::string& path = target.path;
    const auto idAfter = [&](std::string_view prefix) -> std::optional<std::int64_t> {
        if (!path.starts_with(prefix)) return std::nullopt;
        return IdFrom(std::string_view(path).substr(prefix.size()));
    };

    if (path == "/") {
        const Period period = PeriodFrom(target, true);
        return Html(request, GroupsPage(store_.Groups(period), store_.Refusals(period), period, frame));
    }
    if (path == "/api/groups") return Json(request, GroupsJson(store_.Groups(PeriodFrom(target, true))));
    if (path == "/modules") {
        const Period period = PeriodFrom(target, true);
        return Html(request, FailureModulesPage(store_.FailureModulesAcrossPrograms(period), period, frame));
    }
    if (path == "/api/modules") {
        return Json(request, FailureModulesJson(store_.FailureModulesAcrossPrograms(PeriodFrom(target, true))));
    }
    if (path == "/reports") {
        const ReportFilter filter = FilterFrom(target, 200, 1000);
        return Html(request, ReportsPage(filter, store_.Reports(filter), frame));
    }
    if (path == "/api/reports") return Json(request, ReportsJson(store_.Reports(FilterFrom(target, 200, 10000))));
    if (path == "/reports.csv") {
        WebApp::Response response = Reply(request, http::status::ok, "text/csv; charset=utf-8",
                                          ReportsCsv(store_.Reports(FilterFrom(target, 10000, 100000))));
        response.set(http::field::content_disposition, "attachment; filename=\"reports.csv\"");
        return response;
    }
    // A group's own page covers its whole life unless a period is asked for:
    // a report's page links there whatever its age.
    if (const auto id = idAfter("/groups/")) {
        const Period period = PeriodFrom(target, false);
        if (const auto group = store_.Group(*id, period)) return Html(request, GroupPage(*group, period, frame));
    } else if (const auto id = idAfter("/api/groups/")) {
        if (const auto group = store_.Group(*id, PeriodFrom(target, false))) return Json(request, GroupJson(*group));
    } else if (const auto id = idAfter("/reports/")) {
        if (const auto report = store_.ReportById(*id)) {
            return Html(request, ReportPage(*report, frame));
        }
    } else if (const auto id = idAfter("/api/reports/")) {
        if (const auto report = store_.ReportById(*id)) return Json(request, ReportJson(*report));
    }
    return NotFound(request, path);
}

std::optional<WebApp::Session> WebApp::CurrentSession(const Request& request) {
    const std::string token = CookieValue(request, kSessionCookie);
    if (token.empty()) return std::nullopt;
    const std::string hash = LoginHash(store_);
    if (hash.empty()) return std::nullopt;
    Session session{SigningKey(store_, hash), token};
    const std::int64_t now = Now();
    if (!TokenValid(session.key, "session", token, now)) return std::nullopt;
    std::lock_guard<std::mutex> lock(loginMutex_);
    if (loggedOut_.contains(token)) return std::nullopt;
    return session;
}

WebApp::Response WebApp::LoginForm(const Request& request, const std::string& message,
                                   boost::beast::http::status status) {
    const Target target = TargetOf(request);
    std::string next = LocalPath(target.Get("next"));
    if (request.method() == http::verb::post) next = LocalPath(ParseForm(request.body())["next"]);
    const std::string hash = LoginHash(store_);
    if (hash.empty()) {
        return Html(request,
                    MessagePage("Вход",
                                "Пароль входа не задан. Задайте его на сервере командой "
                                "korvane-collector --set-password и откройте эту страницу снова."),
                    http::status::service_unavailable);
    }
    const std::string key = SigningKey(store_, hash);
    // A form already open in another tab (or a favicon fetched beside it) keeps its token.
    std::string formCookie = CookieValue(request, kLoginCookie);
    if (!TokenValid(key, "login", formCookie, Now() + kLoginFormSeconds / 2)) {
        formCookie = SignToken(key, "login", Now() + kLoginFormSeconds);
    }
    Response response = Html(request, LoginPage(FormToken(key, formCookie), next, message), status);
    response.set(http::field::set_cookie,
                 Cookie(kLoginCookie, formCookie, "/login", kLoginFormSeconds, settings_.secureCookie));
    return response;
}

std::int64_t WebApp::LoginWait(std::string_view client, std::int64_t now) {
    std::lock_guard<std::mutex> lock(loginMutex_);
    if (loginWindows_.size() > 10000) {
        std::erase_if(loginWindows_, [&](const auto& entry) { return now - entry.second.start >= 60; });
    }
    // Per client, and all clients together ten times as many (a spread attack).
    std::int64_t wait = 0;
    const std::pair<std::string, int> limits[] = {{"client " + std::string(client), settings_.loginAttemptsPerMinute},
                                                  {"all", settings_.loginAttemptsPerMinute * 10}};
    for (const auto& [name, limit] : limits) {
        LoginWindow& window = loginWindows_[name];
        if (now - window.start >= 60) window = {now, 0};
        if (window.attempts >= limit) wait = std::max(wait, window.start + 60 - now);
    }
    if (wait > 0) return wait;
    for (const auto& [name, limit] : limits) ++loginWindows_[name].attempts;
    return 0;
}

WebApp::Response WebApp::Login(const Request& request, std::string_view client) {
    const std::int64_t now = Now();
    if (const std::int64_t wait = LoginWait(client, now)) {
        Response response =
            Html(request,
                 MessagePage("Вход", "Слишком много попыток входа. Повторите через " + std::to_string(wait) + " с."),
                 http::status::too_many_requests);
        response.set(http::field::retry_after, std::to_string(wait));
        return response;
    }
    auto form = ParseForm(request.body());
    const std::string hash = LoginHash(store_);
    if (hash.empty()) return LoginForm(request, "", http::status::service_unavailable);
    const std::string key = SigningKey(store_, hash);
    const std::string formCookie = CookieValue(request, kLoginCookie);
    if (!TokenValid(key, "login", formCookie, now) || !FormTokenValid(key, formCookie, form["csrf"])) {
        return LoginForm(request, "Форма входа устарела: введите пароль ещё раз.", http::status::forbidden);
    }
    bool matches = false;
    {
        std::lock_guard<std::mutex> lock(hashMutex_);
        matches = PasswordMatches(hash, form["password"]);
    }
    if (!matches) return LoginForm(request, "Неверный пароль.", http::status::forbidden);
    Response response = Redirect(request, LocalPath(form["next"]));
    response.insert(http::field::set_cookie,
                    Cookie(kSessionCookie, SignToken(key, "session", now + settings_.sessionSeconds), "/",
                           settings_.sessionSeconds, settings_.secureCookie));
    response.insert(http::field::set_cookie, Cookie(kLoginCookie, "", "/login", 0, settings_.secureCookie));
    return response;
}

WebApp::Response WebApp::Logout(const Request& request, const Session& session) {
    if (!FormTokenValid(session.key, session.token, ParseForm(request.body())["csrf"])) {
        return Html(request, MessagePage("Выход", "Форма устарела: обновите страницу и выйдите снова."),
                    http::status::forbidden);
    }
    {
        std::lock_guard<std::mutex> lock(loginMutex_);
        const std::int64_t now = Now();
        std::erase_if(loggedOut_, [&](const auto& entry) { return entry.second <= now; });
        loggedOut_[session.token] = TokenExpiry(session.token);
    }
    Response response = Redirect(request, "/login");
    response.set(http::field::set_cookie, Cookie(kSessionCookie, "", "/", 0, settings_.secureCookie));
    return response;
}

}  // namespace collector
