// A body's bytes are reserved for its client before it is parsed, and
// exchanged for what the parsed report holds after; they are given back once
// the report is stored or refused. So the bound covers every report the
// process holds, whatever step it is in.
//
// The writer takes whatever is queued (up to a batch) as soon as it is free:
// under load the batches grow by themselves and each commit serves many
// clients; when idle a report is stored alone at once. It also stores the
// refusal counts and drops reports past their retention, so that SQLite keeps
// one writer.
#include "collector/ingest/ingest_queue.h"

#include <boost/asio/post.hpp>

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "collector/storage/store.h"

namespace collector {
namespace {

constexpr auto kRetentionInterval = std::chrono::hours(1);
constexpr int kQueueFullRetry = 5;
constexpr int kStoppingRetry = 30;
constexpr int kStoreFailedRetry = 30;

constexpr std::array<std::string_view, 6> kRefusalNames = {"malformed",  "over_limits", "too_frequent",
                                                           "queue_full", "stopping",    "store_failed"};

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::int64_t Today() {
    constexpr std::int64_t kDay = 86400;
    return Now() / kDay * kDay;
}

// What a text holds beyond its own object (short ones live inside it).
std::size_t HeapBytes(const std::string& text) {
    return text.capacity() > 15 ? text.capacity() + 1 : 0;
}

std::size_t HeapBytes(const FileEntry& e) {
    return HeapBytes(e.name) + HeapBytes(e.folder) + HeapBytes(e.size) + HeapBytes(e.productVersion) +
           HeapBytes(e.created) + HeapBytes(e.modified) + HeapBytes(e.description) + HeapBytes(e.company);
}

IngestOutcome Refused(Refusal refusal, std::string reason, int retryAfter = 0) {
    return {0, refusal, std::move(reason), retryAfter};
}

}  // namespace

std::string_view RefusalName(Refusal refusal) {
    return kRefusalNames[static_cast<std::size_t>(refusal)];
}

std::optional<Refusal> RefusalNamed(std::string_view name) {
    for (std::size_t i = 0; i < kRefusalNames.size(); ++i)
        if (kRefusalNames[i] == name) return static_cast<Refusal>(i);
    return std::nullopt;
}

std::size_t HeldBytes(const Report& report) {
    std::size_t bytes = sizeof(Report) + HeapBytes(report.process) + HeapBytes(report.os);
    for (const FileEntry& entry : report.files) bytes += sizeof(FileEntry) + HeapBytes(entry);
    for (const FileEntry& entry : report.modules) bytes += sizeof(FileEntry) + HeapBytes(entry);
    for (const Finding& f : report.verdict)
        bytes += sizeof(Finding) + HeapBytes(f.kind) + HeapBytes(f.module) + HeapBytes(f.detail);
    return bytes;
}

IngestQueue::IngestQueue(Store& store, IngestOptions options)
    : store_(store), options_(options), rates_(options.ratePerClient, options.burstPerClient),
      parsers_(static_cast<std::size_t>(std::max(1, options.parseThreads))), writer_([this] { WriterLoop(); }) {}

IngestQueue::~IngestQueue() {
    Finish();
}

void IngestQueue::Finish() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    parsers_.join();  // bodies being parsed reach the queue or their refusal first
    {
        std::lock_guard lock(mutex_);
        parsersDone_ = true;
    }
    wake_.notify_one();
    if (writer_.joinable()) writer_.join();
}

void IngestQueue::Accept(std::string body, const std::string& client, IngestDone done) {
    if (int wait = rates_.Take(client, ClientRates::Clock::now()); wait > 0)
        return Refuse(client, body.size(), Refused(Refusal::TooFrequent, "too many reports from this address", wait),
                      done);
    if (std::optional<IngestOutcome> refused = Reserve(client, body.size()))
        return Refuse(client, body.size(), std::move(*refused), done);
    boost::asio::post(parsers_, [this, body = std::move(body), client, done = std::move(done)]() mutable {
        Parse(std::move(body), client, std::move(done));
    });
}

void IngestQueue::NoteRefused(const std::string& client, std::size_t bytes, Refusal refusal,
                              std::string_view reason) {
    Refuse(client, bytes, Refused(refusal, std::string(reason)), {});
}

void IngestQueue::Refuse(const std::string& client, std::size_t bytes, IngestOutcome outcome,
                         const IngestDone& done) {
    std::fprintf(stderr, "korvane-collector: refused a report from %s (%zu bytes), %s: %s\n", client.c_str(), bytes,
                 std::string(RefusalName(*outcome.refusal)).c_str(), outcome.reason.c_str());
    {
        std::lock_guard lock(mutex_);
        ++refusalCounts_[{Today(), *outcome.refusal}];
        newRefusals_ = true;
    }
    wake_.notify_one();
    if (done) done(std::move(outcome));
}

// A place for one more report of `bytes`, or why there is none.
std::optional<IngestOutcome> IngestQueue::Reserve(const std::string& client, std::size_t bytes) {
    std::lock_guard lock(mutex_);
    if (stopping_) return Refused(Refusal::Stopping, "the collector is stopping", kStoppingRetry);
    std::size_t& mine = clientBytes_[client];
    if (reports_ >= options_.queueReports || bytes_ + bytes > options_.queueBytes ||
        mine + bytes > options_.clientShareBytes) {
        if (mine == 0) clientBytes_.erase(client);
        return Refused(Refusal::QueueFull, "too many reports waiting to be stored", kQueueFullRetry);
    }
    ++reports_;
    bytes_ += bytes;
    mine += bytes;
    return std::nullopt;
}

void IngestQueue::Release(const std::string& client, std::size_t bytes) {
    std::lock_guard lock(mutex_);
    bytes_ -= bytes;
    auto mine = clientBytes_.find(client);
    if ((mine->second -= bytes) == 0) clientBytes_.erase(mine);
}

void IngestQueue::Parse(std::string body, const std::string& client, IngestDone done) {
    const std::size_t bodyBytes = body.size();
    ParsedBody parsed = ParseUploadBody(body, options_.limits);
    body = std::string();
    if (!parsed.report) {
        Release(client, bodyBytes);
        {
            std::lock_guard lock(mutex_);
            --reports_;
        }
        const Refusal refusal = parsed.fault == BodyFault::OverLimits ? Refusal::OverLimits : Refusal::Malformed;
        return Refuse(client, bodyBytes, Refused(refusal, parsed.reason), done);
    }
    parsed.report->receivedAt = Now();
    const std::size_t held = HeldBytes(*parsed.report);
    std::unique_lock lock(mutex_);
    std::size_t& mine = clientBytes_[client];
    // The body is gone; its parsed report takes its place, if it fits.
    bytes_ -= bodyBytes;
    mine -= bodyBytes;
    if (bytes_ + held > options_.queueBytes || mine + held > options_.clientShareBytes) {
        if (mine == 0) clientBytes_.erase(client);
        --reports_;
        lock.unlock();
        return Refuse(client, bodyBytes,
                      Refused(Refusal::QueueFull, "too many reports waiting to be stored", kQueueFullRetry), done);
    }
    bytes_ += held;
    mine += held;
    queue_.push_back({std::move(*parsed.report), client, held, std::move(done)});
    wake_.notify_one();
}

void IngestQueue::WriterLoop() {
    auto nextRetention = std::chrono::steady_clock::now();
    std::vector<Pending> batch;
    for (;;) {
        if (std::chrono::steady_clock::now() >= nextRetention) {
            DropExpiredReports();
            nextRetention = std::chrono::steady_clock::now() + kRetentionInterval;
        }
        bool last = false;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_until(lock, nextRetention, [this] { return parsersDone_ || !queue_.empty() || newRefusals_; });
            // Once the parsers have finished, nothing joins the queue any more.
            last = parsersDone_ && queue_.size() <= options_.batchReports;
            while (!queue_.empty() && batch.size() < options_.batchReports) {
                batch.push_back(std::move(queue_.front()));
                queue_.pop_front();
                --reports_;
            }
        }
        if (!batch.empty()) StoreBatch(batch);
        batch.clear();
        StoreRefusalCounts();
        if (last) return;
    }
}

// A batch that fails is tried again report by report, so one report the
// store cannot take does not cost the others their place.
void IngestQueue::StoreBatch(std::vector<Pending>& batch) {
    if (Insert(batch)) return;
    if (batch.size() == 1) {
        Pending& failed = batch[0];
        Release(failed.client, failed.bytes);
        Refuse(failed.client, failed.bytes,
               Refused(Refusal::StoreFailed, "not stored: the store failed", kStoreFailedRetry), failed.done);
        return;
    }
    for (Pending& pending : batch) {
        std::vector<Pending> one;
        one.push_back(std::move(pending));
        StoreBatch(one);
    }
}

bool IngestQueue::Insert(std::vector<Pending>& batch) {
    std::vector<Report> reports;
    reports.reserve(batch.size());
    for (Pending& pending : batch) reports.push_back(std::move(pending.report));
    try {
        store_.Insert(reports);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "korvane-collector: storing %zu reports failed: %s\n", reports.size(), error.what());
        for (std::size_t i = 0; i < batch.size(); ++i) batch[i].report = std::move(reports[i]);
        return false;
    }
    for (std::size_t i = 0; i < batch.size(); ++i) {
        Release(batch[i].client, batch[i].bytes);
        batch[i].done({reports[i].id, std::nullopt, {}, 0});
    }
    return true;
}

// Counts that cannot be stored now stay for the next time.
void IngestQueue::StoreRefusalCounts() {
    std::map<std::pair<std::int64_t, Refusal>, std::int64_t> counts;
    {
        std::lock_guard lock(mutex_);
        counts.swap(refusalCounts_);
        newRefusals_ = false;
    }
    if (counts.empty()) return;
    std::vector<RefusalCount> rows;
    for (const auto& [key, count] : counts) rows.push_back({key.first, std::string(RefusalName(key.second)), count});
    try {
        store_.CountRefusals(rows);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "korvane-collector: storing refusal counts failed: %s\n", error.what());
        std::lock_guard lock(mutex_);
        for (const auto& [key, count] : counts) refusalCounts_[key] += count;
    }
}

void IngestQueue::DropExpiredReports() {
    try {
        store_.DropExpired(Now());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "korvane-collector: dropping expired reports failed: %s\n", error.what());
    }
}

}  // namespace collector
