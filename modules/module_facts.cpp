// ModuleFactsReader: a queue of module files served by one thread (the machine
// may have two cores, and the debuggee and the worker need them), the facts
// kept per path, and the look at every file once the watched programs are gone.
#include "modules/module_facts.h"

ModuleFactsReader::ModuleFactsReader() : thread_([this] { Serve(); }) {}

ModuleFactsReader::~ModuleFactsReader() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ModuleFactsReader::Request(const std::wstring& path) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto [found, added] = entries_.try_emplace(path);
    if (!added) return;
    Entry& entry = found->second;
    entry.path = path;
    if (onCaller_) {
        lock.unlock();
        auto facts = std::make_unique<FileFacts>(path);
        lock.lock();
        entry.facts = std::move(facts);
        entry.state = State::Read;
        return;
    }
    queue_.push_back(&entry);
    changed_.notify_all();
}

const FileFacts* ModuleFactsReader::Arrived(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = entries_.find(path);
    if (found == entries_.end() || found->second.state == State::Queued) return nullptr;
    return found->second.facts.get();
}

void ModuleFactsReader::WaitForAll() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return queue_.empty() && busy_ == 0; });
}

void ModuleFactsReader::Settle(const std::wstring& path) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto found = entries_.find(path);
    if (found == entries_.end()) return;
    Entry& entry = found->second;
    auto queued = std::find(queue_.begin(), queue_.end(), &entry);
    if (queued != queue_.end() && !entry.recheck) {
        queue_.erase(queued);
        ++busy_;
        lock.unlock();
        auto facts = std::make_unique<FileFacts>(path);
        lock.lock();
        entry.facts = std::move(facts);
        entry.state = ended_ ? State::Final : State::Read;
        --busy_;
        changed_.notify_all();
        return;
    }
    changed_.wait(lock, [&] { return !entry.reading; });
}

void ModuleFactsReader::RunEnded() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ended_) return;
    ended_ = true;
    for (auto& [path, entry] : entries_) {
        if (entry.state != State::Read) continue;
        entry.recheck = true;
        queue_.push_back(&entry);
    }
    changed_.notify_all();
}

const FileFacts& ModuleFactsReader::FinalFacts(const std::wstring& path) {
    if (onCaller_) {
        callerReads_.push_back(std::make_unique<FileFacts>(path));
        return *callerReads_.back();
    }
    RunEnded();
    std::unique_lock<std::mutex> lock(mutex_);
    auto found = entries_.find(path);
    if (found == entries_.end()) {
        // Never asked for during the run: read here, beside the thread's work.
        lock.unlock();
        auto facts = std::make_unique<FileFacts>(path);
        lock.lock();
        Entry& entry = entries_[path];
        entry.path = path;
        entry.facts = std::move(facts);
        entry.state = State::Final;
        return *entry.facts;
    }
    Entry& entry = found->second;
    changed_.wait(lock, [&] { return entry.state == State::Final; });
    return *entry.facts;
}

void ModuleFactsReader::Serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        changed_.wait(lock, [&] { return stop_ || !queue_.empty(); });
        if (stop_) return;
        Entry& entry = *queue_.front();
        queue_.pop_front();
        ++busy_;
        entry.reading = true;
        const bool readAfterEnd = ended_;
        const FileFacts* earlier = entry.recheck ? entry.facts.get() : nullptr;
        lock.unlock();
        std::unique_ptr<FileFacts> fresh;
        if (!earlier || !earlier->StillDescribesFile()) fresh = std::make_unique<FileFacts>(entry.path);
        lock.lock();
        if (fresh) entry.facts = std::move(fresh);
        entry.recheck = false;
        entry.reading = false;
        if (readAfterEnd) {
            entry.state = State::Final;
        } else {
            entry.state = State::Read;
            // Read while the run was ending: looked at again like the others.
            if (ended_) {
                entry.recheck = true;
                queue_.push_back(&entry);
            }
        }
        --busy_;
        changed_.notify_all();
    }
}
