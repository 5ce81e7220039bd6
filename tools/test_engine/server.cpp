#include "test_engine/server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <system_error>

namespace hvtest {

namespace {

constexpr unsigned char kTlsHandshakeRecord = 0x16;
constexpr size_t kSmallBody = 16 * 1024;

[[noreturn]] void throwErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

bool asksToClose(const Answer& answer) {
  for (const auto& [name, value] : answer.headers) {
    if (equalsIgnoreCase(name, "Connection") && equalsIgnoreCase(value, "close")) return true;
  }
  return false;
}

Answer plainError(int status) {
  Answer a;
  a.status = status;
  a.contentType = "text/plain; charset=UTF-8";
  a.body = std::string(reasonPhrase(status)) + "\n";
  return a;
}

}  // namespace

Server::Server(ServerOptions options, SSL_CTX* tls, Handler handler)
    : options_(options), handler_(std::move(handler)) {
  if (tls != nullptr && SSL_CTX_up_ref(tls) == 1) tls_.reset(tls);

  listener_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listener_) throwErrno("socket");
  int one = 1;
  ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(options_.port);
  if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    throwErrno("bind 127.0.0.1");
  }
  if (::listen(listener_.get(), 128) != 0) throwErrno("listen");
  socklen_t len = sizeof addr;
  if (::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throwErrno("getsockname");
  }
  port_ = ntohs(addr.sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

Server::~Server() { stop(); }

void Server::stop() {
  std::lock_guard<std::mutex> lock(stopMutex_);
  if (stopped_) return;
  stopped_ = true;
  stop_.raise();
  if (acceptThread_.joinable()) acceptThread_.join();
  for (auto& c : connections_) {
    if (c->thread.joinable()) c->thread.join();
  }
  connections_.clear();
  listener_.reset();
}

void Server::reapFinished() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if ((*it)->finished.load()) {
      (*it)->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void Server::acceptLoop() {
  // A client that vanishes mid-write must give EPIPE, not kill the process. Blocking the signal
  // here keeps the process-wide disposition alone; connection threads inherit the mask.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

  for (;;) {
    Wait w = stop_.waitFor(listener_.get(), POLLIN, after(std::chrono::seconds(1)));
    if (w == Wait::Stopped) return;
    reapFinished();
    if (w != Wait::Ready) continue;
    UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd) continue;  // EAGAIN, or a client that gave up already
    if (connections_.size() >= options_.maxConnections) continue;  // closes it
    auto conn = std::make_unique<Connection>();
    Connection* raw = conn.get();
    uint64_t id = nextConnectionId_++;
    try {
      conn->thread = std::thread([this, raw, id, sock = std::move(fd)]() mutable {
        try {
          serve(std::move(sock), id);
        } catch (...) {
          // The connection is lost either way; the server keeps running.
        }
        raw->finished.store(true);
      });
    } catch (const std::system_error&) {
      continue;  // no thread available: the client sees its connection closed
    }
    connections_.push_back(std::move(conn));
  }
}

void Server::serve(UniqueFd fd, uint64_t id) {
  int one = 1;
  ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  // The first byte tells the protocol: a TLS handshake record, or the start of a request line.
  Deadline deadline = after(options_.timeouts.idle);
  if (stop_.waitFor(fd.get(), POLLIN, deadline) != Wait::Ready) return;
  unsigned char first = 0;
  if (::recv(fd.get(), &first, 1, MSG_PEEK) != 1) return;

  std::unique_ptr<Stream> stream;
  if (first == kTlsHandshakeRecord) {
    if (!tls_) return;
    stream = TlsStream::accept(std::move(fd), tls_.get(), stop_, after(options_.timeouts.io));
    if (!stream) return;
  } else {
    stream = std::make_unique<PlainStream>(std::move(fd), stop_);
  }

  RequestReader reader(*stream, options_.limits, options_.timeouts);
  for (;;) {
    Request request;
    RequestReader::Result r = reader.next(request);
    if (r == RequestReader::Result::Closed) break;
    if (r == RequestReader::Result::Rejected) {
      Answer error = plainError(reader.rejectStatus());
      std::string out = responseHead(error, error.body.size(), false) + error.body;
      if (stream->write(out, after(options_.timeouts.io)) == IoStatus::Ok) {
        stream->lingerClose(after(options_.linger));
      }
      return;
    }
    request.tls = stream->isTls();
    request.connection = id;
    Answer answer;
    try {
      answer = handler_(request);
    } catch (const std::exception& e) {
      answer = Answer::engineFault(500, "Operation Failed", e.what());
    }
    if (!deliver(*stream, request, answer)) break;
  }
  stream->closeNotify();
}

bool Server::deliver(Stream& stream, const Request& request, const Answer& answer) {
  const int fd = stream.fd();
  switch (answer.fault) {
    case Answer::Fault::None:
      break;
    case Answer::Fault::Drop:
      return false;
    case Answer::Fault::Stall:
      stop_.sleepUntil(after(answer.stallTime), fd);
      return false;
    case Answer::Fault::Delay:
      if (stop_.sleepUntil(after(answer.delayTime), fd) != Wait::Timeout) return false;
      break;
    case Answer::Fault::Partial: {
      size_t declared = answer.body.empty() ? 1024 : answer.body.size();
      std::string out = responseHead(answer, declared, false);
      out.append(answer.body, 0, answer.body.size() / 2);
      stream.write(out, after(options_.timeouts.io));
      return false;
    }
  }

  bool keepAlive = wantsKeepAlive(request) && !asksToClose(answer) && !stop_.raised();
  bool withBody = request.method != "HEAD" && statusAllowsBody(answer.status);
  std::string out = responseHead(answer, answer.body.size(), keepAlive);
  if (withBody && answer.body.size() <= kSmallBody) out += answer.body;
  if (stream.write(out, after(options_.timeouts.io)) != IoStatus::Ok) return false;
  if (withBody && answer.body.size() > kSmallBody &&
      stream.write(answer.body, after(options_.timeouts.io)) != IoStatus::Ok) {
    return false;
  }
  return keepAlive;
}

}  // namespace hvtest
