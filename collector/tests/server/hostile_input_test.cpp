// The real service on loopback under hostile input: every broken request gets
// its answer (or is cut within its time limit), other clients are served
// meanwhile, and only whole reports reach the store.
#include <gtest/gtest.h>

#include <future>
#include <random>
#include <thread>

#include "collector/server/http_server.h"
#include "collector/storage/store.h"
#include "collector/tests/support/collector_process.h"
#include "collector/tests/support/http_client.h"
#include "collector/tests/support/upload_bodies.h"

namespace collector::testing {
namespace {

using namespace std::chrono_literals;

// A one-line reason, as the client sees it.
void ExpectRefused(const HttpAnswer& answer, int status) {
    EXPECT_EQ(answer.status, status) << answer.body;
    EXPECT_EQ(answer.body.find('\n'), answer.body.size() - 1) << answer.body;
}

std::vector<ReportSummary> StoredReports(const CollectorProcess& collector) {
    Store store(collector.storeUri());
    return store.Reports({});
}

TEST(CollectorUnderHostileInput, AnswersEveryBrokenBodyAndStoresOnlyWholeReports) {
    CollectorProcess collector;
    const Report sample = SampleReport();
    const std::string body = BodyOf(sample, true);

    ExpectRefused(PostReport(collector.port(), body.substr(0, body.size() / 2)), 400);
    std::mt19937 random(7);
    std::string garbled(4000, ' ');
    for (char& byte : garbled) byte = static_cast<char>(random());
    ExpectRefused(PostReport(collector.port(), garbled), 400);
    ExpectRefused(PostReport(collector.port(), body.substr(body.find("&separator="))), 400);
    for (auto change : {+[](Report& r) { r.modules[0].description = "a;b"; },
                        +[](Report& r) { r.files[1].company = "two\nlines"; },
                        +[](Report& r) { r.verdict[0].module = "a\nb;c;d"; }}) {
        Report broken = sample;  // as zar.exe sent it before it chose a separator per report
        change(broken);
        ExpectRefused(PostReport(collector.port(), SemicolonBodyOf(broken, true)), 400);
    }
    {  // the connection ends before the length its header announced: no answer, nothing stored
        RawConnection cut(collector.port());
        std::string request = PostRequest(kIngestPath, body);
        cut.Send(request.substr(0, request.size() - 10));
        cut.EndSending();
        HttpAnswer answer = cut.Read();
        EXPECT_EQ(answer.status, 0) << answer.body;
    }

    HttpAnswer stored = PostReport(collector.port(), body);
    ASSERT_EQ(stored.status, 200) << stored.body;
    std::string odd = body;
    odd.replace(odd.find("6.1.7601.17514"), 1, "\x98");  // unassigned in Windows-1251
    HttpAnswer storedOdd = PostReport(collector.port(), odd);
    ASSERT_EQ(storedOdd.status, 200) << storedOdd.body;

    Store store(collector.storeUri());
    EXPECT_EQ(store.Reports({}).size(), 2u);
    std::optional<Report> first = store.ReportById(std::stoll(stored.body.substr(7)));
    ASSERT_TRUE(first);
    EXPECT_EQ(ReportText(*first), ReportText(sample));
    std::optional<Report> second = store.ReportById(std::stoll(storedOdd.body.substr(7)));
    ASSERT_TRUE(second);
    EXPECT_EQ(second->files[0].productVersion, "\uFFFD.1.7601.17514");
}

// Slow clients hold connections from 127.0.0.2 while the test posts from
// 127.0.0.1; the limits are short here, the bounds of the checks generous.
TEST(CollectorUnderHostileInput, CutsOversizedAndSlowRequestsAndServesOthersMeanwhile) {
    CollectorProcess collector({"--header-seconds", "3", "--body-seconds", "3"});
    const std::string body = BodyOf(SampleReport(), true);
    const std::string request = PostRequest(kIngestPath, body);

    // One byte a second: half of them in the header, half in the body.
    const std::size_t bodyStart = request.find("\r\n\r\n") + 4;
    std::vector<std::unique_ptr<RawConnection>> slow;
    for (int i = 0; i < 10; ++i) {
        slow.push_back(std::make_unique<RawConnection>(collector.port(), "127.0.0.2"));
        if (i % 2) slow.back()->Send(request.substr(0, bodyStart));
    }
    std::future<std::vector<bool>> slowCut = std::async(std::launch::async, [&] {
        std::vector<bool> cut(slow.size(), false);
        for (std::size_t second = 0; second < 60; ++second) {
            for (std::size_t i = 0; i < slow.size(); ++i) {
                const std::size_t at = i % 2 ? bodyStart + second : second;
                if (!cut[i] && !slow[i]->Send(request.substr(at, 1))) cut[i] = true;
            }
            std::this_thread::sleep_for(1s);
            for (std::size_t i = 0; i < slow.size(); ++i) cut[i] = cut[i] || slow[i]->ClosedWithin(0s);
            if (std::find(cut.begin(), cut.end(), false) == cut.end()) break;
        }
        return cut;
    });

    EXPECT_EQ(PostReport(collector.port(), body).status, 200);
    {
        RawConnection huge(collector.port());
        huge.Send("POST /zar/registrator.php HTTP/1.1\r\nHost: x\r\nContent-Length: 104857600\r\n\r\n");
        huge.Send(std::string(1 << 20, 'a'));
        ExpectRefused(huge.Read(), 413);
    }
    {
        RawConnection chunked(collector.port());
        chunked.Send("POST /zar/registrator.php HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n");
        const std::string chunk = "100000\r\n" + std::string(1 << 20, 'a') + "\r\n";
        for (int mebibytes = 0; mebibytes < 100 && chunked.Send(chunk); ++mebibytes) {}
        ExpectRefused(chunked.Read(), 413);
    }
    {
        RawConnection headers(collector.port());
        std::string many = "GET / HTTP/1.1\r\nHost: x\r\n";
        for (int i = 0; i < 10000; ++i) many += "X-Header-" + std::to_string(i) + ": value\r\n";
        headers.Send(many + "\r\n");
        ExpectRefused(headers.Read(), 431);
    }
    EXPECT_EQ(PostReport(collector.port(), body).status, 200);

    std::vector<bool> cut = slowCut.get();
    EXPECT_EQ(std::count(cut.begin(), cut.end(), true), 10) << "a slow client held its connection for a minute";
    EXPECT_EQ(StoredReports(collector).size(), 2u);
}

TEST(CollectorUnderHostileInput, CapsConnectionsAndRatesPerClient) {
    CollectorProcess collector({"--connections-per-client", "4", "--rate", "0.001", "--burst", "3"});
    const std::string body = BodyOf(SampleReport(), true);
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int i = 0; i < 4; ++i) idle.push_back(std::make_unique<RawConnection>(collector.port(), "127.0.0.3"));
    HttpAnswer busy = PostReport(collector.port(), body, "127.0.0.3");
    EXPECT_EQ(busy.status, 503);
    EXPECT_EQ(busy.headers["X-Content-Type-Options"], "nosniff");  // the HTTP layer's own answer
    EXPECT_EQ(PostReport(collector.port(), body, "127.0.0.1").status, 200);

    EXPECT_EQ(PostReport(collector.port(), body, "127.0.0.1").status, 200);
    EXPECT_EQ(PostReport(collector.port(), body, "127.0.0.1").status, 200);
    HttpAnswer over = PostReport(collector.port(), body, "127.0.0.1");
    ExpectRefused(over, 429);
    EXPECT_GT(std::stoi(over.retryAfter), 0);
    EXPECT_EQ(PostReport(collector.port(), body, "127.0.0.4").status, 200);
    EXPECT_EQ(StoredReports(collector).size(), 4u);
}

// While another connection holds SQLite's write lock, the writer waits with
// at most one report and the queue holds one more: the others are answered
// 503 at once, and what was accepted is stored (and answered 200) once the
// lock is gone.
TEST(CollectorUnderHostileInput, AnswersAFullQueue503AndStoresWhatItAccepted) {
    CollectorProcess collector({"--queue", "1", "--batch", "1", "--rate", "0"});
    const std::string body = BodyOf(SampleReport(), true);
    ASSERT_EQ(PostReport(collector.port(), body).status, 200);  // the schema exists

    StoreWriteLock lock(collector);
    ASSERT_TRUE(lock.Held());
    std::vector<std::future<HttpAnswer>> posts;
    for (int i = 0; i < 5; ++i)
        posts.push_back(std::async(std::launch::async, [&] { return PostReport(collector.port(), body); }));
    int refused = 0;
    for (auto deadline = std::chrono::steady_clock::now() + 60s; refused < 3 && std::chrono::steady_clock::now() < deadline;) {
        refused = 0;
        for (auto& post : posts) refused += post.wait_for(100ms) == std::future_status::ready;
    }
    lock.Release();
    int ok = 0, busy = 0;
    for (auto& post : posts) {
        HttpAnswer answer = post.get();
        ok += answer.status == 200;
        busy += answer.status == 503 && !answer.retryAfter.empty();
    }
    EXPECT_GE(busy, 3);
    EXPECT_GE(ok, 1);
    EXPECT_EQ(ok + busy, 5);
    EXPECT_EQ(StoredReports(collector).size(), 1u + ok);
}

}  // namespace
}  // namespace collector::testing
