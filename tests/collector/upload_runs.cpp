// collector_uploads.exe TARGET...: runs each target headless under the real
// debug loop and posts its report, as zar.exe does at the end of a run, to
// the loopback report port of the test build. The collector's end-to-end
// test runs it under Wine against the real collector.
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

#include "watch/launch_trace.h"

namespace {

// On a thread of its own, as a run's worker does.
void RunAndUpload(const std::wstring& target) {
    std::thread worker([&] {
        LaunchTrace trace(target, nullptr, nullptr);
        trace.RunDebugLoop();
        trace.log.Close();  // as CloseAndShowLog does, without starting Notepad
        trace.UploadReport();
    });
    worker.join();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        RunAndUpload(argv[i]);
        std::printf("uploaded the run of %ls\n", argv[i]);
    }
    return argc > 1 ? 0 : 2;
}
