// The web application's handlers over a real SQLite store, without a server:
// what the login guards, how a session is made and ended, the rate limit,
// the security headers, and the API and CSV answers.
#include <gtest/gtest.h>

#include "collector/tests/web/web_fixture.h"
#include "collector/web/escape.h"

namespace collector {
namespace {

using namespace collector::testing;
namespace http = boost::beast::http;

std::string Header(const WebApp::Response& response, http::field field) { return std::string(response[field]); }
std::string Header(const WebApp::Response& response, const char* name) { return std::string(response[name]); }

TEST(WebApp, EverythingButTheLoginFormAndStyleNeedsASession) {
    TestStore store;
    WebApp app(store.store());
    const std::pair<std::string, http::status> targets[] = {
        {"/", http::status::see_other},
        {"/groups/1", http::status::see_other},
        {"/reports/1", http::status::see_other},
        {"/reports?program=demo.exe", http::status::see_other},
        {"/modules", http::status::see_other},
        {"/api/groups", http::status::unauthorized},
        {"/api/reports/1", http::status::unauthorized},
        {"/reports.csv", http::status::unauthorized},
        {"/login", http::status::ok},
        {"/static/style.css", http::status::ok},
    };
    for (const auto& [target, status] : targets) {
        const WebApp::Response response = app.Handle(Get(target, "korvane_session=1.2.3"));
        EXPECT_EQ(response.result(), status) << target;
        EXPECT_EQ(Header(response, "Content-Security-Policy"),
                  "default-src 'none'; style-src 'self'; img-src 'self' data:; form-action 'self'; "
                  "frame-ancestors 'none'; base-uri 'none'")
            << target;
        EXPECT_EQ(Header(response, "X-Content-Type-Options"), "nosniff");
        EXPECT_EQ(Header(response, "Referrer-Policy"), "no-referrer");
    }
    EXPECT_EQ(Header(app.Handle(Get("/reports?program=demo.exe")), http::field::location),
              "/login?next=%2Freports%3Fprogram%3Ddemo.exe");
}

TEST(WebApp, LoginNeedsTheFormTokenAndThePasswordAndLogoutEndsTheSession) {
    TestStore store;
    WebApp app(store.store());
    const WebApp::Response form = app.Handle(Get("/login?next=/groups/2"));
    const std::string formCookie = CookiePair(form, "korvane_login");
    const std::string csrf = FormValue(form.body(), "csrf");
    ASSERT_FALSE(csrf.empty());
    EXPECT_EQ(FormValue(form.body(), "next"), "/groups/2");
    EXPECT_NE(SetCookie(form, "korvane_login").find("; HttpOnly; SameSite=Strict"), std::string::npos);

    const std::string password = "&password=" + EncodeQueryComponent(kTestPassword);
    struct Attempt {
        std::string body, cookie;
        http::status status;
    };
    const Attempt refused[] = {
        {"next=%2F" + password, formCookie, http::status::forbidden},                     // no token
        {"csrf=" + csrf + "&next=%2F" + password, "", http::status::forbidden},           // token without its cookie
        {"csrf=" + csrf + "x&next=%2F" + password, formCookie, http::status::forbidden},  // a changed token
        {"csrf=" + csrf + "&next=%2F&password=wrong", formCookie, http::status::forbidden},
    };
    for (const Attempt& attempt : refused) {
        const WebApp::Response response = app.Handle(Post("/login", attempt.body, attempt.cookie), "10.0.0.1");
        EXPECT_EQ(response.result(), attempt.status) << attempt.body;
        EXPECT_TRUE(SetCookie(response, "korvane_session").empty());
    }
    const WebApp::Response loggedIn =
        app.Handle(Post("/login", "csrf=" + csrf + "&next=%2F%2Fevil.example" + password, formCookie), "10.0.0.2");
    ASSERT_EQ(loggedIn.result(), http::status::see_other);
    EXPECT_EQ(Header(loggedIn, http::field::location), "/");  // never to another site
    const std::string sessionCookie = SetCookie(loggedIn, "korvane_session");
    EXPECT_NE(sessionCookie.find("; Path=/; Max-Age=43200; HttpOnly; SameSite=Strict"), std::string::npos);
    const std::string session = CookiePair(loggedIn, "korvane_session");

    const WebApp::Response groups = app.Handle(Get("/", session));
    ASSERT_EQ(groups.result(), http::status::ok);
    EXPECT_NE(groups.body().find("Группы отказов"), std::string::npos);
    const std::string logoutToken = FormValue(groups.body(), "csrf");
    EXPECT_EQ(app.Handle(Post("/logout", "csrf=other", session)).result(), http::status::forbidden);
    EXPECT_EQ(app.Handle(Get("/", session)).result(), http::status::ok);
    EXPECT_EQ(app.Handle(Post("/logout", "csrf=" + logoutToken, session)).result(), http::status::see_other);
    EXPECT_EQ(app.Handle(Get("/", session)).result(), http::status::see_other);

    // A new password ends every session signed before it.
    const std::string second = LogIn(app);
    ASSERT_FALSE(second.empty());
    ASSERT_TRUE(SetLoginPassword(store.store(), "другой пароль"));
    EXPECT_EQ(app.Handle(Get("/api/groups", second)).result(), http::status::unauthorized);
    EXPECT_FALSE(LogIn(app, "другой пароль").empty());
}

// Only attempts that reach the password check count: per address, and per
// network (/24, /64) for many addresses of one network; never for everybody.
TEST(WebApp, LoginAttemptsAreLimitedPerAddressAndNetwork) {
    TestStore store;
    WebSettings settings;
    settings.loginAttemptsPerMinute = 3;
    settings.networkLoginAttemptsPerMinute = 5;
    WebApp app(store.store(), settings);
    const WebApp::Response form = app.Handle(Get("/login"));
    const std::string body = "csrf=" + FormValue(form.body(), "csrf") + "&password=wrong";
    const auto attempt = [&](const char* client) {
        return app.Handle(Post("/login", body, CookiePair(form, "korvane_login")), client).result();
    };
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(app.Handle(Post("/login", "password=wrong"), "10.0.0.9").result(), http::status::forbidden);
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(attempt("10.0.0.9"), http::status::forbidden);
    const WebApp::Response limited = app.Handle(Post("/login", body, CookiePair(form, "korvane_login")), "10.0.0.9");
    EXPECT_EQ(limited.result(), http::status::too_many_requests);
    const int wait = std::stoi(Header(limited, http::field::retry_after));
    EXPECT_GT(wait, 0);
    EXPECT_LE(wait, 60);
    EXPECT_EQ(attempt("10.0.0.10"), http::status::forbidden);
    EXPECT_EQ(attempt("10.0.0.11"), http::status::forbidden);  // the network's fifth
    EXPECT_EQ(attempt("10.0.0.12"), http::status::too_many_requests);
    EXPECT_EQ(attempt("10.0.1.12"), http::status::forbidden);  // another /24

    EXPECT_EQ(LoginNetworkOf("192.0.2.77"), "192.0.2.0/24");
    EXPECT_EQ(LoginNetworkOf("::ffff:192.0.2.77"), "192.0.2.0/24");
    EXPECT_EQ(LoginNetworkOf("2001:db8:1:2:3:4:5:6"), LoginNetworkOf("2001:db8:1:2::9"));
    EXPECT_NE(LoginNetworkOf("2001:db8:1:2::9"), LoginNetworkOf("2001:db8:1:3::9"));
}

TEST(WebApp, ApiAndCsvAnswerFromTheStoreAndRefuseBadQueries) {
    TestStore store;
    WebApp app(store.store());
    const std::string session = LogIn(app);
    const std::string hostileId = std::to_string(store.reports().hostileId);

    const WebApp::Response report = app.Handle(Get("/api/reports/" + hostileId, session));
    ASSERT_EQ(report.result(), http::status::ok);
    EXPECT_EQ(Header(report, http::field::content_type), "application/json; charset=utf-8");
    EXPECT_EQ(report.body().find('<'), std::string::npos);
    EXPECT_NE(report.body().find("\"exitCodeHex\":\"0xC0000142\""), std::string::npos);
    EXPECT_NE(report.body().find("{\"name\":\"ntdll.dll\",\"folder\":\"%SYSTEM%\",\"size\":\"102400\","
                                 "\"productVersion\":\"6.1.7601.17514\",\"created\":\"05.03.2013\","
                                 "\"modified\":\"06.03.2013\",\"description\":\"NT Layer DLL\","
                                 "\"company\":\"Microsoft Corporation\"}"),
              std::string::npos);

    const WebApp::Response failures = app.Handle(Get("/api/reports?program=demo.exe&exitcode=0xC0000142", session));
    ASSERT_EQ(failures.result(), http::status::ok);
    EXPECT_NE(failures.body().find("\"id\":" + std::to_string(store.reports().failureId) + ","), std::string::npos);
    EXPECT_EQ(failures.body().find("\"exitCode\":0,"), std::string::npos);

    const WebApp::Response csv = app.Handle(Get("/reports.csv?module=hook.dll", session));
    ASSERT_EQ(csv.result(), http::status::ok);
    EXPECT_EQ(Header(csv, http::field::content_type), "text/csv; charset=utf-8");
    EXPECT_NE(csv.body().find("\r\n" + hostileId + ","), std::string::npos);
    EXPECT_EQ(csv.body().find(",<script"), std::string::npos);  // quoted, since it holds a quote

    const WebApp::Response page = app.Handle(Get("/reports/" + hostileId, session));
    ASSERT_EQ(page.result(), http::status::ok);
    EXPECT_EQ(page.body().find("<script"), std::string::npos);
    EXPECT_NE(page.body().find("⚠ папка доступна пользователю на запись"), std::string::npos);

    const std::pair<std::string, http::status> bad[] = {
        {"/api/reports?exitcode=0xZZ", http::status::bad_request},
        {"/api/reports?since=2026-13-01", http::status::bad_request},
        {"/reports?until=yesterday", http::status::bad_request},
        {"/api/reports/999999", http::status::not_found},
        {"/api/groups/abc", http::status::not_found},
        {"/reports/1x", http::status::not_found},
    };
    for (const auto& [target, status] : bad) EXPECT_EQ(app.Handle(Get(target, session)).result(), status) << target;
    EXPECT_EQ(app.Handle(Post("/api/groups", "", session)).result(), http::status::method_not_allowed);
}

}  // namespace
}  // namespace collector
