// The reference debugger: launch, wait, continue, nothing else. Its speed is
// the physical limit of a debugger on the same system.
#pragma once
#include <windows.h>

#include <string>

struct BareLoopResult {
    unsigned long long events = 0;
    unsigned long long dllLoads = 0;
    bool launched = false;
};

// Runs the command line under DEBUG_PROCESS until every debuggee has exited.
BareLoopResult RunBareLoop(const std::wstring& application, const std::wstring& commandLine);
