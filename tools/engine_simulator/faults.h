// Misbehaviour on demand: answers that replace or distort what the simulated engine would say
// for chosen requests, each for a given number of requests.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace hvsim {

struct Fault {
  enum class Kind {
    Status,   // an engine <fault> with `status` (409 conflicts, 5xx errors, ...)
    Html,     // an HTML error page with `status`, as a proxy in front of the engine sends
    Drop,     // the connection is closed without an answer
    Stall,    // nothing is sent for `duration`, then the connection is closed
    Partial,  // the real answer's head and half its body, then the connection is closed
    Slow,     // the real answer, after `duration`
  };
  Kind kind = Kind::Status;
  int status = 500;
  std::string detail;  // Status: the fault's detail (a default fits the status when empty)
  std::chrono::milliseconds duration{0};
};

// Engine tasks that can be told to fail, and how each failure leaves its resources. The task's
// job ends "failed" or "aborted".
enum class FailingTask {
  SnapshotCreate,  // the snapshot disappears; the disks go back to the images they had
  SnapshotRemove,  // the snapshot stays, "ok"
  DiskCreate,      // the disk turns "illegal", its creation status "failed"
  DiskMove,        // the disk is unlocked on its source domain
};

class FaultTable {
 public:
  // `path` is matched against the decoded request path without its query; a trailing '*'
  // makes it a prefix. `method` "*" matches any. times 0: until cleared.
  void add(std::string method, std::string path, Fault fault, unsigned times);
  void expireSessionOnce();
  void clear();
  // Uses left of all faults (a fault without a limit counts once).
  size_t pending() const;

  // The fault for a request, consuming one use of it; the first added rule that matches wins.
  std::optional<Fault> take(const std::string& method, const std::string& path);
  bool takeSessionExpiry();

 private:
  struct Rule {
    std::string method, path;
    Fault fault;
    unsigned left = 0;
    bool forever = false;
  };
  mutable std::mutex mutex_;
  std::vector<Rule> rules_;
  bool sessionExpiry_ = false;
};

}  // namespace hvsim
