#include "transport/connectionPool.h"

namespace Hypervale {
namespace curl {

std::shared_ptr<ConnectionPool> ConnectionPool::Create() {
  std::shared_ptr<ConnectionPool> pool(new ConnectionPool());
  pool->share_ = curl_share_init();
  if (!pool->share_) return nullptr;
  bool ok =
      curl_share_setopt(pool->share_, CURLSHOPT_LOCKFUNC, &ConnectionPool::Lock) == CURLSHE_OK &&
      curl_share_setopt(pool->share_, CURLSHOPT_UNLOCKFUNC, &ConnectionPool::Unlock) ==
          CURLSHE_OK &&
      curl_share_setopt(pool->share_, CURLSHOPT_USERDATA, pool.get()) == CURLSHE_OK;
  for (const curl_lock_data data :
       {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_SSL_SESSION, CURL_LOCK_DATA_DNS}) {
    ok = ok && curl_share_setopt(pool->share_, CURLSHOPT_SHARE, data) == CURLSHE_OK;
  }
  if (!ok) return nullptr;
  return pool;
}

ConnectionPool::~ConnectionPool() {
  spares_.clear();  // handles that use the share end before it
  if (share_) curl_share_cleanup(share_);
}

EasyHandle ConnectionPool::take() {
  const std::lock_guard<std::mutex> lock(sparesLock_);
  if (spares_.empty()) return nullptr;
  EasyHandle handle = std::move(spares_.back());
  spares_.pop_back();
  return handle;
}

void ConnectionPool::giveBack(EasyHandle handle) {
  // A facade makes one request at a time, so one spare serves it. Each kept handle holds the
  // two descriptors of libcurl's wake-up socket pair: no more are kept at rest.
  constexpr size_t kMaxSpares = 1;
  const std::lock_guard<std::mutex> lock(sparesLock_);
  if (spares_.size() >= kMaxSpares) return;
  try {
    spares_.push_back(std::move(handle));
  } catch (...) {
    // not kept: the handle closes here
  }
}

void ConnectionPool::Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
  if (data >= 0 && data < CURL_LOCK_DATA_LAST) {
    static_cast<ConnectionPool*>(self)->locks_[data].lock();
  }
}

void ConnectionPool::Unlock(CURL*, curl_lock_data data, void* self) {
  if (data >= 0 && data < CURL_LOCK_DATA_LAST) {
    static_cast<ConnectionPool*>(self)->locks_[data].unlock();
  }
}

}  // namespace curl
}  // namespace Hypervale
