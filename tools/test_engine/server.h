// The network core: a loopback listener that serves HTTP and HTTPS on one port and hands each
// parsed request to a handler. It knows nothing about the engine's resources.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "test_engine/http_message.h"
#include "test_engine/http_wire.h"
#include "test_engine/stream.h"
#include "test_engine/tls_material.h"

namespace hvtest {

struct ServerOptions {
  uint16_t port = 0;  // 0: ephemeral
  WireLimits limits;
  WireTimeouts timeouts;
  size_t maxConnections = 64;  // further connections are closed at once
  std::chrono::milliseconds linger{250};
};

class Server {
 public:
  // Runs on a connection thread; fills what it knows into the request and returns the answer.
  using Handler = std::function<Answer(Request&)>;

  // Binds 127.0.0.1 and starts accepting. The context is shared (reference counted); a
  // null context makes TLS connections close at once. Throws std::system_error.
  Server(ServerOptions options, SSL_CTX* tls, Handler handler);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  uint16_t port() const { return port_; }

  // Closes the listener and every connection and joins all threads. Idempotent; must not be
  // called from the handler.
  void stop();

 private:
  struct Connection {
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  void acceptLoop();
  void reapFinished();
  void serve(UniqueFd fd, uint64_t id);
  // Sends the answer or plays its fault; returns whether the connection stays open.
  bool deliver(Stream& stream, const Request& request, const Answer& answer);

  ServerOptions options_;
  SslCtxPtr tls_;
  Handler handler_;
  StopSignal stop_;
  UniqueFd listener_;
  uint16_t port_ = 0;
  uint64_t nextConnectionId_ = 1;                       // accept thread only
  std::list<std::unique_ptr<Connection>> connections_;  // accept thread only, until joined
  std::thread acceptThread_;
  std::mutex stopMutex_;
  bool stopped_ = false;
};

}  // namespace hvtest
