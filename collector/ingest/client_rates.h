// How often each client may post: a bucket of reports per client address that
// fills at a steady rate, so a burst of runs passes and a flood does not.
#pragma once
#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace collector {

class ClientRates {
public:
    using Clock = std::chrono::steady_clock;

    // perSecond 0: no limit.
    ClientRates(double perSecond, double burst) : perSecond_(perSecond), burst_(burst) {}

    // Takes one report from the client's bucket: 0 when it may post now,
    // otherwise the whole seconds until it may.
    int Take(const std::string& client, Clock::time_point now);

private:
    struct Bucket {
        double tokens = 0;
        Clock::time_point updated;
    };
    void ForgetFullBuckets(Clock::time_point now);

    double perSecond_;
    double burst_;
    std::mutex mutex_;
    std::map<std::string, Bucket> buckets_;
};

}  // namespace collector
