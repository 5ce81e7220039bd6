// Byte streams of one accepted connection, plain or TLS. Every blocking step waits with poll()
// against a deadline and the server's stop signal, so no connection thread can hang.
#pragma once

#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string_view>

#include "test_engine/tls_material.h"

namespace hvtest {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

inline Deadline after(std::chrono::milliseconds ms) { return Clock::now() + ms; }

// Owns a file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

enum class Wait { Ready, Timeout, Stopped, PeerClosed, Error };

// Raised once when the server stops; wakes every wait of every connection at once and keeps
// them from blocking again.
class StopSignal {
 public:
  StopSignal();  // throws std::system_error
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  void raise();
  bool raised() const { return raised_.load(); }

  // Waits for `events` on fd (POLLHUP/POLLERR count as ready so the caller sees the error).
  Wait waitFor(int fd, short events, Deadline deadline) const;
  // Sleeps until the deadline (then Timeout); ends early with Stopped, or with PeerClosed when
  // the peer of watchFd hangs up.
  Wait sleepUntil(Deadline deadline, int watchFd) const;

 private:
  UniqueFd event_;
  std::atomic<bool> raised_{false};
};

enum class IoStatus { Ok, Eof, Timeout, Stopped, Error };

class Stream {
 public:
  virtual ~Stream() = default;
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // Reads at least one byte into buf (got > 0) unless the status is not Ok.
  virtual IoStatus read(char* buf, size_t cap, size_t& got, Deadline deadline) = 0;
  // Writes all of data.
  virtual IoStatus write(std::string_view data, Deadline deadline) = 0;
  // Orderly end of the session layer (TLS close_notify), best effort, never blocks.
  virtual void closeNotify() {}
  virtual bool isTls() const = 0;

  int fd() const { return fd_.get(); }
  const StopSignal& stopSignal() const { return stop_; }

  // Ends the connection after an early error answer: closes our side, then discards what the
  // client still sends for a moment, so the client reads the answer instead of a reset.
  void lingerClose(Deadline deadline);

 protected:
  Stream(UniqueFd fd, const StopSignal& stop) : fd_(std::move(fd)), stop_(stop) {}

  UniqueFd fd_;
  const StopSignal& stop_;
};

class PlainStream final : public Stream {
 public:
  PlainStream(UniqueFd fd, const StopSignal& stop) : Stream(std::move(fd), stop) {}
  IoStatus read(char* buf, size_t cap, size_t& got, Deadline deadline) override;
  IoStatus write(std::string_view data, Deadline deadline) override;
  bool isTls() const override { return false; }
};

class TlsStream final : public Stream {
 public:
  // Runs the server side of the handshake on the (non-blocking) socket; nullptr on failure.
  static std::unique_ptr<TlsStream> accept(UniqueFd fd, SSL_CTX* ctx, const StopSignal& stop,
                                           Deadline deadline);

  IoStatus read(char* buf, size_t cap, size_t& got, Deadline deadline) override;
  IoStatus write(std::string_view data, Deadline deadline) override;
  void closeNotify() override;
  bool isTls() const override { return true; }

 private:
  TlsStream(UniqueFd fd, const StopSignal& stop, SslPtr ssl)
      : Stream(std::move(fd), stop), ssl_(std::move(ssl)) {}

  // Waits as SSL_get_error(rc) asks; Ok means retry the call.
  IoStatus waitForSsl(int rc, Deadline deadline);

  SslPtr ssl_;  // destroyed before the socket it uses
  bool broken_ = false;
};

}  // namespace hvtest
