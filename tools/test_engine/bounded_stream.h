// The TCP layer under a connection's TLS stream. Asynchronous operations pass straight to the
// Beast stream (with its time-outs); synchronous ones, used to write a large answer in one call,
// wait in poll() against a deadline of their own and give up soon after the server starts to
// stop, so a client that stops reading never holds a server thread for longer than that.
#pragma once

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/error.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/system/system_error.hpp>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <utility>

namespace hvtest {

class BoundedStream {
 public:
  using next_layer_type = boost::beast::tcp_stream;
  using lowest_layer_type = next_layer_type::socket_type;
  using executor_type = next_layer_type::executor_type;

  explicit BoundedStream(next_layer_type&& next) : next_(std::move(next)) {}

  executor_type get_executor() { return next_.get_executor(); }
  next_layer_type& next_layer() { return next_; }
  const next_layer_type& next_layer() const { return next_; }
  lowest_layer_type& lowest_layer() { return next_.socket(); }

  // Synchronous operations from now on end with timed_out once `limit` has passed, and with
  // operation_aborted once `*stopping` is true.
  void bound(std::chrono::milliseconds limit, const std::atomic<bool>* stopping) {
    deadline_ = std::chrono::steady_clock::now() + limit;
    stopping_ = stopping;
  }

  template <class Buffers, class Token>
  auto async_read_some(const Buffers& buffers, Token&& token) {
    return next_.async_read_some(buffers, std::forward<Token>(token));
  }
  template <class Buffers, class Token>
  auto async_write_some(const Buffers& buffers, Token&& token) {
    return next_.async_write_some(buffers, std::forward<Token>(token));
  }

  template <class Buffers>
  std::size_t read_some(const Buffers& buffers, boost::system::error_code& ec) {
    return transfer(POLLIN, ec, [&] { return next_.socket().read_some(buffers, ec); });
  }
  template <class Buffers>
  std::size_t write_some(const Buffers& buffers, boost::system::error_code& ec) {
    return transfer(POLLOUT, ec, [&] { return next_.socket().write_some(buffers, ec); });
  }
  template <class Buffers>
  std::size_t read_some(const Buffers& buffers) {
    return orThrow([&](boost::system::error_code& ec) { return read_some(buffers, ec); });
  }
  template <class Buffers>
  std::size_t write_some(const Buffers& buffers) {
    return orThrow([&](boost::system::error_code& ec) { return write_some(buffers, ec); });
  }

 private:
  // How often a wait looks at the stop flag.
  static constexpr std::chrono::milliseconds kSlice{50};

  template <class Step>
  std::size_t transfer(short events, boost::system::error_code& ec, Step step) {
    // In non-blocking mode the socket says "would block" instead of waiting without end.
    if (!nonBlocking_) {
      next_.socket().non_blocking(true, ec);
      if (ec) return 0;
      nonBlocking_ = true;
    }
    for (;;) {
      const std::size_t done = step();
      if (ec != boost::asio::error::would_block && ec != boost::asio::error::try_again) return done;
      if (!ready(events, ec)) return 0;
    }
  }

  bool ready(short events, boost::system::error_code& ec) {
    for (;;) {
      if (stopping_ != nullptr && stopping_->load()) {
        ec = boost::asio::error::operation_aborted;
        return false;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline_ - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        ec = boost::asio::error::timed_out;
        return false;
      }
      pollfd watched{next_.socket().native_handle(), events, 0};
      const int waited = ::poll(&watched, 1, static_cast<int>(std::min(left, kSlice).count()));
      if (waited > 0) return true;
      if (waited < 0 && errno != EINTR) {
        ec = boost::system::error_code(errno, boost::system::system_category());
        return false;
      }
    }
  }

  template <class Call>
  static std::size_t orThrow(Call call) {
    boost::system::error_code ec;
    const std::size_t done = call(ec);
    if (ec) throw boost::system::system_error(ec);
    return done;
  }

  next_layer_type next_;
  std::chrono::steady_clock::time_point deadline_{};  // none until bound(): fail at once
  const std::atomic<bool>* stopping_ = nullptr;
  bool nonBlocking_ = false;
};

}  // namespace hvtest
