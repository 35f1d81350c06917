// A plain HTTP client over a blocking loopback socket, for tests that must
// send what no well-behaved client sends: cut bodies, endless headers, one
// byte a second. Every read is bounded in time.
#pragma once
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <map>
#include <string>
#include <string_view>

namespace collector::testing {

struct HttpAnswer {
    int status = 0;  // 0: the connection ended without an answer
    std::string body;
    std::string retryAfter;
    std::string location;
    std::string setCookie;
    std::map<std::string, std::string> headers;  // every header field, by its name as sent
};

class RawConnection {
public:
    // From `source` (any 127.x.y.z address, so that tests can stand for many
    // clients) to the port on 127.0.0.1.
    explicit RawConnection(unsigned short port, const std::string& source = "127.0.0.1");
    // False once the server has closed or reset the connection.
    bool Send(std::string_view bytes);
    void EndSending();
    HttpAnswer Read(std::chrono::seconds limit = std::chrono::seconds(120));
    // True when the server closes the connection (after any answer) within the limit.
    bool ClosedWithin(std::chrono::seconds limit);

private:
    enum class Received { Data, Closed, TimedOut };
    Received Receive(std::chrono::steady_clock::time_point deadline);

    boost::asio::io_context io_;
    boost::asio::ip::tcp::socket socket_;
    std::string pending_;  // read beyond the last answer
};

// The request bytes of a POST of `body` to `target`.
std::string PostRequest(std::string_view target, std::string_view body, std::string_view extraHeaders = {});
std::string GetRequest(std::string_view target, std::string_view extraHeaders = {});

// One request on a connection of its own.
HttpAnswer Exchange(unsigned short port, const std::string& request, const std::string& source = "127.0.0.1");
HttpAnswer PostReport(unsigned short port, std::string_view body, const std::string& source = "127.0.0.1");

}  // namespace collector::testing
