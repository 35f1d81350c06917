// Two real collector processes share one PostgreSQL database: reports posted
// to both at once, with the same files and a day new to both, are all stored,
// each under its own id.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cstdio>
#include <mutex>
#include <pqxx/pqxx>
#include <set>
#include <thread>

#include "collector/storage/store.h"
#include "collector/tests/support/upload_bodies.h"

namespace collector {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;

// One korvane-collector process, stopped (SIGTERM) at the end.
class CollectorProcess {
public:
    // Tries the ports from `port` on until one is free; returns 0 when none is.
    static unsigned short Start(CollectorProcess& process, const std::string& store, unsigned short port) {
        for (unsigned short last = port + 20; port < last; ++port) {
            if (process.StartOn(store, port)) return port;
        }
        return 0;
    }

    ~CollectorProcess() { Stop(); }

    int Stop() {
        if (pid_ <= 0) return -1;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    bool StartOn(const std::string& store, unsigned short port) {
        int out[2];
        if (pipe(out) != 0) return false;
        std::string portText = std::to_string(port);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            execl(KORVANE_COLLECTOR, KORVANE_COLLECTOR, "--port", portText.c_str(), "--store", store.c_str(), "--rate",
                  "0", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        // The collector prints its address once it listens; a port in use ends it instead.
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        if (line.find("listening on http://127.0.0.1:" + portText) != std::string::npos) return true;
        Stop();
        return false;
    }

    pid_t pid_ = -1;
};

std::pair<int, std::string> Post(unsigned short port, const std::string& body) {
    net::io_context io;
    beast::tcp_stream stream(io);
    stream.connect(net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
    http::request<http::string_body> request{http::verb::post, "/zar/registrator.php", 11};
    request.set(http::field::host, "127.0.0.1");
    request.set(http::field::content_type, "application/x-www-form-urlencoded");
    request.body() = body;
    request.prepare_payload();
    http::write(stream, request);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(stream, buffer, response);
    return {response.result_int(), response.body()};
}

TEST(TwoCollectors, SharingOnePostgresLoseNoReport) {
    const char* server = std::getenv("KORVANE_PG_URI");
    if (!server || !*server) GTEST_SKIP() << "KORVANE_PG_URI is not set: no PostgreSQL server to test against";
    const std::string database = "korvane_two_collectors_" + std::to_string(getpid());
    pqxx::connection admin(server);
    pqxx::nontransaction(admin).exec("CREATE DATABASE " + database);
    const std::string uri = std::string(server).substr(0, std::string(server).rfind('/') + 1) + database;

    CollectorProcess first, second;
    const unsigned short firstPort = CollectorProcess::Start(first, uri, 19240);
    ASSERT_NE(firstPort, 0) << "no collector started";
    const unsigned short secondPort = CollectorProcess::Start(second, uri, firstPort + 1);
    ASSERT_NE(secondPort, 0) << "no second collector started";

    constexpr int kThreads = 4, kPerThread = 60;
    std::mutex mutex;
    std::set<std::string> answers;
    std::vector<std::string> failures;
    std::vector<std::thread> clients;
    for (int t = 0; t < kThreads; ++t) {
        clients.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                Report report = testing::SampleReport(6, 3);
                report.modules[1].name = "shared" + std::to_string(i % 7) + ".dll";
                if (i % 3) report.exitCode = 0, report.verdict.clear();
                auto [status, text] = Post(t % 2 ? secondPort : firstPort, testing::BodyOf(report, true));
                std::lock_guard lock(mutex);
                if (status == 200) answers.insert(text);
                else failures.push_back(std::to_string(status) + " " + text);
            }
        });
    }
    for (std::thread& c : clients) c.join();
    EXPECT_EQ(first.Stop(), 0);
    EXPECT_EQ(second.Stop(), 0);
    EXPECT_TRUE(failures.empty()) << failures.front();
    EXPECT_EQ(answers.size(), std::size_t{kThreads * kPerThread});  // "stored ID", each id once

    {
        Store store(uri);
        ReportFilter all;
        all.limit = 100000;
        std::set<std::string> stored;
        for (const ReportSummary& r : store.Reports(all)) stored.insert("stored " + std::to_string(r.id) + "\n");
        EXPECT_EQ(stored, answers);
        std::int64_t failing = 0, runs = 0;
        for (const GroupSummary& g : store.Groups({})) failing += g.count, runs = g.versionRuns;
        EXPECT_EQ(failing, kThreads * kPerThread / 3);
        EXPECT_EQ(runs, kThreads * kPerThread);
    }
    pqxx::nontransaction(admin).exec("DROP DATABASE " + database + " WITH (FORCE)");
}

}  // namespace
}  // namespace collector
