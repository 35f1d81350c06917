// The login, logout and periods of the real collector on loopback, with
// clients at other loopback addresses standing for other machines.
#include <gtest/gtest.h>

#include <chrono>

#include "collector/tests/support/collector_process.h"
#include "collector/tests/support/http_client.h"
#include "collector/tests/support/upload_bodies.h"
#include "collector/tests/web/web_fixture.h"
#include "collector/web/escape.h"

namespace collector {
namespace {

using namespace collector::testing;

// "name=value" of the named cookie among the answer's Set-Cookie headers.
std::string CookieOf(const HttpAnswer& answer, const std::string& name) {
    for (std::size_t at = answer.setCookie.find(name + "="); at != std::string::npos;) {
        if (at == 0 || answer.setCookie[at - 1] == '\n') {
            return answer.setCookie.substr(at, answer.setCookie.find(';', at) - at);
        }
        at = answer.setCookie.find(name + "=", at + 1);
    }
    return {};
}

std::string CookieHeader(const std::string& cookie) { return "Cookie: " + cookie + "\r\n"; }

// Through the real form; the session's "name=value", empty when refused.
std::string LogInAt(unsigned short port, const std::string& source, int* status = nullptr) {
    const HttpAnswer form = Exchange(port, GetRequest("/login"), source);
    const HttpAnswer answer = Exchange(
        port,
        PostRequest("/login",
                    "csrf=" + FormValue(form.body, "csrf") + "&next=%2F&password=" + EncodeQueryComponent(kTestPassword),
                    CookieHeader(CookieOf(form, "korvane_login"))),
        source);
    if (status) *status = answer.status;
    return answer.status == 303 ? CookieOf(answer, "korvane_session") : std::string();
}

HttpAnswer GetAt(unsigned short port, const std::string& target, const std::string& session) {
    return Exchange(port, GetRequest(target, CookieHeader(session)));
}

// A store file that outlives the collectors started on it, its password set.
class PasswordStore {
public:
    PasswordStore() : uri_("sqlite:" + (folder_.path() / "reports.sqlite").string()) {
        EXPECT_EQ(RunCollector({"--store", uri_, "--set-password"}, std::string(kTestPassword) + "\n"), 0);
    }
    const std::string& uri() const { return uri_; }

private:
    TempFolder folder_;
    std::string uri_;
};

TEST(LoginOnLoopback, FiftyForeignPostsWithoutAFormLockNobodyOut) {
    PasswordStore store;
    CollectorProcess collector({}, store.uri());
    for (int host = 2; host < 52; ++host) {
        const HttpAnswer answer = Exchange(collector.port(), PostRequest("/login", "password=guess" + std::to_string(host)),
                                           "127.0.0." + std::to_string(host));
        EXPECT_EQ(answer.status, 403) << host;
    }
    int status = 0;
    EXPECT_FALSE(LogInAt(collector.port(), "127.0.0.1", &status).empty()) << status;
}

TEST(LoginOnLoopback, LogoutHoldsAcrossARestart) {
    PasswordStore store;
    std::string ended, kept;
    {
        CollectorProcess collector({}, store.uri());
        ended = LogInAt(collector.port(), "127.0.0.1");
        kept = LogInAt(collector.port(), "127.0.0.1");
        ASSERT_FALSE(ended.empty());
        const HttpAnswer page = GetAt(collector.port(), "/", ended);
        ASSERT_EQ(page.status, 200);
        const HttpAnswer out = Exchange(collector.port(), PostRequest("/logout", "csrf=" + FormValue(page.body, "csrf"),
                                                                      CookieHeader(ended)));
        EXPECT_EQ(out.status, 303);
        EXPECT_EQ(GetAt(collector.port(), "/api/groups", ended).status, 401);
    }
    CollectorProcess restarted({}, store.uri());
    EXPECT_EQ(GetAt(restarted.port(), "/api/groups", ended).status, 401);
    EXPECT_EQ(GetAt(restarted.port(), "/api/groups", kept).status, 200);
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(PeriodsOnLoopback, ClampedToTheDataAndTodayTenDigitsAreSecondsAndNonsenseIsRefused) {
    PasswordStore store;
    CollectorProcess collector({}, store.uri());
    const std::int64_t before =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count() -
        1;
    ASSERT_EQ(PostReport(collector.port(), BodyOf(SampleReport(), true)).status, 200);
    const std::string session = LogInAt(collector.port(), "127.0.0.1");
    ASSERT_FALSE(session.empty());

    const HttpAnswer all = GetAt(collector.port(), "/api/groups?since=0001-01-01&until=9999-12-31", session);
    ASSERT_EQ(all.status, 200);
    EXPECT_EQ(Occurrences(all.body, "\"day\":"), 1u) << all.body.substr(0, 300);
    EXPECT_LT(all.body.size(), 4096u);

    const std::string seconds = std::to_string(before);
    ASSERT_EQ(seconds.size(), 10u);
    EXPECT_EQ(GetAt(collector.port(), "/api/reports?until=" + seconds, session).body, "[]");
    EXPECT_NE(GetAt(collector.port(), "/api/reports?since=" + seconds, session).body, "[]");
    for (const char* bad : {"since=99999999999999999999", "since=253402300800", "until=-86400", "until=2026-02-30",
                            "since=10.13.2026"}) {
        EXPECT_EQ(GetAt(collector.port(), std::string("/api/groups?") + bad, session).status, 400) << bad;
    }
    EXPECT_EQ(GetAt(collector.port(), "/api/reports?since=09.12.2026", session).status, 200);
}

}  // namespace
}  // namespace collector
