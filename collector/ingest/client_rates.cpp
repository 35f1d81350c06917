// A client whose bucket has filled up again is forgotten when the map grows
// large, so that many addresses cannot exhaust memory.
#include "collector/ingest/client_rates.h"

#include <algorithm>
#include <cmath>

namespace collector {
namespace {

constexpr std::size_t kRememberedClients = 100000;

}  // namespace

int ClientRates::Take(const std::string& client, Clock::time_point now) {
    if (perSecond_ <= 0) return 0;
    std::lock_guard lock(mutex_);
    if (buckets_.size() >= kRememberedClients) ForgetFullBuckets(now);
    auto [it, added] = buckets_.try_emplace(client, Bucket{burst_, now});
    Bucket& bucket = it->second;
    const double elapsed = std::chrono::duration<double>(now - bucket.updated).count();
    bucket.tokens = std::min(burst_, bucket.tokens + elapsed * perSecond_);
    bucket.updated = now;
    if (bucket.tokens >= 1) {
        bucket.tokens -= 1;
        return 0;
    }
    return std::max(1, static_cast<int>(std::ceil((1 - bucket.tokens) / perSecond_)));
}

void ClientRates::ForgetFullBuckets(Clock::time_point now) {
    std::erase_if(buckets_, [&](const auto& entry) {
        const double elapsed = std::chrono::duration<double>(now - entry.second.updated).count();
        return entry.second.tokens + elapsed * perSecond_ >= burst_;
    });
}

}  // namespace collector
