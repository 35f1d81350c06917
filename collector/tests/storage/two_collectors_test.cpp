// Two real collector processes share one PostgreSQL database: reports posted
// to both at once, with the same files and a day new to both, are all stored,
// each under its own id.
#include <gtest/gtest.h>
#include <unistd.h>

#include <mutex>
#include <pqxx/pqxx>
#include <set>
#include <thread>

#include "collector/storage/store.h"
#include "collector/tests/support/collector_process.h"
#include "collector/tests/support/http_client.h"
#include "collector/tests/support/upload_bodies.h"

namespace collector {
namespace {

TEST(TwoCollectors, SharingOnePostgresLoseNoReport) {
    const char* server = std::getenv("KORVANE_PG_URI");
    if (!server || !*server) GTEST_SKIP() << "KORVANE_PG_URI is not set: no PostgreSQL server to test against";
    const std::string database = "korvane_two_collectors_" + std::to_string(getpid());
    pqxx::connection admin(server);
    pqxx::nontransaction(admin).exec("CREATE DATABASE " + database);
    const std::string uri = std::string(server).substr(0, std::string(server).rfind('/') + 1) + database;

    testing::CollectorProcess first({"--rate", "0"}, uri), second({"--rate", "0"}, uri);

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
                testing::HttpAnswer answer =
                    testing::PostReport((t % 2 ? second : first).port(), testing::BodyOf(report, true));
                std::lock_guard lock(mutex);
                if (answer.status == 200) answers.insert(answer.body);
                else failures.push_back(std::to_string(answer.status) + " " + answer.body);
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
