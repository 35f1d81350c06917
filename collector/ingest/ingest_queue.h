// The ingest path, without HTTP: a report is checked against its client's
// rate, parsed on threads of its own (never the network's), and queued for the
// one writer thread, which stores queued reports in batches. Each body ends in
// one outcome: stored with its id, refused for a reason, or to be sent again
// after some seconds. The queue is bounded in the bytes its reports hold, and
// one client may hold only a share of it.
//
// Every refusal leaves a trace: a line in the log (client, reason, size) and a
// count per reason and day in the store.
#pragma once
#include <boost/asio/thread_pool.hpp>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "collector/core/report.h"
#include "collector/ingest/body_parser.h"
#include "collector/ingest/client_rates.h"

namespace collector {

class Store;

struct IngestOptions {
    std::size_t queueReports = 1000;          // reports parsed or waiting for the writer
    std::size_t queueBytes = 256u << 20;      // what those reports hold, as read and as parsed
    std::size_t clientShareBytes = 32u << 20; // of queueBytes, for one client address
    std::size_t batchReports = 200;           // at most this many in one transaction
    double ratePerClient = 10;                // reports a second per client address; 0: no limit
    double burstPerClient = 60;
    int parseThreads = 2;
    BodyLimits limits;
};

// Why a report was not stored; the names are the store's and the log's.
enum class Refusal { Malformed, OverLimits, TooFrequent, QueueFull, Stopping, StoreFailed };
std::string_view RefusalName(Refusal refusal);
std::optional<Refusal> RefusalNamed(std::string_view name);

struct IngestOutcome {
    std::int64_t storedId = 0;       // the report's id once stored
    std::optional<Refusal> refusal;  // otherwise why not
    std::string reason;              // in one line
    int retryAfterSeconds = 0;       // when sending it again may succeed
};

// Called once per body, from any thread.
using IngestDone = std::function<void(IngestOutcome)>;

// The memory a parsed report holds, for the queue's bound.
std::size_t HeldBytes(const Report& report);

class IngestQueue {
public:
    IngestQueue(Store& store, IngestOptions options);
    // Stores what is queued, answers it, and ends the writer; later bodies
    // are refused (Stopping).
    void Finish();
    ~IngestQueue();
    IngestQueue(const IngestQueue&) = delete;
    IngestQueue& operator=(const IngestQueue&) = delete;

    void Accept(std::string body, const std::string& client, IngestDone done);
    // A report refused before it reached the queue (by the transport, for
    // its size): logged and counted like the others.
    void NoteRefused(const std::string& client, std::size_t bytes, Refusal refusal, std::string_view reason);

private:
    struct Pending {
        Report report;
        std::string client;
        std::size_t bytes = 0;
        IngestDone done;
    };

    void Refuse(const std::string& client, std::size_t bytes, IngestOutcome outcome, const IngestDone& done);
    std::optional<IngestOutcome> Reserve(const std::string& client, std::size_t bytes);
    void Release(const std::string& client, std::size_t bytes);
    void Parse(std::string body, const std::string& client, IngestDone done);
    void WriterLoop();
    void StoreBatch(std::vector<Pending>& batch);
    bool Insert(std::vector<Pending>& batch);
    void StoreRefusalCounts();
    void DropExpiredReports();

    Store& store_;
    IngestOptions options_;
    ClientRates rates_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Pending> queue_;
    std::size_t reports_ = 0;  // being parsed or queued
    std::size_t bytes_ = 0;    // held by reports being parsed, queued or stored
    std::map<std::string, std::size_t> clientBytes_;
    std::map<std::pair<std::int64_t, Refusal>, std::int64_t> refusalCounts_;  // (day, reason) not yet stored
    bool newRefusals_ = false;  // counted since the writer last stored them
    bool stopping_ = false;
    bool parsersDone_ = false;
    boost::asio::thread_pool parsers_;
    std::thread writer_;
};

}  // namespace collector
