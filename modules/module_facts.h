// ModuleFactsReader: the file facts of a run's modules, read on a thread of
// their own so that the debuggee never waits for them, once per path, and kept
// until the run is over for the report's sections and the upload.
#pragma once
#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "modules/file_facts.h"

class ModuleFactsReader {
public:
    ModuleFactsReader();
    // Waits for the file being read, then stops the thread.
    ~ModuleFactsReader();
    ModuleFactsReader(const ModuleFactsReader&) = delete;
    ModuleFactsReader& operator=(const ModuleFactsReader&) = delete;

    // Queues the file to be read, unless it was asked for before in this run.
    void Request(const std::wstring& path);
    // Files that the end of the run will likely ask for (the images of the
    // processes running during it): listed and read on the thread once it has
    // no module to read, and always after the modules asked for. A file
    // listed here and asked for later is read as any other module.
    void ReadAhead(std::function<std::vector<std::wstring>()> listFiles);
    // The facts of a requested file once they have been read; null before.
    const FileFacts* Arrived(const std::wstring& path);
    // Waits until every requested file has been read (files read ahead excepted).
    void WaitForAll();
    // Once this returns the file is not open here: read now on the caller when
    // still queued, or waited for. A program may write a file as soon as it has
    // unmapped it, and must not find it held by the reader.
    void Settle(const std::wstring& path);

    // The watched programs have ended: from now on the facts handed out are the
    // file's as it is now. A file read during the run whose size and times have
    // not changed since keeps its facts; any other is read again.
    void RunEnded();
    // The facts of the file as it is at the end of the run (read now when the
    // run never asked for it). Valid as long as the reader.
    const FileFacts& FinalFacts(const std::wstring& path);

    // Reads every file on the caller's thread and again at every FinalFacts, as
    // a run did before the reader existed (for comparing both ways).
    void ReadOnCallerEveryTime() { onCaller_ = true; }

private:
    enum class State { Queued, Read, Final };
    struct Entry {
        std::wstring path;
        std::unique_ptr<FileFacts> facts;
        State state = State::Queued;
        bool recheck = false;  // queued for the end-of-run look
        bool reading = false;  // taken from the queue by the thread
    };

    void Serve();
    Entry* NextEntry();
    void ListFilesToReadAhead(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::wstring, Entry> entries_;
    std::deque<Entry*> queue_;
    std::deque<Entry*> ahead_;  // read only when queue_ is empty
    std::function<std::vector<std::wstring>()> listAhead_;
    std::size_t busy_ = 0;  // entries taken from the queue and not yet done
    bool ended_ = false;
    bool stop_ = false;
    bool onCaller_ = false;
    std::vector<std::unique_ptr<FileFacts>> callerReads_;
    std::thread thread_;
};
