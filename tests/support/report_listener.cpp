// The loopback listener: Winsock on 127.0.0.1, one request, HTTP/1.1 framing
// by Content-Length, answered with an empty 200 (or never, to test time-outs).
#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/support/report_listener.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <utility>

namespace {

// Another test program may still hold the port for a moment.
constexpr DWORD kBindRetryMs = 10000;
constexpr DWORD kBindRetryStepMs = 100;
// How long the serving thread waits for each piece before it looks at the stop flag again.
constexpr long kPollStepMs = 100;
// A client that has sent its request gets this long to close its side after the answer.
constexpr DWORD kClientCloseWaitMs = 2000;

bool WaitReadable(SOCKET socket, long timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &timeout) == 1;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string Trim(std::string_view text) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    std::size_t last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

// Splits the head (request line and headers, CR LF separated) of a request.
ReceivedRequest ParseHead(std::string_view head) {
    ReceivedRequest request;
    std::size_t start = 0;
    bool first = true;
    while (start < head.size()) {
        std::size_t end = head.find("\r\n", start);
        if (end == std::string_view::npos) end = head.size();
        std::string line(head.substr(start, end - start));
        if (first)
            request.requestLine = line;
        else if (!line.empty())
            request.headerLines.push_back(line);
        first = false;
        start = end + 2;
    }
    return request;
}

}  // namespace

std::optional<std::string> ReceivedRequest::Header(std::string_view name) const {
    std::string wanted = Lower(name);
    for (const std::string& line : headerLines) {
        std::size_t colon = line.find(':');
        if (colon != std::string::npos && Lower(Trim(line.substr(0, colon))) == wanted)
            return Trim(std::string_view(line).substr(colon + 1));
    }
    return std::nullopt;
}

LoopbackListener::LoopbackListener(unsigned short port, ListenerReply reply)
    : reply_(reply), listenSocket_(INVALID_SOCKET) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (DWORD waited = 0; waited <= kBindRetryMs; waited += kBindRetryStepMs) {
        SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (socket != INVALID_SOCKET && bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            listen(socket, 4) == 0) {
            listenSocket_ = socket;
            listening_ = true;
            break;
        }
        if (socket != INVALID_SOCKET) closesocket(socket);
        Sleep(kBindRetryStepMs);
    }
    if (listening_) thread_ = std::thread([this] { Serve(); });
}

LoopbackListener::~LoopbackListener() {
    Close();
    WSACleanup();
}

void LoopbackListener::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (listenSocket_ != INVALID_SOCKET) closesocket(std::exchange(listenSocket_, INVALID_SOCKET));
}

std::optional<ReceivedRequest> LoopbackListener::WaitForRequest(DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return request_.has_value(); });
    return request_;
}

bool LoopbackListener::StopRequested() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stop_;
}

void LoopbackListener::Serve() {
    SOCKET client = INVALID_SOCKET;
    while (client == INVALID_SOCKET) {
        if (StopRequested()) return;
        if (WaitReadable(listenSocket_, kPollStepMs)) client = accept(listenSocket_, nullptr, nullptr);
    }
    std::optional<ReceivedRequest> request = ReadRequest(client);
    if (request) {
        std::lock_guard<std::mutex> lock(mutex_);
        request_ = std::move(request);
    }
    changed_.notify_all();
    if (reply_ == ListenerReply::Ok) {
        static constexpr char kAnswer[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        send(client, kAnswer, static_cast<int>(sizeof(kAnswer) - 1), 0);
        shutdown(client, SD_SEND);
        // Let the client close first, so that the port is free again for the next listener.
        char rest[256];
        for (DWORD waited = 0; waited < kClientCloseWaitMs && !StopRequested(); waited += kPollStepMs) {
            if (WaitReadable(client, kPollStepMs) && recv(client, rest, sizeof(rest), 0) <= 0) break;
        }
    } else {
        while (!StopRequested()) Sleep(kPollStepMs);
    }
    closesocket(client);
}

std::optional<ReceivedRequest> LoopbackListener::ReadRequest(unsigned long long client) {
    std::string received;
    std::size_t headEnd = std::string::npos;
    std::size_t bodyLength = 0;
    char chunk[4096];
    while (!StopRequested()) {
        if (headEnd != std::string::npos && received.size() >= headEnd + 4 + bodyLength) {
            ReceivedRequest request = ParseHead(std::string_view(received).substr(0, headEnd));
            request.body = received.substr(headEnd + 4, bodyLength);
            return request;
        }
        if (!WaitReadable(client, kPollStepMs)) continue;
        int got = recv(client, chunk, sizeof(chunk), 0);
        if (got <= 0) break;
        received.append(chunk, static_cast<std::size_t>(got));
        if (headEnd == std::string::npos && (headEnd = received.find("\r\n\r\n")) != std::string::npos) {
            ReceivedRequest head = ParseHead(std::string_view(received).substr(0, headEnd));
            bodyLength = std::strtoul(head.Header("Content-Length").value_or("0").c_str(), nullptr, 10);
        }
    }
    return std::nullopt;
}
