// The table of the support staff's routes and their handlers: each asks the
// store and hands the records to the renderers (pages.h, exports.h).
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

bool Matches(std::string_view path, std::string_view route, bool prefix) {
    return prefix ? path.starts_with(route) : path == route;
}

}  // namespace

const std::vector<WebApp::Route>& WebApp::Routes() {
    using V = http::verb;
    static const std::vector<Route> routes = {
        {V::get, "/static/style.css", false, true, &WebApp::StyleSheet},
        {V::get, "/favicon.ico", false, true, &WebApp::Favicon},
        {V::get, "/login", false, true, &WebApp::LoginForm},
        {V::post, "/login", false, true, &WebApp::Login},
        {V::post, "/logout", false, false, &WebApp::Logout},
        {V::get, "/", false, false, &WebApp::GroupsPage},
        {V::get, "/api/groups", false, false, &WebApp::GroupsApi},
        {V::get, "/modules", false, false, &WebApp::ModulesPage},
        {V::get, "/api/modules", false, false, &WebApp::ModulesApi},
        {V::get, "/reports", false, false, &WebApp::ReportsPage},
        {V::get, "/api/reports", false, false, &WebApp::ReportsApi},
        {V::get, "/reports.csv", false, false, &WebApp::ReportsCsv},
        {V::get, "/groups/", true, false, &WebApp::GroupPage},
        {V::get, "/api/groups/", true, false, &WebApp::GroupApi},
        {V::get, "/reports/", true, false, &WebApp::ReportPage},
        {V::get, "/api/reports/", true, false, &WebApp::ReportApi},
    };
    return routes;
}

WebApp::WebApp(Store& store, WebSettings settings) : store_(store), settings_(settings), sessions_(store, settings) {}

WebApp::Response WebApp::Handle(const Request& request, std::string_view client) {
    const Target target = TargetOf(request);
    try {
        return Dispatch(request, target, client, Now());
    } catch (const BadRequest& bad) {
        if (IsMachineRoute(target.path)) return Json(request, ErrorJson(bad.reason), http::status::bad_request);
        return Html(request, MessagePage("Неверный запрос", "Неверный запрос: " + bad.reason + "."),
                    http::status::bad_request);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "korvane-collector: %s: %s\n", target.path.c_str(), error.what());
        if (IsMachineRoute(target.path))
            return Json(request, ErrorJson("internal error"), http::status::internal_server_error);
        return Html(request, MessagePage("Ошибка сервера", "Запрос не выполнен: ошибка хранилища."),
                    http::status::internal_server_error);
    }
}

WebApp::Response WebApp::Dispatch(const Request& request, const Target& target, std::string_view client,
                                  std::int64_t now) {
    const std::string& path = target.path;
    const Route* route = nullptr;
    for (const Route& r : Routes()) {
        if (r.method == request.method() && Matches(path, r.path, r.prefix)) {
            route = &r;
            break;
        }
    }
    const auto call = [&](const Sessions::Session* session) {
        const std::string_view rest = route->prefix ? std::string_view(path).substr(route->path.size()) : "";
        return (this->*route->handler)(Call{request, target, client, session, rest, now});
    };
    if (route && route->open) return call(nullptr);

    const std::optional<Sessions::Session> session = sessions_.Current(request, now);
    if (!session) {
        if (IsMachineRoute(path)) return Json(request, ErrorJson("login required"), http::status::unauthorized);
        const std::string wanted(request.target().data(), request.target().size());
        return Redirect(request, "/login?next=" + EncodeQueryComponent(LocalPath(wanted)));
    }
    if (route) return call(&*session);
    if (request.method() != http::verb::get) {
        Response response = Html(request, MessagePage("Метод не разрешён", "Здесь только просмотр."),
                                 http::status::method_not_allowed);
        response.set(http::field::allow, "GET");
        return response;
    }
    return NotFound(request, path);
}

Period WebApp::PagePeriod(const Call& call, std::int64_t defaultDays) {
    return PeriodFrom(call.target, defaultDays, call.now, store_.DataRange());
}

std::string WebApp::CsrfToken(const Call& call) const { return FormToken(call.session->key, call.session->token); }

// ---- Open routes ----------------------------------------------------------

WebApp::Response WebApp::StyleSheet(const Call& call) {
    Response response = Answer(call.request, http::status::ok, "text/css; charset=utf-8", kStyleSheet);
    response.set(http::field::cache_control, "max-age=3600");
    return response;
}

WebApp::Response WebApp::Favicon(const Call& call) {
    return Answer(call.request, http::status::not_found, "text/plain; charset=utf-8", "");
}

WebApp::Response WebApp::LoginForm(const Call& call) { return LoginFormWith(call, "", http::status::ok); }

WebApp::Response WebApp::LoginFormWith(const Call& call, const std::string& message, http::status status) {
    std::string next = LocalPath(call.target.Get("next"));
    if (call.request.method() == http::verb::post) next = LocalPath(ParseForm(call.request.body())["next"]);
    const std::string key = sessions_.Key();
    if (key.empty()) {
        return Html(call.request,
                    MessagePage("Вход",
                                "Пароль входа не задан. Задайте его на сервере командой "
                                "korvane-collector --set-password и откройте эту страницу снова."),
                    http::status::service_unavailable);
    }
    // A form already open in another tab (or a favicon fetched beside it) keeps its token.
    std::string formCookie = CookieValue(call.request, kLoginCookie);
    if (!TokenValid(key, "login", formCookie, call.now + kLoginFormSeconds / 2)) {
        formCookie = SignToken(key, "login", call.now + kLoginFormSeconds);
    }
    Response response = Html(call.request, LoginPage(FormToken(key, formCookie), next, message), status);
    response.set(http::field::set_cookie,
                 Cookie(kLoginCookie, formCookie, "/login", kLoginFormSeconds, settings_.secureCookie));
    return response;
}

// Only an attempt with a valid form reaches the password check and counts
// against the limits: forged posts from elsewhere cannot lock staff out.
WebApp::Response WebApp::Login(const Call& call) {
    FormFields form = ParseForm(call.request.body());
    const std::string key = sessions_.Key();
    if (key.empty()) return LoginFormWith(call, "", http::status::service_unavailable);
    const std::string formCookie = CookieValue(call.request, kLoginCookie);
    if (!TokenValid(key, "login", formCookie, call.now) || !FormTokenValid(key, formCookie, form["csrf"])) {
        return LoginFormWith(call, "Форма входа устарела: введите пароль ещё раз.", http::status::forbidden);
    }
    if (const std::int64_t wait = sessions_.AttemptWait(call.client)) {
        Response response = Html(
            call.request,
            MessagePage("Вход", "Слишком много попыток входа. Повторите через " + std::to_string(wait) + " с."),
            http::status::too_many_requests);
        response.set(http::field::retry_after, std::to_string(wait));
        return response;
    }
    if (!sessions_.PasswordMatches(form["password"])) {
        return LoginFormWith(call, "Неверный пароль.", http::status::forbidden);
    }
    Response response = Redirect(call.request, LocalPath(form["next"]));
    response.insert(http::field::set_cookie, Cookie(kSessionCookie, sessions_.NewSessionToken(key, call.now), "/",
                                                    settings_.sessionSeconds, settings_.secureCookie));
    response.insert(http::field::set_cookie, Cookie(kLoginCookie, "", "/login", 0, settings_.secureCookie));
    return response;
}

// ---- Routes behind the login ---------------------------------------------

WebApp::Response WebApp::Logout(const Call& call) {
    if (!FormTokenValid(call.session->key, call.session->token, ParseForm(call.request.body())["csrf"])) {
        return Html(call.request, MessagePage("Выход", "Форма устарела: обновите страницу и выйдите снова."),
                    http::status::forbidden);
    }
    sessions_.Revoke(*call.session, call.now);
    Response response = Redirect(call.request, "/login");
    response.set(http::field::set_cookie, Cookie(kSessionCookie, "", "/", 0, settings_.secureCookie));
    return response;
}

WebApp::Response WebApp::GroupsPage(const Call& call) {
    const Period period = PagePeriod(call, kDefaultDays);
    return Html(call.request, collector::GroupsPage(store_.Groups(period), store_.Refusals(period), period,
                                                    PageFrame{CsrfToken(call)}));
}

WebApp::Response WebApp::GroupsApi(const Call& call) {
    return Json(call.request, GroupsJson(store_.Groups(PagePeriod(call, kDefaultDays))));
}

WebApp::Response WebApp::ModulesPage(const Call& call) {
    const Period period = PagePeriod(call, kDefaultDays);
    return Html(call.request, FailureModulesPage(store_.FailureModulesAcrossPrograms(period), period,
                                                 PageFrame{CsrfToken(call)}));
}

WebApp::Response WebApp::ModulesApi(const Call& call) {
    return Json(call.request, FailureModulesJson(store_.FailureModulesAcrossPrograms(PagePeriod(call, kDefaultDays))));
}

WebApp::Response WebApp::ReportsPage(const Call& call) {
    const ReportFilter filter = FilterFrom(call.target, 200, 1000);
    return Html(call.request, collector::ReportsPage(filter, store_.Reports(filter), PageFrame{CsrfToken(call)}));
}

WebApp::Response WebApp::ReportsApi(const Call& call) {
    return Json(call.request, ReportsJson(store_.Reports(FilterFrom(call.target, 200, 10000))));
}

WebApp::Response WebApp::ReportsCsv(const Call& call) {
    Response response = Answer(call.request, http::status::ok, "text/csv; charset=utf-8",
                              collector::ReportsCsv(store_.Reports(FilterFrom(call.target, 10000, 100000))));
    response.set(http::field::content_disposition, "attachment; filename=\"reports.csv\"");
    return response;
}

// A group's own page covers its whole life unless a period is asked for: a
// report's page links there whatever its age.
WebApp::Response WebApp::GroupPage(const Call& call) {
    const auto id = IdFrom(call.rest);
    if (!id) return NotFound(call.request, call.target.path);
    const Period period = PagePeriod(call, 0);
    const auto group = store_.Group(*id, period);
    if (!group) return NotFound(call.request, call.target.path);
    return Html(call.request, collector::GroupPage(*group, period, PageFrame{CsrfToken(call)}));
}

WebApp::Response WebApp::GroupApi(const Call& call) {
    const auto id = IdFrom(call.rest);
    const auto group = id ? store_.Group(*id, PagePeriod(call, 0)) : std::nullopt;
    if (!group) return NotFound(call.request, call.target.path);
    return Json(call.request, GroupJson(*group));
}

WebApp::Response WebApp::ReportPage(const Call& call) {
    const auto id = IdFrom(call.rest);
    const auto report = id ? store_.ReportById(*id) : std::nullopt;
    if (!report) return NotFound(call.request, call.target.path);
    return Html(call.request, collector::ReportPage(*report, PageFrame{CsrfToken(call)}));
}

WebApp::Response WebApp::ReportApi(const Call& call) {
    const auto id = IdFrom(call.rest);
    const auto report = id ? store_.ReportById(*id) : std::nullopt;
    if (!report) return NotFound(call.request, call.target.path);
    return Json(call.request, ReportJson(*report));
}

}  // namespace collector
