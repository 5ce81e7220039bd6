// The network core: a loopback listener that serves HTTP and HTTPS on one port and hands each
// parsed request to a handler. It knows nothing about the engine's resources.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "test_engine/http_message.h"

namespace hvtest {

struct WireLimits {
  size_t maxHeaderBytes = 64 * 1024;       // larger heads get 400
  size_t maxBodyBytes = 64 * 1024 * 1024;  // larger bodies get 413
};

struct WireTimeouts {
  std::chrono::milliseconds idle{5000};  // a kept-alive connection waiting for a request
  std::chrono::milliseconds io{5000};    // the rest of a request, an answer, a TLS handshake
};

struct ServerOptions {
  uint16_t port = 0;  // 0: ephemeral
  WireLimits limits;
  WireTimeouts timeouts;
  // Connections served at once, as a front end's worker limit: further ones wait in the
  // listen queue until one ends, as they do at a real engine's web server.
  size_t maxConnections = 256;
  // How long a closing connection still reads what the client sends, so that the client gets
  // the last answer instead of a reset; also bounds the TLS close exchange.
  std::chrono::milliseconds linger{250};
};

class Server {
 public:
  // Runs on a server thread, possibly on several at once; fills what it knows into the request
  // and returns the answer.
  using Handler = std::function<Answer(Request&)>;

  // Binds 127.0.0.1 and starts serving. The context is shared (reference counted); a null
  // context makes TLS connections close at once. Throws std::system_error.
  Server(ServerOptions options, SSL_CTX* tls, Handler handler);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  uint16_t port() const { return port_; }
  // TCP connections accepted so far.
  size_t acceptedConnections() const;
  // Connections open now (being served, or kept alive between requests).
  size_t openConnections() const;
  // The next answer that would keep its connection open is sent as such (with "Connection:
  // keep-alive"), then the connection is closed, as an engine closes one whose keep-alive time
  // ran out.
  void closeNextIdleConnection();

  // Closes the listener and every connection (also stalled ones) and joins every thread.
  // Idempotent; must not be called from the handler.
  void stop();

 private:
  struct Core;

  std::unique_ptr<Core> core_;
  uint16_t port_ = 0;
  std::mutex stopMutex_;
  bool stopped_ = false;
};

}  // namespace hvtest
