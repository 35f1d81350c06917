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
    Entry& entry = found->second;
    if (!added) {
        // Waiting to be read ahead: now a module, whose unload may settle it.
        auto ahead = std::find(ahead_.begin(), ahead_.end(), &entry);
        if (ahead == ahead_.end()) return;
        ahead_.erase(ahead);
        queue_.push_back(&entry);
        changed_.notify_all();
        return;
    }
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

void ModuleFactsReader::ReadAhead(std::function<std::vector<std::wstring>()> listFiles) {
    if (onCaller_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    listAhead_ = std::move(listFiles);
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

// The modules asked for first, then the files listed to be read ahead.
ModuleFactsReader::Entry* ModuleFactsReader::NextEntry() {
    Entry* entry = nullptr;
    if (!queue_.empty()) {
        entry = queue_.front();
        queue_.pop_front();
    } else if (!ahead_.empty()) {
        entry = ahead_.front();
        ahead_.pop_front();
    }
    return entry;
}

// Once, and not after the run has ended: the end reads what it needs itself.
void ModuleFactsReader::ListFilesToReadAhead(std::unique_lock<std::mutex>& lock) {
    auto listFiles = std::move(listAhead_);
    listAhead_ = nullptr;
    lock.unlock();
    std::vector<std::wstring> paths = listFiles();
    lock.lock();
    if (ended_) return;
    for (std::wstring& path : paths) {
        auto [found, added] = entries_.try_emplace(path);
        if (!added) continue;
        found->second.path = std::move(path);
        ahead_.push_back(&found->second);
    }
}

void ModuleFactsReader::Serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        auto ready = [&] { return stop_ || !queue_.empty() || !ahead_.empty() || (listAhead_ && !ended_); };
        changed_.wait(lock, ready);
        if (stop_) return;
        if (queue_.empty() && ahead_.empty()) {
            ListFilesToReadAhead(lock);
            continue;
        }
        Entry& entry = *NextEntry();
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
