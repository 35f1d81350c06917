// The writer takes whatever is queued (up to a batch) as soon as it is free:
// under load the batches grow by themselves and each commit serves many
// clients; when idle a report is stored alone at once. It also drops reports
// past their retention, hourly, so that SQLite keeps one writer.
#include "collector/server/ingest_service.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "collector/ingest/body_parser.h"
#include "collector/storage/store.h"

namespace collector {
namespace {

namespace http = boost::beast::http;

constexpr auto kRetentionInterval = std::chrono::hours(1);

Response WithRetryAfter(http::status status, std::string_view text, int seconds) {
    Response response = TextResponse(status, text);
    response.set(http::field::retry_after, std::to_string(seconds));
    return response;
}

}  // namespace

IngestService::IngestService(collector::Store& store, IngestOptions options)
    : store_(store), options_(options), rates_(options.ratePerClient, options.burstPerClient),
      writer_([this] { WriterLoop(); }) {}

IngestService::~IngestService() {
    Finish();
}

void IngestService::Finish() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (writer_.joinable()) writer_.join();
}

void IngestService::Accept(std::string body, const std::string& client, Reply reply) {
    if (int wait = rates_.Take(client, ClientRates::Clock::now()); wait > 0)
        return reply(WithRetryAfter(http::status::too_many_requests, "too many reports from this address", wait));
    ParsedBody parsed = ParseUploadBody(body);
    if (!parsed.report) return reply(TextResponse(http::status::bad_request, "malformed report: " + parsed.reason));
    parsed.report->receivedAt = static_cast<std::int64_t>(std::time(nullptr));
    std::unique_lock lock(mutex_);
    if (stopping_) {
        lock.unlock();
        return reply(WithRetryAfter(http::status::service_unavailable, "the collector is stopping", 30));
    }
    if (queue_.size() >= options_.queueReports) {
        lock.unlock();
        return reply(WithRetryAfter(http::status::service_unavailable, "too many reports waiting to be stored", 5));
    }
    queue_.push_back({std::move(*parsed.report), std::move(reply)});
    wake_.notify_one();
}

void IngestService::WriterLoop() {
    auto nextRetention = std::chrono::steady_clock::now();
    std::vector<Pending> batch;
    for (;;) {
        if (std::chrono::steady_clock::now() >= nextRetention) {
            DropExpiredReports();
            nextRetention = std::chrono::steady_clock::now() + kRetentionInterval;
        }
        {
            std::unique_lock lock(mutex_);
            wake_.wait_until(lock, nextRetention, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty() && stopping_) return;
            while (!queue_.empty() && batch.size() < options_.batchReports) {
                batch.push_back(std::move(queue_.front()));
                queue_.pop_front();
            }
        }
        if (!batch.empty()) StoreBatch(batch);
        batch.clear();
    }
}

// A batch that fails is tried again report by report, so one report the
// store cannot take does not cost the others their place.
void IngestService::StoreBatch(std::vector<Pending>& batch) {
    if (Insert(batch)) return;
    if (batch.size() == 1) {
        batch[0].reply(WithRetryAfter(http::status::service_unavailable, "not stored: the store failed", 30));
        return;
    }
    for (Pending& pending : batch) {
        std::vector<Pending> one;
        one.push_back(std::move(pending));
        StoreBatch(one);
    }
}

bool IngestService::Insert(std::vector<Pending>& batch) {
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
    for (std::size_t i = 0; i < batch.size(); ++i)
        batch[i].reply(TextResponse(http::status::ok, "stored " + std::to_string(reports[i].id)));
    return true;
}

void IngestService::DropExpiredReports() {
    try {
        store_.DropExpired(static_cast<std::int64_t>(std::time(nullptr)));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "korvane-collector: dropping expired reports failed: %s\n", error.what());
    }
}

}  // namespace collector
