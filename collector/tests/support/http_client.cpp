// Answers are read with Beast's parser from what the socket gives.
#include "collector/tests/support/http_client.h"

#include <poll.h>
#include <sys/socket.h>

#include <boost/beast/http.hpp>

#include "collector/server/http_server.h"

namespace collector::testing {
namespace {

namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;

// Several headers of one name (Set-Cookie) are joined by "\n".
std::string Header(const http::response<http::string_body>& response, http::field field) {
    std::string values;
    for (auto [it, end] = response.equal_range(field); it != end; ++it)
        values += (values.empty() ? "" : "\n") + std::string(it->value());
    return values;
}

}  // namespace

RawConnection::RawConnection(unsigned short port, const std::string& source) : socket_(io_) {
    socket_.open(tcp::v4());
    socket_.bind(tcp::endpoint(boost::asio::ip::make_address(source), 0));
    socket_.connect(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), port));
}

bool RawConnection::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t sent = ::send(socket_.native_handle(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void RawConnection::EndSending() {
    ::shutdown(socket_.native_handle(), SHUT_WR);
}

RawConnection::Received RawConnection::Receive(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{socket_.native_handle(), POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(std::max<long long>(0, left.count()))) <= 0) return Received::TimedOut;
    char chunk[64 * 1024];
    ssize_t got = ::recv(socket_.native_handle(), chunk, sizeof chunk, 0);
    if (got <= 0) return Received::Closed;  // an orderly close or a reset
    pending_.append(chunk, static_cast<std::size_t>(got));
    return Received::Data;
}

HttpAnswer RawConnection::Read(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    http::response_parser<http::string_body> parser;
    parser.body_limit(64 * 1024 * 1024);
    for (;;) {
        boost::system::error_code ec;
        if (!pending_.empty()) {
            pending_.erase(0, parser.put(boost::asio::buffer(pending_), ec));
            if (ec && ec != http::error::need_more) return {};
        }
        if (parser.is_done()) break;
        if (!pending_.empty() && !ec) continue;
        Received got = Receive(deadline);
        if (got == Received::TimedOut) return {};
        if (got == Received::Closed) {
            if (!parser.got_some()) return {};
            parser.put_eof(ec);
            if (!parser.is_done()) return {};
        }
    }
    const auto& response = parser.get();
    HttpAnswer answer{static_cast<int>(response.result_int()), response.body(),
                      Header(response, http::field::retry_after), Header(response, http::field::location),
                      Header(response, http::field::set_cookie), {}};
    for (const auto& field : response) answer.headers[std::string(field.name_string())] = std::string(field.value());
    return answer;
}

bool RawConnection::ClosedWithin(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        Received got = Receive(deadline);
        if (got != Received::Data) return got == Received::Closed;
        pending_.clear();
    }
}

std::string PostRequest(std::string_view target, std::string_view body, std::string_view extraHeaders) {
    return "POST " + std::string(target) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n" + std::string(extraHeaders) + "\r\n" + std::string(body);
}

std::string GetRequest(std::string_view target, std::string_view extraHeaders) {
    return "GET " + std::string(target) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + std::string(extraHeaders) + "\r\n";
}

HttpAnswer Exchange(unsigned short port, const std::string& request, const std::string& source) {
    RawConnection connection(port, source);
    connection.Send(request);
    return connection.Read();
}

HttpAnswer PostReport(unsigned short port, std::string_view body, const std::string& source) {
    return Exchange(port, PostRequest(kIngestPath, body), source);
}

}  // namespace collector::testing
