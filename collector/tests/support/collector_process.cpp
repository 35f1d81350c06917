// fork and exec of the binary built beside the tests; the port is read from
// the line the collector prints once it listens.
#include "collector/tests/support/collector_process.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace collector::testing {
namespace {

struct Pipe {
    Fd read, write;
};

Pipe MakePipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    return {Fd(ends[0]), Fd(ends[1])};
}

// The child's standard input and output are the given ends; standard error
// stays the test's unless `err` is given.
pid_t Spawn(std::vector<std::string> command, Fd in, Fd out, Fd err = Fd()) {
    std::vector<char*> argv;
    for (std::string& argument : command) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        if (in.get() >= 0) ::dup2(in.get(), 0);
        if (out.get() >= 0) ::dup2(out.get(), 1);
        if (err.get() >= 0) ::dup2(err.get(), 2);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    if (pid < 0) throw std::runtime_error("fork failed");
    return pid;
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The port of "korvane-collector: listening on http://ADDRESS:PORT/".
unsigned short ReadPort(int fd) {
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
    std::size_t end = line.rfind('/');
    std::size_t colon = line.rfind(':', end);
    if (line.find("listening on") == std::string::npos || colon == std::string::npos)
        throw std::runtime_error("the collector did not start: " + line);
    return static_cast<unsigned short>(std::stoi(line.substr(colon + 1, end - colon - 1)));
}

}  // namespace

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

Fd& Fd::operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvane-collector-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

CollectorProcess::CollectorProcess(std::vector<std::string> options, std::string storeUri, unsigned short port)
    : storeUri_(storeUri.empty() ? "sqlite:" + (folder_.path() / "reports.sqlite").string() : storeUri) {
    std::vector<std::string> arguments = {KORVANE_COLLECTOR_BINARY, "--listen", "127.0.0.1", "--port",
                                          std::to_string(port), "--store", storeUri_};
    arguments.insert(arguments.end(), options.begin(), options.end());
    Pipe output = MakePipe();
    Fd errors(::open(ErrorsPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    pid_ = Spawn(arguments, Fd(), std::move(output.write), std::move(errors));
    output_ = std::move(output.read);
    try {
        port_ = ReadPort(output_.get());
    } catch (...) {
        WaitFor(pid_);
        throw;
    }
}

CollectorProcess::~CollectorProcess() {
    Stop();
}

int CollectorProcess::Stop() {
    if (pid_ < 0) return 0;
    ::kill(pid_, SIGTERM);
    int status = WaitFor(pid_);
    pid_ = -1;
    std::fputs(ErrorOutput().c_str(), stderr);  // the program's complaints show in the test log
    return status;
}

std::string CollectorProcess::ErrorsPath() const {
    return (folder_.path() / "stderr.txt").string();
}

std::string CollectorProcess::ErrorOutput() const {
    std::string text;
    if (FILE* file = std::fopen(ErrorsPath().c_str(), "rb")) {
        char chunk[4096];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
        std::fclose(file);
    }
    return text;
}

int RunProgram(const std::vector<std::string>& command, const std::string& input) {
    Pipe stdinPipe = MakePipe();
    pid_t pid = Spawn(command, std::move(stdinPipe.read), Fd());
    if (::write(stdinPipe.write.get(), input.data(), input.size()) != static_cast<ssize_t>(input.size())) return -1;
    stdinPipe.write = Fd();
    return WaitFor(pid);
}

int RunCollector(std::vector<std::string> arguments, const std::string& input) {
    arguments.insert(arguments.begin(), KORVANE_COLLECTOR_BINARY);
    return RunProgram(arguments, input);
}

StoreWriteLock::StoreWriteLock(const CollectorProcess& collector) {
    const std::string prefix = "sqlite:";
    const std::string& uri = collector.storeUri();
    if (uri.compare(0, prefix.size(), prefix) != 0) return;
    held_ = sqlite3_open(uri.substr(prefix.size()).c_str(), &connection_) == SQLITE_OK &&
            sqlite3_exec(connection_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
}

void StoreWriteLock::Release() {
    if (held_) sqlite3_exec(connection_, "ROLLBACK", nullptr, nullptr, nullptr);
    held_ = false;
    if (connection_) sqlite3_close(connection_);
    connection_ = nullptr;
}

}  // namespace collector::testing
