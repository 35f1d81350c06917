#include "collector/server/ingest_answers.h"

namespace collector {

namespace http = boost::beast::http;

Response IngestResponse(const IngestOutcome& outcome) {
    if (!outcome.refusal) return TextResponse(http::status::ok, "stored " + std::to_string(outcome.storedId));
    http::status status = http::status::service_unavailable;
    std::string text = outcome.reason;
    switch (*outcome.refusal) {
    case Refusal::Malformed:
        status = http::status::bad_request;
        text = "malformed report: " + text;
        break;
    case Refusal::OverLimits:
        status = http::status::payload_too_large;
        break;
    case Refusal::TooFrequent:
        status = http::status::too_many_requests;
        break;
    case Refusal::QueueFull:
    case Refusal::Stopping:
    case Refusal::StoreFailed:
        break;
    }
    Response response = TextResponse(status, text);
    if (outcome.retryAfterSeconds > 0) response.set(http::field::retry_after, std::to_string(outcome.retryAfterSeconds));
    return response;
}

}  // namespace collector
