// The collector's HTTP front: Boost.Beast over Asio, with the limits that keep
// slow or hostile clients from holding the service (header size, header and
// body deadlines, body size, connection caps). The ingest path goes to the
// ingest handler; every other request to the web handler, on threads of its
// own so that a slow page never stalls the network threads.
#pragma once
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace collector {

using Request = boost::beast::http::request<boost::beast::http::string_body>;
using Response = boost::beast::http::response<boost::beast::http::string_body>;

inline constexpr std::string_view kIngestPath = "/zar/registrator.php";

struct HttpLimits {
    std::size_t headerBytes = 16 * 1024;
    std::size_t bodyBytes = 1024 * 1024;
    std::chrono::seconds headerTime{10};   // from the first byte of a request (or the end of the last) to its blank line
    std::chrono::seconds bodyTime{60};     // the whole body: 1 MiB at 17 KiB/s
    std::chrono::seconds writeTime{20};    // the whole answer
    std::size_t connections = 1024;
    std::size_t connectionsPerClient = 32;
    int webThreads = 2;
};

// The answer to one request; may be called from any thread, once.
using Reply = std::function<void(Response)>;
// The body of a POST to the ingest path, and the client's address.
using IngestHandler = std::function<void(std::string body, const std::string& client, Reply reply)>;
using WebHandler = std::function<Response(const Request& request, const std::string& client)>;
// A POST to the ingest path refused for its size before its body was read:
// the client's address and the length its header announced (0: none).
using IngestTooLargeHandler = std::function<void(const std::string& client, std::size_t announcedBytes)>;

// A one-line text answer, closing the connection when the status is an error
// of the client's framing.
Response TextResponse(boost::beast::http::status status, std::string_view text, unsigned version = 11);

// The headers that every answer carries, the server's own errors included;
// the handlers' own values (a page's wider policy) are kept.
void AddSecurityHeaders(Response& response);

class HttpServer {
public:
    // Listens at once (port 0: any free port); serves while `io` runs.
    // With a trusted proxy address, a request from it names its client in the
    // last entry of X-Forwarded-For.
    HttpServer(boost::asio::io_context& io, const boost::asio::ip::tcp::endpoint& where, HttpLimits limits,
               IngestHandler ingest, WebHandler web, std::string trustedProxy = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    unsigned short Port() const;
    // Set before the io_context runs.
    void OnIngestTooLarge(IngestTooLargeHandler handler);
    // Stops accepting; open connections end with their current request.
    void StopAccepting();

    struct Shared;  // what every connection refers to

private:
    void Accept();
    void RetryAcceptSoon();

    boost::asio::io_context& io_;
    std::shared_ptr<Shared> shared_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer retry_;
};

}  // namespace collector
