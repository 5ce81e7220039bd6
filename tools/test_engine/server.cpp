#include "test_engine/server.h"

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "test_engine/session.h"

namespace hvtest {

namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;

// Threads serving every connection; the handler runs on them, so this many requests can be
// decided at once.
constexpr unsigned kThreads = 4;

void check(const boost::system::error_code& ec, const std::string& what) {
  if (ec) throw std::system_error(ec.value(), std::generic_category(), what);
}

}  // namespace

struct Server::Core {
  void accept();
  void accepted(tcp::socket socket);
  // Accepting stops while every worker place is taken, and goes on when one comes free.
  void pauseIfFull();
  void resume();
  void run();

  SessionContext context;
  std::atomic<size_t> acceptedCount{0};
  std::atomic<bool> paused{false};
  uint64_t nextId = 1;                // accept handler only
  std::optional<net::io_context> io;  // destroyed by stop(), and with it every connection
  std::optional<tcp::acceptor> acceptor;
  std::vector<std::thread> threads;
};

void Server::Core::accept() {
  // Each connection gets a strand of its own: its steps never run at once, other connections'
  // do.
  acceptor->async_accept(net::make_strand(*io),
                         [this](boost::system::error_code ec, tcp::socket socket) {
                           if (ec == net::error::operation_aborted) return;
                           if (!ec) accepted(std::move(socket));
                           pauseIfFull();
                         });
}

void Server::Core::accepted(tcp::socket socket) {
  ++acceptedCount;
  // Answers go out whole; holding back their last segment only delays the client.
  boost::system::error_code ignored;
  socket.set_option(tcp::no_delay(true), ignored);
  serveConnection(std::move(socket), nextId++, context);
}

void Server::Core::pauseIfFull() {
  if (context.open.load() < context.options.maxConnections) {
    accept();
    return;
  }
  paused.store(true);
  // A connection that ended meanwhile found nothing paused: take its place back here.
  if (context.open.load() < context.options.maxConnections && paused.exchange(false)) accept();
}

void Server::Core::resume() {
  if (paused.exchange(false)) net::post(acceptor->get_executor(), [this] { accept(); });
}

void Server::Core::run() {
  for (;;) {
    try {
      io->run();
      return;
    } catch (...) {
      // A connection's step threw: that connection is lost, the server keeps running.
    }
  }
}

Server::Server(ServerOptions options, SSL_CTX* tls, Handler handler)
    : core_(std::make_unique<Core>()) {
  core_->context.options = options;
  core_->context.handler = std::move(handler);
  core_->context.released = [core = core_.get()] { core->resume(); };
  if (tls != nullptr && SSL_CTX_up_ref(tls) == 1) core_->context.tls.emplace(tls);
  try {
    core_->io.emplace(static_cast<int>(kThreads));
    tcp::acceptor& acceptor = core_->acceptor.emplace(*core_->io);
    const tcp::endpoint endpoint(net::ip::address_v4::loopback(), options.port);
    boost::system::error_code ec;
    check(acceptor.open(endpoint.protocol(), ec), "socket");
    check(acceptor.set_option(tcp::acceptor::reuse_address(true), ec), "SO_REUSEADDR");
    check(acceptor.bind(endpoint, ec), "bind 127.0.0.1:" + std::to_string(options.port));
    check(acceptor.listen(tcp::acceptor::max_listen_connections, ec), "listen");
    port_ = acceptor.local_endpoint(ec).port();
    check(ec, "getsockname");
    core_->accept();
    for (unsigned i = 0; i < kThreads; ++i) {
      core_->threads.emplace_back([core = core_.get()] { core->run(); });
    }
  } catch (...) {
    stop();
    throw;
  }
}

Server::~Server() { stop(); }

size_t Server::acceptedConnections() const { return core_->acceptedCount.load(); }

size_t Server::openConnections() const { return core_->context.open.load(); }

void Server::closeNextIdleConnection() { core_->context.closeNextIdle.store(true); }

void Server::stop() {
  std::lock_guard<std::mutex> lock(stopMutex_);
  if (stopped_) return;
  stopped_ = true;
  core_->context.stopping.store(true);
  if (core_->io) core_->io->stop();
  for (std::thread& t : core_->threads) t.join();
  core_->threads.clear();
  // Connections destroyed from here on must not start accepting again.
  core_->context.released = nullptr;
  // Destroying the operations still pending destroys every connection and closes its socket.
  core_->acceptor.reset();
  core_->io.reset();
}

}  // namespace hvtest
