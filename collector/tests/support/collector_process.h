// The real korvane-collector for tests: started as a child process on a free
// loopback port with a store of its own in a temporary folder, stopped (and
// its folder removed) when the object goes.
#pragma once
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

struct sqlite3;

namespace collector::testing {

// A folder that lives as long as the object.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A file descriptor, closed with the object.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd();
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept;
    int get() const { return fd_; }

private:
    int fd_;
};

class CollectorProcess {
public:
    // `options` come after --listen, --port and --store; an empty storeUri
    // gives a SQLite file in the temporary folder.
    explicit CollectorProcess(std::vector<std::string> options = {}, std::string storeUri = {},
                              unsigned short port = 0);
    ~CollectorProcess();  // SIGTERM, then waits for the exit
    CollectorProcess(const CollectorProcess&) = delete;
    CollectorProcess& operator=(const CollectorProcess&) = delete;

    unsigned short port() const { return port_; }
    pid_t pid() const { return pid_; }
    // What the collector has written to its standard error so far.
    std::string ErrorOutput() const;
    const std::string& storeUri() const { return storeUri_; }
    // SIGTERM and the exit status; the store stays for inspection. Its
    // standard error goes to the test's then.
    int Stop();

private:
    std::string ErrorsPath() const;

    TempFolder folder_;
    std::string storeUri_;
    Fd output_;  // kept open: the collector may still write to it
    pid_t pid_ = -1;
    unsigned short port_ = 0;
};

// Another connection holding the write lock of a collector's SQLite store
// from construction until Release or the end of the scope, so that its
// writer waits and its queue fills.
class StoreWriteLock {
public:
    explicit StoreWriteLock(const CollectorProcess& collector);
    ~StoreWriteLock() { Release(); }
    StoreWriteLock(const StoreWriteLock&) = delete;
    StoreWriteLock& operator=(const StoreWriteLock&) = delete;

    bool Held() const { return held_; }
    void Release();

private:
    sqlite3* connection_ = nullptr;
    bool held_ = false;
};

// Runs a program (found on PATH) to its end with `input` on standard input;
// its exit status.
int RunProgram(const std::vector<std::string>& command, const std::string& input = {});
// The collector binary, so (for --set-password).
int RunCollector(std::vector<std::string> arguments, const std::string& input);

}  // namespace collector::testing
