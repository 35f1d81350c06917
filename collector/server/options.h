// The collector's command line: where it listens, where it stores, and the
// limits it serves under. Everything has a default, so the bare command runs
// the embedded default: loopback, SQLite in a file beside the program.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "collector/server/http_server.h"
#include "collector/ingest/ingest_queue.h"

namespace collector {

struct ServerOptions {
    std::string listen = "127.0.0.1";
    unsigned short port = 8080;  // 0: any free port (printed at start)
    std::string store;           // empty: sqlite:korvane-reports.sqlite beside the program
    int retentionDays = 90;
    bool sqliteFullSync = true;  // synchronous=FULL; false: NORMAL
    std::string trustedProxy;    // its X-Forwarded-For names the client
    bool secureCookie = false;   // the page is served over TLS by a proxy
    bool setPassword = false;    // read the login password from standard input, store it hashed, exit
    int threads = 2;             // network threads
    HttpLimits limits;
    IngestOptions ingest;
};

struct ParsedOptions {
    std::optional<ServerOptions> options;  // empty: show `message` and stop
    std::string message;                   // the usage text or what was wrong
    bool failed = false;
};

ParsedOptions ParseOptions(const std::vector<std::string>& arguments);

}  // namespace collector
