// What the client is told of its report: the ingest outcome as HTTP.
#pragma once
#include "collector/ingest/ingest_queue.h"
#include "collector/server/http_server.h"

namespace collector {

// 200 "stored ID"; 400 a malformed body, 413 one over the report's limits,
// 429 too frequent, 503 busy, stopping or not stored; each refusal with its
// one-line reason, and Retry-After when sending again may succeed.
Response IngestResponse(const IngestOutcome& outcome);

}  // namespace collector
