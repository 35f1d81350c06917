// Options are "--name value" or "--name=value"; numbers are checked for their
// range, so a typo stops the start instead of running with a surprise.
#include "collector/server/options.h"

#include <charconv>
#include <functional>
#include <map>

namespace collector {
namespace {

constexpr const char* kUsage =
    "usage: korvane-collector [options]\n"
    "  --listen ADDRESS            address to listen on (127.0.0.1)\n"
    "  --port N                    port (8080; 0: any free port)\n"
    "  --store URI                 sqlite:PATH, PATH or postgresql://... (sqlite:korvane-reports.sqlite\n"
    "                              beside the program)\n"
    "  --retention-days N          days raw reports are kept; aggregates stay (90)\n"
    "  --sqlite-sync full|normal   full: a report answered 200 survives a power failure; normal: faster,\n"
    "                              the last commits may be lost at a power failure (full)\n"
    "  --set-password              read the login password from standard input, store it hashed, exit\n"
    "  --trusted-proxy ADDRESS     a reverse proxy whose X-Forwarded-For names the client\n"
    "  --secure-cookie             the page is served over HTTPS by that proxy\n"
    "  --rate N  --burst N         reports a second and in a burst per client address (10, 60; 0: no limit)\n"
    "  --queue N                   reports waiting for storage before 503 (1000)\n"
    "  --queue-mib N               memory those reports may hold, in MiB (256)\n"
    "  --client-share-mib N        of that, for one client address (32)\n"
    "  --batch N                   reports stored in one transaction at most (200)\n"
    "  --header-seconds N          time for a request's header (10)\n"
    "  --body-seconds N            time for a request's body (60)\n"
    "  --connections N             open connections in all (1024)\n"
    "  --connections-per-client N  open connections per client address (32)\n"
    "  --threads N                 network threads (2)\n";

template <typename Number>
bool ReadNumber(const std::string& text, Number& out, Number low, Number high) {
    Number value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) return false;
    out = value;
    return true;
}

bool Seconds(const std::string& text, std::chrono::seconds& out) {
    int seconds = 0;
    if (!ReadNumber(text, seconds, 1, 3600)) return false;
    out = std::chrono::seconds(seconds);
    return true;
}

bool Mebibytes(const std::string& text, std::size_t& out) {
    std::size_t mebibytes = 0;
    if (!ReadNumber<std::size_t>(text, mebibytes, 1, 1 << 20)) return false;
    out = mebibytes << 20;
    return true;
}

using Setter = std::function<bool(ServerOptions&, const std::string&)>;

template <typename Number>
Setter NumberOption(Number ServerOptions::*field, Number low, Number high) {
    return [=](ServerOptions& o, const std::string& v) { return ReadNumber(v, o.*field, low, high); };
}

std::map<std::string, Setter> ValueOptions() {
    return {
        {"--listen", [](ServerOptions& o, const std::string& v) { o.listen = v; return !v.empty(); }},
        {"--port", NumberOption<unsigned short>(&ServerOptions::port, 0, 65535)},
        {"--store", [](ServerOptions& o, const std::string& v) { o.store = v; return !v.empty(); }},
        {"--retention-days", NumberOption(&ServerOptions::retentionDays, 1, 100000)},
        {"--trusted-proxy", [](ServerOptions& o, const std::string& v) { o.trustedProxy = v; return true; }},
        {"--threads", NumberOption(&ServerOptions::threads, 1, 64)},
        {"--rate", [](ServerOptions& o, const std::string& v) { return ReadNumber(v, o.ingest.ratePerClient, 0.0, 1e9); }},
        {"--burst", [](ServerOptions& o, const std::string& v) { return ReadNumber(v, o.ingest.burstPerClient, 1.0, 1e9); }},
        {"--queue", [](ServerOptions& o, const std::string& v) {
             return ReadNumber<std::size_t>(v, o.ingest.queueReports, 1, 1000000); }},
        {"--queue-mib", [](ServerOptions& o, const std::string& v) { return Mebibytes(v, o.ingest.queueBytes); }},
        {"--client-share-mib", [](ServerOptions& o, const std::string& v) {
             return Mebibytes(v, o.ingest.clientShareBytes); }},
        {"--sqlite-sync", [](ServerOptions& o, const std::string& v) {
             o.sqliteFullSync = v == "full";
             return v == "full" || v == "normal"; }},
        {"--batch", [](ServerOptions& o, const std::string& v) {
             return ReadNumber<std::size_t>(v, o.ingest.batchReports, 1, 100000); }},
        {"--header-seconds", [](ServerOptions& o, const std::string& v) { return Seconds(v, o.limits.headerTime); }},
        {"--body-seconds", [](ServerOptions& o, const std::string& v) { return Seconds(v, o.limits.bodyTime); }},
        {"--connections", [](ServerOptions& o, const std::string& v) {
             return ReadNumber<std::size_t>(v, o.limits.connections, 1, 1000000); }},
        {"--connections-per-client", [](ServerOptions& o, const std::string& v) {
             return ReadNumber<std::size_t>(v, o.limits.connectionsPerClient, 1, 1000000); }},
    };
}

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& arguments) {
    const std::map<std::string, Setter> valueOptions = ValueOptions();
    ServerOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i], value;
        bool hasValue = false;
        if (std::size_t equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") return {std::nullopt, kUsage, false};
        if (name == "--set-password" && !hasValue) {
            options.setPassword = true;
            continue;
        }
        if (name == "--secure-cookie" && !hasValue) {
            options.secureCookie = true;
            continue;
        }
        auto setter = valueOptions.find(name);
        if (setter == valueOptions.end()) return {std::nullopt, "unknown option " + name + "\n" + kUsage, true};
        if (!hasValue) {
            if (i + 1 == arguments.size()) return {std::nullopt, name + " needs a value\n", true};
            value = arguments[++i];
        }
        if (!setter->second(options, value)) return {std::nullopt, "bad value for " + name + ": " + value + "\n", true};
    }
    return {options, {}, false};
}

}  // namespace collector
