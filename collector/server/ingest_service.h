// The ingest path behind the HTTP server: a report is checked against its
// client's rate, parsed, and queued for the one writer thread, which stores
// queued reports in batches; the client is answered 200 only once its report
// is committed. A full queue is answered 503, never waited on.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "collector/core/report.h"
#include "collector/ingest/client_rates.h"
#include "collector/server/http_server.h"

namespace collector {

class Store;

struct IngestOptions {
    std::size_t queueReports = 1000;  // parsed reports waiting for the writer
    std::size_t batchReports = 200;   // at most this many in one transaction
    double ratePerClient = 10;        // reports a second per client address; 0: no limit
    double burstPerClient = 60;
};

class IngestService {
public:
    IngestService(Store& store, IngestOptions options);
    // Stores what is queued, answers it, and ends the writer; later reports
    // are answered 503.
    void Finish();
    ~IngestService();
    IngestService(const IngestService&) = delete;
    IngestService& operator=(const IngestService&) = delete;

    // The ingest handler of HttpServer.
    void Accept(std::string body, const std::string& client, Reply reply);

private:
    struct Pending {
        Report report;
        Reply reply;
    };

    void WriterLoop();
    void StoreBatch(std::vector<Pending>& batch);
    bool Insert(std::vector<Pending>& batch);
    void DropExpiredReports();

    collector::Store& store_;
    IngestOptions options_;
    ClientRates rates_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Pending> queue_;
    bool stopping_ = false;
    std::thread writer_;
};

}  // namespace collector
