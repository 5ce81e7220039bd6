#include "test_engine/session.h"

#include <algorithm>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <cstdint>
#include <exception>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>

#include "test_engine/bounded_stream.h"

namespace hvtest {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using PlainStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<BoundedStream>;
using Response = http::response<http::string_body>;

// Keeps the server's count of open connections while a connection is served, and tells the
// server when a place comes free.
class OpenSlot {
 public:
  explicit OpenSlot(SessionContext& context) : context_(&context) { ++context_->open; }
  ~OpenSlot() {
    if (context_ == nullptr) return;
    --context_->open;
    if (context_->released) context_->released();
  }
  OpenSlot(OpenSlot&& other) noexcept : context_(std::exchange(other.context_, nullptr)) {}
  OpenSlot(const OpenSlot&) = delete;
  OpenSlot& operator=(const OpenSlot&) = delete;
  OpenSlot& operator=(OpenSlot&&) = delete;

 private:
  SessionContext* context_;
};

bool asksToClose(const Answer& answer) {
  for (const auto& [name, value] : answer.headers) {
    if (equalsIgnoreCase(name, "Connection") && equalsIgnoreCase(value, "close")) return true;
  }
  return false;
}

// Bodies from this size on go out over TLS in one synchronous write, record after record straight
// to the socket: written asynchronously, every 16 KiB record is a hand-off between the server's
// threads and a restart of the stream's timer, which makes a large list arrive at half the speed
// the transport allows.
constexpr size_t kDirectWriteBytes = 256 * 1024;

bool statusAllowsBody(int status) { return status >= 200 && status != 204 && status != 304; }

// The answer on the wire. `declared` overrides the Content-Length (a partial answer).
Response toResponse(Answer answer, bool headRequest, bool keepAlive,
                    std::optional<size_t> declared = std::nullopt) {
  Response r;
  r.result(static_cast<unsigned>(answer.status));
  r.reason(answer.reason.empty() ? reasonPhrase(answer.status) : answer.reason);
  bool typeGiven = false;
  for (const auto& [name, value] : answer.headers) {
    // Framing belongs to the engine: it always sends its own Content-Length.
    if (equalsIgnoreCase(name, "Content-Length") || equalsIgnoreCase(name, "Connection") ||
        equalsIgnoreCase(name, "Transfer-Encoding")) {
      continue;
    }
    typeGiven = typeGiven || equalsIgnoreCase(name, "Content-Type");
    r.insert(name, value);
  }
  if (statusAllowsBody(answer.status)) {
    if (!typeGiven && !answer.contentType.empty() && !answer.body.empty()) {
      r.set(http::field::content_type, answer.contentType);
    }
    r.set(http::field::content_length, std::to_string(declared.value_or(answer.body.size())));
    if (!headRequest) r.body() = std::move(answer.body);
  }
  r.set(http::field::connection, keepAlive ? "keep-alive" : "close");
  return r;
}

Request toRequest(http::request<http::string_body>&& message) {
  Request r;
  r.method = std::string(message.method_string());
  r.target = std::string(message.target());
  const size_t q = r.target.find('?');
  r.path = r.target.substr(0, q);
  r.query = q == std::string::npos ? "" : r.target.substr(q + 1);
  r.version = message.version() == 10 ? "HTTP/1.0" : "HTTP/1.1";
  for (const auto& field : message) {
    r.headers.add(std::string(field.name_string()), std::string(field.value()));
  }
  r.body = std::move(message.body());
  return r;
}

bool isProtocolError(const beast::error_code& ec) {
  // The peer closing between or inside requests is an ending, not a malformed request.
  return ec.category() == beast::error_code(http::error::bad_target).category() &&
         ec != http::error::end_of_stream && ec != http::error::partial_message;
}

// The request loop of one connection over a plain or a TLS stream.
template <class Stream>
class Session : public std::enable_shared_from_this<Session<Stream>> {
  static constexpr bool kTls = std::is_same_v<Stream, TlsStream>;

 public:
  template <class... StreamArgs>
  Session(SessionContext& context, uint64_t id, OpenSlot slot, beast::flat_buffer buffer,
          StreamArgs&&... streamArgs)
      : context_(context),
        options_(context.options),
        id_(id),
        slot_(std::move(slot)),
        buffer_(std::move(buffer)),
        stream_(std::forward<StreamArgs>(streamArgs)...),
        timer_(stream_.get_executor()) {}

  void start() {
    if constexpr (kTls) {
      socket().expires_after(options_.timeouts.io);
      // The bytes read to tell TLS from plain HTTP are the start of the handshake.
      stream_.async_handshake(net::ssl::stream_base::server, buffer_.data(),
                              [self = this->shared_from_this()](beast::error_code ec, size_t used) {
                                if (ec) return;
                                self->buffer_.consume(used);
                                self->readHead();
                              });
    } else {
      readHead();
    }
  }

 private:
  beast::tcp_stream& socket() { return beast::get_lowest_layer(stream_); }

  void readHead() {
    parser_.emplace();
    parser_->header_limit(
        static_cast<std::uint32_t>(std::min<size_t>(options_.limits.maxHeaderBytes, UINT32_MAX)));
    parser_->body_limit(options_.limits.maxBodyBytes);
    const bool idle = buffer_.size() == 0;
    socket().expires_after(idle ? options_.timeouts.idle : options_.timeouts.io);
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = this->shared_from_this()](beast::error_code ec, size_t) {
                              if (ec) return self->failed(ec);
                              self->socket().expires_after(self->options_.timeouts.io);
                              http::async_read(self->stream_, self->buffer_, *self->parser_,
                                               [self](beast::error_code ec2, size_t) {
                                                 if (ec2) return self->failed(ec2);
                                                 self->onRequest();
                                               });
                            });
  }

  void failed(const beast::error_code& ec) {
    if (isProtocolError(ec)) reject(ec == http::error::body_limit ? 413 : 400);
    // Otherwise the peer closed, a time-out ran out or the server stops: the session just ends.
  }

  void reject(int status) {
    Answer error;
    error.status = status;
    error.contentType = "text/plain; charset=UTF-8";
    error.body = std::string(reasonPhrase(status)) + "\n";
    keepAlive_ = false;
    write(toResponse(std::move(error), false, false));
  }

  void onRequest() {
    http::request<http::string_body> message = parser_->release();
    if (message.version() != 10 && message.version() != 11) return reject(505);
    const bool wantsKeepAlive = message.keep_alive();
    const bool headRequest = message.method() == http::verb::head;
    Request request = toRequest(std::move(message));
    request.tls = kTls;
    request.connection = id_;
    Answer answer = decide(request);
    if (answer.sharedBody && answer.fault != Answer::Fault::None) {
      // The faults play with the body's bytes: they get a copy of their own.
      answer.body = *answer.sharedBody;
      answer.sharedBody.reset();
    }
    const bool answered =
        answer.fault == Answer::Fault::None || answer.fault == Answer::Fault::Delay;
    keepAlive_ = answered && wantsKeepAlive && !asksToClose(answer);
    // Decided now, while the client waits for this answer: a write completing later may finish
    // after the client has already sent its next request.
    idleClose_ = keepAlive_ && context_.closeNextIdle.exchange(false);

    switch (answer.fault) {
      case Answer::Fault::None:
        if (answer.sharedBody) return writeShared(std::move(answer), headRequest);
        return write(toResponse(std::move(answer), headRequest, keepAlive_));
      case Answer::Fault::Drop:
        return finish();
      case Answer::Fault::Stall:
        return after(answer.stallTime, [](Session& self) { self.finish(); });
      case Answer::Fault::Delay: {
        auto delayed =
            std::make_shared<Response>(toResponse(std::move(answer), headRequest, keepAlive_));
        return after(answer.delayTime,
                     [delayed](Session& self) { self.write(std::move(*delayed)); });
      }
      case Answer::Fault::Partial: {
        // The head promises the whole body; half of it comes, then the connection ends.
        const size_t declared = answer.declaredLength != 0 ? answer.declaredLength
                                : answer.body.empty()      ? 1024
                                                           : answer.body.size();
        answer.body.resize(answer.body.size() / 2);
        return write(toResponse(std::move(answer), false, false, declared));
      }
      case Answer::Fault::Trickle: {
        keepAlive_ = false;
        const size_t piece = std::max<size_t>(answer.trickleBytes, 1);
        const auto interval = answer.trickleInterval;
        std::ostringstream wire;
        wire << toResponse(std::move(answer), headRequest, false);
        auto bytes = std::make_shared<const std::string>(wire.str());
        // The head at once, then the body piece by piece.
        return trickle(bytes, 0, bytes->find("\r\n\r\n") + 4, piece, interval);
      }
    }
  }

  void trickle(std::shared_ptr<const std::string> bytes, size_t sent, size_t next, size_t piece,
               std::chrono::milliseconds interval) {
    socket().expires_after(options_.timeouts.io);
    net::async_write(stream_, net::buffer(bytes->data() + sent, next - sent),
                     [self = this->shared_from_this(), bytes, next, piece, interval](
                         beast::error_code ec, size_t) {
                       if (ec) return;  // the client hung up
                       if (next == bytes->size()) return self->finish();
                       self->after(interval, [bytes, next, piece, interval](Session& session) {
                         session.trickle(bytes, next, std::min(bytes->size(), next + piece), piece,
                                         interval);
                       });
                     });
  }

  Answer decide(Request& request) {
    try {
      return context_.handler(request);
    } catch (const std::exception& e) {
      return Answer::engineFault(500, "Operation Failed", e.what());
    }
  }

  template <class Then>
  void after(std::chrono::milliseconds wait, Then then) {
    timer_.expires_after(wait);
    timer_.async_wait([self = this->shared_from_this(), then](beast::error_code ec) {
      if (!ec) then(*self);
    });
  }

  void write(Response response) {
    response_ = std::move(response);
    socket().expires_after(options_.timeouts.io);
    if (writesDirectly(response_.body().size())) {
      beast::error_code ec;
      http::write(stream_, response_, ec);
      return written(ec);
    }
    http::async_write(
        stream_, response_,
        [self = this->shared_from_this()](beast::error_code ec, size_t) { self->written(ec); });
  }

  // An answer with a shared body: its head, then the body's bytes where they are.
  void writeShared(Answer answer, bool headRequest) {
    std::shared_ptr<const std::string> body = std::move(answer.sharedBody);
    const std::string type = answer.contentType;
    Response head = toResponse(std::move(answer), headRequest, keepAlive_, body->size());
    const bool withBody = statusAllowsBody(static_cast<int>(head.result_int())) && !body->empty();
    if (withBody && !type.empty() && head.find(http::field::content_type) == head.end()) {
      head.set(http::field::content_type, type);
    }
    std::ostringstream wire;
    wire << head.base();
    head_ = wire.str();
    if (withBody && !headRequest) body_ = std::move(body);
    socket().expires_after(options_.timeouts.io);
    if (writesDirectly(body_ ? body_->size() : 0)) {
      beast::error_code ec;
      net::write(stream_, net::buffer(head_), ec);
      if (!ec && body_) net::write(stream_, net::buffer(*body_), ec);
      return written(ec);
    }
    // One buffer: Beast's TLS stream writes nothing of a sequence whose first buffer is used up,
    // so a head and body pair would end after the head.
    if (body_) head_ += *body_;
    body_.reset();
    net::async_write(
        stream_, net::buffer(head_),
        [self = this->shared_from_this()](beast::error_code ec, size_t) { self->written(ec); });
  }

  // Whether a body this large goes out in one synchronous write (see kDirectWriteBytes). Such a
  // write gets the time-out an asynchronous one has: the whole answer within one I/O limit.
  bool writesDirectly(size_t bodyBytes) {
    if constexpr (kTls) {
      if (bodyBytes < kDirectWriteBytes) return false;
      stream_.next_layer().bound(options_.timeouts.io, &context_.stopping);
      return true;
    } else {
      return false;
    }
  }

  void written(const beast::error_code& ec) {
    if (ec) return;
    if (!keepAlive_ || idleClose_) return finish();
    response_ = {};
    head_.clear();
    body_.reset();
    readHead();
  }

  // Ends the connection in order: TLS sends its close alert and waits a moment for the
  // client's; plain TCP closes our side and discards what the client still sends for a moment.
  void finish() {
    socket().expires_after(options_.linger);
    if constexpr (kTls) {
      stream_.async_shutdown([self = this->shared_from_this()](beast::error_code) {});
    } else {
      beast::error_code ignored;
      socket().socket().shutdown(tcp::socket::shutdown_send, ignored);
      discard();
    }
  }

  void discard() {
    socket().async_read_some(buffer_.prepare(16 * 1024),
                             [self = this->shared_from_this()](beast::error_code ec, size_t) {
                               if (!ec) self->discard();
                             });
  }

  SessionContext& context_;
  const ServerOptions& options_;
  const uint64_t id_;
  OpenSlot slot_;
  beast::flat_buffer buffer_;
  Stream stream_;
  net::steady_timer timer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  Response response_;  // kept while it is written
  std::string head_;   // of an answer with a shared body, kept while it is written
  std::shared_ptr<const std::string> body_;
  bool keepAlive_ = false;
  bool idleClose_ = false;  // close once this answer is out, though it said keep-alive
};

// Reads the first bytes of a connection to tell a TLS handshake from an HTTP request.
class Detector : public std::enable_shared_from_this<Detector> {
 public:
  Detector(tcp::socket socket, uint64_t id, SessionContext& context)
      : context_(context), id_(id), slot_(context), stream_(std::move(socket)) {}

  void start() {
    stream_.expires_after(context_.options.timeouts.idle);
    beast::async_detect_ssl(stream_, buffer_,
                            [self = shared_from_this()](beast::error_code ec, bool tls) {
                              if (!ec) self->handOver(tls);
                            });
  }

 private:
  void handOver(bool tls) {
    if (!tls) {
      std::make_shared<Session<PlainStream>>(context_, id_, std::move(slot_), std::move(buffer_),
                                             std::move(stream_))
          ->start();
    } else if (context_.tls) {
      std::make_shared<Session<TlsStream>>(context_, id_, std::move(slot_), std::move(buffer_),
                                           std::move(stream_), *context_.tls)
          ->start();
    }
  }

  SessionContext& context_;
  const uint64_t id_;
  OpenSlot slot_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
};

}  // namespace

void serveConnection(tcp::socket socket, uint64_t id, SessionContext& context) {
  std::make_shared<Detector>(std::move(socket), id, context)->start();
}

}  // namespace hvtest
