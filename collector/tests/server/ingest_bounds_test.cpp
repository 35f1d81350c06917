// The real service on loopback against bodies built to stall it or fill its
// memory: each is answered at once with its reason, other clients are served
// meanwhile, and every refusal leaves its trace in the log and the store.
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <thread>

#include "collector/server/http_server.h"
#include "collector/storage/store.h"
#include "collector/tests/support/collector_process.h"
#include "collector/tests/support/http_client.h"
#include "collector/tests/support/upload_bodies.h"

namespace collector::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The most the process has held in memory since it started, in MiB.
long PeakMebibytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:")) return std::stol(line.substr(6)) / 1024;
    return -1;
}

std::string OfMebibyte(std::string head, std::string_view unit, std::string_view tail = {}) {
    while (head.size() + unit.size() + tail.size() <= (1u << 20)) head += unit;
    return head + std::string(tail);
}

std::vector<std::future<HttpAnswer>> PostMany(unsigned short port, const std::vector<std::string>& bodies) {
    std::vector<std::future<HttpAnswer>> answers;
    for (std::size_t i = 0; i < bodies.size(); ++i)
        answers.push_back(std::async(std::launch::async, [port, body = bodies[i], i] {
            return PostReport(port, body, "127.0.1." + std::to_string(i + 1));
        }));
    return answers;
}

// The head reader of old tried every "&exitcode=" and split the prefix again
// for each: 1 MiB of them took 105 s, on the network threads. The bound here
// is a tenth of that; the parse takes milliseconds.
TEST(CollectorIngestBounds, AnswersBodiesOfEndlessHeadsAtOnceAndServesPagesMeanwhile) {
    CollectorProcess collector;
    const std::string freezing = OfMebibyte("process=", ";&exitcode=");
    const auto start = Clock::now();
    std::vector<std::future<HttpAnswer>> posts = PostMany(collector.port(), {freezing, freezing});
    const HttpAnswer page = Exchange(collector.port(), GetRequest("/login"));
    EXPECT_NE(page.status, 0);  // answered (503 until a password is set)
    for (auto& post : posts) {
        const HttpAnswer answer = post.get();
        EXPECT_EQ(answer.status, 400) << answer.body;
    }
    EXPECT_LT(Clock::now() - start, 10s);
}

// 131,059 empty entries in 1 MiB once took 32 MiB each, and 20 of them 691
// MiB: the line count refuses them before any entry is made.
TEST(CollectorIngestBounds, RefusesEntryBombsWithoutHoldingTheirEntries) {
    CollectorProcess collector({"--rate", "0"});
    const std::string bomb =
        OfMebibyte("process=a;b;c;d;e;f;g;h&exitcode=0&separator=;&OS=6.1.7601&files=", ";;;;;;;\n", "&modules=");
    for (auto& post : PostMany(collector.port(), std::vector<std::string>(20, bomb))) {
        const HttpAnswer answer = post.get();
        EXPECT_EQ(answer.status, 413) << answer.body;
        EXPECT_NE(answer.body.find("lines"), std::string::npos) << answer.body;
    }
    // The bodies themselves, 20 MiB at most at once, and the process's own.
    const long peak = PeakMebibytes(collector.pid());
    std::printf("peak memory of the collector after 20 entry bombs: %ld MiB\n", peak);
    EXPECT_LT(peak, 96);
    EXPECT_EQ(PostReport(collector.port(), BodyOf(SampleReport(), true)).status, 200);
}

TEST(CollectorIngestBounds, RefusesFiftyThousandNamesWithoutStallingANormalReport) {
    CollectorProcess collector;
    Report names = SampleReport(0, 0);
    for (int i = 0; i < 50000; ++i) names.modules.push_back({"m" + std::to_string(i), "", "", "", "", "", "", ""});
    const std::string huge = BodyOf(names, false);
    ASSERT_LE(huge.size(), 1u << 20);
    std::vector<std::future<HttpAnswer>> posts = PostMany(collector.port(), {huge, BodyOf(SampleReport(), true)});
    EXPECT_EQ(posts[1].get().status, 200);
    const HttpAnswer refused = posts[0].get();
    EXPECT_EQ(refused.status, 413) << refused.body;
    EXPECT_NE(refused.body.find("50000 lines"), std::string::npos) << refused.body;
}

// While SQLite's write lock is held elsewhere, nothing is stored: one client
// fills its share of the queue and is answered 503, another still gets in.
TEST(CollectorIngestBounds, KeepsOneClientToItsShareOfTheQueue) {
    CollectorProcess collector({"--rate", "0", "--client-share-mib", "1", "--queue-mib", "8"});
    const std::string body = BodyOf(SampleReport(200, 60), true);
    ASSERT_EQ(PostReport(collector.port(), body).status, 200);  // the schema exists

    StoreWriteLock lock(collector);
    ASSERT_TRUE(lock.Held());
    std::vector<std::future<HttpAnswer>> flood;
    for (int i = 0; i < 30; ++i)
        flood.push_back(std::async(std::launch::async, [&] { return PostReport(collector.port(), body, "127.0.0.5"); }));
    int answered = 0;
    for (auto deadline = Clock::now() + 60s; answered == 0 && Clock::now() < deadline;)
        for (auto& post : flood) answered += post.wait_for(10ms) == std::future_status::ready;
    std::future<HttpAnswer> other =
        std::async(std::launch::async, [&] { return PostReport(collector.port(), body, "127.0.0.6"); });
    EXPECT_EQ(other.wait_for(1s), std::future_status::timeout) << "queued, not refused";
    lock.Release();

    EXPECT_EQ(other.get().status, 200);
    int stored = 0, full = 0;
    for (auto& post : flood) {
        const HttpAnswer answer = post.get();
        stored += answer.status == 200;
        full += answer.status == 503 && answer.retryAfter == "5";
    }
    EXPECT_GT(full, 0);
    EXPECT_GT(stored, 0);
    EXPECT_EQ(stored + full, 30);
}

// Each refusal: its status, a log line naming client, size and reason, and
// a count per reason in the store for the day. The HTTP layer's own answers
// carry the security headers too.
TEST(CollectorIngestBounds, LeavesATraceOfEveryRefusedReport) {
    CollectorProcess collector({"--rate", "0.001", "--burst", "3"});
    Report withSeparator = SampleReport();
    withSeparator.modules[0].description = "a;b";
    const std::string old = SemicolonBodyOf(withSeparator, true);  // as zar.exe sent it before
    EXPECT_EQ(PostReport(collector.port(), old, "127.0.0.7").status, 400);
    EXPECT_EQ(PostReport(collector.port(), BodyOf(SampleReport(5001, 0), true), "127.0.0.7").status, 413);
    std::vector<HttpAnswer> answers;
    {
        RawConnection huge(collector.port(), "127.0.0.7");
        huge.Send(PostRequest(kIngestPath, std::string((1 << 20) + 1, 'a')));
        answers.push_back(huge.Read());
    }
    EXPECT_EQ(PostReport(collector.port(), BodyOf(withSeparator, true), "127.0.0.7").status, 200);
    answers.push_back(PostReport(collector.port(), old, "127.0.0.7"));  // the burst is spent
    answers.push_back(Exchange(collector.port(), GetRequest(kIngestPath)));
    answers.push_back(Exchange(collector.port(), "BAD\r\n\r\n"));
    answers.push_back(Exchange(collector.port(), GetRequest("/", "X: " + std::string(20000, 'x') + "\r\n")));
    const int statuses[] = {413, 429, 405, 400, 431};
    for (std::size_t i = 0; i < answers.size(); ++i) {
        EXPECT_EQ(answers[i].status, statuses[i]) << answers[i].body;
        EXPECT_EQ(answers[i].headers["X-Content-Type-Options"], "nosniff") << statuses[i];
        EXPECT_EQ(answers[i].headers["X-Frame-Options"], "DENY") << statuses[i];
        EXPECT_NE(answers[i].headers["Content-Security-Policy"].find("default-src 'none'"), std::string::npos);
    }

    const std::string log = collector.ErrorOutput();
    EXPECT_NE(log.find("from 127.0.0.7 (" + std::to_string(old.size()) + " bytes), malformed: entry 1 of"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("from 127.0.0.7 (1048577 bytes), over_limits: body over 1 MiB"), std::string::npos) << log;
    collector.Stop();  // the counts are stored by the time it exits
    Store store(collector.storeUri());
    std::map<std::string, std::int64_t> counts;
    for (const RefusalCount& count : store.Refusals({})) counts[count.reason] = count.count;
    EXPECT_EQ(counts, (std::map<std::string, std::int64_t>{{"malformed", 1}, {"over_limits", 2}, {"too_frequent", 1}}));
    const std::int64_t tomorrow = std::time(nullptr) + 86400;
    EXPECT_TRUE(store.Refusals({tomorrow, tomorrow + 86400}).empty());
}

}  // namespace
}  // namespace collector::testing
