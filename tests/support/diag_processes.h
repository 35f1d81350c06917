// Processes that a test starts with a chosen command line and kills when it ends.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

#include "base/handles.h"

class IdleProcess {
public:
    // Starts idle_wait.exe from imagePath (any spelling of its path) with the command
    // line "<imagePath>" <event name>, padded with 'x' to commandLineChars characters
    // when that is longer, and waits until the process has signalled that it runs.
    IdleProcess(const std::wstring& imagePath, std::size_t commandLineChars = 0);
    ~IdleProcess();
    IdleProcess(const IdleProcess&) = delete;
    IdleProcess& operator=(const IdleProcess&) = delete;

    bool Running() const { return running_; }
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_.get(); }
    const std::wstring& CommandLine() const { return commandLine_; }
    // The part of the command line that no other process has: the event's name.
    const std::wstring& Marker() const { return eventName_; }

private:
    std::wstring eventName_;
    std::wstring commandLine_;
    UniqueHandle process_;
    DWORD id_ = 0;
    bool running_ = false;
};
