// One accepted connection of the server: plain HTTP or TLS, told by its first bytes, then
// requests answered in turn, with the answer's fault played where it has one.
#pragma once

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "test_engine/server.h"

namespace hvtest {

// What every connection shares with the server that accepted it; outlives all connections.
struct SessionContext {
  ServerOptions options;
  Server::Handler handler;
  std::optional<boost::asio::ssl::context> tls;  // none: TLS connections close at once
  std::atomic<size_t> open{0};                   // connections being served
  std::atomic<bool> closeNextIdle{false};
  std::atomic<bool> stopping{false};  // a connection blocked in a write gives up
  std::function<void()> released;     // after a connection ended; set before serving starts
};

// Serves the connection on the socket's executor until it ends; counts itself in `open`.
void serveConnection(boost::asio::ip::tcp::socket socket, uint64_t id, SessionContext& context);

}  // namespace hvtest
