// What the requests of one engine connection share: open connections (kept alive between
// requests), TLS sessions and resolved names. Each request still has its own libcurl handle.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <mutex>

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

 private:
  ConnectionPool() = default;
  static void Lock(CURL* handle, curl_lock_data data, curl_lock_access access, void* self);
  static void Unlock(CURL* handle, curl_lock_data data, void* self);

  // libcurl asks for a lock per kind of shared data; one facade uses its pool from one thread
  // at a time, but libcurl requires the callbacks whenever handles could run concurrently.
  std::mutex locks_[CURL_LOCK_DATA_LAST];
  CURLSH* share_ = nullptr;
};

}  // namespace curl
}  // namespace Hypervale
