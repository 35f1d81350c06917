// What the web tests share: a store in a temporary SQLite file, reports with
// hostile texts beside ordinary ones, and a login through the real form.
#pragma once
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "collector/core/report.h"
#include "collector/storage/store.h"
#include "collector/web/web_app.h"

namespace collector::testing {

inline constexpr char kTestPassword[] = "Пароль поддержки 1";
// Every text of the hostile report: a script that would rename the page and
// call the probe, and an attribute breakout with an onerror handler.
std::string HostileText(unsigned short probePort);

struct WebFixtureReports {
    std::vector<Report> reports;  // ids set by the store
    std::int64_t hostileId = 0;
    std::int64_t failureId = 0;  // an ordinary 0xC0000142 failure of demo.exe
};

// A fresh store in a temporary folder (removed with it), its login password
// set, filled with successes and failures of demo.exe over the last days and
// one hostile report.
class TestStore {
public:
    explicit TestStore(unsigned short probePort = 9);
    ~TestStore();
    Store& store() { return *store_; }
    const std::filesystem::path& path() const { return file_; }
    const WebFixtureReports& reports() const { return reports_; }

private:
    std::filesystem::path folder_;
    std::filesystem::path file_;
    std::unique_ptr<Store> store_;
    WebFixtureReports reports_;
};

// The value of a Set-Cookie header of the response for the named cookie, the
// attributes included ("name=value; Path=/; ...").
std::string SetCookie(const WebApp::Response& response, const std::string& name);
// "name=value" of that cookie, for a Cookie header.
std::string CookiePair(const WebApp::Response& response, const std::string& name);
std::string FormValue(const std::string& page, const std::string& name);

WebApp::Request Get(const std::string& target, const std::string& cookie = {});
WebApp::Request Post(const std::string& target, const std::string& body, const std::string& cookie = {});

// Logs in through GET /login and its form; the session's "name=value".
std::string LogIn(WebApp& app, const std::string& password = kTestPassword);

}  // namespace collector::testing
