// One Session per connection, on its own strand: read the header (one
// deadline for all of it), then the body (another), answer, and either read
// the next request or close. Every error of the client's framing gets its
// status (400, 413, 431) and the connection is closed after it; a client too
// slow for a deadline is cut without an answer.
#include "collector/server/http_server.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>

#include <charconv>
#include <cstdio>
#include <optional>

namespace collector {

namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

struct HttpServer::Shared {
    HttpLimits limits;
    IngestHandler ingest;
    WebHandler web;
    IngestTooLargeHandler ingestTooLarge;
    std::string trustedProxy;
    net::thread_pool webThreads;
    std::mutex mutex;  // guards the counts
    std::size_t open = 0;
    std::map<std::string, std::size_t> openPerClient;

    Shared(HttpLimits l, IngestHandler i, WebHandler w, std::string proxy)
        : limits(l), ingest(std::move(i)), web(std::move(w)), trustedProxy(std::move(proxy)),
          webThreads(static_cast<std::size_t>(std::max(1, l.webThreads))) {}
};

namespace {

// One connection's place under the caps, for as long as it lives.
class ConnectionSlot {
public:
    ConnectionSlot(std::shared_ptr<HttpServer::Shared> shared, std::string peer)
        : shared_(std::move(shared)), peer_(std::move(peer)) {
        std::lock_guard lock(shared_->mutex);
        std::size_t& mine = shared_->openPerClient[peer_];
        // A trusted proxy brings many clients over its connections.
        const bool proxy = !shared_->trustedProxy.empty() && peer_ == shared_->trustedProxy;
        taken_ = shared_->open < shared_->limits.connections && (proxy || mine < shared_->limits.connectionsPerClient);
        if (taken_) {
            ++shared_->open;
            ++mine;
        } else if (mine == 0) {
            shared_->openPerClient.erase(peer_);
        }
    }
    ~ConnectionSlot() {
        if (!taken_) return;
        std::lock_guard lock(shared_->mutex);
        --shared_->open;
        if (--shared_->openPerClient[peer_] == 0) shared_->openPerClient.erase(peer_);
    }
    ConnectionSlot(const ConnectionSlot&) = delete;
    ConnectionSlot& operator=(const ConnectionSlot&) = delete;
    bool taken() const { return taken_; }

private:
    std::shared_ptr<HttpServer::Shared> shared_;
    std::string peer_;
    bool taken_ = false;
};

std::string PeerAddress(const tcp::socket& socket) {
    boost::system::error_code ec;
    tcp::endpoint peer = socket.remote_endpoint(ec);
    return ec ? std::string() : peer.address().to_string();
}

// The last hop that the trusted proxy saw.
std::string ForwardedClient(const Request& request) {
    auto header = request.find("X-Forwarded-For");
    if (header == request.end()) return {};
    std::string_view list(header->value().data(), header->value().size());
    std::string_view last = list.substr(list.rfind(',') == std::string_view::npos ? 0 : list.rfind(',') + 1);
    while (!last.empty() && last.front() == ' ') last.remove_prefix(1);
    while (!last.empty() && last.back() == ' ') last.remove_suffix(1);
    return std::string(last);
}

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, std::shared_ptr<HttpServer::Shared> shared)
        : peer_(PeerAddress(socket)), stream_(std::move(socket)), shared_(shared), slot_(shared, peer_) {}

    void Start() {
        if (!slot_.taken()) {
            Response busy = TextResponse(http::status::service_unavailable, "too many connections");
            busy.set(http::field::retry_after, "5");
            return Send(std::move(busy), true);
        }
        ReadHeader();
    }

private:
    const HttpLimits& Limits() const { return shared_->limits; }

    std::string ClientOf(const Request& request) const {
        if (!shared_->trustedProxy.empty() && peer_ == shared_->trustedProxy) {
            std::string forwarded = ForwardedClient(request);
            if (!forwarded.empty()) return forwarded;
        }
        return peer_;
    }

    static bool IsIngest(const Request& request) {
        return std::string_view(request.target().data(), request.target().size()) == kIngestPath;
    }

    void ReadHeader() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(Limits().headerBytes));
        parser_->body_limit(Limits().bodyBytes);
        stream_.expires_after(Limits().headerTime);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnHeader(ec); });
    }

    void OnHeader(beast::error_code ec) {
        if (ec) return Fail(ec);
        const auto& header = parser_->get();
        version_ = header.version();
        stream_.expires_after(Limits().bodyTime);
        if (beast::iequals(header[http::field::expect], "100-continue")) {
            auto proceed = std::make_shared<http::response<http::empty_body>>(http::status::continue_, version_);
            http::async_write(stream_, *proceed, [self = shared_from_this(), proceed](beast::error_code ec, std::size_t) {
                if (ec) return self->Fail(ec);
                self->ReadBody();
            });
            return;
        }
        ReadBody();
    }

    void ReadBody() {
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRequest(ec); });
    }

    void OnRequest(beast::error_code ec) {
        if (ec) return Fail(ec);
        stream_.expires_never();
        Request request = parser_->release();
        keepAlive_ = request.keep_alive();
        const std::string client = ClientOf(request);
        if (IsIngest(request)) {
            if (request.method() != http::verb::post) {
                Response wrong = TextResponse(http::status::method_not_allowed, "the report goes by POST", version_);
                wrong.set(http::field::allow, "POST");
                return Send(std::move(wrong), false);
            }
            return shared_->ingest(std::move(request.body()), client, MakeReply());
        }
        net::post(shared_->webThreads, [self = shared_from_this(), request = std::move(request), client]() {
            self->MakeReply()(self->WebResponse(request, client));
        });
    }

    // A page whose query fails (the store gone, say) is an error page, not
    // the end of the service.
    Response WebResponse(const Request& request, const std::string& client) {
        try {
            return shared_->web(request, client);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "korvane-collector: %s failed: %s\n", std::string(request.target()).c_str(), error.what());
            return TextResponse(http::status::internal_server_error, "the page could not be made");
        }
    }

    Reply MakeReply() {
        return [self = shared_from_this()](Response response) {
            net::post(self->stream_.get_executor(),
                      [self, response = std::move(response)]() mutable { self->Send(std::move(response), false); });
        };
    }

    void Send(Response response, bool close) {
        response_ = std::move(response);
        response_.version(version_);
        response_.keep_alive(keepAlive_ && !close);
        response_.prepare_payload();
        AddSecurityHeaders(response_);
        stream_.expires_after(Limits().writeTime);
        http::async_write(stream_, response_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) return;
            if (self->response_.keep_alive()) return self->ReadHeader();
            self->Linger();
        });
    }

    // After an answer that ends the connection, read what the client still
    // sends for a moment, so that closing does not reset the connection and
    // take the answer with it.
    void Linger() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(std::chrono::seconds(2));
        Drain();
    }

    void Drain() {
        stream_.async_read_some(net::buffer(discard_), [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (!ec) self->Drain();
        });
    }

    void Fail(beast::error_code ec) {
        if (ec == http::error::header_limit)
            return Send(TextResponse(http::status::request_header_fields_too_large, "header over its limit"), true);
        if (ec == http::error::body_limit) {
            NoteIngestTooLarge();
            return Send(TextResponse(http::status::payload_too_large, "body over 1 MiB"), true);
        }
        if (ec.category() == http::make_error_code(http::error::end_of_stream).category() &&
            ec != http::error::end_of_stream &&
            ec != http::error::partial_message)
            return Send(TextResponse(http::status::bad_request, "malformed HTTP request"), true);
        // Timeouts, resets, a client gone: nothing to answer.
    }

    // A report refused for its size leaves its trace like any other.
    void NoteIngestTooLarge() {
        const Request& header = parser_->get();
        if (!shared_->ingestTooLarge || !IsIngest(header)) return;
        const auto length = header.find(http::field::content_length);
        std::size_t announced = 0;
        if (length != header.end()) {
            std::string_view text(length->value().data(), length->value().size());
            std::from_chars(text.data(), text.data() + text.size(), announced);
        }
        shared_->ingestTooLarge(ClientOf(header), announced);
    }

    std::string peer_;
    beast::tcp_stream stream_;
    std::shared_ptr<HttpServer::Shared> shared_;
    ConnectionSlot slot_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    Response response_;
    unsigned version_ = 11;
    bool keepAlive_ = false;
    std::array<char, 4096> discard_{};
};

}  // namespace

Response TextResponse(http::status status, std::string_view text, unsigned version) {
    Response response(status, version);
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    response.set(http::field::cache_control, "no-store");
    response.body() = std::string(text) + "\n";
    return response;
}

void AddSecurityHeaders(Response& response) {
    auto keepOrSet = [&](std::string_view name, std::string_view value) {
        const boost::beast::string_view key(name.data(), name.size());
        if (response.find(key) == response.end()) response.set(key, boost::beast::string_view(value.data(), value.size()));
    };
    keepOrSet("Content-Security-Policy", "default-src 'none'; frame-ancestors 'none'; base-uri 'none'");
    keepOrSet("X-Content-Type-Options", "nosniff");
    keepOrSet("X-Frame-Options", "DENY");
    keepOrSet("Referrer-Policy", "no-referrer");
    keepOrSet("Cross-Origin-Opener-Policy", "same-origin");
    keepOrSet("Cache-Control", "no-store");
}

void HttpServer::OnIngestTooLarge(IngestTooLargeHandler handler) {
    shared_->ingestTooLarge = std::move(handler);
}

HttpServer::HttpServer(net::io_context& io, const tcp::endpoint& where, HttpLimits limits, IngestHandler ingest,
                       WebHandler web, std::string trustedProxy)
    : io_(io), shared_(std::make_shared<Shared>(limits, std::move(ingest), std::move(web), std::move(trustedProxy))),
      acceptor_(net::make_strand(io)), retry_(acceptor_.get_executor()) {
    acceptor_.open(where.protocol());
    acceptor_.set_option(net::socket_base::reuse_address(true));
    acceptor_.bind(where);
    acceptor_.listen(net::socket_base::max_listen_connections);
    Accept();
}

HttpServer::~HttpServer() {
    shared_->webThreads.join();
}

unsigned short HttpServer::Port() const {
    return acceptor_.local_endpoint().port();
}

void HttpServer::StopAccepting() {
    net::post(acceptor_.get_executor(), [this] {
        beast::error_code ignored;
        acceptor_.close(ignored);
    });
}

void HttpServer::Accept() {
    acceptor_.async_accept(net::make_strand(io_),
                           [this](beast::error_code ec, tcp::socket socket) {
                               if (ec == net::error::operation_aborted || !acceptor_.is_open()) return;
                               if (!ec) std::make_shared<Session>(std::move(socket), shared_)->Start();
                               // Out of descriptors: the waiting clients stay queued in the backlog.
                               if (ec) return RetryAcceptSoon();
                               Accept();
                           });
}

void HttpServer::RetryAcceptSoon() {
    retry_.expires_after(std::chrono::milliseconds(100));
    retry_.async_wait([this](beast::error_code ec) {
        if (!ec && acceptor_.is_open()) Accept();
    });
}

}  // namespace collector

