// korvane-collector: receives zar.exe's reports on /zar/registrator.php,
// stores them, and serves the support staff's page. Runs until SIGINT or
// SIGTERM; then stops accepting, stores what is queued, answers it, and exits.
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <filesystem>
#include <iostream>
#include <thread>

#include "collector/server/http_server.h"
#include "collector/ingest/ingest_queue.h"
#include "collector/server/ingest_answers.h"
#include "collector/server/options.h"
#include "collector/storage/store.h"
#include "collector/web/web_app.h"

namespace {

using namespace collector;
namespace net = boost::asio;

std::string DefaultStore() {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return "sqlite:" + (ec ? std::filesystem::path("korvane-reports.sqlite")
                           : self.parent_path() / "korvane-reports.sqlite").string();
}

int SetPassword(Store& store) {
    std::string password;
    std::getline(std::cin, password);
    if (!SetLoginPassword(store, password)) {
        std::cerr << "korvane-collector: the password was not stored (it is empty or could not be hashed)\n";
        return 1;
    }
    std::cout << "korvane-collector: login password stored\n";
    return 0;
}

int Serve(const ServerOptions& options, Store& store) {
    if (!HasLoginPassword(store))
        std::cerr << "korvane-collector: no login password yet; the page opens once one is set with "
                     "--set-password\n";
    WebSettings webSettings;
    webSettings.secureCookie = options.secureCookie;
    WebApp web(store, webSettings);
    IngestQueue ingest(store, options.ingest);
    net::io_context io;
    HttpServer server(
        io, {net::ip::make_address(options.listen), options.port}, options.limits,
        [&](std::string body, const std::string& client, Reply reply) {
            ingest.Accept(std::move(body), client,
                          [reply = std::move(reply)](IngestOutcome outcome) { reply(IngestResponse(outcome)); });
        },
        [&](const Request& request, const std::string& client) { return web.Handle(request, client); },
        options.trustedProxy);
    server.OnIngestTooLarge([&](const std::string& client, std::size_t announcedBytes) {
        ingest.NoteRefused(client, announcedBytes, Refusal::OverLimits, "body over 1 MiB");
    });
    std::cout << "korvane-collector: listening on http://" << options.listen << ":" << server.Port() << "/"
              << std::endl;

    net::signal_set signals(io, SIGINT, SIGTERM);
    net::steady_timer grace(io);
    signals.async_wait([&](const boost::system::error_code&, int) {
        server.StopAccepting();
        ingest.Finish();  // the answers of the last reports are posted to the connections
        grace.expires_after(std::chrono::seconds(1));
        grace.async_wait([&](const boost::system::error_code&) { io.stop(); });
    });
    std::vector<std::thread> threads;
    for (int i = 1; i < options.threads; ++i) threads.emplace_back([&] { io.run(); });
    io.run();
    for (std::thread& thread : threads) thread.join();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ParsedOptions parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        (parsed.failed ? std::cerr : std::cout) << parsed.message;
        return parsed.failed ? 2 : 0;
    }
    ServerOptions& options = *parsed.options;
    try {
        StoreOptions storeOptions;
        storeOptions.retentionDays = options.retentionDays;
        storeOptions.sqliteFullSync = options.sqliteFullSync;
        Store store(options.store.empty() ? DefaultStore() : options.store, storeOptions);
        return options.setPassword ? SetPassword(store) : Serve(options, store);
    } catch (const std::exception& error) {
        std::cerr << "korvane-collector: " << error.what() << "\n";
        return 1;
    }
}
