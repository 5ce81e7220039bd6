#include "test_engine/stream.h"

#include <openssl/err.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace hvtest {

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

namespace {

// Milliseconds left until the deadline, rounded up so poll() never wakes just before it.
int remainingMs(Deadline deadline) {
  auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > INT32_MAX ? INT32_MAX : static_cast<int>(ms);
}

IoStatus toIo(Wait w) {
  switch (w) {
    case Wait::Ready:
      return IoStatus::Ok;
    case Wait::Timeout:
      return IoStatus::Timeout;
    case Wait::Stopped:
      return IoStatus::Stopped;
    case Wait::PeerClosed:
      return IoStatus::Eof;
    case Wait::Error:
      break;
  }
  return IoStatus::Error;
}

}  // namespace

StopSignal::StopSignal() : event_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!event_) throw std::system_error(errno, std::generic_category(), "eventfd");
}

void StopSignal::raise() {
  raised_.store(true);
  uint64_t one = 1;
  // Nobody reads the counter back, so the descriptor stays readable from now on.
  [[maybe_unused]] ssize_t n = ::write(event_.get(), &one, sizeof one);
}

Wait StopSignal::waitFor(int fd, short events, Deadline deadline) const {
  for (;;) {
    if (raised()) return Wait::Stopped;
    pollfd fds[2] = {{event_.get(), POLLIN, 0}, {fd, events, 0}};
    int rc = ::poll(fds, 2, remainingMs(deadline));
    if (rc < 0) {
      if (errno == EINTR) continue;
      return Wait::Error;
    }
    if (fds[0].revents != 0) return Wait::Stopped;
    if (fds[1].revents != 0) return Wait::Ready;
    if (Clock::now() >= deadline) return Wait::Timeout;
  }
}

Wait StopSignal::sleepUntil(Deadline deadline, int watchFd) const {
  for (;;) {
    if (raised()) return Wait::Stopped;
    pollfd fds[2] = {{event_.get(), POLLIN, 0}, {watchFd, POLLRDHUP, 0}};
    int rc = ::poll(fds, 2, remainingMs(deadline));
    if (rc < 0) {
      if (errno == EINTR) continue;
      return Wait::Error;
    }
    if (fds[0].revents != 0) return Wait::Stopped;
    if (fds[1].revents & (POLLRDHUP | POLLHUP | POLLERR)) return Wait::PeerClosed;
    if (Clock::now() >= deadline) return Wait::Timeout;
  }
}

void Stream::lingerClose(Deadline deadline) {
  closeNotify();
  ::shutdown(fd_.get(), SHUT_WR);
  char sink[16 * 1024];
  while (stop_.waitFor(fd_.get(), POLLIN, deadline) == Wait::Ready) {
    ssize_t n = ::recv(fd_.get(), sink, sizeof sink, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
  }
}

IoStatus PlainStream::read(char* buf, size_t cap, size_t& got, Deadline deadline) {
  got = 0;
  for (;;) {
    if (stop_.raised()) return IoStatus::Stopped;
    ssize_t n = ::recv(fd_.get(), buf, cap, 0);
    if (n > 0) {
      got = static_cast<size_t>(n);
      return IoStatus::Ok;
    }
    if (n == 0) return IoStatus::Eof;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return IoStatus::Error;
    Wait w = stop_.waitFor(fd_.get(), POLLIN, deadline);
    if (w != Wait::Ready) return toIo(w);
  }
}

IoStatus PlainStream::write(std::string_view data, Deadline deadline) {
  while (!data.empty()) {
    if (stop_.raised()) return IoStatus::Stopped;
    ssize_t n = ::send(fd_.get(), data.data(), data.size(), MSG_NOSIGNAL);
    if (n >= 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return IoStatus::Error;
    Wait w = stop_.waitFor(fd_.get(), POLLOUT, deadline);
    if (w != Wait::Ready) return toIo(w);
  }
  return IoStatus::Ok;
}

std::unique_ptr<TlsStream> TlsStream::accept(UniqueFd fd, SSL_CTX* ctx, const StopSignal& stop,
                                             Deadline deadline) {
  SslPtr ssl(SSL_new(ctx));
  if (!ssl || SSL_set_fd(ssl.get(), fd.get()) != 1) {
    ERR_clear_error();
    return nullptr;
  }
  std::unique_ptr<TlsStream> stream(new TlsStream(std::move(fd), stop, std::move(ssl)));
  for (;;) {
    if (stop.raised()) return nullptr;
    ERR_clear_error();
    int rc = SSL_accept(stream->ssl_.get());
    if (rc == 1) return stream;
    if (stream->waitForSsl(rc, deadline) != IoStatus::Ok) return nullptr;
  }
}

IoStatus TlsStream::waitForSsl(int rc, Deadline deadline) {
  short events = 0;
  switch (SSL_get_error(ssl_.get(), rc)) {
    case SSL_ERROR_WANT_READ:
      events = POLLIN;
      break;
    case SSL_ERROR_WANT_WRITE:
      events = POLLOUT;
      break;
    case SSL_ERROR_ZERO_RETURN:
      return IoStatus::Eof;
    default:
      // A fatal error: OpenSSL forbids a later SSL_shutdown on this session.
      broken_ = true;
      ERR_clear_error();
      return IoStatus::Error;
  }
  return toIo(stop_.waitFor(fd_.get(), events, deadline));
}

IoStatus TlsStream::read(char* buf, size_t cap, size_t& got, Deadline deadline) {
  got = 0;
  for (;;) {
    if (stop_.raised()) return IoStatus::Stopped;
    ERR_clear_error();
    size_t n = 0;
    int rc = SSL_read_ex(ssl_.get(), buf, cap, &n);
    if (rc == 1) {
      got = n;
      return IoStatus::Ok;
    }
    IoStatus s = waitForSsl(rc, deadline);
    if (s != IoStatus::Ok) return s;
  }
}

IoStatus TlsStream::write(std::string_view data, Deadline deadline) {
  while (!data.empty()) {
    if (stop_.raised()) return IoStatus::Stopped;
    ERR_clear_error();
    size_t n = 0;
    int rc = SSL_write_ex(ssl_.get(), data.data(), data.size(), &n);
    if (rc == 1) {
      data.remove_prefix(n);
      continue;
    }
    IoStatus s = waitForSsl(rc, deadline);
    if (s != IoStatus::Ok) return s;
  }
  return IoStatus::Ok;
}

void TlsStream::closeNotify() {
  if (broken_) return;
  broken_ = true;  // once is enough
  ERR_clear_error();
  SSL_shutdown(ssl_.get());
  ERR_clear_error();
}

}  // namespace hvtest
