// The request that the active run stop, set once and for the rest of the process.
#include "watch/run_stop.h"

#include <atomic>

namespace {

std::atomic<bool> g_stopRequested{false};

}  // namespace

void RequestRunStop() {
    g_stopRequested = true;
}

bool RunStopRequested() {
    return g_stopRequested;
}
