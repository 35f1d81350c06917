// A loopback HTTP listener for the report upload: takes one request on
// 127.0.0.1 and keeps what arrived, byte for byte.
#pragma once
#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct ReceivedRequest {
    std::string requestLine;               // e.g. "POST /zar/registrator.php HTTP/1.1"
    std::vector<std::string> headerLines;  // as sent, without their line ends
    std::string body;                      // Content-Length bytes
    // The value of a header (name without case), blanks around it removed; nullopt when absent.
    std::optional<std::string> Header(std::string_view name) const;
};

enum class ListenerReply { Ok, Never };

class LoopbackListener {
public:
    // Listens at once, so that a request made right after construction is taken.
    explicit LoopbackListener(unsigned short port, ListenerReply reply = ListenerReply::Ok);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    bool Listening() const { return listening_; }
    // Drops the connection and stops listening (also done by the destruction).
    void Close();
    // The first whole request, once it has arrived; nullopt if none came in time.
    std::optional<ReceivedRequest> WaitForRequest(DWORD timeoutMs);

private:
    void Serve();
    std::optional<ReceivedRequest> ReadRequest(unsigned long long client);
    bool StopRequested();

    ListenerReply reply_;
    bool listening_ = false;
    unsigned long long listenSocket_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    std::optional<ReceivedRequest> request_;
    std::thread thread_;
};
