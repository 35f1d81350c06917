// The ingest benchmark: reports per second and latency of POSTs to the ingest
// path, for reports of 200 modules and 60 running images, against an empty
// handler on the same HTTP stack (the limit) and against each store given.
// Prints figures, asserts nothing. Usage:
//   collector_ingest_bench [--reports N] [--connections N] STORE_URI...
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "collector/server/http_server.h"
#include "collector/ingest/ingest_queue.h"
#include "collector/server/ingest_answers.h"
#include "collector/storage/store.h"
#include "report/upload_body.h"

namespace {

using namespace collector;
namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

std::string Line(const std::string& name, const std::string& folder, const std::string& version) {
    return name + ";" + folder + ";123456;" + version + ";01.02.2020;03.04.2021;\xCE\xEF\xE8\xF1\xE0\xED\xE8\xE5 " +
           name + ";Microsoft Corporation";
}

// Bodies as zar.exe sends them; the variants differ in versions and exit
// codes, as runs of many machines do.
std::vector<std::string> Bodies(std::size_t variants) {
    std::vector<std::string> bodies;
    for (std::size_t v = 0; v < variants; ++v) {
        std::vector<std::string> images, modules;
        for (int i = 0; i < 60; ++i) images.push_back(Line("image" + std::to_string(i) + ".exe", "%SYSTEM%", "10.0." + std::to_string(i)));
        for (int i = 0; i < 200; ++i)
            modules.push_back(Line("module" + std::to_string(i) + ".dll", i % 3 ? "%SYSTEM%" : "%PROGRAMFILES%\\Vendor",
                                   "6.1." + std::to_string(i) + "." + std::to_string((v + i) % 7)));
        std::string process = Line("program" + std::to_string(v % 5) + ".exe", "C:\\Program Files\\App", "1.0+" + std::to_string(v % 3));
        bodies.push_back(EscapePlus(BuildUploadBody(process, v % 4 ? 0 : 0xC0000142, "10.0.19045", images, modules)));
    }
    return bodies;
}

// One keep-alive client posting its share one after another.
class Client : public std::enable_shared_from_this<Client> {
public:
    Client(net::io_context& io, unsigned short port, const std::vector<std::string>& bodies, std::size_t count,
           std::vector<double>& latencies, std::size_t& failures)
        : stream_(io), port_(port), bodies_(bodies), left_(count), latencies_(latencies), failures_(failures) {}

    void Start() {
        stream_.async_connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port_),
                              [self = shared_from_this()](beast::error_code ec) {
                                  if (!ec) self->Next();
                              });
    }

private:
    void Next() {
        if (left_ == 0) return;
        request_ = {http::verb::post, std::string(kIngestPath), 11};
        request_.set(http::field::host, "127.0.0.1");
        request_.set(http::field::content_type, "application/x-www-form-urlencoded");
        request_.body() = bodies_[left_ % bodies_.size()];
        request_.prepare_payload();
        started_ = Clock::now();
        http::async_write(stream_, request_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) return;
            self->response_ = {};
            http::async_read(self->stream_, self->buffer_, self->response_,
                             [self](beast::error_code ec, std::size_t) { self->Done(ec); });
        });
    }

    void Done(beast::error_code ec) {
        if (ec) return;
        latencies_.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started_).count());
        if (response_.result() != http::status::ok) ++failures_;
        --left_;
        Next();
    }

    beast::tcp_stream stream_;
    unsigned short port_;
    const std::vector<std::string>& bodies_;
    std::size_t left_;
    std::vector<double>& latencies_;
    std::size_t& failures_;
    beast::flat_buffer buffer_;
    http::request<http::string_body> request_;
    http::response<http::string_body> response_;
    Clock::time_point started_;
};

double Percentile(std::vector<double>& values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * values.size()))];
}

void Measure(const std::string& name, IngestHandler ingest, std::size_t reports, std::size_t connections,
             const std::vector<std::string>& bodies) {
    net::io_context serverIo;
    HttpLimits limits;
    limits.connectionsPerClient = connections + 1;
    HttpServer server(serverIo, {net::ip::make_address("127.0.0.1"), 0}, limits, std::move(ingest),
                      [](const Request&, const std::string&) { return TextResponse(http::status::not_found, "none"); });
    std::vector<std::thread> serverThreads;
    auto work = net::make_work_guard(serverIo);
    for (int i = 0; i < 2; ++i) serverThreads.emplace_back([&] { serverIo.run(); });

    net::io_context clientIo;
    std::vector<std::vector<double>> latencies(connections);
    std::vector<std::size_t> failures(connections, 0);
    const auto start = Clock::now();
    for (std::size_t c = 0; c < connections; ++c)
        std::make_shared<Client>(clientIo, server.Port(), bodies, reports / connections, latencies[c], failures[c])->Start();
    clientIo.run();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    std::vector<double> all;
    std::size_t failed = 0;
    for (std::size_t c = 0; c < connections; ++c) {
        all.insert(all.end(), latencies[c].begin(), latencies[c].end());
        failed += failures[c];
    }
    std::printf("%-28s %7zu reports %8.0f reports/s   p50 %7.2f ms   p99 %7.2f ms   not 200: %zu\n", name.c_str(),
                all.size(), all.size() / seconds, Percentile(all, 0.5), Percentile(all, 0.99), failed);
    std::fflush(stdout);
    server.StopAccepting();
    work.reset();
    serverIo.stop();
    for (std::thread& thread : serverThreads) thread.join();
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t reports = 5000, connections = 16;
    std::vector<std::string> stores;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--reports" && i + 1 < argc) reports = std::stoul(argv[++i]);
        else if (argument == "--connections" && i + 1 < argc) connections = std::stoul(argv[++i]);
        else stores.push_back(argument);
    }
    const std::vector<std::string> bodies = Bodies(64);
    std::printf("bodies of 200 modules and 60 running images, %zu bytes each; %zu connections\n", bodies[0].size(),
                connections);
    Measure("empty handler", [](std::string, const std::string&, Reply reply) {
        reply(TextResponse(http::status::ok, "stored 0"));
    }, reports, connections, bodies);
    auto measureStore = [&](const std::string& uri, const std::string& name, StoreOptions storeOptions) {
        Store store(uri, storeOptions);
        IngestOptions options;
        options.ratePerClient = 0;
        options.queueReports = 10000;
        IngestQueue ingest(store, options);
        Measure(name, [&](std::string body, const std::string& client, Reply reply) {
            ingest.Accept(std::move(body), client,
                          [reply = std::move(reply)](IngestOutcome outcome) { reply(IngestResponse(outcome)); });
        }, reports, connections, bodies);
    };
    for (const std::string& uri : stores) {
        const std::string kind = uri.substr(0, uri.find(':'));
        measureStore(uri, kind + " store", {});
        if (kind == "sqlite") {  // the trade-off of --sqlite-sync normal
            StoreOptions normal;
            normal.sqliteFullSync = false;
            measureStore(uri, kind + " store, sync normal", normal);
        }
    }
    return 0;
}
