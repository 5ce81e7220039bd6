#include "engine_simulator/faults.h"

namespace hvsim {

void FaultTable::add(std::string method, std::string path, Fault fault, unsigned times) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.push_back(Rule{std::move(method), std::move(path), std::move(fault), times, times == 0});
}

void FaultTable::expireSessionOnce() {
  std::lock_guard<std::mutex> lock(mutex_);
  sessionExpiry_ = true;
}

void FaultTable::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.clear();
  sessionExpiry_ = false;
}

size_t FaultTable::pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = sessionExpiry_ ? 1 : 0;
  for (const Rule& r : rules_) n += r.forever ? 1 : r.left;
  return n;
}

std::optional<Fault> FaultTable::take(const std::string& method, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = rules_.begin(); it != rules_.end(); ++it) {
    bool methodMatches = it->method == "*" || it->method == method;
    bool prefix = !it->path.empty() && it->path.back() == '*';
    bool pathMatches =
        prefix ? path.compare(0, it->path.size() - 1, it->path, 0, it->path.size() - 1) == 0
               : path == it->path;
    if (!methodMatches || !pathMatches) continue;
    Fault fault = it->fault;
    if (!it->forever && --it->left == 0) rules_.erase(it);
    return fault;
  }
  return std::nullopt;
}

bool FaultTable::takeSessionExpiry() {
  std::lock_guard<std::mutex> lock(mutex_);
  bool expired = sessionExpiry_;
  sessionExpiry_ = false;
  return expired;
}

}  // namespace hvsim
