// What the requests of one engine connection share: open connections (kept alive between
// requests), TLS sessions and resolved names, and the libcurl handles of requests that ended,
// for the next requests to send with.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <vector>

#include "transport/curlHandle.h"

namespace Hypervale {
namespace curl {

class ConnectionPool {
 public:
  // Null when libcurl cannot provide the share object; requests then go without one. Every
  // client that sends through the pool holds it, so it outlives every handle that uses it.
  static std::shared_ptr<ConnectionPool> Create();
  // Closes every pooled connection.
  ~ConnectionPool();
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // For CURLOPT_SHARE of a request's handle; the pool must outlive that handle.
  CURLSH* share() const { return share_; }

  // A handle given back earlier, or null when there is none.
  curl::EasyHandle take();
  // Keeps a handle whose options were reset (curl_easy_reset) for a later request; when one is
  // kept already, it is closed.
  void giveBack(curl::EasyHandle handle);

 private:
  ConnectionPool() = default;
  static void Lock(CURL* handle, curl_lock_data data, curl_lock_access access, void* self);
  static void Unlock(CURL* handle, curl_lock_data data, void* self);

  // libcurl asks for a lock per kind of shared data; one facade uses its pool from one thread
  // at a time, but libcurl requires the callbacks whenever handles could run concurrently.
  std::mutex locks_[CURL_LOCK_DATA_LAST];
  CURLSH* share_ = nullptr;
  std::mutex sparesLock_;
  // Closed before the share they use (see the destructor).
  std::vector<curl::EasyHandle> spares_;
};

}  // namespace curl
}  // namespace Hypervale
